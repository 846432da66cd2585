// Checking a certificate's chain up to a root of the user's "Root" store.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "common/smime_result.h"

// Builds the certificate's chain (intermediates from the store it was taken
// from, "CA" and "MY"; anchors in "Root"; checked now, nothing fetched) and
// records in `result` the subject (signerName), SR_SIGNER_CURRENT, and, for a
// chain that ends in a root of "Root" with every signature valid, the root's
// subject (issuerName), SR_ISSUER_TRUSTED and SR_ISSUER_CURRENT (every issuing
// certificate valid today). Expired certificates do not break the chain.
// Returns 1 for a trusted chain, else 0. The caller keeps the certificate.
int CheckSignerTrust(PCCERT_CONTEXT cert, SmimeResult* result);

// The same check for the signer of a verified signature, with the message's
// own certificates (messageStore, kept by the caller) as intermediates; a
// trusted signer's certificate, and the intermediates of its chain that the
// message carried, are filed in the user's "CA" store. An untrusted one never is.
int CheckVerifiedSigner(PCCERT_CONTEXT signer, HCERTSTORE messageStore, SmimeResult* result);

// Only the chain test of CheckSignerTrust: no message, nothing recorded.
bool CertChainTrusted(PCCERT_CONTEXT cert);

PCCERT_CONTEXT WINAPI GetSignerCertificate(void* arg, DWORD encoding, PCERT_INFO signerId,
                                           HCERTSTORE messageStore);
