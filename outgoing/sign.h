#pragma once

#include <windows.h>

#include "common/smime_result.h"

class MimePart;
struct Signer;

// The signing commands' steps: the composer's text signed, written back.
int SignDetached(HWND window, LPARAM value, SmimeResult* result);
int SignOpaque(HWND window, LPARAM value, SmimeResult* result);

// The signed text of source (multipart/signed, or opaque signed-data), made
// with the certificate OpenSigner finds into signer (which the caller keeps,
// so that its store closes after the source goes back). A new text (free())
// with SR_SIGNED set, or null after the failure's message.
char* SignDetachedText(HWND window, const char* source, Signer* signer, SmimeResult* result);
char* SignOpaqueText(HWND window, const char* source, Signer* signer, SmimeResult* result);

char* BuildSignedFirstPart(const char* source);
MimePart* BuildSignedOuterPart(const char* source, const char* kind, const char* boundary);
