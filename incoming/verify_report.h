// The texts the decrypt/verify command shows: its report and its failure box.
#pragma once

#include <stddef.h>

#include "common/smime_result.h"

enum { REPORT_SIZE = 65536 };

// Appends one layer's sections: the encrypted one, then the signed one.
void AppendLayerReport(char* report, size_t size, const SmimeResult* result);

// The text of the failure box: the notice, the layer's error text, the report so far.
void BuildFailureText(char* text, size_t size, const SmimeResult* result, const char* report);
