// The application/x-pkcs7-mime entity.
#include "outgoing/pkcs7_mime.h"

#include <stdlib.h>
#include <string.h>

#include "common/messages.h"
#include "mime/base64.h"
#include "mime/header_fields.h"
#include "mime/mime_part.h"
#include "outgoing/composer.h"

char* BuildPkcs7MimeText(MimePart* part, const char* contentType, BYTE* blob, DWORD size)
{
    // Exactly one of each in the result, where the last of them stood.
    static const char* const kReplaced[] = {"Content-Type", "Content-Transfer-Encoding", "Content-Disposition"};
    for (const char* name : kReplaced)
        KeepLastHeaderField(part, name);
    EnsureMimeVersion(part);
    part->SetHeader("Content-Type", contentType);
    part->SetHeader("Content-Transfer-Encoding", "base64\n");
    part->SetHeader("Content-Disposition", "attachment;\n filename=\"smime.p7m\"\n");
    char* head = part->Serialize();
    if (head == NULL) {
        free(blob);
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return NULL;
    }
    size_t headLength = strlen(head);
    size_t textLength = Base64EncodedLength(size);
    // The blob moves to the end of the grown buffer; the text, written from
    // the front, never reaches the bytes still to be read.
    size_t total = headLength + textLength + 1;
    BYTE* buffer = textLength <= 0xFFFFFFFFu && total > textLength ? (BYTE*)realloc(blob, total) : NULL;
    if (buffer == NULL) {
        free(blob);
        free(head);
        ShowMessage(TEXT_ENCODING_FAILED);
        return NULL;
    }
    char* text = (char*)buffer;
    memmove(buffer + total - size, buffer, size);
    Base64EncodeTo(text + headLength, buffer + total - size, size);
    memcpy(text, head, headLength);
    free(head);
    return text;
}

char* EncodeBlob(const BYTE* blob, DWORD size)
{
    DWORD length = 0;
    char* text = Base64Encode(blob, size, &length);
    if (text == NULL)
        ShowMessage(TEXT_ENCODING_FAILED);
    return text;
}
