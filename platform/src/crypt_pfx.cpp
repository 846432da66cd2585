// PFXImportCertStore: a PKCS #12 file as a memory store whose certificate
// that matches the private key carries that key.
#include <openssl/pkcs12.h>

#include "crypt_cert.h"

namespace {

// PKCS #12 passwords go to OpenSSL as UTF-8.
std::string PasswordUtf8(LPCWSTR password)
{
    std::string out;
    if (password == nullptr)
        return out;
    for (size_t i = 0; password[i] != 0; ++i) {
        unsigned int c = password[i];
        if (c >= 0xD800 && c <= 0xDBFF && password[i + 1] >= 0xDC00 && password[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (password[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | (c >> 6));
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | (c >> 12));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | (c >> 18));
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

extern "C" {

HCERTSTORE WINAPI PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags)
{
    EnsureCryptoProviders();  // RC2-40 certificate bags, as Windows exports them
    if (pPFX == nullptr || pPFX->pbData == nullptr || pPFX->cbData == 0) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    const unsigned char* p = pPFX->pbData;
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, (long)pPFX->cbData);
    if (p12 == nullptr) {
        SetLastError(CRYPT_E_BAD_ENCODE);
        return nullptr;
    }
    // An empty password tries both the null and the empty one, as Windows does.
    std::string password = PasswordUtf8(szPassword);
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* others = nullptr;
    bool macOk = password.empty() || PKCS12_mac_present(p12) == 0 ||
                 PKCS12_verify_mac(p12, password.c_str(), -1) == 1;
    int parsed = macOk && PKCS12_parse(p12, password.c_str(), &key, &cert, &others);
    PKCS12_free(p12);
    if (!parsed) {
        SetLastError(macOk ? CRYPT_E_BAD_ENCODE : ERROR_INVALID_PASSWORD);
        return nullptr;
    }
    HCERTSTORE store = OpenMemoryStore();
    BOOL ok = TRUE;
    if (cert != nullptr) {
        PCCERT_CONTEXT context = NewCertContext(cert, key);
        ok = context != nullptr &&
             CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_ALWAYS, nullptr);
        CertFreeCertificateContext(context);
    }
    for (int i = 0; ok && i < sk_X509_num(others); ++i)
        ok = AddX509ToMemoryStore(store, sk_X509_value(others, i));
    X509_free(cert);
    EVP_PKEY_free(key);
    sk_X509_pop_free(others, X509_free);
    if (!ok) {
        CertCloseStore(store, 0);
        SetLastError(CRYPT_E_BAD_ENCODE);
        return nullptr;
    }
    return store;
}

}  // extern "C"
