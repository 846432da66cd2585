#pragma once

#include <windows.h>

#include "common/smime_result.h"

class MimePart;

int SignDetached(HWND window, LPARAM value, SmimeResult* result);
char* BuildSignedFirstPart(const char* source);
MimePart* BuildSignedOuterPart(const char* source, const char* kind, const char* boundary);
int SignOpaque(HWND window, LPARAM value, SmimeResult* result);
