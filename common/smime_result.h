// The findings of one layer or one command, for the reports.
#pragma once

#include <windows.h>

#include "common/text.h"

enum {
    SR_SIGNATURE_VALID = 0x01,
    SR_SIGNER_CURRENT = 0x02,
    SR_ISSUER_TRUSTED = 0x04,
    SR_ISSUER_CURRENT = 0x08,
    SR_SIGNED = 0x20,
    SR_ENCRYPTED = 0x80,
};

enum { RESULT_NAME_SIZE = 1024, RESULT_TEXT_SIZE = 65536 };

struct SmimeResult {
    WORD flags;
    char signerName[RESULT_NAME_SIZE];
    char issuerName[RESULT_NAME_SIZE];
    char hashAlgName[RESULT_NAME_SIZE];
    char certText[RESULT_TEXT_SIZE];
    char encAlgName[RESULT_NAME_SIZE];
    char errorText[RESULT_NAME_SIZE];
};

// Copies text into a fixed field, cut to the field's size less the terminator.
#define SET_RESULT_TEXT(field, text) CopyText((field), sizeof(field), (text))
