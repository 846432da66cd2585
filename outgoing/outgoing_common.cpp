#include "outgoing/outgoing_common.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "certs/cert_select.h"
#include "host/host_api.h"
#include "host/messages.h"
#include "mime/address.h"
#include "mime/base64.h"
#include "mime/mime_part.h"
#include "settings/settings.h"

// The sizes the native 32-bit structures have; other builds carry wider pointers.
static_assert(sizeof(void*) != 4 || sizeof(CRYPT_SIGN_MESSAGE_PARA) == 68, "sign parameters");

bool ParseHeaders(MimePart* part, const char* source)
{
    // The body is replaced whole, so it is not read at all.
    const char* position = source;
    ParseHeaderBlock(part, &position);
    // A parse that ran out of memory leaves no lines at all.
    if (source[0] != '\0' && part->headers.head == NULL)
        return false;
    const LineNode* tail = part->headers.tail;
    if (tail != NULL && strcmp(tail->text, "\r\n") == 0)
        return true;
    return part->headers.Append("\r\n") != NULL;
}

char* BuildPkcs7MimeText(MimePart* part, const char* contentType, const char* base64)
{
    part->SetHeader("Content-Type", contentType);
    part->SetHeader("Content-Transfer-Encoding", "base64\n");
    part->SetHeader("Content-Disposition", "attachment;\n filename=\"smime.p7m\"\n");
    const char* body[] = {base64};
    return SerializeWithBody(*part, body, 1);
}

bool ReplaceComposerText(HWND window, char* text)
{
    if (text == NULL) {
        ShowMessage(MSG_OUT_OF_MEMORY);
        return false;
    }
    g_host.CompSetSource(window, text);
    free(text);
    return true;
}

char* SerializeWithBody(const MimePart& part, const char* const* pieces, size_t count)
{
    char* head = part.Serialize();
    if (head == NULL)
        return NULL;
    size_t headLength = strlen(head);
    size_t total = headLength;
    for (size_t i = 0; i < count; ++i)
        total += strlen(pieces[i]);
    char* text = (char*)malloc(total + 1);
    if (text != NULL) {
        memcpy(text, head, headLength);
        char* end = text + headLength;
        for (size_t i = 0; i < count; ++i) {
            size_t length = strlen(pieces[i]);
            memcpy(end, pieces[i], length);
            end += length;
        }
        *end = '\0';
    }
    free(head);
    return text;
}

void ReadComposerHeader(HWND window, const char* name, char* buffer)
{
    memset(buffer, 0, HEADER_VALUE_SIZE);
    g_host.CompGetSpecifiedHeader(window, name, buffer, HEADER_VALUE_SIZE);
    buffer[HEADER_VALUE_SIZE - 1] = '\0';
}

void CloseStoreChecked(HCERTSTORE store)
{
    if (store == NULL)
        return;
    BOOL closed = CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
    if (closed != TRUE)
        printf("CertCloseStore returns %d \n", closed);
}

Signer::~Signer()
{
    if (cert != NULL)
        CertFreeCertificateContext(cert);
    CloseStoreChecked(store);
}

bool OpenSigner(HWND window, SmimeResult* result, Signer* signer)
{
    signer->store = CertOpenSystemStoreA(0, "MY");
    if (signer->store == NULL) {
        ShowMessage(MSG_STORE_NOT_OPENED);
        return false;
    }
    if (g_settings.signCert[0] != '\0') {
        signer->cert = FindCertBySubject(signer->store, g_settings.signCert, CERT_DIGITAL_SIGNATURE_KEY_USAGE,
                                         PREFER_PRIVATE_KEY);
    } else {
        char from[HEADER_VALUE_SIZE];
        char address[ADDRESS_SIZE];
        ReadComposerHeader(window, "From", from);
        ExtractAddress(address, from);
        signer->cert = FindCertByEmail(signer->store, address, CERT_DIGITAL_SIGNATURE_KEY_USAGE, PREFER_PRIVATE_KEY);
    }
    if (signer->cert == NULL) {
        ShowMessage(MSG_NO_OWN_CERT);
        return false;
    }
    char subject[SUBJECT_SIZE];
    if (GetSubjectString(signer->cert, subject) < 2) {
        ShowMessage(MSG_NO_SUBJECT);
        return false;
    }
    if (DebugEnabled())
        ShowReport(std::string(SIGNER_LABEL "\n") + subject);
    SET_RESULT_TEXT(result->signerName, subject);
    return true;
}

bool SignContent(PCCERT_CONTEXT cert, BOOL detached, const BYTE* data, DWORD size, BYTE** blob,
                 DWORD* blobSize)
{
    CRYPT_SIGN_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = OUTGOING_ENCODING;
    para.pSigningCert = cert;
    para.HashAlgorithm.pszObjId = g_settings.signHashOID;
    para.cMsgCert = 1;
    para.rgpMsgCert = &cert;

    const BYTE* parts[1] = {data};
    DWORD partSizes[1] = {size};
    *blob = NULL;
    *blobSize = 0;
    if (!CryptSignMessage(&para, detached, 1, parts, partSizes, NULL, blobSize)) {
        if (DebugEnabled())
            ShowLastErrorText();
        ShowMessage("Getting signed blob size failed");
        return false;
    }
    *blob = (BYTE*)malloc(*blobSize ? *blobSize : 1);
    if (*blob == NULL) {
        ShowMessage("Memory allocation error while signing.");
        return false;
    }
    if (!CryptSignMessage(&para, detached, 1, parts, partSizes, *blob, blobSize)) {
        if (DebugEnabled())
            ShowLastErrorText();
        ShowMessage("Error getting signed blob");
        free(*blob);
        *blob = NULL;
        return false;
    }
    return true;
}

char* EncodeBlob(const BYTE* blob, DWORD size)
{
    DWORD length = 0;
    char* text = Base64Encode(blob, size, &length);
    if (text == NULL)
        ShowMessage(MSG_ENCODING_FAILED);
    return text;
}

void ShowReport(const std::string& text)
{
    ShowMessage(text.c_str());
}

void StampPluginHeader(HWND window)
{
    char value[HEADER_VALUE_SIZE];
    wsprintfA(value, "%s %s", PLUGIN_NAME, PLUGIN_VERSION);
    g_host.CompSetSpecifiedHeader(window, "X-SMIME-Plugin", value);
}
