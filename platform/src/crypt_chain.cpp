// CertGetCertificateChain and CertFreeCertificateChain: the default chain
// engine over OpenSSL's X509_verify_cert.
//
// Trust anchors are the self-signed certificates of the user's "Root" store;
// intermediate certificates come from the additional store, "CA" and "MY".
// Nothing is fetched from the network. Revocation is never checked: when a
// caller asks for it, the elements concerned report their status as unknown
// and offline, as Windows does without a reachable list. Requested usages
// are not supported (the call fails with E_INVALIDARG when some are given).
//
// The result is one simple chain whose elements run from the end certificate
// towards the root. Every problem found is reported in the trust status
// bits; none ends the building of the chain, so that an expired certificate
// still names the root above it.
#include <string.h>

#include <algorithm>
#include <map>
#include <vector>

#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "api_guard.h"
#include "crypt_cert.h"

namespace {

// A chain context and what it points to, released together. Plain members
// only: a PCCERT_CHAIN_CONTEXT handed out points at `context`.
struct ChainHolder {
    CERT_CHAIN_CONTEXT context;
    CERT_SIMPLE_CHAIN simple;
    PCERT_SIMPLE_CHAIN simplePointer;
    CERT_CHAIN_ELEMENT* elements;         // new[]
    PCERT_CHAIN_ELEMENT* elementPointers; // new[]
};

// Contexts with one reference each, freed at the end of the call.
struct ContextList {
    std::vector<PCCERT_CONTEXT> contexts;
    ~ContextList()
    {
        for (PCCERT_CONTEXT context : contexts)
            CertFreeCertificateContext(context);
    }
};

void AddStore(HCERTSTORE store, ContextList* list)
{
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr)
        list->contexts.push_back(CertDuplicateCertificateContext(cert));
}

bool AddSystemStore(const char* name, ContextList* list)
{
    HCERTSTORE store = CertOpenSystemStoreA(0, name);
    if (store == nullptr)
        return false;
    AddStore(store, list);
    CertCloseStore(store, 0);
    return true;
}

// What the verification found: error bits per depth, and for the chain.
struct Findings {
    std::vector<DWORD> errors;
    DWORD chainErrors = 0;
};

DWORD TrustErrorFor(int error)
{
    switch (error) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        return CERT_TRUST_IS_NOT_TIME_VALID;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return CERT_TRUST_IS_UNTRUSTED_ROOT;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return CERT_TRUST_IS_PARTIAL_CHAIN;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
        return CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
    case X509_V_ERR_INVALID_PURPOSE:
        return CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
        return CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT;
    case X509_V_ERR_PERMITTED_VIOLATION:
    case X509_V_ERR_EXCLUDED_VIOLATION:
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
        return CERT_TRUST_INVALID_NAME_CONSTRAINTS;
    case X509_V_ERR_INVALID_POLICY_EXTENSION:
    case X509_V_ERR_NO_EXPLICIT_POLICY:
        return CERT_TRUST_INVALID_POLICY_CONSTRAINTS;
    default:  // bad signatures, unreadable keys: the certificate proves nothing
        return CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    }
}

// Records each problem at its depth and lets the verification go on.
int RecordProblem(int ok, X509_STORE_CTX* ctx)
{
    if (ok)
        return 1;
    Findings* findings = static_cast<Findings*>(X509_STORE_CTX_get_app_data(ctx));
    DWORD bit = TrustErrorFor(X509_STORE_CTX_get_error(ctx));
    int depth = X509_STORE_CTX_get_error_depth(ctx);
    if (bit == CERT_TRUST_IS_PARTIAL_CHAIN || depth < 0) {
        findings->chainErrors |= bit;
    } else {
        if ((size_t)depth >= findings->errors.size())
            findings->errors.resize((size_t)depth + 1, 0);
        findings->errors[(size_t)depth] |= bit;
    }
    return 1;
}

// Whether the top certificate's issuer is already further down the chain:
// the certificates issued one another in a loop.
bool IssuerAlreadyInChain(STACK_OF(X509)* chain, const std::vector<X509*>& candidates)
{
    int count = sk_X509_num(chain);
    X509* top = sk_X509_value(chain, count - 1);
    for (X509* candidate : candidates) {
        if (X509_check_issued(candidate, top) != X509_V_OK)
            continue;
        for (int i = 0; i < count - 1; ++i)
            if (X509_cmp(sk_X509_value(chain, i), candidate) == 0)
                return true;
    }
    return false;
}

DWORD RevocationBits(DWORD flags, DWORD index, DWORD count, bool trustedRoot)
{
    const DWORD unknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    bool isRoot = trustedRoot && index == count - 1;
    if (flags & CERT_CHAIN_REVOCATION_CHECK_CHAIN)
        return unknown;
    if ((flags & CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT) && !isRoot)
        return unknown;
    if ((flags & CERT_CHAIN_REVOCATION_CHECK_END_CERT) && index == 0)
        return unknown;
    return 0;
}

// The chain context for OpenSSL's chain; each element holds a reference to
// the context that the certificate came from (`sources`), or a new one.
ChainHolder* MakeChain(PCCERT_CONTEXT end, STACK_OF(X509)* chain, const Findings& findings,
                       const std::map<X509*, PCCERT_CONTEXT>& sources, DWORD flags)
{
    DWORD count = (DWORD)sk_X509_num(chain);
    ChainHolder* holder = new ChainHolder();
    memset(&holder->context, 0, sizeof holder->context);
    memset(&holder->simple, 0, sizeof holder->simple);
    holder->elements = new CERT_CHAIN_ELEMENT[count]();
    holder->elementPointers = new PCERT_CHAIN_ELEMENT[count];

    X509* top = sk_X509_value(chain, (int)count - 1);
    bool selfSignedTop = (X509_get_extension_flags(top) & EXFLAG_SS) != 0;
    DWORD topErrors = count <= findings.errors.size() ? findings.errors[count - 1] : 0;
    bool trustedRoot = selfSignedTop && findings.chainErrors == 0 &&
                       !(topErrors & CERT_TRUST_IS_UNTRUSTED_ROOT);
    CERT_TRUST_STATUS& summary = holder->simple.TrustStatus;
    summary.dwErrorStatus = findings.chainErrors;
    for (DWORD i = 0; i < count; ++i) {
        CERT_CHAIN_ELEMENT& element = holder->elements[i];
        X509* x509 = sk_X509_value(chain, (int)i);
        auto source = sources.find(x509);
        element.cbSize = sizeof element;
        element.pCertContext = i == 0 ? CertDuplicateCertificateContext(end)
                               : source != sources.end() ? CertDuplicateCertificateContext(source->second)
                                                         : NewCertContext(x509, nullptr);
        if (i < findings.errors.size())
            element.TrustStatus.dwErrorStatus = findings.errors[i];
        element.TrustStatus.dwErrorStatus |= RevocationBits(flags, i, count, trustedRoot);
        if (X509_get_extension_flags(x509) & EXFLAG_SS)
            element.TrustStatus.dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED;
        summary.dwErrorStatus |= element.TrustStatus.dwErrorStatus;
        summary.dwInfoStatus |= element.TrustStatus.dwInfoStatus;
        holder->elementPointers[i] = &element;
    }
    holder->simple.cbSize = sizeof holder->simple;
    holder->simple.cElement = count;
    holder->simple.rgpElement = holder->elementPointers;
    holder->simplePointer = &holder->simple;
    holder->context.cbSize = sizeof holder->context;
    holder->context.TrustStatus = summary;
    holder->context.cChain = 1;
    holder->context.rgpChain = &holder->simplePointer;
    return holder;
}

// An issuer only when its key made the certificate's signature. OpenSSL
// picks issuers by name and key identifier alone; among same-named roots
// the first one found may not be the one that signed.
int IssuerThatSigned(X509_STORE_CTX*, X509* cert, X509* issuer)
{
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    return X509_check_issued(issuer, cert) == X509_V_OK && key != nullptr && X509_verify(cert, key) == 1;
}

// One run of OpenSSL's verification: the chain it built (the caller frees it)
// and what it found on the way, or null.
STACK_OF(X509)* Verify(X509_STORE* trusted, X509* end, STACK_OF(X509)* untrusted, const FILETIME* time,
                       const std::vector<X509*>& candidates, Findings* findings)
{
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    STACK_OF(X509)* chain = nullptr;
    if (ctx != nullptr && X509_STORE_CTX_init(ctx, trusted, end, untrusted) == 1) {
        X509_STORE_CTX_set_verify_cb(ctx, RecordProblem);
        X509_STORE_CTX_set_app_data(ctx, findings);
        if (time != nullptr)
            X509_STORE_CTX_set_time(ctx, 0, (time_t)UnixFromFileTime(*time));
        X509_verify_cert(ctx);
        chain = X509_STORE_CTX_get1_chain(ctx);
    }
    X509_STORE_CTX_free(ctx);
    ERR_clear_error();
    if (chain != nullptr && sk_X509_num(chain) == 0) {
        sk_X509_pop_free(chain, X509_free);
        return nullptr;
    }
    if (chain != nullptr && (findings->chainErrors & CERT_TRUST_IS_PARTIAL_CHAIN) &&
        IssuerAlreadyInChain(chain, candidates)) {
        findings->chainErrors &= ~(DWORD)CERT_TRUST_IS_PARTIAL_CHAIN;
        size_t top = (size_t)sk_X509_num(chain) - 1;
        findings->errors.resize(std::max(findings->errors.size(), top + 1), 0);
        findings->errors[top] |= CERT_TRUST_IS_CYCLIC;
    }
    return chain;
}

DWORD AllErrors(const Findings& findings)
{
    DWORD all = findings.chainErrors;
    for (DWORD bits : findings.errors)
        all |= bits;
    return all;
}

// Builds and checks the chain; null with the last error set on failure.
ChainHolder* BuildChain(PCCERT_CONTEXT end, const FILETIME* time, HCERTSTORE additional, DWORD flags)
{
    ContextList roots, others;
    if (!AddSystemStore("Root", &roots))
        return nullptr;
    if (additional != nullptr)
        AddStore(additional, &others);
    if (!AddSystemStore("CA", &others) || !AddSystemStore("MY", &others))
        return nullptr;

    std::map<X509*, PCCERT_CONTEXT> sources;
    X509_STORE* trusted = X509_STORE_new();
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    std::vector<X509*> candidates;
    bool ok = trusted != nullptr && untrusted != nullptr;
    for (PCCERT_CONTEXT root : roots.contexts) {
        X509* x509 = CertX509(root);
        // Only self-signed certificates anchor a chain, as with crypt32.
        if (ok && x509 != nullptr && (X509_get_extension_flags(x509) & EXFLAG_SS)) {
            ok = X509_STORE_add_cert(trusted, x509) == 1;
            sources[x509] = root;
            candidates.push_back(x509);
        }
    }
    for (PCCERT_CONTEXT other : others.contexts) {
        X509* x509 = CertX509(other);
        if (ok && x509 != nullptr) {
            ok = sk_X509_push(untrusted, x509) > 0;
            sources.emplace(x509, other);
            candidates.push_back(x509);
        }
    }

    X509* endX509 = CertX509(end);
    Findings findings;
    STACK_OF(X509)* chain = ok && endX509 != nullptr
                                ? Verify(trusted, endX509, untrusted, time, candidates, &findings)
                                : nullptr;
    if (chain != nullptr && (AllErrors(findings) & CERT_TRUST_IS_NOT_SIGNATURE_VALID)) {
        // A wrong issuer of the right name may have been taken: look again
        // among those whose key made the signature, and keep what that finds
        // when it is a complete chain of good signatures.
        Findings strictFindings;
        X509_STORE_set_check_issued(trusted, IssuerThatSigned);
        STACK_OF(X509)* strict = Verify(trusted, endX509, untrusted, time, candidates, &strictFindings);
        if (strict != nullptr && !(AllErrors(strictFindings) &
                                   (CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_PARTIAL_CHAIN))) {
            std::swap(chain, strict);
            findings = strictFindings;
        }
        sk_X509_pop_free(strict, X509_free);
    }
    ChainHolder* holder = chain != nullptr ? MakeChain(end, chain, findings, sources, flags) : nullptr;
    sk_X509_pop_free(chain, X509_free);
    sk_X509_free(untrusted);
    X509_STORE_free(trusted);
    if (holder == nullptr)
        SetLastError(NTE_NO_MEMORY);
    return holder;
}

}  // namespace

extern "C" {

BOOL WINAPI CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
                                    LPFILETIME pTime, HCERTSTORE hAdditionalStore,
                                    PCERT_CHAIN_PARA pChainPara, DWORD dwFlags, LPVOID pvReserved,
                                    PCCERT_CHAIN_CONTEXT* ppChainContext)
{
    API_GUARD_BEGIN
    if (ppChainContext != nullptr)
        *ppChainContext = nullptr;
    bool knownEngine = hChainEngine == HCCE_CURRENT_USER || hChainEngine == HCCE_LOCAL_MACHINE;
    if (!knownEngine || pCertContext == nullptr || pChainPara == nullptr || ppChainContext == nullptr ||
        pChainPara->RequestedUsage.Usage.cUsageIdentifier != 0) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    ChainHolder* holder = BuildChain(pCertContext, pTime, hAdditionalStore, dwFlags);
    if (holder == nullptr)
        return FALSE;
    *ppChainContext = &holder->context;
    return TRUE;
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

void WINAPI CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext)
{
    if (pChainContext == nullptr)
        return;
    ChainHolder* holder = reinterpret_cast<ChainHolder*>(const_cast<CERT_CHAIN_CONTEXT*>(pChainContext));
    for (DWORD i = 0; i < holder->simple.cElement; ++i)
        CertFreeCertificateContext(holder->elements[i].pCertContext);
    delete[] holder->elements;
    delete[] holder->elementPointers;
    delete holder;
}

}  // extern "C"
