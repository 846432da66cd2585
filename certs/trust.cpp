#include "certs/trust.h"

#include <string.h>

#include "certs/cert_select.h"
#include "common/encoding.h"
#include "common/guards.h"
#include "common/messages.h"

// Problems that leave a chain trusted: validity periods are reported bit by
// bit instead, and revocation is never asked for.
static const DWORD kTolerated = CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                CERT_TRUST_IS_OFFLINE_REVOCATION;

// The certificate's chain through the user's stores and `carried` (a
// message's certificates; may be null), checked now, with nothing fetched
// from the network; null when none can be built. The caller frees it with
// CertFreeCertificateChain.
static PCCERT_CHAIN_CONTEXT BuildChain(PCCERT_CONTEXT cert, HCERTSTORE carried)
{
    CERT_CHAIN_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    PCCERT_CHAIN_CONTEXT chain = NULL;
    if (!CertGetCertificateChain(NULL, cert, NULL, carried, &para,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, NULL, &chain))
        return NULL;
    return chain;
}

// The chain ends in a certificate of "Root" and every signature along it holds.
static bool ChainTrusted(PCCERT_CHAIN_CONTEXT chain)
{
    return chain != NULL && chain->cChain > 0 && chain->rgpChain[0]->cElement > 0 &&
           (chain->TrustStatus.dwErrorStatus & ~kTolerated) == 0;
}

static void AddToCa(HCERTSTORE caStore, PCCERT_CONTEXT cert)
{
    if (CertAddCertificateContextToStore(caStore, cert, CERT_STORE_ADD_USE_EXISTING, NULL) != TRUE) {
        ShowLastErrorText();
        ShowMessage(TEXT_NOT_ADDED_TO_CA);
    }
}

// A trusted signer becomes a possible recipient: its certificate goes into
// "CA", with the intermediate certificates of its chain that its message
// carried (those the user's stores lack are what its next message may not carry).
static void FileTrustedSigner(HCERTSTORE caStore, PCCERT_CONTEXT signer, HCERTSTORE carried,
                              const CERT_SIMPLE_CHAIN* chain)
{
    AddToCa(caStore, signer);
    for (DWORD i = 1; carried != NULL && i + 1 < chain->cElement; ++i) {
        PCCERT_CONTEXT intermediate = chain->rgpElement[i]->pCertContext;
        CertContext copy(
            CertFindCertificateInStore(carried, MESSAGE_ENCODING, 0, CERT_FIND_EXISTING, intermediate, NULL));
        if (copy.get() != NULL)
            AddToCa(caStore, intermediate);
    }
}

// Records the root that anchors a trusted chain and whether every issuing
// certificate (the certificate itself when it is the root) is valid today.
static int RecordRoot(const CERT_SIMPLE_CHAIN* chain, SmimeResult* result)
{
    char name[SUBJECT_SIZE];
    PCCERT_CONTEXT root = chain->rgpElement[chain->cElement - 1]->pCertContext;
    if (GetSubjectString(root, name) < 2 || strlen(name) < 2)
        return 0;
    result->flags |= SR_ISSUER_TRUSTED;
    SET_RESULT_TEXT(result->issuerName, name);
    bool current = true;
    for (DWORD i = chain->cElement > 1 ? 1 : 0; i < chain->cElement; ++i)
        current = current && CertVerifyTimeValidity(NULL, chain->rgpElement[i]->pCertContext->pCertInfo) == 0;
    if (current)
        result->flags |= SR_ISSUER_CURRENT;
    return 1;
}

// `carried`: more certificates for the chain (may be null); `fileIfTrusted`:
// a trusted signer is filed in "CA".
static int CheckChain(HCERTSTORE caStore, PCCERT_CONTEXT cert, HCERTSTORE carried, bool fileIfTrusted,
                      SmimeResult* result)
{
    char name[SUBJECT_SIZE];
    if (GetSubjectString(cert, name) < 2) {
        ShowMessage(TEXT_NO_SUBJECT);
        return 0;
    }
    SET_RESULT_TEXT(result->signerName, name);
    if (CertVerifyTimeValidity(NULL, cert->pCertInfo) == 0)
        result->flags |= SR_SIGNER_CURRENT;

    ChainContext chain(BuildChain(cert, carried));
    if (!ChainTrusted(chain.get()))
        return 0;
    int trusted = RecordRoot(chain.get()->rgpChain[0], result);
    if (trusted && fileIfTrusted)
        FileTrustedSigner(caStore, cert, carried, chain.get()->rgpChain[0]);
    return trusted;
}

bool CertChainTrusted(PCCERT_CONTEXT cert)
{
    ChainContext chain(BuildChain(cert, cert->hCertStore));
    return ChainTrusted(chain.get());
}

static int CheckTrust(PCCERT_CONTEXT cert, HCERTSTORE carried, bool fileIfTrusted, SmimeResult* result)
{
    if (cert == NULL || result == NULL)
        return 0;
    // Closed in reverse: "CA", then "Root".
    StoreHandle rootStore(CLOSE_IN_BOX, TEXT_CLOSE_ROOT_STORE_NOTICE);
    StoreHandle caStore(CLOSE_IN_BOX, TEXT_CLOSE_CA_STORE_NOTICE);
    if (!rootStore.OpenSystem("Root") || !caStore.OpenSystem("CA")) {
        ShowMessage(TEXT_STORE_NOT_OPENED);
        return 0;
    }
    return CheckChain(caStore.get(), cert, carried, fileIfTrusted, result);
}

int CheckSignerTrust(PCCERT_CONTEXT cert, SmimeResult* result)
{
    return CheckTrust(cert, cert != NULL ? cert->hCertStore : NULL, false, result);
}

int CheckVerifiedSigner(PCCERT_CONTEXT signer, HCERTSTORE messageStore, SmimeResult* result)
{
    return CheckTrust(signer, messageStore, true, result);
}

PCCERT_CONTEXT WINAPI GetSignerCertificate(void* arg, DWORD encoding, PCERT_INFO signerId,
                                           HCERTSTORE messageStore)
{
    if (messageStore == NULL || signerId == NULL)
        return NULL;
    return CertGetSubjectCertificateFromStore(messageStore, encoding, signerId);
}
