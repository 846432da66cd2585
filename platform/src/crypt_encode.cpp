// CryptEncodeObject / CryptDecodeObject for the structure types the
// plug-in uses: the RC2-CBC parameters (RFC 2268: SEQUENCE { version
// INTEGER, iv OCTET STRING }, the IV left out when the structure has none).
#include <stdint.h>
#include <string.h>

#include "crypt_msg_common.h"
#include "der_reader.h"

namespace {

bool IsStructType(LPCSTR structType, LPCSTR numeric, const char* oid)
{
    if (((uintptr_t)structType >> 16) == 0)
        return structType == numeric;
    return strcmp(structType, oid) == 0;
}

Bytes EncodeUnsignedInteger(DWORD value)
{
    Bytes content;
    for (int shift = 24; shift >= 0; shift -= 8) {
        uint8_t byte = (uint8_t)(value >> shift);
        if (content.empty() && byte == 0 && shift > 0)
            continue;
        if (content.empty() && (byte & 0x80))
            content.push_back(0);  // keep the value positive
        content.push_back(byte);
    }
    return DerEncode(0x02, content);
}

BOOL EncodeRc2Parameters(const CRYPT_RC2_CBC_PARAMETERS* parameters, BYTE* out, DWORD* outSize)
{
    Bytes content = EncodeUnsignedInteger(parameters->dwVersion);
    if (parameters->fIV) {
        Bytes iv = DerEncode(0x04, Bytes(parameters->rgbIV, parameters->rgbIV + 8));
        content.insert(content.end(), iv.begin(), iv.end());
    }
    Bytes der = DerEncode(0x30, content);
    return CopyToCaller(der.data(), der.size(), out, outSize);
}

BOOL DecodeRc2Parameters(const BYTE* encoded, DWORD encodedSize, void* out, DWORD* outSize)
{
    DerReader top(encoded, encodedSize);
    DerTlv sequence, version, iv;
    if (!top.Read(0x30, &sequence)) {
        SetLastError(top.error());
        return FALSE;
    }
    DerReader inner(sequence);
    if (!inner.Read(0x02, &version)) {
        SetLastError(inner.error() ? inner.error() : CRYPT_E_ASN1_EOD);
        return FALSE;
    }
    if (version.length == 0 || (version.value[0] & 0x80)) {
        SetLastError(CRYPT_E_ASN1_CORRUPT);
        return FALSE;
    }
    size_t skip = version.value[0] == 0 ? 1 : 0;
    if (version.length - skip > 4) {
        SetLastError(CRYPT_E_ASN1_LARGE);
        return FALSE;
    }
    CRYPT_RC2_CBC_PARAMETERS result;
    memset(&result, 0, sizeof result);
    for (size_t i = skip; i < version.length; ++i)
        result.dwVersion = (result.dwVersion << 8) | version.value[i];
    if (!inner.AtEnd()) {
        if (!inner.Read(0x04, &iv)) {
            SetLastError(inner.error());
            return FALSE;
        }
        if (iv.length != sizeof result.rgbIV) {
            SetLastError(CRYPT_E_BAD_ENCODE);
            return FALSE;
        }
        result.fIV = TRUE;
        memcpy(result.rgbIV, iv.value, sizeof result.rgbIV);
    }
    return CopyToCaller(&result, sizeof result, out, outSize);
}

}  // namespace

extern "C" {

BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded)
{
    if (lpszStructType == nullptr || pvStructInfo == nullptr || pcbEncoded == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (IsStructType(lpszStructType, PKCS_RC2_CBC_PARAMETERS, szOID_RSA_RC2CBC))
        return EncodeRc2Parameters((const CRYPT_RC2_CBC_PARAMETERS*)pvStructInfo, pbEncoded,
                                   pcbEncoded);
    // Windows' answer when no encoder is registered for the type.
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                              void* pvStructInfo, DWORD* pcbStructInfo)
{
    if (lpszStructType == nullptr || pcbStructInfo == nullptr ||
        (pbEncoded == nullptr && cbEncoded > 0)) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (IsStructType(lpszStructType, PKCS_RC2_CBC_PARAMETERS, szOID_RSA_RC2CBC))
        return DecodeRc2Parameters(pbEncoded, cbEncoded, pvStructInfo, pcbStructInfo);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

}  // extern "C"
