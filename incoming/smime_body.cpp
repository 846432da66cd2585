#include "incoming/smime_body.h"

#include <stdlib.h>

#include "common/user_texts.h"
#include "incoming/cms_info.h"
#include "mime/base64.h"
#include "mime/mime_part.h"

BYTE* DecodeSmimeBody(const char* source, SmimeResult* result, DWORD* derSize)
{
    const char* blank = source != NULL ? FindNoCase(source, "\r\n\r\n") : NULL;
    if (blank == NULL) {
        SET_RESULT_TEXT(result->errorText, TEXT_NO_SOURCE);
        return NULL;
    }
    BYTE* der = Base64Decode(blank + 4, derSize);
    if (der == NULL)
        SET_RESULT_TEXT(result->errorText, TEXT_DECODE_FAILED);
    return der;
}

BYTE* DecodeSmimeBodyOfType(const char* source, DWORD type, SmimeResult* result, DWORD* derSize)
{
    BYTE* der = DecodeSmimeBody(source, result, derSize);
    if (der != NULL && InspectCmsMessage(der, *derSize, result) != type) {
        SET_RESULT_TEXT(result->errorText, TEXT_WRONG_MESSAGE_TYPE);
        free(der);
        der = NULL;
    }
    return der;
}
