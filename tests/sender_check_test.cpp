// The From address against the addresses of the signer's certificate.
#include <string.h>

#include <memory>

#include "incoming/sender_check.h"
#include "support/cert_fixture.h"

namespace {

// What NoteUnlistedSender records for a message with that From header ("" for none).
std::string Unlisted(const char* certName, const std::string& from)
{
    PCCERT_CONTEXT cert = LoadCert(TestPki::Instance().Get(certName).certDer);
    EXPECT_NE(cert, nullptr);
    std::unique_ptr<SmimeResult> result(new SmimeResult);
    memset(result.get(), 0, sizeof *result);
    std::string source = from + "Subject: s\r\n\r\nbody\r\n";
    NoteUnlistedSender(source.c_str(), cert, result.get());
    CertFreeCertificateContext(cert);
    return result->unlistedSender;
}

}  // namespace

TEST(SenderCheckTest, FromMustBeTheCertificatesAttributeOrAnAltNameAddress)
{
    EXPECT_EQ(Unlisted("alice", "From: Alice <ALICE@Example.COM>\r\n"), "");
    EXPECT_EQ(Unlisted("subject-email", "From: subject-email@example.com\r\n"), "");
    EXPECT_EQ(Unlisted("san-email", "From: <San-Email@example.com>\r\n"), "");
    EXPECT_EQ(Unlisted("alice", "From: Alice <alice@example.com.evil>\r\n"),
              "alice@example.com.evil");
    EXPECT_EQ(Unlisted("san-email", "From: \"Boss\" <boss@example.com>\r\n"), "boss@example.com");
    EXPECT_EQ(Unlisted("alice", ""), "") << "no From address, nothing to compare";
}
