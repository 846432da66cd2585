// zhost certs, run as a process against stores in a temporary folder.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cert_fixture.h"
#include "support/test_pki.h"
#include "support/test_support.h"

namespace {

class CertsCliTest : public ::testing::Test {
protected:
    ProcessResult Certs(std::vector<std::string> args)
    {
        args.insert(args.begin(), {ZHOST_PATH, "certs"});
        return RunProcess(args, {"XDG_DATA_HOME=" + dir_.path()});
    }
    static const TestCert& Cert(const char* name) { return TestPki::Instance().Get(name); }

    TempDir dir_;
};

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1))
        ++n;
    return n;
}

TEST_F(CertsCliTest, ImportListRemove)
{
    ProcessResult r = Certs({"import", "MY", Cert("alice").p12, "--password", "test"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "imported: " + Cert("alice").subject + " (with private key)\n");

    r = Certs({"import", "CA", Cert("bob").certPem});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "imported: " + Cert("bob").subject + "\n");
    r = Certs({"import", "Root", Cert("expired").certDer});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Certs({"import", "Root", Cert("nousage").certDer});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    r = Certs({"list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("MY:\n  subject: " + Cert("alice").subject + "\n  e-mail: alice@example.com\n"
                         "  key usage: a0\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("CA:\n  subject: " + Cert("bob").subject), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("AddressBook:\n  (no certificates)\n"), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.out, "private key: yes"), 1u);
    EXPECT_EQ(Count(r.out, "private key: no"), 3u);
    EXPECT_EQ(Count(r.out, "UTC, valid\n"), 3u);
    EXPECT_NE(r.out.find("validity: 2001-01-01 00:00:00..2002-01-01 00:00:00 UTC, expired\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("key usage: none"), std::string::npos);

    r = Certs({"list", "root"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("root:\n"), 0u) << r.out;
    EXPECT_EQ(Count(r.out, "subject: "), 2u);

    r = Certs({"remove", "Root", Cert("expired").subject});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "removed: " + Cert("expired").subject + "\n");
    r = Certs({"list", "Root"});
    EXPECT_EQ(Count(r.out, "subject: "), 1u);
    EXPECT_EQ(r.out.find("expired"), std::string::npos);

    r = Certs({"remove", "Root", Cert("expired").subject});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Count(r.err, "\n"), 1u);
}

TEST_F(CertsCliTest, ImportingAKeylessCopyKeepsTheKey)
{
    const std::string bare = dir_.File("alice-bare.p12");
    ASSERT_TRUE(RunOpenssl("pkcs12 -export -nokeys -in " + Cert("alice").certPem +
                           " -passout pass:test -out " + bare));
    ASSERT_EQ(Certs({"import", "MY", Cert("alice").p12, "--password", "test"}).exitCode, 0);
    ProcessResult r = Certs({"import", "MY", bare, "--password", "test"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "imported: " + Cert("alice").subject + " (with private key)\n");
    EXPECT_EQ(Count(Certs({"list", "MY"}).out, "private key: yes"), 1u);
}

TEST_F(CertsCliTest, FailuresAndUsageErrors)
{
    EXPECT_EQ(Certs({}).exitCode, 2);
    EXPECT_EQ(Certs({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(Certs({"list", "MY", "CA"}).exitCode, 2);
    EXPECT_EQ(Certs({"import", "MY"}).exitCode, 2);
    EXPECT_EQ(Certs({"import", "MY", Cert("alice").p12, "--password"}).exitCode, 2);
    EXPECT_EQ(Certs({"remove", "MY"}).exitCode, 2);

    ProcessResult r = Certs({"import", "MY", Cert("alice").p12, "--password", "wrong"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Count(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(Certs({"import", "MY", dir_.File("missing.pem")}).exitCode, 1);
    WriteFile(dir_.File("junk.pem"), "-----BEGIN CERTIFICATE-----\n!!!!\n-----END CERTIFICATE-----\n");
    EXPECT_EQ(Certs({"import", "MY", dir_.File("junk.pem")}).exitCode, 1);
    WriteFile(dir_.File("junk.bin"), "not a certificate");
    EXPECT_EQ(Certs({"import", "MY", dir_.File("junk.bin")}).exitCode, 1);
    EXPECT_EQ(Certs({"list", "MY"}).out, "MY:\n  (no certificates)\n");
}

}  // namespace
