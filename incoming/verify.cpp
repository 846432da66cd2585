// Removing one signature layer: opaque signed-data or multipart/signed.
#include "incoming/verify.h"

#include <stdlib.h>
#include <string.h>

#include <wincrypt.h>

#include "certs/trust.h"
#include "common/encoding.h"
#include "common/messages.h"
#include "incoming/sender_check.h"
#include "incoming/smime_body.h"
#include "mime/mime_part.h"
#include "settings/settings.h"

// The signer certificate always comes from the certificates inside the message.
static CRYPT_VERIFY_MESSAGE_PARA VerifyParameters()
{
    CRYPT_VERIFY_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = MESSAGE_ENCODING;
    para.hCryptProv = 0;
    para.pfnGetSignerCertificate = GetSignerCertificate;
    para.pvGetArg = NULL;
    return para;
}

// The signer's chain may go through certificates that only the message carries.
static void MarkVerified(const char* source, PCCERT_CONTEXT signer, const BYTE* der,
                         DWORD derSize, SmimeResult* result)
{
    result->flags |= SR_SIGNED | SR_SIGNATURE_VALID;
    if (signer == NULL)
        return;
    HCERTSTORE carried = CryptGetMessageCertificates(MESSAGE_ENCODING, 0, 0, der, derSize);
    CheckVerifiedSigner(signer, carried, result);
    if (carried != NULL)
        CertCloseStore(carried, 0);
    NoteUnlistedSender(source, signer, result);
}

char* VerifyOpaqueSignature(const char* source, SmimeResult* result)
{
    DWORD derSize = 0;
    BYTE* der = DecodeSmimeBodyOfType(source, CMSG_SIGNED, result, &derSize);
    if (der == NULL)
        return NULL;

    CRYPT_VERIFY_MESSAGE_PARA para = VerifyParameters();
    bool verified = false;
    BYTE* content = NULL;
    PCCERT_CONTEXT signer = NULL;
    DWORD contentSize = 0;
    if (!CryptVerifyMessageSignature(&para, 0, der, derSize, NULL, &contentSize, NULL)) {
        if (DebugEnabled())
            ShowLastErrorText();
        SET_RESULT_TEXT(result->errorText, TEXT_VERIFICATION_FAILED);
    } else if ((content = (BYTE*)malloc((size_t)contentSize + 1)) == NULL) {
        SET_RESULT_TEXT(result->errorText, TEXT_ALLOCATION_ERROR);
    } else {
        DWORD capacity = contentSize;
        if (!CryptVerifyMessageSignature(&para, 0, der, derSize, content, &contentSize, &signer) ||
            contentSize > capacity) {
            SET_RESULT_TEXT(result->errorText, TEXT_VERIFICATION_FAILED);
        } else {
            content[contentSize] = '\0';
            verified = true;
            MarkVerified(source, signer, der, derSize, result);
        }
    }

    if (!verified) {
        free(content);
        content = NULL;
    }
    free(der);
    if (signer != NULL)
        CertFreeCertificateContext(signer);
    return (char*)content;
}

// Whole-token comparison, ASCII letters without regard to case.
static bool TokenIs(const char* token, const char* expected)
{
    for (; *token != '\0' && *expected != '\0'; ++token, ++expected) {
        char a = (*token >= 'A' && *token <= 'Z') ? (char)(*token - 'A' + 'a') : *token;
        if (a != *expected)
            return false;
    }
    return *token == '\0' && *expected == '\0';
}

static bool IsSignaturePart(const MimePart* part)
{
    return TokenIs(part->contentType, "application") &&
           (TokenIs(part->contentSubtype, "pkcs7-signature") ||
            TokenIs(part->contentSubtype, "x-pkcs7-signature"));
}

// The signed bytes: the content part as serialised, without the CR LF that
// belongs to the boundary line after it.
static char* SignedContentText(const MimePart* content, DWORD* length)
{
    char* text = content->Serialize();
    if (text == NULL)
        return NULL;
    size_t size = strlen(text);
    if (size >= 2 && text[size - 2] == '\r' && text[size - 1] == '\n') {
        size -= 2;
        text[size] = '\0';
    }
    *length = (DWORD)size;
    return text;
}

// The signature part's object and the signed text, from the parsed message;
// false (with the source's tree released) when either cannot be had.
static bool TakeDetachedPieces(const char* source, SmimeResult* result, BYTE** der,
                               DWORD* derSize, char** contentText, DWORD* contentLength)
{
    MimePart message;
    const char* position = source;
    ParsePacked(&message, &position);

    const MimePart* signature = NULL;
    const MimePart* content = NULL;
    for (const MimePart* part = message.firstChild; part != NULL; part = part->next) {
        if (IsSignaturePart(part))
            signature = part;
        else
            content = part;
    }
    if (signature == NULL || content == NULL)
        return false;

    char* signatureText = signature->Serialize();
    *der = DecodeSmimeBodyOfType(signatureText, CMSG_SIGNED, result, derSize);
    free(signatureText);
    if (*der == NULL)
        return false;
    *contentText = SignedContentText(content, contentLength);
    if (*contentText == NULL) {
        free(*der);
        *der = NULL;
        return false;
    }
    return true;
}

char* VerifyDetachedSignature(const char* source, SmimeResult* result)
{
    if (source == NULL || source[0] == '\0')
        return NULL;
    BYTE* der = NULL;
    DWORD derSize = 0;
    char* contentText = NULL;
    DWORD contentLength = 0;
    // The message's part tree is gone before the verification: a large
    // message is then held as few times as possible at once.
    if (!TakeDetachedPieces(source, result, &der, &derSize, &contentText, &contentLength))
        return NULL;

    CRYPT_VERIFY_MESSAGE_PARA para = VerifyParameters();
    const BYTE* pieces[1] = {(const BYTE*)contentText};
    DWORD pieceSizes[1] = {contentLength};
    PCCERT_CONTEXT signer = NULL;
    if (CryptVerifyDetachedMessageSignature(&para, 0, der, derSize, 1, pieces, pieceSizes,
                                            &signer)) {
        MarkVerified(source, signer, der, derSize, result);
    } else {
        ShowLastErrorText();
        ShowMessage(TEXT_VERIFICATION_FAILED);
        free(contentText);
        contentText = NULL;
    }
    free(der);
    if (signer != NULL)
        CertFreeCertificateContext(signer);
    return contentText;
}
