// The application/x-pkcs7-mime entity.
#include "outgoing/pkcs7_mime.h"

#include "common/messages.h"
#include "mime/base64.h"
#include "mime/header_fields.h"
#include "mime/mime_part.h"
#include "outgoing/composer.h"

char* BuildPkcs7MimeText(MimePart* part, const char* contentType, const char* base64)
{
    // Exactly one of each in the result, where the last of them stood.
    static const char* const kReplaced[] = {"Content-Type", "Content-Transfer-Encoding", "Content-Disposition"};
    for (const char* name : kReplaced)
        KeepLastHeaderField(part, name);
    EnsureMimeVersion(part);
    part->SetHeader("Content-Type", contentType);
    part->SetHeader("Content-Transfer-Encoding", "base64\n");
    part->SetHeader("Content-Disposition", "attachment;\n filename=\"smime.p7m\"\n");
    const char* body[] = {base64};
    return SerializeWithBody(*part, body, 1);
}

char* EncodeBlob(const BYTE* blob, DWORD size)
{
    DWORD length = 0;
    char* text = Base64Encode(blob, size, &length);
    if (text == NULL)
        ShowMessage(TEXT_ENCODING_FAILED);
    return text;
}
