// Recognising S/MIME messages, directly and when the user opens a message.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "incoming/classify.h"
#include "support/box_recorder.h"
#include "support/test_support.h"

namespace {

std::string Message(const std::string& headers)
{
    return "From: alice@example.com\r\nTo: bob@example.jp\r\nSubject: test\r\n" + headers +
           "\r\nMIAGCSqGSIb3DQEHA6CAMIACAQAxggE\r\n";
}

const char kBase64[] = "Content-Transfer-Encoding: base64\r\n";

class ClassifyTest : public ::testing::Test {
protected:
    int Classify(const std::string& headers) { return ClassifySmimeMessage(Message(headers).c_str()); }

    BoxRecorder recorder_;
};

}  // namespace

TEST_F(ClassifyTest, Pkcs7MimeKinds)
{
    struct Case {
        const char* headers;
        int kind;
    } cases[] = {
        {"Content-Type: application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m\r\n", SMIME_ENVELOPED},
        {"Content-Type: application/pkcs7-mime; smime-type=\"signed-data\"; name=smime.p7m\r\n", SMIME_SIGNED_DATA},
        {"Content-Type: application/pkcs7-mime; name=smime.p7m\r\n", SMIME_PKCS7_UNTYPED},
        {"Content-Type: application/x-pkcs7-mime\r\nContent-Description: S/MIME Encrypted Message\r\n",
         SMIME_ENVELOPED},
        {"Content-Type: Application/PKCS7-MIME; smime-type=enveloped-data\r\n", SMIME_ENVELOPED},
        {"Content-Type: application/pkcs7-mime; SMIME-TYPE=ENVELOPED-DATA\r\n", SMIME_ENVELOPED},
        {"Content-Type: application/pkcs7-mime; smime-type = enveloped-data\r\n", SMIME_PKCS7_UNTYPED},
        {"Content-Type: application/x-pkcs7-mime;\r\n\tsmime-type=\"enveloped-data\"\r\n", SMIME_ENVELOPED},
        {"Content-Type: application/pkcs7-mime; smime-type=signed-data; x=smime-type=enveloped-data\r\n",
         SMIME_ENVELOPED},
        {"Content-Type: application/pkcs7-mime; smime-type=signed-data\r\n"
         "Content-Description: s/mime encrypted message\r\n",
         SMIME_ENVELOPED},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Classify(std::string(c.headers) + kBase64), c.kind) << c.headers;
    EXPECT_EQ(Classify(std::string("Content-Transfer-Encoding: BASE64\r\n") +
                       "Content-Type: application/pkcs7-mime; smime-type=signed-data\r\n"),
              SMIME_SIGNED_DATA);
    EXPECT_TRUE(recorder_.boxes().empty());
}

TEST_F(ClassifyTest, MultipartSigned)
{
    EXPECT_EQ(Classify("Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\";"
                       " micalg=sha1; boundary=\"b\"\r\n"),
              SMIME_MULTIPART_SIGNED);
    EXPECT_EQ(Classify("Content-Type: multipart/signed;\r\n\tPROTOCOL=\"Application/X-PKCS7-Signature\"\r\n"
                       "Content-Transfer-Encoding: 7bit\r\n"),
              SMIME_MULTIPART_SIGNED);
    EXPECT_EQ(Classify("Content-Type: multipart/signed; protocol=\"application/pgp-signature\"\r\n"),
              SMIME_NONE);
    EXPECT_EQ(Classify("Content-Type: multipart/signed; protocol=application/pkcs7-signature\r\n"),
              SMIME_NONE);
    EXPECT_EQ(Classify("Content-Type: Multipart/Signed; protocol=\"application/pkcs7-signature\"\r\n"),
              SMIME_MULTIPART_SIGNED);
    EXPECT_TRUE(recorder_.boxes().empty());
}

TEST_F(ClassifyTest, PlainMessagesAndNothing)
{
    EXPECT_EQ(Classify("Content-Type: text/plain; charset=ISO-2022-JP\r\n"), SMIME_NONE);
    EXPECT_EQ(Classify(""), SMIME_NONE);
    EXPECT_EQ(ClassifySmimeMessage(""), SMIME_NONE);
    EXPECT_EQ(ClassifySmimeMessage(nullptr), SMIME_NONE);
    // Only the top-level headers count.
    EXPECT_EQ(Classify("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                       "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n" +
                       std::string(kBase64)),
              SMIME_NONE);
    EXPECT_TRUE(recorder_.boxes().empty());
}

TEST_F(ClassifyTest, OtherTransferEncodingsShowTheNotice)
{
    EXPECT_EQ(Classify("Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
                       "Content-Transfer-Encoding: 7bit\r\n"),
              SMIME_NONE);
    EXPECT_EQ(Classify("Content-Type: application/x-pkcs7-mime\r\n"), SMIME_NONE);
    EXPECT_EQ(Classify("Content-Type: application/pkcs7-mime\r\nContent-Transfer-Encoding: \r\n"
                       " quoted-printable  \r\n\t(old client)\r\n"),
              SMIME_NONE);
    ASSERT_EQ(recorder_.boxes().size(), 3u);
    // The value as one line, without its line end, folds or doubled blanks.
    const char* prefix = "!!!!!!!!!!!!! Zandrel S/MIME Plug-inでは Content-Transfer-Encoding: ";
    EXPECT_EQ(recorder_.boxes()[0].text, std::string(prefix) + "7bit をサポートしていません");
    EXPECT_EQ(recorder_.boxes()[0].caption, "メッセージ");
    EXPECT_EQ(recorder_.boxes()[0].type, (UINT)(MB_TOPMOST | MB_ICONINFORMATION));
    EXPECT_EQ(recorder_.boxes()[1].text, std::string(prefix) + "をサポートしていません");
    EXPECT_EQ(recorder_.boxes()[2].text, std::string(prefix) + "quoted-printable (old client) をサポートしていません");

    // A very long value is cut with the notice's buffer.
    recorder_.Clear();
    Classify("Content-Type: application/pkcs7-mime\r\nContent-Transfer-Encoding: " + std::string(3000, 'x') + "\r\n");
    ASSERT_EQ(recorder_.boxes().size(), 1u);
    EXPECT_EQ(recorder_.boxes()[0].text.size(), 1023u);
}

TEST_F(ClassifyTest, LargeMessageIsClassifiedFromItsHeaders)
{
    std::string body;
    for (int i = 0; i < 300000; ++i)
        body += "MIAGCSqGSIb3DQEHA6CAMIACAQAxggEwMIIBLAIBADCBlDCBjjELMAkGA1UEBhMC\r\n";
    std::string message = "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n" +
                          std::string(kBase64) + "\r\n" + body;
    EXPECT_EQ(ClassifySmimeMessage(message.c_str()), SMIME_ENVELOPED);
}

// Opening a message in the host.
class OpenMailTest : public PluginFixture {
protected:
    void Open(const std::string& behavior, const std::string& message)
    {
        WriteSettings({"receivingBehavior=" + behavior});
        Load();
        Host().hasMessage = true;
        Host().message = message;
        plugin_.OpenMail();
    }
};

static const std::string kEnveloped =
    Message("Content-Type: application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m\r\n" +
            std::string(kBase64));
static const std::string kClearSigned =
    Message("Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; boundary=b\r\n");

TEST_F(OpenMailTest, AddNoticeOnEnvelopedButNotOnClearSigned)
{
    Open("AddNotice", kEnveloped);
    ASSERT_EQ(Host().notices.size(), 1u);
    EXPECT_EQ(Host().notices[0], "これはS/MIMEのメッセージです。ツール＞S/MIME 復号/検証を実行してください\n\n");
    Host().notices.clear();
    Host().message = kClearSigned;
    plugin_.OpenMail();
    EXPECT_TRUE(Host().notices.empty());
    EXPECT_EQ(Host().liveTexts, 0);
}

TEST_F(OpenMailTest, PopupAsksWhetherToVerify)
{
    Host().answers.push_back(false);
    Open("Popup", kEnveloped);
    ASSERT_EQ(Host().transcript.size(), 1u);
    EXPECT_EQ(Host().transcript[0], Utf8("box: [NOTICE!] このメッセージはS/MIMEメールです\\n検証しますか? -> no"));
    EXPECT_TRUE(Host().notices.empty());
}

TEST_F(OpenMailTest, RemoteFolderDoesNothingAndFetchesNoSource)
{
    Host().folder = "C:\\Inbox";
    Open("Popup", kEnveloped);
    EXPECT_EQ(Host().getSourceCalls, 0);
    EXPECT_TRUE(Host().transcript.empty());
}

TEST_F(OpenMailTest, PlainMessageDoesNothing)
{
    Open("Popup", Message("Content-Type: text/plain\r\n"));
    EXPECT_EQ(Host().getSourceCalls, 1);
    EXPECT_TRUE(Host().transcript.empty());
    EXPECT_TRUE(Host().notices.empty());
    EXPECT_EQ(Host().liveTexts, 0);
}

TEST_F(OpenMailTest, SevenBitPkcs7MimeShowsOnlyTheEncodingNotice)
{
    Open("Popup", Message("Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
                          "Content-Transfer-Encoding: 7bit\r\n"));
    ASSERT_EQ(Host().transcript.size(), 1u);
    EXPECT_EQ(Host().transcript[0],
              Utf8("box: [メッセージ] !!!!!!!!!!!!! Zandrel S/MIME Plug-inでは Content-Transfer-Encoding: "
                   "7bit をサポートしていません"));
    EXPECT_TRUE(Host().notices.empty());
}
