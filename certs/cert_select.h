// Choosing certificates in a store by e-mail address or subject string.
#pragma once

#include <windows.h>
#include <wincrypt.h>

enum { SUBJECT_SIZE = 1024 };

// The subject as an X.500 string into a SUBJECT_SIZE buffer, control characters
// escaped as for display; returns CertNameToStrA's count (below 2: no name) or,
// for a name, the escaped text's length with its terminator.
DWORD GetSubjectString(PCCERT_CONTEXT cert, char* buffer);

bool CertHasKeyUsage(BYTE mask, PCCERT_CONTEXT cert);
PCCERT_CONTEXT FindCertByEmail(HCERTSTORE store, const char* address, BYTE mask);
PCCERT_CONTEXT FindCertBySubject(HCERTSTORE store, const char* subject, BYTE mask);
