#pragma once

#include <windows.h>

#include "common/smime_result.h"

class MimePart;
struct Signer;

// The signed text of source (multipart/signed, or opaque signed-data), made
// with the certificate OpenSigner finds into signer (which the caller keeps,
// so that its store closes after the source goes back). A new text (free())
// with SR_SIGNED set, or null after the failure's message. SignComposerText
// (outgoing/signer.h) runs either on the composer's text.
char* SignDetachedText(HWND window, const char* source, Signer* signer, SmimeResult* result);
char* SignOpaqueText(HWND window, const char* source, Signer* signer, SmimeResult* result);

// The first part of the clear-signed text of source, after prefix, as a new
// heap text (free()); null when memory runs out.
char* BuildSignedFirstPart(const char* source, const char* prefix = "");
MimePart* BuildSignedOuterPart(const char* source, const char* kind, const char* boundary);
