// The composition window's text and headers.
#include "outgoing/composer.h"

#include <stdlib.h>
#include <string.h>

#include "common/host_api.h"
#include "common/messages.h"
#include "mime/mime_part.h"

bool ParseHeaders(MimePart* part, const char* source)
{
    // The body is replaced whole, so it is not read at all.
    const char* position = source;
    ParseHeaderBlock(part, &position);
    // A parse that ran out of memory leaves no lines at all.
    if (source[0] != '\0' && part->headers.head == NULL)
        return false;
    const LineNode* tail = part->headers.tail;
    if (tail != NULL && strcmp(tail->text, "\r\n") == 0)
        return true;
    return part->headers.Append("\r\n") != NULL;
}

bool ReplaceComposerText(HWND window, char* text)
{
    if (text == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return false;
    }
    g_host.CompSetSource(window, text);
    free(text);
    return true;
}

char* ReadAddressHeader(HWND window, const char* name, const char* tooLong)
{
    char* value = (char*)calloc(ADDRESS_HEADER_SIZE, 1);
    if (value == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return NULL;
    }
    g_host.CompGetSpecifiedHeader(window, name, value, ADDRESS_HEADER_SIZE);
    value[ADDRESS_HEADER_SIZE - 1] = '\0';
    if (strlen(value) == ADDRESS_HEADER_SIZE - 1) {
        ShowMessage(tooLong);
        free(value);
        return NULL;
    }
    return value;
}

void StampPluginHeader(HWND window)
{
    char value[HEADER_VALUE_SIZE];
    wsprintfA(value, "%s %s", PLUGIN_NAME, PLUGIN_VERSION);
    g_host.CompSetSpecifiedHeader(window, "X-SMIME-Plugin", value);
}
