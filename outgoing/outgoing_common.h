// What the encryption and the two signing forms share: their messages, the
// signer's certificate, the signing call, store closing and the reports.
#pragma once

#include <string>

#include <windows.h>
#include <wincrypt.h>

#include "common/encoding.h"
#include "common/smime_result.h"

enum { HEADER_VALUE_SIZE = 1024 };



class MimePart;

// Reads the header lines of source into part, which keeps no body, lines
// ending in the blank line (added when the message had none, so that a new
// body never reads as a header). False when memory runs out.
bool ParseHeaders(MimePart* part, const char* source);

// The part's header lines followed by the pieces as its body, in one new text
// (free()): the serialised part without copying a large body twice. Null when
// memory runs out.
char* SerializeWithBody(const MimePart& part, const char* const* pieces, size_t count);

// The composer text of an application/x-pkcs7-mime entity: part's headers with
// Content-Type (contentType), Content-Transfer-Encoding and Content-Disposition
// set, and base64 as its whole body. Null when memory runs out.
char* BuildPkcs7MimeText(MimePart* part, const char* contentType, const char* base64);

// Hands a new composer text to the host and frees it; a null text (memory ran
// out) shows the message instead. True when the composer was written.
bool ReplaceComposerText(HWND window, char* text);

// Reads one composer header into a HEADER_VALUE_SIZE buffer, always terminated.
void ReadComposerHeader(HWND window, const char* name, char* buffer);

// Closes a store with the check flag; a complaint goes to standard output.
void CloseStoreChecked(HCERTSTORE store);

// The signer's store and certificate, owned for one signing operation.
struct Signer {
    HCERTSTORE store = NULL;
    PCCERT_CONTEXT cert = NULL;
    ~Signer();
};

// Opens "MY", finds the signing certificate (signCert, else the From address),
// names it, and leaves the name in result->signerName. Shows the failure
// message and returns false when any step fails.
bool OpenSigner(HWND window, SmimeResult* result, Signer* signer);

// Signs data with the signer's certificate (detached or wrapping the data).
// On success *blob is a new buffer (free()); failures show their messages.
bool SignContent(PCCERT_CONTEXT cert, BOOL detached, const BYTE* data, DWORD size, BYTE** blob,
                 DWORD* blobSize);

// The body of an application/x-pkcs7-mime entity: the blob's Base64 text.
// Null after showing the encoding failure.
char* EncodeBlob(const BYTE* blob, DWORD size);

// A report of any length in the ordinary message box.
void ShowReport(const std::string& text);

// Stamps the composer with "X-SMIME-Plugin: <name> <version>".
void StampPluginHeader(HWND window);
