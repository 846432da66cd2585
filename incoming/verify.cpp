// Removing one signature layer: opaque signed-data or multipart/signed.
#include "incoming/verify.h"

#include <stdlib.h>
#include <string.h>

#include <wincrypt.h>

#include "certs/trust.h"
#include "common/encoding.h"
#include "common/guards.h"
#include "common/messages.h"
#include "incoming/sender_check.h"
#include "common/size_query.h"
#include "incoming/smime_body.h"
#include "mime/mime_part.h"

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
    HeapBuffer<BYTE> der(DecodeSmimeBodyOfType(source, CMSG_SIGNED, result, &derSize));
    if (der.get() == NULL)
        return NULL;

    CRYPT_VERIFY_MESSAGE_PARA para = VerifyParameters();
    CertContext signer;
    // The content is shorter than the signed object that holds it.
    BYTE* verified = NULL;
    DWORD contentSize = 0;
    SizeQueryOutcome outcome = QueryIntoNewBuffer(
        derSize,
        [&](BYTE* out, DWORD* size) {
            return CryptVerifyMessageSignature(&para, 0, der.get(), derSize, out, size, signer.receive());
        },
        &verified, &contentSize);
    HeapBuffer<BYTE> content(verified);
    if (!UnwrapDone(outcome, TEXT_VERIFICATION_FAILED, result))
        return NULL;
    MarkVerified(source, signer.get(), der.get(), derSize, result);
    return (char*)content.Take();
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
    BYTE* signatureDer = NULL;
    DWORD derSize = 0;
    char* signedText = NULL;
    DWORD contentLength = 0;
    // The message's part tree is gone before the verification: a large
    // message is then held as few times as possible at once.
    if (!TakeDetachedPieces(source, result, &signatureDer, &derSize, &signedText, &contentLength))
        return NULL;
    HeapBuffer<BYTE> der(signatureDer);
    HeapBuffer<char> contentText(signedText);

    CRYPT_VERIFY_MESSAGE_PARA para = VerifyParameters();
    const BYTE* pieces[1] = {(const BYTE*)contentText.get()};
    DWORD pieceSizes[1] = {contentLength};
    CertContext signer;
    if (!CryptVerifyDetachedMessageSignature(&para, 0, der.get(), derSize, 1, pieces, pieceSizes,
                                             signer.receive())) {
        ShowLastErrorText();
        ShowMessage(TEXT_VERIFICATION_FAILED);
        return NULL;
    }
    MarkVerified(source, signer.get(), der.get(), derSize, result);
    return contentText.Take();
}
