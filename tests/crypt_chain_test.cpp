// The platform's certificate chain engine: which chain it builds from which
// stores, and the trust status bits it reports.
#include <string.h>

#include "support/cert_fixture.h"

namespace {

const TestCert& Pki(const char* name)
{
    return TestPki::Instance().Get(name);
}

class ChainTest : public CertStoreFixture {
protected:
    void TearDown() override
    {
        if (additional_ != NULL) {
            EXPECT_TRUE(CertCloseStore(additional_, CERT_CLOSE_STORE_CHECK_FLAG));
        }
    }

    // A store of its own with the given certificates, as a message brings them.
    HCERTSTORE Carried(const std::vector<std::string>& derFiles)
    {
        if (additional_ != NULL)
            CertCloseStore(additional_, 0);
        additional_ = CertOpenSystemStoreA(0, ("Carried" + std::to_string(++carried_)).c_str());
        for (const std::string& file : derFiles) {
            std::string der = ReadFile(file);
            EXPECT_TRUE(CertAddEncodedCertificateToStore(additional_, X509_ASN_ENCODING, (const BYTE*)der.data(),
                                                         (DWORD)der.size(), CERT_STORE_ADD_ALWAYS, NULL));
        }
        return additional_;
    }

    // The chain of the certificate: its subjects from the end certificate up,
    // each element's error bits, and the whole chain's error bits.
    struct Chain {
        std::vector<std::string> subjects;
        std::vector<DWORD> errors;
        DWORD chainErrors = 0xFFFFFFFF;
        DWORD rootInfo = 0;
    };
    Chain Build(const std::string& certDer, HCERTSTORE additional = NULL, DWORD flags = 0)
    {
        Chain out;
        PCCERT_CONTEXT cert = LoadCert(certDer);
        EXPECT_NE(cert, nullptr);
        CERT_CHAIN_PARA para;
        memset(&para, 0, sizeof para);
        para.cbSize = sizeof para;
        PCCERT_CHAIN_CONTEXT chain = NULL;
        EXPECT_TRUE(CertGetCertificateChain(NULL, cert, NULL, additional, &para,
                                            flags | CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, NULL, &chain));
        if (chain != NULL) {
            EXPECT_EQ(chain->cChain, 1u);
            const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
            EXPECT_EQ(simple->TrustStatus.dwErrorStatus, chain->TrustStatus.dwErrorStatus);
            EXPECT_EQ(simple->rgpElement[0]->pCertContext->cbCertEncoded, cert->cbCertEncoded);
            for (DWORD i = 0; i < simple->cElement; ++i) {
                char name[1024];
                CertNameToStrA(X509_ASN_ENCODING, &simple->rgpElement[i]->pCertContext->pCertInfo->Subject,
                               CERT_X500_NAME_STR, name, sizeof name);
                out.subjects.push_back(Utf8(name));
                out.errors.push_back(simple->rgpElement[i]->TrustStatus.dwErrorStatus);
            }
            out.rootInfo = simple->rgpElement[simple->cElement - 1]->TrustStatus.dwInfoStatus;
            out.chainErrors = chain->TrustStatus.dwErrorStatus;
            CertFreeCertificateChain(chain);
        }
        CertFreeCertificateContext(cert);
        return out;
    }

    HCERTSTORE additional_ = NULL;
    int carried_ = 0;
};

}  // namespace

TEST_F(ChainTest, RunsFromTheEndCertificateToTheRootThroughTheAdditionalStore)
{
    InstallCert("Root", Pki("root"));
    Chain chain = Build(Pki("inter-user").certDer, Carried({Pki("intermediate").certDer}));
    EXPECT_EQ(chain.subjects, (std::vector<std::string>{Pki("inter-user").subject, Pki("intermediate").subject,
                                                        Pki("root").subject}));
    EXPECT_EQ(chain.errors, std::vector<DWORD>(3, CERT_TRUST_NO_ERROR));
    EXPECT_EQ(chain.chainErrors, CERT_TRUST_NO_ERROR);
    EXPECT_TRUE(chain.rootInfo & CERT_TRUST_IS_SELF_SIGNED);
}

TEST_F(ChainTest, ReportsEachProblemWhereItIs)
{
    InstallCert("Root", Pki("root"));
    InstallCert("CA", Pki("old-intermediate"));

    Chain chain = Build(Pki("inter-user").certDer);  // nobody holds its intermediate
    EXPECT_EQ(chain.subjects, std::vector<std::string>{Pki("inter-user").subject});
    EXPECT_EQ(chain.chainErrors, CERT_TRUST_IS_PARTIAL_CHAIN);

    chain = Build(Pki("old-inter-user").certDer);
    EXPECT_EQ(chain.errors, (std::vector<DWORD>{0, CERT_TRUST_IS_NOT_TIME_VALID, 0}));
    EXPECT_EQ(chain.chainErrors, CERT_TRUST_IS_NOT_TIME_VALID);

    chain = Build(Pki("forged").certDer);  // names the root, signed by another key
    EXPECT_EQ(chain.subjects.size(), 2u);
    EXPECT_EQ(chain.errors[0], CERT_TRUST_IS_NOT_SIGNATURE_VALID);

    chain = Build(Pki("stranger").certDer, Carried({Pki("stranger-ca").certDer}));
    EXPECT_EQ(chain.subjects.size(), 2u);
    EXPECT_EQ(chain.errors[1], CERT_TRUST_IS_UNTRUSTED_ROOT);
    EXPECT_EQ(chain.chainErrors, CERT_TRUST_IS_UNTRUSTED_ROOT);

    chain = Build(Pki("expired").certDer, NULL, CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT);
    const DWORD unknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    EXPECT_EQ(chain.errors, (std::vector<DWORD>{CERT_TRUST_IS_NOT_TIME_VALID | unknown, 0}));
}

TEST_F(ChainTest, SelfSignedCertificatesAreTheirOwnChain)
{
    Chain chain = Build(Pki("selfsigned").certDer);
    EXPECT_EQ(chain.subjects, std::vector<std::string>{Pki("selfsigned").subject});
    EXPECT_EQ(chain.chainErrors, CERT_TRUST_IS_UNTRUSTED_ROOT);

    InstallCert("Root", Pki("selfsigned"));
    chain = Build(Pki("selfsigned").certDer);
    EXPECT_EQ(chain.chainErrors, CERT_TRUST_NO_ERROR);
}

TEST_F(ChainTest, CertificatesIssuingEachOtherInALoopEndTheChain)
{
    // Two CAs that issued each other, and an end certificate of one of them.
    const std::string d = dir_.path() + "/";
    const std::string keyA = Pki("stranger-ca").keyPem, keyB = Pki("intermediate").keyPem;
    WriteFile(d + "ca.ext", "basicConstraints=critical,CA:TRUE\n");
    ASSERT_TRUE(RunOpenssl("req -x509 -new -key " + keyA + " -subj /CN=LoopA -days 30 -out " + d + "a0.pem"));
    ASSERT_TRUE(RunOpenssl("req -new -key " + keyB + " -subj /CN=LoopB -out " + d + "b.csr"));
    ASSERT_TRUE(RunOpenssl("x509 -req -in " + d + "b.csr -CA " + d + "a0.pem -CAkey " + keyA +
                           " -set_serial 1 -days 30 -extfile " + d + "ca.ext -outform DER -out " + d + "b.der"));
    ASSERT_TRUE(RunOpenssl("x509 -inform DER -in " + d + "b.der -out " + d + "b.pem"));
    ASSERT_TRUE(RunOpenssl("req -new -key " + keyA + " -subj /CN=LoopA -out " + d + "a.csr"));
    ASSERT_TRUE(RunOpenssl("x509 -req -in " + d + "a.csr -CA " + d + "b.pem -CAkey " + keyB +
                           " -set_serial 2 -days 30 -extfile " + d + "ca.ext -outform DER -out " + d + "a.der"));
    ASSERT_TRUE(RunOpenssl("x509 -inform DER -in " + d + "a.der -out " + d + "a.pem"));
    ASSERT_TRUE(RunOpenssl("req -new -key " + Pki("stranger").keyPem + " -subj /CN=LoopLeaf -out " + d + "e.csr"));
    ASSERT_TRUE(RunOpenssl("x509 -req -in " + d + "e.csr -CA " + d + "a.pem -CAkey " + keyA +
                           " -set_serial 3 -days 30 -outform DER -out " + d + "e.der"));

    Chain chain = Build(d + "e.der", Carried({d + "a.der", d + "b.der"}));
    EXPECT_EQ(chain.subjects, (std::vector<std::string>{"CN=LoopLeaf", "CN=LoopA", "CN=LoopB"}));
    EXPECT_EQ(chain.chainErrors, CERT_TRUST_IS_CYCLIC);
}

TEST_F(ChainTest, RefusesWhatItDoesNotImplement)
{
    PCCERT_CONTEXT cert = LoadCert(Pki("alice").certDer);
    ASSERT_NE(cert, nullptr);
    CERT_CHAIN_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    LPSTR usage = (LPSTR) "1.3.6.1.5.5.7.3.4";
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = &usage;
    PCCERT_CHAIN_CONTEXT chain = (PCCERT_CHAIN_CONTEXT)1;
    EXPECT_FALSE(CertGetCertificateChain(NULL, cert, NULL, NULL, &para, 0, NULL, &chain));
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
    EXPECT_EQ(chain, nullptr);
    CertFreeCertificateContext(cert);
    CertFreeCertificateChain(NULL);
}
