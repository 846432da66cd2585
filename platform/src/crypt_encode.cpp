// CryptEncodeObject / CryptDecodeObject for the structure types the
// plug-in uses: the RC2-CBC parameters (RFC 2268: SEQUENCE { version
// INTEGER, iv OCTET STRING }, the IV left out when the structure has none),
// and, decoded only, a subjectAltName's GeneralNames (RFC 5280).
#include <stdint.h>
#include <string.h>

#include "crypt_msg_common.h"
#include "der_reader.h"
#include "api_guard.h"

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

// One GeneralName as Windows lays it out: the tag number is the choice
// less one; the IA5 strings become wide strings, the directory name and the
// IP address blobs. The other choices keep only their choice.
struct AltName {
    DWORD choice;
    std::vector<WCHAR> text;  // zero-terminated, for the string choices
    Bytes blob;
};

bool IsTextChoice(DWORD choice)
{
    return choice == CERT_ALT_NAME_RFC822_NAME || choice == CERT_ALT_NAME_DNS_NAME ||
           choice == CERT_ALT_NAME_URL;
}

bool ReadAltNames(const BYTE* encoded, DWORD encodedSize, std::vector<AltName>* names)
{
    DerReader top(encoded, encodedSize);
    DerTlv sequence, entry;
    if (!top.Read(0x30, &sequence)) {
        SetLastError(top.error());
        return false;
    }
    DerReader entries(sequence);
    while (!entries.AtEnd()) {
        if (!entries.ReadAny(&entry) || (entry.tag & 0xC0) != 0x80) {
            SetLastError(entries.error() ? entries.error() : CRYPT_E_ASN1_BADTAG);
            return false;
        }
        AltName name;
        name.choice = (DWORD)(entry.tag & 0x1F) + 1;
        if (IsTextChoice(name.choice)) {
            name.text.assign(entry.value, entry.value + entry.length);
            name.text.push_back(0);
        } else if (name.choice == CERT_ALT_NAME_DIRECTORY_NAME ||
                   name.choice == CERT_ALT_NAME_IP_ADDRESS) {
            name.blob.assign(entry.value, entry.value + entry.length);
        }
        names->push_back(std::move(name));
    }
    return true;
}

// CERT_ALT_NAME_INFO, then its entries, then their strings (kept aligned
// for WCHAR) and last the blobs, all in the caller's one buffer.
BOOL DecodeAltName(const BYTE* encoded, DWORD encodedSize, void* out, DWORD* outSize)
{
    std::vector<AltName> names;
    if (!ReadAltNames(encoded, encodedSize, &names))
        return FALSE;
    size_t size = sizeof(CERT_ALT_NAME_INFO) + names.size() * sizeof(CERT_ALT_NAME_ENTRY);
    for (const AltName& name : names)
        size += name.text.size() * sizeof(WCHAR) + name.blob.size();
    if (out == nullptr || *outSize < size)
        return CopyToCaller(nullptr, size, out, outSize);  // the size, or ERROR_MORE_DATA

    memset(out, 0, size);
    CERT_ALT_NAME_INFO* info = (CERT_ALT_NAME_INFO*)out;
    CERT_ALT_NAME_ENTRY* entries = (CERT_ALT_NAME_ENTRY*)(info + 1);
    BYTE* data = (BYTE*)(entries + names.size());
    info->cAltEntry = (DWORD)names.size();
    info->rgAltEntry = entries;
    for (size_t i = 0; i < names.size(); ++i) {
        entries[i].dwAltNameChoice = names[i].choice;
        if (!names[i].text.empty()) {
            entries[i].pwszRfc822Name = (LPWSTR)data;
            memcpy(data, names[i].text.data(), names[i].text.size() * sizeof(WCHAR));
            data += names[i].text.size() * sizeof(WCHAR);
        }
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (!names[i].blob.empty()) {
            entries[i].IPAddress.cbData = (DWORD)names[i].blob.size();  // DirectoryName alike
            entries[i].IPAddress.pbData = data;
            memcpy(data, names[i].blob.data(), names[i].blob.size());
            data += names[i].blob.size();
        }
    }
    *outSize = (DWORD)size;
    return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded)
{
    API_GUARD_BEGIN
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
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                              void* pvStructInfo, DWORD* pcbStructInfo)
{
    API_GUARD_BEGIN
    if (lpszStructType == nullptr || pcbStructInfo == nullptr ||
        (pbEncoded == nullptr && cbEncoded > 0)) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (IsStructType(lpszStructType, PKCS_RC2_CBC_PARAMETERS, szOID_RSA_RC2CBC))
        return DecodeRc2Parameters(pbEncoded, cbEncoded, pvStructInfo, pcbStructInfo);
    if (IsStructType(lpszStructType, X509_ALTERNATE_NAME, szOID_SUBJECT_ALT_NAME2))
        return DecodeAltName(pbEncoded, cbEncoded, pvStructInfo, pcbStructInfo);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

PCERT_EXTENSION WINAPI CertFindExtension(LPCSTR pszObjId, DWORD cExtensions,
                                         CERT_EXTENSION rgExtensions[])
{
    for (DWORD i = 0; pszObjId != nullptr && rgExtensions != nullptr && i < cExtensions; ++i)
        if (rgExtensions[i].pszObjId != nullptr && strcmp(rgExtensions[i].pszObjId, pszObjId) == 0)
            return &rgExtensions[i];
    SetLastError(CRYPT_E_NOT_FOUND);
    return nullptr;
}

}  // extern "C"
