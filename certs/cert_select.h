// Choosing certificates in a store by e-mail address or subject string.
#pragma once

#include <windows.h>
#include <wincrypt.h>

enum { SUBJECT_SIZE = 1024 };

// The subject as an X.500 string into a SUBJECT_SIZE buffer; returns CertNameToStrA's count.
DWORD GetSubjectString(PCCERT_CONTEXT cert, char* buffer);

// When several certificates fit, one within its validity period wins; then,
// as asked, one whose chain is trusted (recipients) or one with its private
// key (own certificates); then the one that became valid last (NotBefore).
// Store order only breaks ties.
enum CertPreference {
    PREFER_VALID_LATEST = 0,
    PREFER_TRUSTED = 1,
    PREFER_PRIVATE_KEY = 2,
};

bool CertHasKeyUsage(BYTE mask, PCCERT_CONTEXT cert);
// E-mail names compare without regard to ASCII case; subject strings byte for
// byte. The certificate returned belongs to the caller (CertFreeCertificateContext).
PCCERT_CONTEXT FindCertByEmail(HCERTSTORE store, const char* address, BYTE mask,
                               int preferences = PREFER_VALID_LATEST);
PCCERT_CONTEXT FindCertBySubject(HCERTSTORE store, const char* subject, BYTE mask,
                                 int preferences = PREFER_VALID_LATEST);
