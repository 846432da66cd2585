// Certificate contexts: a decoded certificate with its CERT_INFO, shared by
// reference count between the stores and the callers.
#include <errno.h>
#include <iconv.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include <openssl/asn1err.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "crypt_cert.h"
#include "crypt_store.h"
#include "api_guard.h"

namespace {

std::vector<BYTE> Der(const unsigned char* data, int length)
{
    return length > 0 ? std::vector<BYTE>(data, data + length) : std::vector<BYTE>();
}

std::string OidText(const ASN1_OBJECT* object)
{
    char text[128];
    int n = OBJ_obj2txt(text, sizeof text, object, 1);
    return n > 0 && n < (int)sizeof text ? std::string(text) : std::string();
}

// The DER of an algorithm's parameters; empty when they are absent.
std::vector<BYTE> ParameterBytes(int type, const void* value)
{
    if (type == V_ASN1_UNDEF)
        return {};
    ASN1_TYPE* any = ASN1_TYPE_new();
    std::vector<BYTE> out;
    if (any != nullptr && ASN1_TYPE_set1(any, type, value)) {
        unsigned char* der = nullptr;
        int length = i2d_ASN1_TYPE(any, &der);
        out = Der(der, length);
        OPENSSL_free(der);
    }
    ASN1_TYPE_free(any);
    return out;
}

void ReadAlgorithm(const X509_ALGOR* algorithm, std::string* oid, std::vector<BYTE>* params)
{
    const ASN1_OBJECT* object = nullptr;
    int type = V_ASN1_UNDEF;
    const void* value = nullptr;
    X509_ALGOR_get0(&object, &type, &value, algorithm);
    *oid = OidText(object);
    *params = ParameterBytes(type, value);
}

// CryptoAPI keeps integers little-endian: the content octets of the DER
// INTEGER in reverse order.
std::vector<BYTE> SerialLittleEndian(const ASN1_INTEGER* serial)
{
    unsigned char* der = nullptr;
    int length = i2d_ASN1_INTEGER(serial, &der);
    std::vector<BYTE> out;
    if (length > 2) {
        const unsigned char* p = der;
        long contentLength = 0;
        int tag = 0, cls = 0;
        if (!(ASN1_get_object(&p, &contentLength, &tag, &cls, length) & 0x80))
            out.assign(p, p + contentLength);
    }
    OPENSSL_free(der);
    std::reverse(out.begin(), out.end());
    return out;
}

std::vector<BYTE> NameDer(const X509_NAME* name)
{
    unsigned char* der = nullptr;
    int length = i2d_X509_NAME(name, &der);
    std::vector<BYTE> out = Der(der, length);
    OPENSSL_free(der);
    return out;
}

FILETIME TimeToFileTime(const ASN1_TIME* time)
{
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    if (time == nullptr || !ASN1_TIME_to_tm(time, &tm))
        return FILETIME{0, 0};
    return FileTimeFromUnix((long long)timegm(&tm));
}

std::string HexUpper(const unsigned char* data, size_t length)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

DWORD DecodeError(const BYTE* encoded, DWORD size)
{
    if (encoded == nullptr || size == 0) {
        ERR_clear_error();
        return CRYPT_E_ASN1_EOD;
    }
    return Asn1DecodeError();
}

// The certificate at the start of `encoded` (*used: the bytes it takes), or
// null with the decoding error Windows gives set.
X509* DecodeCertificate(const BYTE* encoded, DWORD size, size_t* used)
{
    if (encoded == nullptr || size == 0) {
        SetLastError(CRYPT_E_ASN1_EOD);
        return nullptr;
    }
    const unsigned char* p = encoded;
    ERR_clear_error();
    X509* x = d2i_X509(nullptr, &p, (long)size);
    if (x == nullptr)
        SetLastError(DecodeError(encoded, size));
    *used = (size_t)(p - encoded);
    return x;
}

// Fills the data and the CERT_INFO that points into it.
bool BuildInfo(CertContextImpl* impl)
{
    X509* x = impl->x509;
    CertContextData* d = impl->data;
    CERT_INFO* info = &impl->info;
    memset(info, 0, sizeof *info);

    info->dwVersion = (DWORD)X509_get_version(x);
    d->serial = SerialLittleEndian(X509_get0_serialNumber(x));
    ReadAlgorithm(X509_get0_tbs_sigalg(x), &d->signatureOid, &d->signatureParams);
    d->issuer = NameDer(X509_get_issuer_name(x));
    d->subject = NameDer(X509_get_subject_name(x));
    info->NotBefore = TimeToFileTime(X509_get0_notBefore(x));
    info->NotAfter = TimeToFileTime(X509_get0_notAfter(x));

    X509_PUBKEY* publicKey = X509_get_X509_PUBKEY(x);
    const unsigned char* keyBytes = nullptr;
    int keyLength = 0;
    X509_ALGOR* keyAlgorithm = nullptr;
    if (publicKey == nullptr ||
        !X509_PUBKEY_get0_param(nullptr, &keyBytes, &keyLength, &keyAlgorithm, publicKey))
        return false;
    ReadAlgorithm(keyAlgorithm, &d->publicKeyOid, &d->publicKeyParams);
    d->publicKey = Der(keyBytes, keyLength);

    int count = X509_get_ext_count(x);
    for (int i = 0; i < count; ++i) {
        X509_EXTENSION* extension = X509_get_ext(x, i);
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        d->extensionOids.push_back(OidText(X509_EXTENSION_get_object(extension)));
        d->extensionValues.push_back(Der(ASN1_STRING_get0_data(value), ASN1_STRING_length(value)));
    }
    d->extensions.resize(count);
    for (int i = 0; i < count; ++i) {
        CERT_EXTENSION& e = d->extensions[i];
        e.pszObjId = const_cast<char*>(d->extensionOids[i].c_str());
        e.fCritical = X509_EXTENSION_get_critical(X509_get_ext(x, i)) ? TRUE : FALSE;
        e.Value.cbData = (DWORD)d->extensionValues[i].size();
        e.Value.pbData = d->extensionValues[i].data();
    }

    unsigned char hash[20];
    unsigned int hashLength = 0;
    if (!EVP_Digest(d->encoded.data(), d->encoded.size(), hash, &hashLength, EVP_sha1(), nullptr))
        return false;
    d->thumbprint = HexUpper(hash, hashLength);

    info->SerialNumber = {(DWORD)d->serial.size(), d->serial.data()};
    info->SignatureAlgorithm.pszObjId = const_cast<char*>(d->signatureOid.c_str());
    info->SignatureAlgorithm.Parameters = {(DWORD)d->signatureParams.size(), d->signatureParams.data()};
    info->Issuer = {(DWORD)d->issuer.size(), d->issuer.data()};
    info->Subject = {(DWORD)d->subject.size(), d->subject.data()};
    info->SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<char*>(d->publicKeyOid.c_str());
    info->SubjectPublicKeyInfo.Algorithm.Parameters = {(DWORD)d->publicKeyParams.size(),
                                                       d->publicKeyParams.data()};
    info->SubjectPublicKeyInfo.PublicKey = {(DWORD)d->publicKey.size(), d->publicKey.data(), 0};
    info->cExtension = (DWORD)count;
    info->rgExtension = count > 0 ? d->extensions.data() : nullptr;

    CERT_CONTEXT* c = &impl->context;
    c->dwCertEncodingType = X509_ASN_ENCODING;
    c->pbCertEncoded = d->encoded.data();
    c->cbCertEncoded = (DWORD)d->encoded.size();
    c->pCertInfo = info;
    c->hCertStore = nullptr;
    return true;
}

// The public key described by a CERT_PUBLIC_KEY_INFO, or null.
EVP_PKEY* PublicKeyFromInfo(const CERT_PUBLIC_KEY_INFO* info)
{
    if (info == nullptr || info->Algorithm.pszObjId == nullptr || info->PublicKey.pbData == nullptr)
        return nullptr;
    ASN1_OBJECT* object = OBJ_txt2obj(info->Algorithm.pszObjId, 1);
    if (object == nullptr)
        return nullptr;
    int type = V_ASN1_UNDEF;
    void* value = nullptr;
    const CRYPT_OBJID_BLOB& params = info->Algorithm.Parameters;
    if (params.cbData > 0 && params.pbData != nullptr) {
        const unsigned char* p = params.pbData;
        ASN1_TYPE* any = d2i_ASN1_TYPE(nullptr, &p, (long)params.cbData);
        if (any == nullptr) {
            ASN1_OBJECT_free(object);
            return nullptr;
        }
        type = any->type;
        if (type == V_ASN1_OBJECT)
            value = OBJ_dup(any->value.object);
        else if (type != V_ASN1_NULL && type != V_ASN1_BOOLEAN)
            value = ASN1_STRING_dup(any->value.asn1_string);
        ASN1_TYPE_free(any);
    }
    unsigned char* key = (unsigned char*)OPENSSL_malloc(info->PublicKey.cbData ? info->PublicKey.cbData : 1);
    X509_PUBKEY* publicKey = X509_PUBKEY_new();
    if (key == nullptr || publicKey == nullptr) {
        OPENSSL_free(key);
        X509_PUBKEY_free(publicKey);
        ASN1_OBJECT_free(object);
        return nullptr;
    }
    memcpy(key, info->PublicKey.pbData, info->PublicKey.cbData);
    if (!X509_PUBKEY_set0_param(publicKey, object, type, value, key, (int)info->PublicKey.cbData)) {
        OPENSSL_free(key);
        ASN1_OBJECT_free(object);
        X509_PUBKEY_free(publicKey);
        return nullptr;
    }
    // Through DER: a key put together from its parts is decoded only when read.
    unsigned char* der = nullptr;
    int length = i2d_X509_PUBKEY(publicKey, &der);
    X509_PUBKEY_free(publicKey);
    const unsigned char* p = der;
    EVP_PKEY* result = length > 0 ? d2i_PUBKEY(nullptr, &p, length) : nullptr;
    OPENSSL_free(der);
    return result;
}

}  // namespace

DWORD Asn1DecodeError()
{
    DWORD code = CRYPT_E_ASN1_CORRUPT;
    unsigned long error;
    while ((error = ERR_get_error()) != 0) {
        if (ERR_GET_LIB(error) != ERR_LIB_ASN1)
            continue;
        switch (ERR_GET_REASON(error)) {
        case ASN1_R_TOO_LONG:
        case ASN1_R_HEADER_TOO_LONG:
        case ASN1_R_NOT_ENOUGH_DATA:
            return ERR_clear_error(), CRYPT_E_ASN1_EOD;
        case ASN1_R_WRONG_TAG:
        case ASN1_R_BAD_OBJECT_HEADER:
            code = CRYPT_E_ASN1_BADTAG;
            break;
        default:
            break;
        }
    }
    return code;
}

std::recursive_mutex& CryptLock()
{
    static std::recursive_mutex lock;
    return lock;
}

FILETIME FileTimeFromUnix(long long seconds)
{
    unsigned long long t = (unsigned long long)(seconds + 11644473600LL) * 10000000ULL;
    return FILETIME{(DWORD)t, (DWORD)(t >> 32)};
}

long long UnixFromFileTime(const FILETIME& time)
{
    unsigned long long t = ((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime;
    return (long long)(t / 10000000ULL) - 11644473600LL;
}

std::string Asn1StringToUtf8(const ASN1_STRING* value)
{
    if (value == nullptr)
        return "";
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length >= 0) {
        std::string out((const char*)utf8, (size_t)length);
        OPENSSL_free(utf8);
        return out;
    }
    // Not decodable as its type says: keep what is plain ASCII.
    std::string out;
    const unsigned char* data = ASN1_STRING_get0_data(value);
    for (int i = 0; i < ASN1_STRING_length(value); ++i)
        out += data[i] < 0x80 ? (char)data[i] : '?';
    return out;
}

std::string Utf8ToAnsi(const std::string& utf8)
{
    std::string out;
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == (iconv_t)-1)
        return out;
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* o = buffer;
        size_t oLeft = sizeof buffer;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, o - buffer);
        if (r == (size_t)-1 && errno != E2BIG) {
            // One character that has no Shift-JIS form (or broken UTF-8).
            unsigned char lead = (unsigned char)*in;
            size_t skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            skip = std::min(skip, inLeft);
            in += skip;
            inLeft -= skip;
            out += '?';
        }
    }
    iconv_close(cd);
    return out;
}

namespace {

// A context around a decoded certificate, taking over the caller's reference
// to it; `encoded` is its DER. Null (the reference released) when it cannot
// be described.
CertContextImpl* WrapX509(X509* x, const BYTE* encoded, size_t size)
{
    CertContextImpl* impl = new CertContextImpl();
    memset(&impl->context, 0, sizeof impl->context);
    impl->x509 = x;
    impl->privateKey = nullptr;
    impl->refCount = 1;
    impl->store = nullptr;
    impl->data = new CertContextData();
    impl->data->encoded.assign(encoded, encoded + size);
    if (!BuildInfo(impl)) {
        DestroyContext(impl);
        SetLastError(CRYPT_E_ASN1_CORRUPT);
        return nullptr;
    }
    return impl;
}

}  // namespace

CertContextImpl* ContextFromEncoded(const BYTE* encoded, DWORD size)
{
    size_t used = 0;
    X509* x = DecodeCertificate(encoded, size, &used);
    return x != nullptr ? WrapX509(x, encoded, used) : nullptr;
}

CertContextImpl* ContextFromX509(X509* x509)
{
    unsigned char* der = nullptr;
    int length = x509 != nullptr ? i2d_X509(x509, &der) : 0;
    CertContextImpl* impl = nullptr;
    if (length > 0 && X509_up_ref(x509) == 1)
        impl = WrapX509(x509, der, (size_t)length);
    OPENSSL_free(der);
    return impl;
}

void DestroyContext(CertContextImpl* impl)
{
    X509_free(impl->x509);
    EVP_PKEY_free(impl->privateKey);
    delete impl->data;
    delete impl;
}

void ReleaseContextRef(CertContextImpl* impl)
{
    if (--impl->refCount <= 0)
        DestroyContext(impl);
}

CertContextImpl* CertImpl(PCCERT_CONTEXT context)
{
    // The context is the first member, so the addresses coincide.
    return reinterpret_cast<CertContextImpl*>(const_cast<CERT_CONTEXT*>(context));
}

X509* CertX509(PCCERT_CONTEXT context)
{
    return context != nullptr ? CertImpl(context)->x509 : nullptr;
}

EVP_PKEY* CertPrivateKey(PCCERT_CONTEXT context)
{
    if (context == nullptr)
        return nullptr;
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertContextImpl* impl = CertImpl(context);
    if (impl->privateKey == nullptr && impl->store != nullptr && !impl->data->keyFileChecked) {
        impl->data->keyFileChecked = true;
        std::string path = StoreKeyFile(impl->store, impl);
        std::vector<BYTE> pem;
        BIO* bio = nullptr;
        if (!path.empty() && ReadStoreFile(path, &pem))
            bio = BIO_new_mem_buf(pem.data(), (int)pem.size());
        if (bio != nullptr) {
            EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
            BIO_free(bio);
            if (key != nullptr && X509_check_private_key(impl->x509, key) == 1)
                impl->privateKey = key;
            else
                EVP_PKEY_free(key);
        }
    }
    return impl->privateKey;
}

PCCERT_CONTEXT NewCertContext(X509* x509, EVP_PKEY* privateKey)
{
    if (x509 == nullptr)
        return nullptr;
    CertContextImpl* impl = ContextFromX509(x509);
    if (impl == nullptr)
        return nullptr;
    if (privateKey != nullptr && EVP_PKEY_up_ref(privateKey))
        impl->privateKey = privateKey;
    return &impl->context;
}

extern "C" {

PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType,
                                                   const BYTE* pbCertEncoded, DWORD cbCertEncoded)
{
    API_GUARD_BEGIN
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    CertContextImpl* impl = ContextFromEncoded(pbCertEncoded, cbCertEncoded);
    return impl != nullptr ? &impl->context : nullptr;
    API_GUARD_END(nullptr, CRYPT_MEMORY_ERROR)
}

PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext)
{
    if (pCertContext == nullptr)
        return nullptr;
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertContextImpl* impl = CertImpl(pCertContext);
    ++impl->refCount;
    if (impl->store != nullptr)
        StoreExternalRefStarted(impl->store);
    return pCertContext;
}

BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext)
{
    if (pCertContext == nullptr)
        return TRUE;
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertContextImpl* impl = CertImpl(pCertContext);
    CertStoreImpl* store = impl->store;
    ReleaseContextRef(impl);
    if (store != nullptr)
        StoreExternalRefEnded(store);  // may close a store whose closing was pending
    return TRUE;
}

BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                              void* pvData, DWORD* pcbData)
{
    API_GUARD_BEGIN
    if (pCertContext == nullptr || pcbData == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    std::vector<BYTE> value;
    if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
        if (CertPrivateKey(pCertContext) == nullptr) {
            SetLastError(CRYPT_E_NOT_FOUND);
            return FALSE;
        }
        // A minimal description: the container is named after the thumbprint.
        const std::string& name = CertImpl(pCertContext)->data->thumbprint;
        value.resize(sizeof(CRYPT_KEY_PROV_INFO) + (name.size() + 1) * sizeof(WCHAR));
        CRYPT_KEY_PROV_INFO provInfo;
        memset(&provInfo, 0, sizeof provInfo);
        provInfo.dwProvType = PROV_RSA_FULL;
        provInfo.dwKeySpec = AT_KEYEXCHANGE;
        memcpy(value.data(), &provInfo, sizeof provInfo);
        WCHAR* wide = (WCHAR*)(value.data() + sizeof provInfo);
        for (size_t i = 0; i <= name.size(); ++i)
            wide[i] = (WCHAR)(unsigned char)name.c_str()[i];
    } else if (dwPropId == CERT_SHA1_HASH_PROP_ID) {
        const std::string& hex = CertImpl(pCertContext)->data->thumbprint;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            value.push_back((BYTE)strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    } else {
        SetLastError(CRYPT_E_NOT_FOUND);
        return FALSE;
    }
    if (pvData == nullptr) {
        *pcbData = (DWORD)value.size();
        return TRUE;
    }
    if (*pcbData < value.size()) {
        *pcbData = (DWORD)value.size();
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    memcpy(pvData, value.data(), value.size());
    if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID)
        ((CRYPT_KEY_PROV_INFO*)pvData)->pwszContainerName =
            (LPWSTR)((BYTE*)pvData + sizeof(CRYPT_KEY_PROV_INFO));
    *pcbData = (DWORD)value.size();
    return TRUE;
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CertGetIntendedKeyUsage(DWORD dwCertEncodingType, PCERT_INFO pCertInfo,
                                    BYTE* pbKeyUsage, DWORD cbKeyUsage)
{
    if (pCertInfo == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    for (DWORD i = 0; i < pCertInfo->cExtension; ++i) {
        const CERT_EXTENSION& e = pCertInfo->rgExtension[i];
        if (e.pszObjId == nullptr || strcmp(e.pszObjId, szOID_KEY_USAGE) != 0)
            continue;
        const unsigned char* p = e.Value.pbData;
        ASN1_BIT_STRING* bits = d2i_ASN1_BIT_STRING(nullptr, &p, (long)e.Value.cbData);
        if (bits == nullptr) {
            SetLastError(CRYPT_E_ASN1_CORRUPT);
            return FALSE;
        }
        if (pbKeyUsage != nullptr) {
            memset(pbKeyUsage, 0, cbKeyUsage);
            DWORD n = std::min<DWORD>(cbKeyUsage, (DWORD)ASN1_STRING_length(bits));
            memcpy(pbKeyUsage, ASN1_STRING_get0_data(bits), n);
        }
        ASN1_BIT_STRING_free(bits);
        SetLastError(0);
        return TRUE;
    }
    SetLastError(0);
    return FALSE;
}

LONG WINAPI CertVerifyTimeValidity(LPFILETIME pTimeToVerify, PCERT_INFO pCertInfo)
{
    FILETIME now;
    if (pTimeToVerify == nullptr)
        GetSystemTimeAsFileTime(&now);
    else
        now = *pTimeToVerify;
    auto value = [](const FILETIME& t) {
        return ((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime;
    };
    if (value(now) < value(pCertInfo->NotBefore))
        return -1;
    if (value(now) > value(pCertInfo->NotAfter))
        return 1;
    return 0;
}

BOOL WINAPI CryptVerifyCertificateSignature(HCRYPTPROV_LEGACY hCryptProv,
                                            DWORD dwCertEncodingType, const BYTE* pbEncoded,
                                            DWORD cbEncoded, PCERT_PUBLIC_KEY_INFO pPublicKey)
{
    API_GUARD_BEGIN
    if (pPublicKey == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    size_t used = 0;
    X509* x = DecodeCertificate(pbEncoded, cbEncoded, &used);
    if (x == nullptr)
        return FALSE;
    EVP_PKEY* key = PublicKeyFromInfo(pPublicKey);
    if (key == nullptr) {
        X509_free(x);
        SetLastError(NTE_BAD_KEY);
        return FALSE;
    }
    int verified = X509_verify(x, key);
    EVP_PKEY_free(key);
    X509_free(x);
    if (verified != 1) {
        SetLastError(NTE_BAD_SIGNATURE);
        return FALSE;
    }
    return TRUE;
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

}  // extern "C"
