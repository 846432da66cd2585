// CryptAcquireContextA, CryptGenRandom, CryptReleaseContext: only the
// verify-only context, which is all random bytes need, over OpenSSL's generator.
#include <openssl/rand.h>

#include <windows.h>
#include <wincrypt.h>

namespace {
const HCRYPTPROV kVerifyContext = 0x5EED;
}

extern "C" {

BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR, LPCSTR, DWORD, DWORD dwFlags)
{
    if (phProv == nullptr || (dwFlags & CRYPT_VERIFYCONTEXT) == 0) {
        SetLastError(NTE_BAD_FLAGS);
        return FALSE;
    }
    *phProv = kVerifyContext;
    return TRUE;
}

BOOL WINAPI CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer)
{
    if (hProv != kVerifyContext || (dwLen > 0 && pbBuffer == nullptr) || dwLen > 0x7FFFFFFF) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (dwLen > 0 && RAND_bytes(pbBuffer, (int)dwLen) != 1) {
        SetLastError(NTE_FAIL);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD)
{
    if (hProv != kVerifyContext) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
