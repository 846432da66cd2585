#pragma once

#include "common/smime_result.h"

// The signed content as a new heap text (free()), or null.
char* VerifyOpaqueSignature(const char* source, SmimeResult* result);
char* VerifyDetachedSignature(const char* source, SmimeResult* result);
