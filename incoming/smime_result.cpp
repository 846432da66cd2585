#include "incoming/smime_result.h"

#include <string.h>

void SetResultText(char* field, size_t fieldSize, const char* text)
{
    if (text == NULL)
        text = "";
    size_t length = strlen(text);
    if (length > fieldSize - 1)
        length = fieldSize - 1;
    memmove(field, text, length);
    field[length] = '\0';
}
