#include "incoming/smime_body.h"

#include <stdlib.h>
#include <string.h>

#include "common/messages.h"
#include "incoming/cms_info.h"
#include "mime/base64.h"
#include "mime/mime_part.h"
#include "settings/settings.h"

// Where the body begins: after the blank line that ends the header block,
// whatever line ends the sender used (bare LF from Unix mailers and
// binary-mode transfers included). Null when the text has no blank line.
static const char* BodyStart(const char* source)
{
    if (source == NULL)
        return NULL;
    MimePart headers;
    const char* position = source;
    ParseHeaderBlock(&headers, &position);
    const LineNode* last = headers.headers.tail;
    bool blankLine = last != NULL && last->length == 2 && memcmp(last->text, "\r\n", 2) == 0;
    return blankLine ? position : NULL;
}

BYTE* DecodeSmimeBody(const char* source, SmimeResult* result, DWORD* derSize)
{
    const char* body = BodyStart(source);
    if (body == NULL) {
        SET_RESULT_TEXT(result->errorText, TEXT_NO_SOURCE);
        return NULL;
    }
    BYTE* der = Base64Decode(body, derSize);
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

bool UnwrapDone(SizeQueryOutcome outcome, const char* failure, SmimeResult* result)
{
    if (outcome == QUERY_DONE)
        return true;
    if (outcome == QUERY_NO_MEMORY) {
        SET_RESULT_TEXT(result->errorText, TEXT_ALLOCATION_ERROR);
        return false;
    }
    if (outcome == QUERY_FAILED && DebugEnabled())
        ShowLastErrorText();
    SET_RESULT_TEXT(result->errorText, failure);
    return false;
}
