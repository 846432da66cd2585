#include "incoming/verify_report.h"

#include <string.h>

static const char kGood[] = "OOOOO ";
static const char kBad[] = "!!!!!!!!!!!!! ";

void AppendBounded(char* buffer, size_t size, const char* text)
{
    if (size == 0 || text == NULL)
        return;
    size_t used = strnlen(buffer, size - 1);
    size_t room = size - 1 - used;
    size_t length = strlen(text);
    if (length > room)
        length = room;
    memcpy(buffer + used, text, length);
    buffer[used + length] = '\0';
}

static void AppendPieces(char* report, size_t size, const char* const* pieces, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        AppendBounded(report, size, pieces[i]);
}

static void AppendEncryptedSection(char* report, size_t size, const SmimeResult* result)
{
    const char* const pieces[] = {
        "このメッセージは暗号化されています", "\n",
        "暗号化アルゴリズム", " :[", result->encAlgName, "]\n",
        "復号に使った証明書", " :[", result->certText, "]\n\n",
    };
    AppendPieces(report, size, pieces, sizeof pieces / sizeof pieces[0]);
}

static void AppendSignedSection(char* report, size_t size, const SmimeResult* result)
{
    const char* const pieces[] = {
        "このメッセージは署名されています", "\n",
        "署名時のハッシュアルゴリズム", " :[", result->hashAlgName, "]\n",
        "署名者", ": [", result->signerName, "]\n",
    };
    AppendPieces(report, size, pieces, sizeof pieces / sizeof pieces[0]);
    // The From header is outside the signature: say when it names someone else.
    if (result->unlistedSender[0] != '\0') {
        const char* const sender[] = {kBad, "差出人のアドレスが署名者の証明書にありません", " [",
                                      result->unlistedSender, "]\n"};
        AppendPieces(report, size, sender, sizeof sender / sizeof sender[0]);
    }
    AppendBounded(report, size, kGood);
    AppendBounded(report, size, "メッセージは改ざんされていません\n");
    // MD5 collisions can be made, so an intact MD5 digest proves little.
    if (strcmp(result->hashAlgName, "MD5") == 0) {
        AppendBounded(report, size, kBad);
        AppendBounded(report, size, "署名のハッシュアルゴリズム (MD5) は安全ではありません\n");
    }

    if (result->flags & SR_SIGNER_CURRENT) {
        AppendBounded(report, size, kGood);
        AppendBounded(report, size, "証明書は有効です");
    } else {
        AppendBounded(report, size, kBad);
        AppendBounded(report, size, "証明書の期限が切れています");
    }
    AppendBounded(report, size, "\n");

    if (result->flags & SR_ISSUER_TRUSTED) {
        const char* const issuer[] = {kGood, "署名者を認証しているCA", ": [", result->issuerName,
                                      "]\n"};
        AppendPieces(report, size, issuer, sizeof issuer / sizeof issuer[0]);
        if (result->flags & SR_ISSUER_CURRENT) {
            AppendBounded(report, size, kGood);
            AppendBounded(report, size, "証明書は有効なCAから発行されています");
        } else {
            AppendBounded(report, size, kBad);
            AppendBounded(report, size, "証明書の期限が切れています");
        }
        AppendBounded(report, size, "\n");
    } else {
        AppendBounded(report, size, kBad);
        AppendBounded(report, size, "信頼できる証明書の発行者が見つかりません");
        AppendBounded(report, size, "\n");
    }
    AppendBounded(report, size, "\n");
}

void AppendLayerReport(char* report, size_t size, const SmimeResult* result)
{
    if (result->flags & SR_ENCRYPTED)
        AppendEncryptedSection(report, size, result);
    if (result->flags & SR_SIGNED)
        AppendSignedSection(report, size, result);
}

void BuildFailureText(char* text, size_t size, const SmimeResult* result, const char* report)
{
    if (size == 0)
        return;
    text[0] = '\0';
    AppendBounded(text, size, "S/MIMEメッセージを解析できません");
    if (result->errorText[0] != '\0') {
        AppendBounded(text, size, "\n\n");
        AppendBounded(text, size, result->errorText);
    }
    if (report[0] != '\0') {
        AppendBounded(text, size, "\n\n");
        AppendBounded(text, size, report);
    }
}
