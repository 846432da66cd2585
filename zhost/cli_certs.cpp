// zhost certs: list, import and remove certificates of the current user's
// system stores. Written against the Windows certificate API only, so that
// it serves every build of zhost.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <windows.h>
#include <wincrypt.h>

#include "zhost/cli.h"

namespace {

const char* const kSystemStores[] = {"MY", "CA", "Root", "AddressBook"};
const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

int Failure(const std::string& message)
{
    fprintf(stderr, "zhost: %s\n", message.c_str());
    return 1;
}

std::string ErrorCode()
{
    char text[16];
    snprintf(text, sizeof text, "0x%08X", (unsigned)GetLastError());
    return text;
}

int StoreOpenFailure(const std::string& name)
{
    if (GetLastError() == ERROR_ACCESS_DENIED)
        return Failure("cannot open store " + name +
                       ": its folder must belong to you and not be writable by others (" +
                       ErrorCode() + ")");
    return Failure("cannot open store " + name + " (" + ErrorCode() + ")");
}

std::string SubjectOf(PCCERT_CONTEXT cert)
{
    char buffer[1024] = {0};
    CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, buffer, sizeof buffer);
    return buffer;
}

std::string EmailOf(PCCERT_CONTEXT cert)
{
    char buffer[1024] = {0};
    CertGetNameStringA(cert, CERT_NAME_EMAIL_TYPE, 0, NULL, buffer, sizeof buffer);
    return buffer;
}

std::string KeyUsageOf(PCCERT_CONTEXT cert)
{
    BYTE usage = 0;
    if (!CertGetIntendedKeyUsage(kEncoding, cert->pCertInfo, &usage, 1))
        return "none";
    char text[8];
    snprintf(text, sizeof text, "%02x", usage);
    return text;
}

bool HasPrivateKey(PCCERT_CONTEXT cert)
{
    DWORD size = 0;
    return CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, NULL, &size) != FALSE;
}

// "YYYY-MM-DD HH:MM:SS" (UTC) of a FILETIME, computed without the system's help.
std::string DateText(const FILETIME& time)
{
    unsigned long long ticks = ((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime;
    long long seconds = (long long)(ticks / 10000000ULL) - 11644473600LL;  // since 1970
    long long days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    long long z = days + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long d = doy - (153 * mp + 2) / 5 + 1;
    long long m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
    char text[96];
    snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", y, m, d, rest / 3600,
             rest / 60 % 60, rest % 60);
    return text;
}

std::string ValidityOf(PCCERT_CONTEXT cert)
{
    LONG state = CertVerifyTimeValidity(NULL, cert->pCertInfo);
    const char* word = state < 0 ? "not yet valid" : state > 0 ? "expired" : "valid";
    return DateText(cert->pCertInfo->NotBefore) + ".." + DateText(cert->pCertInfo->NotAfter) + " UTC, " + word;
}

void PrintCert(PCCERT_CONTEXT cert)
{
    printf("  subject: %s\n", SjisToUtf8(SubjectOf(cert)).c_str());
    std::string email = EmailOf(cert);
    printf("  e-mail: %s\n", email.empty() ? "none" : SjisToUtf8(email).c_str());
    printf("  key usage: %s\n", KeyUsageOf(cert).c_str());
    printf("  validity: %s\n", ValidityOf(cert).c_str());
    printf("  private key: %s\n", HasPrivateKey(cert) ? "yes" : "no");
}

bool ListStore(const std::string& name)
{
    HCERTSTORE store = CertOpenSystemStoreA(0, name.c_str());
    if (store == NULL) {
        StoreOpenFailure(name);
        return false;
    }
    printf("%s:\n", name.c_str());
    int count = 0;
    PCCERT_CONTEXT cert = NULL;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != NULL) {
        if (count++ > 0)
            printf("\n");
        PrintCert(cert);
    }
    if (count == 0)
        printf("  (no certificates)\n");
    CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
    return true;
}

int List(const std::vector<std::string>& args)
{
    if (args.size() > 1)
        return UsageError("certs list takes at most one store name");
    if (args.size() == 1)
        return ListStore(args[0]) ? 0 : 1;
    for (size_t i = 0; i < sizeof kSystemStores / sizeof kSystemStores[0]; ++i) {
        if (i > 0)
            printf("\n");
        if (!ListStore(kSystemStores[i]))
            return 1;
    }
    return 0;
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// The DER of every "CERTIFICATE" block of a PEM text; false on broken Base64.
bool PemCertificates(const std::string& text, std::vector<std::string>* ders)
{
    const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
    size_t pos = 0;
    while ((pos = text.find(begin, pos)) != std::string::npos) {
        size_t start = pos + begin.size();
        size_t stop = text.find(end, start);
        if (stop == std::string::npos)
            return false;
        std::string der;
        unsigned int bits = 0;
        int count = 0;
        for (size_t i = start; i < stop; ++i) {
            char c = text[i];
            if (c == '=' || c == '\r' || c == '\n' || c == ' ' || c == '\t')
                continue;
            int v = Base64Value(c);
            if (v < 0)
                return false;
            bits = (bits << 6) | (unsigned)v;
            if (++count == 4) {
                der += (char)(bits >> 16);
                der += (char)(bits >> 8);
                der += (char)bits;
                bits = 0;
                count = 0;
            }
        }
        if (count == 1)
            return false;
        if (count == 2)
            der += (char)(bits >> 4);
        if (count == 3) {
            der += (char)(bits >> 10);
            der += (char)(bits >> 2);
        }
        ders->push_back(der);
        pos = stop + end.size();
    }
    return !ders->empty();
}

std::vector<WCHAR> WidePassword(const std::string& utf8)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, NULL, 0);
    std::vector<WCHAR> wide(units > 0 ? units : 1, 0);
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), units);
    return wide;
}

void ReportImported(PCCERT_CONTEXT cert)
{
    printf("imported: %s%s\n", SjisToUtf8(SubjectOf(cert)).c_str(),
           HasPrivateKey(cert) ? " (with private key)" : "");
}

int ImportPfx(HCERTSTORE store, const std::string& bytes, const std::string& password)
{
    CRYPT_DATA_BLOB blob;
    blob.cbData = (DWORD)bytes.size();
    blob.pbData = (BYTE*)bytes.data();
    std::vector<WCHAR> wide = WidePassword(password);
    HCERTSTORE pfx = PFXImportCertStore(&blob, wide.data(), CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
    if (pfx == NULL)
        return Failure("not a certificate, or a PKCS #12 file that cannot be read (" + ErrorCode() + ")");
    int imported = 0;
    bool failed = false;
    PCCERT_CONTEXT cert = NULL;
    while (!failed && (cert = CertEnumCertificatesInStore(pfx, cert)) != NULL) {
        PCCERT_CONTEXT added = NULL;
        // A certificate already in the store stays with its key: an import
        // only adds keys, never takes one away.
        if (CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_USE_EXISTING, &added)) {
            ReportImported(added);
            CertFreeCertificateContext(added);
            ++imported;
        } else {
            failed = true;
            CertFreeCertificateContext(cert);
        }
    }
    CertCloseStore(pfx, 0);
    if (failed || imported == 0)
        return Failure("cannot add the certificates to the store (" + ErrorCode() + ")");
    return 0;
}

int ImportCertificates(HCERTSTORE store, const std::vector<std::string>& ders)
{
    for (const std::string& der : ders) {
        PCCERT_CONTEXT added = NULL;
        if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, (const BYTE*)der.data(),
                                              (DWORD)der.size(), CERT_STORE_ADD_USE_EXISTING, &added))
            return Failure("cannot add the certificate to the store (" + ErrorCode() + ")");
        ReportImported(added);
        CertFreeCertificateContext(added);
    }
    return 0;
}

bool IsDerCertificate(const std::string& bytes)
{
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE*)bytes.data(),
                                                       (DWORD)bytes.size());
    CertFreeCertificateContext(cert);
    return cert != NULL;
}

int Import(const std::vector<std::string>& args)
{
    std::vector<std::string> positional;
    std::string password;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--password") {
            if (i + 1 >= args.size())
                return UsageError("--password needs a value");
            password = args[++i];
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2)
        return UsageError("usage: certs import STORE FILE [--password P]");
    std::string bytes;
    if (!ReadFileBytes(positional[1], &bytes))
        return Failure("cannot read " + positional[1]);

    std::vector<std::string> ders;
    bool pem = bytes.find("-----BEGIN CERTIFICATE-----") != std::string::npos;
    if (pem && !PemCertificates(bytes, &ders))
        return Failure("broken PEM certificate in " + positional[1]);
    if (!pem && IsDerCertificate(bytes))
        ders.push_back(bytes);

    HCERTSTORE store = CertOpenSystemStoreA(0, positional[0].c_str());
    if (store == NULL)
        return StoreOpenFailure(positional[0]);
    int result = ders.empty() ? ImportPfx(store, bytes, password) : ImportCertificates(store, ders);
    CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
    return result;
}

int Remove(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        return UsageError("usage: certs remove STORE SUBJECT");
    std::string subject = Utf8ToSjis(args[1]);
    HCERTSTORE store = CertOpenSystemStoreA(0, args[0].c_str());
    if (store == NULL)
        return StoreOpenFailure(args[0]);
    int removed = 0;
    bool failed = false;
    PCCERT_CONTEXT cert = NULL;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != NULL) {
        if (SubjectOf(cert) != subject)
            continue;
        // Deleting frees the context given; the walk starts over, as a
        // deleted context is no place to go on from.
        if (CertDeleteCertificateFromStore(cert)) {
            printf("removed: %s\n", args[1].c_str());
            ++removed;
        } else {
            failed = true;
            break;
        }
        cert = NULL;
    }
    CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
    if (failed)
        return Failure("cannot remove the certificate (" + ErrorCode() + ")");
    if (removed == 0)
        return Failure("no certificate with subject \"" + args[1] + "\" in " + args[0]);
    return 0;
}

}  // namespace

int RunCertsCommand(const CliOptions& options)
{
    if (options.args.empty())
        return UsageError("usage: certs list [STORE] | import STORE FILE [--password P] | remove STORE SUBJECT");
    std::string action = options.args[0];
    std::vector<std::string> rest(options.args.begin() + 1, options.args.end());
    if (action == "list")
        return List(rest);
    if (action == "import")
        return Import(rest);
    if (action == "remove")
        return Remove(rest);
    return UsageError("unknown certs command " + action);
}
