#include "certs/cert_select.h"

#include <string.h>

#include "common/encoding.h"

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

// Visits the store in its own order; the first certificate whose name equals
// `wanted` and that allows a usage of `mask` wins. A same-named certificate
// with the wrong usage does not end the search.
static PCCERT_CONTEXT FindCertByName(HCERTSTORE store, const char* wanted, BYTE mask,
                                     CertNameReader readName)
{
    if (store == NULL || wanted == NULL)
        return NULL;
    char name[SUBJECT_SIZE];
    PCCERT_CONTEXT cert = CertFindCertificateInStore(store, MESSAGE_ENCODING, 0, CERT_FIND_ANY, NULL, NULL);
    while (cert != NULL) {
        if (readName(cert, name) && strcmp(name, wanted) == 0 && CertHasKeyUsage(mask, cert))
            return cert;
        cert = CertEnumCertificatesInStore(store, cert);
    }
    return NULL;
}

PCCERT_CONTEXT FindCertByEmail(HCERTSTORE store, const char* address, BYTE mask)
{
    return FindCertByName(store, address, mask, ReadEmailName);
}

PCCERT_CONTEXT FindCertBySubject(HCERTSTORE store, const char* subject, BYTE mask)
{
    return FindCertByName(store, subject, mask, ReadSubjectName);
}
