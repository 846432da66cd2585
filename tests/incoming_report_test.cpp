// The report and failure texts, and the message built for one removed layer.
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "incoming/layer_message.h"
#include "incoming/verify_report.h"
#include "mime/mime_part.h"

namespace {

std::unique_ptr<SmimeResult> NewResult()
{
    std::unique_ptr<SmimeResult> result(new SmimeResult);
    memset(result.get(), 0, sizeof *result);
    return result;
}

TEST(LayerReportTest, SignedSectionFollowsEncryptedSectionWithBothBracketStyles)
{
    auto result = NewResult();
    result->flags = SR_ENCRYPTED | SR_SIGNED | SR_SIGNATURE_VALID | SR_ISSUER_TRUSTED;
    SET_RESULT_TEXT(result->encAlgName, "RC2 (40bit)");
    SET_RESULT_TEXT(result->certText, "CN=me");
    SET_RESULT_TEXT(result->hashAlgName, "MD5");
    SET_RESULT_TEXT(result->signerName, "CN=you");
    SET_RESULT_TEXT(result->issuerName, "CN=ca");
    char report[REPORT_SIZE] = "";
    AppendLayerReport(report, sizeof report, result.get());
    EXPECT_STREQ(report,
                 "このメッセージは暗号化されています\n"
                 "暗号化アルゴリズム :[RC2 (40bit)]\n"
                 "復号に使った証明書 :[CN=me]\n\n"
                 "このメッセージは署名されています\n"
                 "署名時のハッシュアルゴリズム :[MD5]\n"
                 "署名者: [CN=you]\n"
                 "OOOOO メッセージは改ざんされていません\n"
                 "!!!!!!!!!!!!! 証明書の期限が切れています\n"
                 "OOOOO 署名者を認証しているCA: [CN=ca]\n"
                 "!!!!!!!!!!!!! 証明書の期限が切れています\n\n");
}

TEST(LayerReportTest, NoSectionWithoutTheirBits)
{
    auto result = NewResult();
    result->flags = SR_SIGNATURE_VALID | SR_SIGNER_CURRENT;
    char report[16] = "";
    AppendLayerReport(report, sizeof report, result.get());
    EXPECT_STREQ(report, "");
}

TEST(LayerReportTest, LongNamesNeverOverflowTheReportOrTheFailureText)
{
    auto result = NewResult();
    result->flags = SR_ENCRYPTED | SR_SIGNED | SR_SIGNER_CURRENT;
    memset(result->certText, 'c', sizeof result->certText - 1);
    memset(result->signerName, 's', sizeof result->signerName - 1);
    memset(result->errorText, 'e', sizeof result->errorText - 1);
    // Guard bytes after each buffer catch a write past its end.
    std::string report(REPORT_SIZE + 8, 'G'), failure(REPORT_SIZE + 8, 'G');
    report[0] = '\0';
    for (int pass = 0; pass < 3; ++pass)
        AppendLayerReport(&report[0], REPORT_SIZE, result.get());
    EXPECT_EQ(strlen(report.c_str()), (size_t)REPORT_SIZE - 1);
    EXPECT_EQ(report.substr(REPORT_SIZE), "GGGGGGGG");

    BuildFailureText(&failure[0], REPORT_SIZE, result.get(), report.c_str());
    EXPECT_EQ(strlen(failure.c_str()), (size_t)REPORT_SIZE - 1);
    EXPECT_EQ(failure.substr(REPORT_SIZE), "GGGGGGGG");
    std::string head = std::string("S/MIMEメッセージを解析できません\n\n") + std::string(1023, 'e') + "\n\n";
    EXPECT_EQ(failure.compare(0, head.size(), head), 0);
}

TEST(LayerReportTest, FailureTextLeavesOutEmptyPieces)
{
    auto result = NewResult();
    char text[256];
    BuildFailureText(text, sizeof text, result.get(), "");
    EXPECT_STREQ(text, "S/MIMEメッセージを解析できません");
    BuildFailureText(text, sizeof text, result.get(), "earlier\n");
    EXPECT_STREQ(text, "S/MIMEメッセージを解析できません\n\nearlier\n");
}

std::string Layer(const char* outerText, const char* content)
{
    MimePart outer, layer;
    const char* position = outerText;
    outer.Parse(&position, NULL);
    BuildLayerMessage(&outer, &layer, content);
    char* text = layer.Serialize();
    std::string out = text != NULL ? text : "";
    free(text);
    // The command builds the same text in the content's own buffer.
    char* inPlace = LayerMessageText(&outer, strdup(content));
    EXPECT_STREQ(inPlace, out.c_str());
    free(inPlace);
    return out;
}

TEST(LayerMessageTest, CarriesMissingOuterHeadersInFixedOrderBeforeTheBlankLine)
{
    const char* outer =
        "Cc: c@x\r\nTo: t@x\r\nFrom: f@x\r\nSubject: s\r\n\tfolded\r\nDate: d\r\nX-Y: z\r\n\r\nold\r\n";
    const char* content = "Content-Type: multipart/mixed; boundary=b\r\nFrom: inner@x\r\n\r\n"
                          "pre\r\n--b\r\n\r\npart\r\n--b--\r\n";
    EXPECT_EQ(Layer(outer, content),
              "Content-Type: multipart/mixed; boundary=b\r\nFrom: inner@x\r\n"
              "Date: d\r\nSubject: s\r\n\tfolded\r\nTo: t@x\r\nCc: c@x\r\n"
              "\r\n\r\npre\r\n--b\r\n\r\npart\r\n--b--\r\n");
}

// A bare text (as libraries encrypt and sign one) is all body; the carried
// headers come before it, not after its first line.
TEST(LayerMessageTest, ContentWithoutHeaderBlockIsAllBody)
{
    EXPECT_EQ(Layer("Subject: s\r\n\r\n", "only a line"), "Subject: s\r\n\r\n\r\nonly a line");
    EXPECT_EQ(Layer("Subject: s\r\n\r\n", "Dear Bob:\r\nhello\r\n"),
              "Subject: s\r\n\r\n\r\nDear Bob:\r\nhello\r\n");
}

TEST(LayerMessageTest, ContentEndingWithoutLineBreakKeepsItsLastBytes)
{
    EXPECT_EQ(Layer("\r\n", "A: b\r\n\r\nlast"), "A: b\r\n\r\n\r\nlast");
}

TEST(LayerMessageTest, BareLineFeedHeaderBlockDoesNotSwallowTheBody)
{
    EXPECT_EQ(Layer("Date: d\r\n\r\n", "A: b\n\nbody\nmore\r\n\r\ntail"),
              "A: b\r\nDate: d\r\n\r\n\r\nbody\nmore\r\n\r\ntail");
}

TEST(LayerMessageTest, VeryLongOuterValueIsCutButStillEndsItsLine)
{
    std::string outer = "Subject: " + std::string(40000, 'x') + "\r\n\r\n";
    std::string text = Layer(outer.c_str(), "A: b\r\n\r\nbody");
    EXPECT_EQ(text, "A: b\r\nSubject: " + std::string(32767, 'x') + "\r\n\r\n\r\nbody");
}

}  // namespace
