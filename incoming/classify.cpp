// Recognising S/MIME messages from their top-level headers.
#include "incoming/classify.h"

#include <stdlib.h>
#include <string.h>

#include "host/messages.h"
#include "mime/mime_part.h"

enum { TYPE_VALUE_SIZE = 65536, DESCRIPTION_SIZE = 65536, ENCODING_SIZE = 1024, NOTICE_SIZE = 1024 };

static void ShowUnsupportedEncoding(const char* encoding)
{
    char text[NOTICE_SIZE];
    wsprintfA(text, "%s Zandrel S/MIME Plug-inでは Content-Transfer-Encoding: %s をサポートしていません",
              "!!!!!!!!!!!!! ", encoding);
    ShowMessage(text);
}

static bool IsPkcs7Mime(const char* type)
{
    return strstr(type, "application/x-pkcs7-mime") != NULL ||
           strstr(type, "application/pkcs7-mime") != NULL;
}

static int ClassifyPkcs7Mime(const MimePart& message, const char* type, char* description)
{
    char encoding[ENCODING_SIZE];
    message.GetHeader("Content-Description", description, DESCRIPTION_SIZE);
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
    return strstr(type, "multipart/signed") != NULL &&
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

    char* buffers = static_cast<char*>(malloc(TYPE_VALUE_SIZE + DESCRIPTION_SIZE));
    if (buffers == NULL)
        return SMIME_NONE;
    char* type = buffers;
    char* description = buffers + TYPE_VALUE_SIZE;
    message.GetHeader("Content-Type", type, TYPE_VALUE_SIZE);
    int kind = SMIME_NONE;
    if (IsPkcs7Mime(type))
        kind = ClassifyPkcs7Mime(message, type, description);
    else if (IsPkcs7MultipartSigned(type))
        kind = SMIME_MULTIPART_SIGNED;
    free(buffers);
    return kind;
}
