// Certificate names as text: CertNameToStrA and CertGetNameStringA.
//
// Names are put together in UTF-8 and converted to the ANSI code page (932)
// at the end, so that quoting is decided on characters, never on the bytes
// of a double-byte character.
#include <string.h>

#include <algorithm>

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "crypt_cert.h"
#include "api_guard.h"

namespace {

struct X500Key {
    const char* oid;
    const char* key;
};

const X500Key kX500Keys[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.7", "L"},
    {"2.5.4.8", "S"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"2.5.4.6", "C"},
    {"2.5.4.9", "STREET"},
    {"2.5.4.12", "T"},
    {"2.5.4.42", "G"},
    {"2.5.4.43", "I"},
    {"2.5.4.4", "SN"},
    {"0.9.2342.19200300.100.1.25", "DC"},
    {"2.5.4.5", "SERIALNUMBER"},
    {"1.2.840.113549.1.9.1", "E"},
    // Further keys of the system's table of attribute names.
    {"2.5.4.13", "Description"},
    {"2.5.4.17", "PostalCode"},
    {"2.5.4.18", "POBox"},
    {"2.5.4.20", "Phone"},
    {"2.5.4.24", "X21Address"},
    {"2.5.4.46", "dnQualifier"},
    {"1.2.840.113549.1.9.2", "UnstructuredName"},
    {"1.2.840.113549.1.9.8", "UnstructuredAddress"},
};

std::string OidOf(const X509_NAME_ENTRY* entry)
{
    char text[128];
    int n = OBJ_obj2txt(text, sizeof text, X509_NAME_ENTRY_get_object(entry), 1);
    return n > 0 && n < (int)sizeof text ? std::string(text) : std::string("0");
}

std::string KeyFor(const std::string& oid, DWORD format)
{
    if (format == CERT_OID_NAME_STR)
        return oid;
    for (const X500Key& k : kX500Keys)
        if (oid == k.oid)
            return k.key;
    return "OID." + oid;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Quoted(const std::string& value)
{
    bool quote = value.empty() || IsSpace(value.front()) || IsSpace(value.back()) ||
                 value.find_first_of(",+=\"\n<>#;") != std::string::npos;
    if (!quote)
        return value;
    std::string out = "\"";
    for (char c : value) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

// Values that are no character strings (an OCTET STRING, an encoded blob,
// which OpenSSL keeps whole) are written in hexadecimal after '#', unquoted.
bool IsBinaryValue(const ASN1_STRING* value)
{
    switch (ASN1_STRING_type(value)) {
    case V_ASN1_OCTET_STRING:
    case V_ASN1_SEQUENCE:
    case V_ASN1_SET:
    case V_ASN1_OTHER:
        return true;
    default:
        return false;
    }
}

std::string HexValue(const ASN1_STRING* value)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out = "#";
    const unsigned char* data = ASN1_STRING_get0_data(value);
    for (int i = 0; i < ASN1_STRING_length(value); ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

// The name as CertNameToStr writes it, in UTF-8; false when undecodable.
bool NameToUtf8(const CERT_NAME_BLOB* blob, DWORD strType, std::string* out)
{
    out->clear();
    if (blob == nullptr || blob->pbData == nullptr || blob->cbData == 0) {
        SetLastError(CRYPT_E_ASN1_EOD);
        return false;
    }
    const unsigned char* p = blob->pbData;
    ERR_clear_error();
    X509_NAME* name = d2i_X509_NAME(nullptr, &p, (long)blob->cbData);
    if (name == nullptr) {
        SetLastError(Asn1DecodeError());
        return false;
    }
    DWORD format = strType & 0xFFFF;
    const char* rdnSeparator = ", ";
    if (strType & CERT_NAME_STR_SEMICOLON_FLAG)
        rdnSeparator = "; ";
    else if (strType & CERT_NAME_STR_CRLF_FLAG)
        rdnSeparator = "\r\n";
    const char* attributeSeparator = (strType & CERT_NAME_STR_NO_PLUS_FLAG) ? " " : " + ";
    bool quoting = !(strType & CERT_NAME_STR_NO_QUOTING_FLAG);

    // Attributes grouped into their RDNs, in encoded order.
    std::vector<std::vector<std::string>> rdns;
    int lastSet = -1;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        const ASN1_STRING* data = X509_NAME_ENTRY_get_data(entry);
        std::string value;
        if (IsBinaryValue(data))
            value = HexValue(data);
        else
            value = quoting ? Quoted(Asn1StringToUtf8(data)) : Asn1StringToUtf8(data);
        // Only the OID and X.500 forms name the attribute; any other
        // form is taken as the simple one.
        bool keyed = format == CERT_OID_NAME_STR || format == CERT_X500_NAME_STR;
        std::string text = keyed ? KeyFor(OidOf(entry), format) + "=" + value : value;
        int set = X509_NAME_ENTRY_set(entry);
        if (rdns.empty() || set != lastSet)
            rdns.emplace_back();
        rdns.back().push_back(text);
        lastSet = set;
    }
    X509_NAME_free(name);
    if (strType & CERT_NAME_STR_REVERSE_FLAG)
        std::reverse(rdns.begin(), rdns.end());
    for (size_t r = 0; r < rdns.size(); ++r) {
        if (r > 0)
            *out += rdnSeparator;
        for (size_t a = 0; a < rdns[r].size(); ++a) {
            if (a > 0)
                *out += attributeSeparator;
            *out += rdns[r][a];
        }
    }
    return true;
}

// Copies an ANSI text into a caller's buffer of `size` characters, the
// Windows way: no buffer gives the size needed; a short buffer gets as much
// as fits (never half a double-byte character), terminated. Returns the
// count written or needed, terminator included.
DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size)
{
    DWORD needed = (DWORD)text.size() + 1;
    if (buffer == nullptr || size == 0)
        return needed;
    if (size >= needed) {
        memcpy(buffer, text.c_str(), needed);
        return needed;
    }
    size_t cut = 0;
    while (cut < text.size()) {
        size_t step = IsDBCSLeadByte((BYTE)text[cut]) && cut + 1 < text.size() ? 2 : 1;
        if (cut + step > size - 1)
            break;
        cut += step;
    }
    memcpy(buffer, text.data(), cut);
    buffer[cut] = '\0';
    return (DWORD)cut + 1;
}

// The first value of an attribute in a name, in UTF-8, or false.
bool FirstAttribute(const X509_NAME* name, const char* oid, std::string* value)
{
    ASN1_OBJECT* object = OBJ_txt2obj(oid, 1);
    if (object == nullptr)
        return false;
    int index = X509_NAME_get_index_by_OBJ(name, object, -1);
    ASN1_OBJECT_free(object);
    if (index < 0)
        return false;
    *value = Asn1StringToUtf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    return true;
}

// The first rfc822Name of the subject's (or issuer's) alternative name.
bool FirstAltNameEmail(X509* x, bool issuer, std::string* value)
{
    GENERAL_NAMES* names = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(x, issuer ? NID_issuer_alt_name : NID_subject_alt_name, nullptr, nullptr));
    if (names == nullptr)
        return false;
    bool found = false;
    for (int i = 0; i < sk_GENERAL_NAME_num(names) && !found; ++i) {
        const GENERAL_NAME* general = sk_GENERAL_NAME_value(names, i);
        if (general->type == GEN_EMAIL) {
            *value = Asn1StringToUtf8(general->d.rfc822Name);
            found = true;
        }
    }
    GENERAL_NAMES_free(names);
    return found;
}

}  // namespace

extern "C" {

DWORD WINAPI CertNameToStrA(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType,
                            LPSTR psz, DWORD csz)
{
    API_GUARD_BEGIN
    std::string text;
    if (!NameToUtf8(pName, dwStrType, &text))
        text.clear();  // an undecodable name reads as empty (count 1)
    return CopyOut(Utf8ToAnsi(text), psz, csz);
    API_GUARD_END((DWORD)0, CRYPT_MEMORY_ERROR)
}

DWORD WINAPI CertGetNameStringA(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
                                void* pvTypePara, LPSTR pszNameString, DWORD cchNameString)
{
    API_GUARD_BEGIN
    if (pCertContext == nullptr)
        return CopyOut("", pszNameString, cchNameString);
    bool issuer = (dwFlags & CERT_NAME_ISSUER_FLAG) != 0;
    X509* x = CertX509(pCertContext);
    const X509_NAME* name = issuer ? X509_get_issuer_name(x) : X509_get_subject_name(x);
    CERT_NAME_BLOB blob = issuer ? pCertContext->pCertInfo->Issuer : pCertContext->pCertInfo->Subject;
    std::string text;  // UTF-8
    switch (dwType) {
    case CERT_NAME_EMAIL_TYPE:
        if (!FirstAltNameEmail(x, issuer, &text))
            FirstAttribute(name, szOID_RSA_emailAddr, &text);
        break;
    case CERT_NAME_RDN_TYPE: {
        DWORD strType = pvTypePara != nullptr ? *static_cast<DWORD*>(pvTypePara) : 0;
        if (!NameToUtf8(&blob, strType, &text))
            text.clear();
        break;
    }
    case CERT_NAME_ATTR_TYPE:
        if (pvTypePara != nullptr)
            FirstAttribute(name, static_cast<const char*>(pvTypePara), &text);
        break;
    case CERT_NAME_SIMPLE_DISPLAY_TYPE:
    case CERT_NAME_FRIENDLY_DISPLAY_TYPE: {
        const char* const preferred[] = {"2.5.4.3", "2.5.4.11", "2.5.4.10", szOID_RSA_emailAddr};
        bool found = false;
        for (const char* oid : preferred)
            if (!found && FirstAttribute(name, oid, &text))
                found = true;
        if (!found && !FirstAltNameEmail(x, issuer, &text) && X509_NAME_entry_count(name) > 0)
            text = Asn1StringToUtf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, 0)));
        break;
    }
    default:
        break;
    }
    return CopyOut(Utf8ToAnsi(text), pszNameString, cchNameString);
    API_GUARD_END((DWORD)0, CRYPT_MEMORY_ERROR)
}

}  // extern "C"
