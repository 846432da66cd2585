// Recognising S/MIME messages from their top-level headers.
#include "incoming/classify.h"

#include <stdlib.h>
#include <string.h>

#include "common/messages.h"
#include "mime/mime_part.h"

enum { TYPE_VALUE_SIZE = 65536, DESCRIPTION_SIZE = 65536, ENCODING_SIZE = 1024, NOTICE_SIZE = 1024 };

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The value as one line: without the line end, folds and blanks around it, so
// that the notice reads "... Content-Transfer-Encoding: 7bit をサポート...".
static void TrimValue(char* value)
{
    char* out = value;
    for (const char* p = value; *p != '\0';) {
        if (!IsBlank(*p)) {
            *out++ = *p++;
            continue;
        }
        while (IsBlank(*p))
            ++p;
        if (out != value && *p != '\0')
            *out++ = ' ';
    }
    *out = '\0';
}

static void ShowUnsupportedEncoding(char* encoding)
{
    TrimValue(encoding);
    char text[NOTICE_SIZE];
    wsprintfA(text, TEXT_UNSUPPORTED_ENCODING, TEXT_BAD_MARK, encoding, *encoding != '\0' ? " " : "");
    ShowMessage(text);
}

// Media types compare without regard to case (RFC 2045): "Application/PKCS7-MIME" counts.
static bool IsPkcs7Mime(const char* type)
{
    return FindNoCase(type, "application/x-pkcs7-mime") != NULL ||
           FindNoCase(type, "application/pkcs7-mime") != NULL;
}

static int ClassifyPkcs7Mime(const MimePart& message, const char* type, char* description,
                             int descriptionSize)
{
    char encoding[ENCODING_SIZE];
    message.GetHeader("Content-Description", description, descriptionSize);
    message.GetHeader("Content-Transfer-Encoding", encoding, sizeof encoding);
    if (FindNoCase(encoding, "base64") == NULL) {
        ShowUnsupportedEncoding(encoding);
        return SMIME_NONE;
    }
    if (FindNoCase(type, "smime-type=enveloped-data") != NULL ||
        FindNoCase(type, "smime-type=\"enveloped-data\"") != NULL ||
        FindNoCase(description, "S/MIME Encrypted Message") != NULL)
        return SMIME_ENVELOPED;
    if (FindNoCase(type, "smime-type=signed-data") != NULL ||
        FindNoCase(type, "smime-type=\"signed-data\"") != NULL)
        return SMIME_SIGNED_DATA;
    return SMIME_PKCS7_UNTYPED;
}

static bool IsPkcs7MultipartSigned(const char* type)
{
    return FindNoCase(type, "multipart/signed") != NULL &&
           (FindNoCase(type, "protocol=\"application/x-pkcs7-signature\"") != NULL ||
            FindNoCase(type, "protocol=\"application/pkcs7-signature\"") != NULL);
}

int ClassifySmimeMessage(const char* source)
{
    if (source == NULL)
        return SMIME_NONE;
    // Only the top-level headers decide, so the body is not parsed at all.
    MimePart message;
    const char* position = source;
    ParseHeaderBlock(&message, &position);

    // No value is longer than the header block, which is usually far shorter
    // than the value buffers; sized so, they cut exactly as the full ones would.
    size_t headerBytes = 1;
    for (const LineNode* n = message.headers.head; n != NULL; n = n->next)
        headerBytes += (size_t)n->length;
    int typeSize = headerBytes < TYPE_VALUE_SIZE ? (int)headerBytes : TYPE_VALUE_SIZE;
    int descriptionSize = headerBytes < DESCRIPTION_SIZE ? (int)headerBytes : DESCRIPTION_SIZE;
    char* buffers = static_cast<char*>(malloc((size_t)typeSize + (size_t)descriptionSize));
    if (buffers == NULL)
        return SMIME_NONE;
    char* type = buffers;
    char* description = buffers + typeSize;
    message.GetHeader("Content-Type", type, typeSize);
    int kind = SMIME_NONE;
    if (IsPkcs7Mime(type))
        kind = ClassifyPkcs7Mime(message, type, description, descriptionSize);
    else if (IsPkcs7MultipartSigned(type))
        kind = SMIME_MULTIPART_SIGNED;
    free(buffers);
    return kind;
}
