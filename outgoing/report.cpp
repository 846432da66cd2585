#include "outgoing/report.h"

#include <stdlib.h>
#include <string.h>

#include "common/guards.h"
#include "common/messages.h"

void ShowReport(std::initializer_list<const char*> pieces)
{
    size_t total = 1;
    for (const char* piece : pieces)
        total += strlen(piece);
    HeapBuffer<char> text((char*)malloc(total));
    if (text.get() == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return;
    }
    char* end = text.get();
    for (const char* piece : pieces) {
        size_t length = strlen(piece);
        memcpy(end, piece, length);
        end += length;
    }
    *end = '\0';
    ShowMessage(text.get());
}
