// Opaque signing: the whole composed message wrapped in PKCS #7 signed-data.
#include <stdlib.h>
#include <string.h>

#include "common/guards.h"
#include "common/host_api.h"
#include "common/messages.h"
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
    // Declared first, released last: the source goes back to the host before "MY" closes.
    Signer signer;
    MimePart part;
    HostText source(g_host.CompGetSource(window));
    if (source.get() == NULL) {
        ShowMessage(TEXT_NO_SOURCE);
        return 0;
    }
    // Only the headers are kept; the body is replaced by the signed data.
    if (!ParseHeaders(&part, source.get())) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return 0;
    }
    if (!OpenSigner(window, result, &signer))
        return 0;
    // The source exactly as the host gave it is what gets signed.
    BYTE* signedBlob = NULL;
    DWORD blobSize = 0;
    if (!SignContent(signer.cert.get(), FALSE, (const BYTE*)source.get(), (DWORD)strlen(source.get()),
                     &signedBlob, &blobSize))
        return 0;
    HeapBuffer<BYTE> blob(signedBlob);
    source.Release();  // a large message then stands in memory once less
    HeapBuffer<char> base64(EncodeBlob(blob.get(), blobSize));
    if (base64.get() == NULL)
        return 0;
    blob.Release();

    char* text = BuildPkcs7MimeText(&part, kSignedDataType, base64.get());
    base64.Release();
    if (!ReplaceComposerText(window, text))
        return 0;
    result->flags |= SR_SIGNED;
    return 1;
}
