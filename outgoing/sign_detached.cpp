// Clear signing: multipart/signed with the content in canonical form and a
// detached PKCS #7 signature.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <random>

#include "common/guards.h"
#include "common/messages.h"
#include "common/text.h"
#include "mime/header_fields.h"
#include "mime/mime_part.h"
#include "mime/transport_encoding.h"
#include "outgoing/composer.h"
#include "outgoing/pkcs7_mime.h"
#include "outgoing/signer.h"
#include "outgoing/sign.h"
#include "settings/settings.h"

namespace {

enum { BOUNDARY_SIZE = 64 };

const char kSignatureHeaders[] =
    "Content-Type: application/x-pkcs7-signature; name=\"smime.p7s\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"smime.p7s\"\r\n"
    "\r\n";

// A random second number, so that two messages signed in the same second get
// different boundaries; the last one is remembered to rule out a repeat here.
WORD BoundarySalt()
{
    static WORD last = 0;
    static bool haveLast = false;
    WORD salt;
    try {
        std::random_device device;
        do
            salt = (WORD)(device() & 0xFFFF);
        while (haveLast && salt == last);
    } catch (...) {
        salt = (WORD)(last + 1 + (rand() & 0x7FFF));
    }
    last = salt;
    haveLast = true;
    return salt;
}

void MakeBoundary(char* boundary)
{
    wsprintfA(boundary, "===[S/MIME_RFC2311]===%08X.%04X===", (unsigned)time(NULL),
             (unsigned)BoundarySalt());
}

// The micalg name of the hash that the signature really uses.
const char* MicalgName(const char* oid)
{
    static const struct {
        const char* oid;
        const char* name;
    } kNames[] = {
        {"1.3.14.3.2.26", "sha1"},
        {"1.2.840.113549.2.5", "md5"},
        {"2.16.840.1.101.3.4.2.1", "sha-256"},
        {"2.16.840.1.101.3.4.2.2", "sha-384"},
        {"2.16.840.1.101.3.4.2.3", "sha-512"},
    };
    for (const auto& entry : kNames)
        if (strcmp(oid, entry.oid) == 0)
            return entry.name;
    return "sha1";
}

size_t JoinedLength(const char* const* pieces, size_t count)
{
    size_t length = 0;
    for (size_t i = 0; i < count; ++i)
        length += strlen(pieces[i]);
    return length;
}

char* CopyPieces(char* out, const char* const* pieces, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        size_t length = strlen(pieces[i]);
        memcpy(out, pieces[i], length);
        out += length;
    }
    return out;
}

// The pieces joined into a new heap text (free()); null when memory runs out.
char* JoinPieces(const char* const* pieces, size_t count)
{
    char* text = (char*)malloc(JoinedLength(pieces, count) + 1);
    if (text != NULL)
        *CopyPieces(text, pieces, count) = '\0';
    return text;
}

// Ends the text (taken over, length bytes) that runs up to the first part's
// end with the signature part and the closing delimiter. It grows where it
// lies, so that the content is not copied into a second buffer of its size.
// Null when memory runs out.
char* AppendSignaturePart(char* text, size_t length, const char* boundary, const char* base64)
{
    const char* after[] = {"\r\n--", boundary, "\r\n", kSignatureHeaders, base64, "\r\n--", boundary, "--\r\n"};
    const size_t afterCount = sizeof after / sizeof after[0];
    char* grown = (char*)realloc(text, length + JoinedLength(after, afterCount) + 1);
    if (grown == NULL) {
        free(text);
        return NULL;
    }
    *CopyPieces(grown + length, after, afterCount) = '\0';
    return grown;
}

}  // namespace

char* BuildSignedFirstPart(const char* source, const char* prefix)
{
    // Values keep their continuation lines and line end; a value longer than a
    // single header line is not cut, so the part never loses a line end.
    HeapBuffer<char> type((char*)calloc(MIME_LINE_SIZE, 1));
    HeapBuffer<char> disposition((char*)calloc(MIME_LINE_SIZE, 1));
    HeapBuffer<char> encoding((char*)calloc(MIME_LINE_SIZE, 1));
    if (type.get() == NULL || disposition.get() == NULL || encoding.get() == NULL)
        return NULL;
    MimePart part;
    const char* position = source;
    ParsePacked(&part, &position);
    if (source[0] != '\0' && part.headers.head == NULL)
        return NULL;  // the parse ran out of memory
    // Of repeated fields the last is the one the parser took the type from.
    static const char* const kContentFields[] = {"Content-Type", "Content-Transfer-Encoding", "Content-Disposition"};
    for (const char* name : kContentFields)
        KeepLastHeaderField(&part, name);
    part.GetHeader("Content-Type", type.get(), MIME_LINE_SIZE);
    part.GetHeader("Content-Transfer-Encoding", encoding.get(), MIME_LINE_SIZE);
    part.GetHeader("Content-Disposition", disposition.get(), MIME_LINE_SIZE);

    part.headers.Clear();
    if (part.headers.Append("\r\n") == NULL)
        return NULL;
    if (type.get()[0] != '\0')
        part.SetHeader("Content-Type", type.get());
    if (disposition.get()[0] != '\0')
        part.SetHeader("Content-Disposition", disposition.get());
    if (encoding.get()[0] != '\0')
        part.SetHeader("Content-Transfer-Encoding", encoding.get());
    // What is signed must be what arrives: nothing a relay would change.
    if (!EncodeForTransport(&part))
        return NULL;
    return part.Serialize(prefix);
}

MimePart* BuildSignedOuterPart(const char* source, const char* kind, const char* boundary)
{
    MimePart* part = new (std::nothrow) MimePart;
    if (part == NULL)
        return NULL;
    if (!ParseHeaders(part, source)) {
        delete part;
        return NULL;
    }
    KeepLastHeaderField(part, "Content-Type");
    KeepLastHeaderField(part, "Content-Transfer-Encoding");
    EnsureMimeVersion(part);
    if (strcmp(kind, "DSIG") == 0) {
        char type[HEADER_VALUE_SIZE] = "";
        const char* const pieces[] = {"multipart/signed; protocol=\"application/x-pkcs7-signature\"; micalg=",
                                      MicalgName(g_settings.signHashOID), "; boundary=\"", boundary, "\"\r\n"};
        for (const char* piece : pieces)
            AppendText(type, sizeof type, piece);
        part->SetHeader("Content-Type", type);
        part->SetHeader("Content-Transfer-Encoding", "7bit\r\n");
    }
    return part;
}

char* SignDetachedText(HWND window, const char* source, Signer* signer, SmimeResult* result)
{
    if (!OpenSigner(window, result, signer))
        return NULL;
    char boundary[BOUNDARY_SIZE];
    MakeBoundary(boundary);
    // The outer headers and the first delimiter go in front of the first part
    // as it is written, so that the content is never moved.
    std::unique_ptr<MimePart> outer(BuildSignedOuterPart(source, "DSIG", boundary));
    HeapBuffer<char> head(outer ? outer->Serialize() : NULL);
    const char* before[] = {head.get(), "--", boundary, "\r\n"};
    HeapBuffer<char> prefix(head.get() != NULL ? JoinPieces(before, sizeof before / sizeof before[0]) : NULL);
    HeapBuffer<char> text(prefix.get() != NULL ? BuildSignedFirstPart(source, prefix.get()) : NULL);
    if (text.get() == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return NULL;
    }
    size_t textLength = strlen(text.get()), prefixLength = strlen(prefix.get());

    BYTE* signedBlob = NULL;
    DWORD blobSize = 0;
    if (!SignContent(signer->cert.get(), TRUE, (const BYTE*)text.get() + prefixLength,
                     (DWORD)(textLength - prefixLength), &signedBlob, &blobSize))
        return NULL;
    HeapBuffer<BYTE> blob(signedBlob);
    HeapBuffer<char> base64(EncodeBlob(blob.get(), blobSize));
    if (base64.get() == NULL)
        return NULL;  // after its message
    char* message = AppendSignaturePart(text.Take(), textLength, boundary, base64.get());
    if (message == NULL)
        ShowMessage(TEXT_OUT_OF_MEMORY);
    else
        result->flags |= SR_SIGNED;
    return message;
}
