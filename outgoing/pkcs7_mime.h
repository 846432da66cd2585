// The application/x-pkcs7-mime entity that encryption and opaque signing write.
#pragma once

#include <windows.h>

class MimePart;

// The composer text of an application/x-pkcs7-mime entity: part's headers with
// Content-Type (contentType), Content-Transfer-Encoding and Content-Disposition
// set, and the Base64 text of blob as its whole body. The text is written in
// the blob's own buffer (blob is taken over), so that a large message is not
// held as blob, Base64 text and composer text at once. Null after showing the
// failure (memory for the text, or for the headers, ran out).
char* BuildPkcs7MimeText(MimePart* part, const char* contentType, BYTE* blob, DWORD size);

// The body of an application/x-pkcs7-mime entity: the blob's Base64 text.
// Null after showing the encoding failure.
char* EncodeBlob(const BYTE* blob, DWORD size);
