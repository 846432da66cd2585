#include "certs/cert_select.h"

#include <string.h>

#include "certs/trust.h"
#include "common/encoding.h"
#include "common/text.h"

DWORD GetSubjectString(PCCERT_CONTEXT cert, char* buffer)
{
    memset(buffer, 0, SUBJECT_SIZE);
    return CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, buffer,
                          SUBJECT_SIZE);
}

bool CertHasKeyUsage(BYTE mask, PCCERT_CONTEXT cert)
{
    BYTE usage = 0;
    BOOL present = CertGetIntendedKeyUsage(MESSAGE_ENCODING, cert->pCertInfo, &usage, 1);
    if (!present && usage == 0)
        return true;  // no key-usage extension: every usage is allowed
    if (present)
        return (usage & mask) != 0;
    return false;
}

// The name a search compares; false when the certificate has none.
typedef bool (*CertNameReader)(PCCERT_CONTEXT cert, char* buffer);
typedef bool (*NameComparer)(const char* name, const char* wanted);

static bool ReadEmailName(PCCERT_CONTEXT cert, char* buffer)
{
    memset(buffer, 0, SUBJECT_SIZE);
    CertGetNameStringA(cert, CERT_NAME_EMAIL_TYPE, 0, NULL, buffer, SUBJECT_SIZE);
    return buffer[0] != '\0';
}

static bool ReadSubjectName(PCCERT_CONTEXT cert, char* buffer)
{
    return GetSubjectString(cert, buffer) > 1;
}

// Mail addresses are ASCII; their letters' case carries no meaning in practice.
static bool SameAddress(const char* name, const char* wanted)
{
    for (; *name != '\0' && AsciiLower(*name) == AsciiLower(*wanted); ++name, ++wanted) {
    }
    return *name == '\0' && *wanted == '\0';
}

static bool SameText(const char* name, const char* wanted)
{
    return strcmp(name, wanted) == 0;
}

// One certificate that fits, with what the preferences weigh. The chain is
// only built when it decides between two candidates.
struct Candidate {
    PCCERT_CONTEXT cert;
    bool current;
    int trusted;  // -1 until asked
};

static bool HasPrivateKey(PCCERT_CONTEXT cert)
{
    DWORD size = 0;
    return CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, NULL, &size) != FALSE;
}

static bool IsTrusted(Candidate* candidate)
{
    if (candidate->trusted < 0)
        candidate->trusted = CertChainTrusted(candidate->cert) ? 1 : 0;
    return candidate->trusted == 1;
}

static int CompareTimes(const FILETIME& a, const FILETIME& b)
{
    if (a.dwHighDateTime != b.dwHighDateTime)
        return a.dwHighDateTime < b.dwHighDateTime ? -1 : 1;
    if (a.dwLowDateTime != b.dwLowDateTime)
        return a.dwLowDateTime < b.dwLowDateTime ? -1 : 1;
    return 0;
}

// Whether `later` (met after `best` in store order) is to be preferred.
static bool Preferred(Candidate* later, Candidate* best, int preferences)
{
    if (later->current != best->current)
        return later->current;
    if ((preferences & PREFER_TRUSTED) && IsTrusted(later) != IsTrusted(best))
        return IsTrusted(later);
    if (preferences & PREFER_PRIVATE_KEY) {
        bool laterKey = HasPrivateKey(later->cert);
        if (laterKey != HasPrivateKey(best->cert))
            return laterKey;
    }
    return CompareTimes(later->cert->pCertInfo->NotBefore, best->cert->pCertInfo->NotBefore) > 0;
}

// Visits the whole store; of the certificates whose name matches `wanted`
// and that allow a usage of `mask`, the preferred one wins.
static PCCERT_CONTEXT FindCertByName(HCERTSTORE store, const char* wanted, BYTE mask, int preferences,
                                     CertNameReader readName, NameComparer same)
{
    if (store == NULL || wanted == NULL)
        return NULL;
    char name[SUBJECT_SIZE];
    Candidate best = {NULL, false, -1};
    PCCERT_CONTEXT cert = CertFindCertificateInStore(store, MESSAGE_ENCODING, 0, CERT_FIND_ANY, NULL, NULL);
    for (; cert != NULL; cert = CertEnumCertificatesInStore(store, cert)) {
        if (!readName(cert, name) || !same(name, wanted) || !CertHasKeyUsage(mask, cert))
            continue;
        Candidate candidate = {cert, CertVerifyTimeValidity(NULL, cert->pCertInfo) == 0, -1};
        if (best.cert != NULL && !Preferred(&candidate, &best, preferences))
            continue;
        if (best.cert != NULL)
            CertFreeCertificateContext(best.cert);
        best = candidate;
        best.cert = CertDuplicateCertificateContext(cert);
    }
    return best.cert;
}

PCCERT_CONTEXT FindCertByEmail(HCERTSTORE store, const char* address, BYTE mask, int preferences)
{
    return FindCertByName(store, address, mask, preferences, ReadEmailName, SameAddress);
}

PCCERT_CONTEXT FindCertBySubject(HCERTSTORE store, const char* subject, BYTE mask, int preferences)
{
    return FindCertByName(store, subject, mask, preferences, ReadSubjectName, SameText);
}
