// Opaque signing: the whole composed message wrapped in PKCS #7 signed-data.
#include <stdlib.h>
#include <string.h>

#include "common/host_api.h"
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

int SignOpaque(HWND window, LPARAM, SmimeResult* result)
{
    LPSTR source = g_host.CompGetSource(window);
    if (source == NULL) {
        ShowMessage(TEXT_NO_SOURCE);
        return 0;
    }
    int done = 0;
    MimePart part;
    Signer signer;
    BYTE* blob = NULL;
    DWORD blobSize = 0;
    char* text = NULL;
    char* withoutBcc = NULL;
    bool hasBcc = false;

    // Only the headers are kept; the body is replaced by the signed data.
    if (!ParseHeaders(&part, source)) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        goto end;
    }

    if (!OpenSigner(window, result, &signer))
        goto end;
    // The source as the host gave it is what gets signed, but for Bcc: every
    // recipient can read the signed content, so it must not name the hidden
    // ones. The composer keeps its Bcc for the host to send by.
    withoutBcc = CopyWithoutHeaderField(source, "Bcc", &hasBcc);
    if (hasBcc && withoutBcc == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        goto end;
    }
    {
        const char* content = hasBcc ? withoutBcc : source;
        if (!SignContent(signer.cert, FALSE, (const BYTE*)content, (DWORD)strlen(content), &blob, &blobSize))
            goto end;
    }
    free(withoutBcc);
    withoutBcc = NULL;
    text = BuildPkcs7MimeText(&part, kSignedDataType, blob, blobSize);
    blob = NULL;
    if (text == NULL || !ReplaceComposerText(window, text))
        goto end;
    result->flags |= SR_SIGNED;
    done = 1;

end:
    free(withoutBcc);
    free(blob);
    g_host.Free(source);
    return done;
}
