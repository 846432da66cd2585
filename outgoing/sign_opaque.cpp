// Opaque signing: the whole composed message wrapped in PKCS #7 signed-data.
#include <stdlib.h>
#include <string.h>

#include "common/guards.h"
#include "common/messages.h"
#include "mime/header_fields.h"
#include "mime/mime_part.h"
#include "outgoing/composer.h"
#include "outgoing/pkcs7_mime.h"
#include "outgoing/signer.h"
#include "outgoing/sign.h"

namespace {

const char kSignedDataType[] = "application/x-pkcs7-mime;\n name=\"smime.p7m\";\n smime-type=signed-data\n";

}  // namespace

char* SignOpaqueText(HWND window, const char* source, Signer* signer, SmimeResult* result)
{
    // Only the headers are kept; the body is replaced by the signed data.
    MimePart part;
    if (!ParseHeaders(&part, source)) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return NULL;
    }
    if (!OpenSigner(window, result, signer))
        return NULL;
    // The source as the host gave it is what gets signed, but for Bcc: every
    // recipient can read the signed content, so it must not name the hidden
    // ones. The composer keeps its Bcc for the host to send by.
    bool hasBcc = false;
    HeapBuffer<char> withoutBcc(CopyWithoutHeaderField(source, "Bcc", &hasBcc));
    if (hasBcc && withoutBcc.get() == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return NULL;
    }
    const char* content = hasBcc ? withoutBcc.get() : source;
    BYTE* blob = NULL;
    DWORD blobSize = 0;
    if (!SignContent(signer->cert.get(), FALSE, (const BYTE*)content, (DWORD)strlen(content), &blob, &blobSize))
        return NULL;
    withoutBcc.Release();
    // The blob is taken over by the text builder.
    char* text = BuildPkcs7MimeText(&part, kSignedDataType, blob, blobSize);
    if (text != NULL)
        result->flags |= SR_SIGNED;
    return text;
}
