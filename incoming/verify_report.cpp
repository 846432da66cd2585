#include "incoming/verify_report.h"

#include <string.h>

#include "common/text.h"
#include "common/user_texts.h"

static void AppendPieces(char* report, size_t size, const char* const* pieces, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        AppendText(report, size, pieces[i]);
}

static void AppendEncryptedSection(char* report, size_t size, const SmimeResult* result)
{
    const char* const pieces[] = {
        TEXT_ENCRYPTED, "\n",
        TEXT_ENCRYPTION_ALGORITHM, " :[", result->encAlgName, "]\n",
        TEXT_DECRYPTION_CERT, " :[", result->certText, "]\n\n",
    };
    AppendPieces(report, size, pieces, sizeof pieces / sizeof pieces[0]);
}

static void AppendSignedSection(char* report, size_t size, const SmimeResult* result)
{
    const char* const pieces[] = {
        TEXT_SIGNED, "\n",
        TEXT_HASH_ALGORITHM, " :[", result->hashAlgName, "]\n",
        TEXT_SIGNER, ": [", result->signerName, "]\n",
        TEXT_GOOD_MARK, TEXT_NOT_TAMPERED, "\n",
    };
    AppendPieces(report, size, pieces, sizeof pieces / sizeof pieces[0]);

    if (result->flags & SR_SIGNER_CURRENT) {
        AppendText(report, size, TEXT_GOOD_MARK);
        AppendText(report, size, TEXT_CERT_VALID);
    } else {
        AppendText(report, size, TEXT_BAD_MARK);
        AppendText(report, size, TEXT_CERT_EXPIRED);
    }
    AppendText(report, size, "\n");

    if (result->flags & SR_ISSUER_TRUSTED) {
        const char* const issuer[] = {TEXT_GOOD_MARK, TEXT_ISSUING_CA, ": [", result->issuerName,
                                      "]\n"};
        AppendPieces(report, size, issuer, sizeof issuer / sizeof issuer[0]);
        if (result->flags & SR_ISSUER_CURRENT) {
            AppendText(report, size, TEXT_GOOD_MARK);
            AppendText(report, size, TEXT_ISSUED_BY_VALID_CA);
        } else {
            AppendText(report, size, TEXT_BAD_MARK);
            AppendText(report, size, TEXT_CERT_EXPIRED);
        }
        AppendText(report, size, "\n");
    } else {
        AppendText(report, size, TEXT_BAD_MARK);
        AppendText(report, size, TEXT_NO_TRUSTED_ISSUER);
        AppendText(report, size, "\n");
    }
    AppendText(report, size, "\n");
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
    AppendText(text, size, TEXT_CANNOT_ANALYSE);
    if (result->errorText[0] != '\0') {
        AppendText(text, size, "\n\n");
        AppendText(text, size, result->errorText);
    }
    if (report[0] != '\0') {
        AppendText(text, size, "\n\n");
        AppendText(text, size, report);
    }
}
