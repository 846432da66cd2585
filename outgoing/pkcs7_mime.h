// The application/x-pkcs7-mime entity that encryption and opaque signing write.
#pragma once

#include <windows.h>

class MimePart;

// The composer text of an application/x-pkcs7-mime entity: part's headers with
// Content-Type (contentType), Content-Transfer-Encoding and Content-Disposition
// set, and base64 as its whole body. Null when memory runs out.
char* BuildPkcs7MimeText(MimePart* part, const char* contentType, const char* base64);

// The body of an application/x-pkcs7-mime entity: the blob's Base64 text.
// Null after showing the encoding failure.
char* EncodeBlob(const BYTE* blob, DWORD size);
