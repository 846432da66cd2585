#include "certs/trust.h"

#include <string.h>

#include "certs/cert_select.h"
#include "common/encoding.h"
#include "common/guards.h"
#include "common/messages.h"

// A root only counts when it actually signed the certificate: matching the
// issuer name alone would let anyone mint a "trusted" certificate by copying
// a root's name. Roots sharing the name are tried in store order.
static PCCERT_CONTEXT FindIssuingRoot(HCERTSTORE rootStore, PCCERT_CONTEXT cert)
{
    PCCERT_CONTEXT root = NULL;
    for (;;) {
        root = CertFindCertificateInStore(rootStore, MESSAGE_ENCODING, 0, CERT_FIND_ISSUER_NAME,
                                          &cert->pCertInfo->Issuer, root);
        if (root == NULL)
            return NULL;
        if (CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, cert->pbCertEncoded,
                                            cert->cbCertEncoded,
                                            &root->pCertInfo->SubjectPublicKeyInfo))
            return root;
    }
}

// Files the certificate in "CA" (so its owner becomes a possible recipient)
// and records its validity, its trusted root and the root's validity.
static int CheckAgainstRoots(HCERTSTORE rootStore, HCERTSTORE caStore, PCCERT_CONTEXT cert,
                             SmimeResult* result, PCCERT_CONTEXT* root)
{
    char name[SUBJECT_SIZE];
    if (GetSubjectString(cert, name) < 2) {
        ShowMessage(TEXT_NO_SUBJECT);
        return 0;
    }
    SET_RESULT_TEXT(result->signerName, name);

    if (CertAddCertificateContextToStore(caStore, cert, CERT_STORE_ADD_USE_EXISTING, NULL) != TRUE) {
        ShowLastErrorText();
        ShowMessage(TEXT_NOT_ADDED_TO_CA);
    }

    if (CertVerifyTimeValidity(NULL, cert->pCertInfo) == 0)
        result->flags |= SR_SIGNER_CURRENT;

    *root = FindIssuingRoot(rootStore, cert);
    if (*root == NULL)
        return 0;
    if (GetSubjectString(*root, name) < 2 || strlen(name) < 2)
        return 0;

    result->flags |= SR_ISSUER_TRUSTED;
    SET_RESULT_TEXT(result->issuerName, name);
    if (CertVerifyTimeValidity(NULL, (*root)->pCertInfo) == 0)
        result->flags |= SR_ISSUER_CURRENT;
    return 1;
}

int CheckSignerTrust(PCCERT_CONTEXT cert, SmimeResult* result)
{
    if (cert == NULL || result == NULL)
        return 0;

    // Released in reverse: the root's context, then "CA", then "Root".
    StoreHandle rootStore(CLOSE_IN_BOX, TEXT_CLOSE_ROOT_STORE_NOTICE);
    StoreHandle caStore(CLOSE_IN_BOX, TEXT_CLOSE_CA_STORE_NOTICE);
    CertContext root;
    if (!rootStore.OpenSystem("Root")) {
        ShowMessage(TEXT_STORE_NOT_OPENED);
        return 0;
    }
    if (!caStore.OpenSystem("CA")) {
        ShowMessage(TEXT_STORE_NOT_OPENED);
        return 0;
    }
    return CheckAgainstRoots(rootStore.get(), caStore.get(), cert, result, root.receive());
}

PCCERT_CONTEXT WINAPI GetSignerCertificate(void* arg, DWORD encoding, PCERT_INFO signerId,
                                           HCERTSTORE messageStore)
{
    if (messageStore == NULL || signerId == NULL)
        return NULL;
    return CertGetSubjectCertificateFromStore(messageStore, encoding, signerId);
}
