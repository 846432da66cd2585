// The signer's certificate and the signing call, shared by both signing forms.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "common/guards.h"
#include "common/smime_result.h"

// The signer's store and certificate for one signing operation. The
// certificate is released before the store is closed.
struct Signer {
    StoreHandle store{CLOSE_ON_STDOUT};
    CertContext cert;
};

// Opens "MY", finds the signing certificate (signCert, else the From address),
// names it, and leaves the name in result->signerName. Shows the failure
// message and returns false when any step fails.
bool OpenSigner(HWND window, SmimeResult* result, Signer* signer);

// Signs data with the signer's certificate (detached or wrapping the data).
// On success *blob is a new buffer (free(); the caller owns it); failures
// show their messages.
bool SignContent(PCCERT_CONTEXT cert, BOOL detached, const BYTE* data, DWORD size, BYTE** blob,
                 DWORD* blobSize);

// The signing functions' common form: the signed text of the host's source
// (a new text, free()), or null after the failure's message.
typedef char* (*SignTextFunction)(HWND window, const char* source, Signer* signer, SmimeResult* result);

// The composer's text signed with `sign`: a new text (free()), or null after
// the failure's message. The source goes back to the host before the signer's
// store closes, and both before this returns: a large message is then never
// held as source and signed text and what is made of the signed text at once.
char* SignComposerText(HWND window, SignTextFunction sign, SmimeResult* result);
