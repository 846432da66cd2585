#pragma once

#include "common/smime_result.h"

// The decrypted content as a new heap text (free()), or null.
char* DecryptSmimeMessage(const char* source, SmimeResult* result);
