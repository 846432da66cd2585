// Telling the type of a CMS object and naming its hash or content cipher.
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "incoming/cms_info.h"
#include "support/cert_fixture.h"
#include "zhost/zhost.h"

#include <wincrypt.h>

namespace {

// The objects, made once with the openssl command line.
class CmsInspectTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir();
        const TestCert& alice = TestPki::Instance().Get("alice");
        std::string in = dir_->File("content.txt");
        WriteFile(in, "Content-Type: text/plain\r\n\r\nHello\r\n");
        const std::string legacy = " -provider legacy -provider default";
        struct Recipe {
            const char* file;
            std::string arguments;
            std::string recipient = "";  // after the options: openssl stops reading them there
        } recipes[] = {
            {"signed-sha1", "cms -sign -md sha1 -nodetach -signer " + alice.certPem + " -inkey " + alice.keyPem},
            {"signed-md5", "cms -sign -md md5 -signer " + alice.certPem + " -inkey " + alice.keyPem},
            {"signed-sha256", "cms -sign -md sha256 -signer " + alice.certPem + " -inkey " + alice.keyPem},
            {"signed-sha224", "cms -sign -md sha224 -signer " + alice.certPem + " -inkey " + alice.keyPem},
            {"signed-sha384", "cms -sign -md sha384 -signer " + alice.certPem + " -inkey " + alice.keyPem},
            {"signed-sha512", "cms -sign -md sha512 -signer " + alice.certPem + " -inkey " + alice.keyPem},
            {"signed-sha3", "cms -sign -md sha3-256 -signer " + alice.certPem + " -inkey " + alice.keyPem},
            {"enveloped-rc2-40", "cms -encrypt -rc2-40" + legacy, alice.certPem},
            {"enveloped-rc2-64", "cms -encrypt -rc2-64" + legacy, alice.certPem},
            {"enveloped-rc2-128", "cms -encrypt -rc2-128" + legacy, alice.certPem},
            {"enveloped-des", "cms -encrypt -des" + legacy, alice.certPem},
            {"enveloped-3des", "cms -encrypt -des3", alice.certPem},
            {"enveloped-aes128", "cms -encrypt -aes128", alice.certPem},
            {"enveloped-aes192", "cms -encrypt -aes192", alice.certPem},
            {"enveloped-aes256", "cms -encrypt -aes256", alice.certPem},
            {"enveloped-camellia", "cms -encrypt -camellia128", alice.certPem},
            {"data", "cms -data_create"},
            {"digested", "cms -digest_create -md sha1"},
            {"encrypted", "cms -EncryptedData_encrypt -aes128 -secretkey 000102030405060708090A0B0C0D0E0F"},
        };
        for (const Recipe& r : recipes) {
            bool made = RunOpenssl(r.arguments + " -in " + in + " -outform DER -out " + Path(r.file) + " " +
                                   r.recipient);
            EXPECT_TRUE(made) << r.file;
        }
        // A signed-data object without signers, as certificate bundles are sent.
        EXPECT_TRUE(RunOpenssl("crl2pkcs7 -nocrl -certfile " + alice.certPem + " -outform DER -out " +
                               Path("signed-no-signer")));
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Path(const char* name) { return dir_->File(std::string(name) + ".der"); }
    static std::string Object(const char* name) { return ReadFile(Path(name)); }

    void SetUp() override
    {
        ResetHost();
        Host().echo = false;
        InstallUiDriver();
        result_.reset(static_cast<SmimeResult*>(calloc(1, sizeof(SmimeResult))));
    }

    DWORD Inspect(const std::string& der, SmimeResult* result)
    {
        return InspectCmsMessage((const BYTE*)der.data(), (DWORD)der.size(), result);
    }

    struct Free {
        void operator()(void* p) const { free(p); }
    };
    std::unique_ptr<SmimeResult, Free> result_;
    static TempDir* dir_;
};

TempDir* CmsInspectTest::dir_ = nullptr;

struct Expected {
    const char* file;
    DWORD type;
    const char* hashAlgName;
    const char* encAlgName;
    const char* errorText;
};

const Expected kObjects[] = {
    {"signed-sha1", CMSG_SIGNED, "SHA-1", "", ""},
    {"signed-md5", CMSG_SIGNED, "MD5", "", ""},
    {"signed-sha224", CMSG_SIGNED, "SHA-224", "", ""},
    {"signed-sha256", CMSG_SIGNED, "SHA-256", "", ""},
    {"signed-sha384", CMSG_SIGNED, "SHA-384", "", ""},
    {"signed-sha512", CMSG_SIGNED, "SHA-512", "", ""},
    {"signed-sha3", CMSG_SIGNED, "2.16.840.1.101.3.4.2.8", "", ""},
    {"signed-no-signer", CMSG_SIGNED, "", "", "Decode CMSG_HASH_ALGORITHM_PARAM failed 2nd 1"},
    {"enveloped-rc2-40", CMSG_ENVELOPED, "", "RC2 (40bit)", ""},
    {"enveloped-rc2-64", CMSG_ENVELOPED, "", "RC2 (64bit)", ""},
    {"enveloped-rc2-128", CMSG_ENVELOPED, "", "RC2 (128bit)", ""},
    {"enveloped-des", CMSG_ENVELOPED, "", "DES", ""},
    {"enveloped-3des", CMSG_ENVELOPED, "", "3DES", ""},
    {"enveloped-aes128", CMSG_ENVELOPED, "", "AES (128bit)", ""},
    {"enveloped-aes192", CMSG_ENVELOPED, "", "AES (192bit)", ""},
    {"enveloped-aes256", CMSG_ENVELOPED, "", "AES (256bit)", ""},
    {"enveloped-camellia", CMSG_ENVELOPED, "", "1.2.392.200011.61.1.1.1.2", ""},
    {"data", CMSG_DATA, "", "", "Wrong message type"},
    {"digested", CMSG_HASHED, "", "", "Wrong message type"},
    {"encrypted", CMSG_ENCRYPTED, "", "", "Wrong message type"},
};

}  // namespace

TEST_F(CmsInspectTest, TellsTheTypeAndNamesTheAlgorithm)
{
    for (const Expected& e : kObjects) {
        SCOPED_TRACE(e.file);
        std::string der = Object(e.file);
        ASSERT_FALSE(der.empty());
        memset(result_.get(), 0, sizeof(SmimeResult));
        EXPECT_EQ(Inspect(der, result_.get()), e.type);
        EXPECT_STREQ(result_->hashAlgName, e.hashAlgName);
        EXPECT_STREQ(result_->encAlgName, e.encAlgName);
        EXPECT_STREQ(result_->errorText, e.errorText);
        EXPECT_EQ(result_->flags, 0);
        EXPECT_STREQ(result_->signerName, "");
    }
    EXPECT_TRUE(Host().transcript.empty());
}

TEST_F(CmsInspectTest, WithoutARecordOnlyTheTypeIsTold)
{
    for (const Expected& e : kObjects) {
        std::string der = Object(e.file);
        EXPECT_EQ(Inspect(der, NULL), e.type) << e.file;
    }
    EXPECT_EQ(Inspect("not a CMS object", NULL), 0u);
    EXPECT_TRUE(Host().transcript.empty());
}

TEST_F(CmsInspectTest, ReplacesAnEarlierErrorText)
{
    strcpy(result_->errorText, "an earlier, longer failure text");
    EXPECT_EQ(Inspect(Object("data"), result_.get()), (DWORD)CMSG_DATA);
    EXPECT_STREQ(result_->errorText, "Wrong message type");
}

TEST_F(CmsInspectTest, RefusesBytesThatAreNoCmsObject)
{
    std::string signedDer = Object("signed-sha1");
    std::string base64Text = "MIAGCSqGSIb3DQEHAqCAMIACAQEx\r\n";
    const std::string inputs[] = {
        "Content-Type: text/plain\r\n\r\nHello\r\n",
        base64Text,
        signedDer.substr(0, signedDer.size() / 2),
        signedDer.substr(0, 2),
        std::string("\x30\x80", 2),
        std::string("\x30\x84\xff\xff\xff\xff", 6),
        std::string(1, '\0'),
    };
    for (const std::string& input : inputs) {
        memset(result_.get(), 0, sizeof(SmimeResult));
        EXPECT_EQ(Inspect(input, result_.get()), 0u);
        EXPECT_STREQ(result_->errorText, "Decode MsgUpdate failed");
        EXPECT_STREQ(result_->hashAlgName, "");
        EXPECT_STREQ(result_->encAlgName, "");
    }
    EXPECT_TRUE(Host().transcript.empty());
}

TEST_F(CmsInspectTest, AnEmptyObjectIsNotReadable)
{
    static const BYTE nothing[1] = {0};
    EXPECT_EQ(InspectCmsMessage(nothing, 0, result_.get()), 0u);
    EXPECT_STRNE(result_->errorText, "");
    EXPECT_EQ(InspectCmsMessage(nothing, 0, NULL), 0u);
}
