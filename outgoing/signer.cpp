// The signer's certificate and the signing call.
#include "outgoing/signer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "certs/cert_select.h"
#include "common/encoding.h"
#include "common/messages.h"
#include "mime/address.h"
#include "outgoing/composer.h"
#include "outgoing/report.h"
#include "settings/settings.h"

// The sizes the native 32-bit structures have; other builds carry wider pointers.
static_assert(sizeof(void*) != 4 || sizeof(CRYPT_SIGN_MESSAGE_PARA) == 68, "sign parameters");

void CloseStoreChecked(HCERTSTORE store)
{
    if (store == NULL)
        return;
    BOOL closed = CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
    if (closed != TRUE)
        printf(TEXT_CLOSE_STORE_RESULT, closed);
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
        ShowMessage(TEXT_STORE_NOT_OPENED);
        return false;
    }
    if (g_settings.signCert[0] != '\0') {
        signer->cert = FindCertBySubject(signer->store, g_settings.signCert, CERT_DIGITAL_SIGNATURE_KEY_USAGE,
                                         PREFER_PRIVATE_KEY);
    } else {
        char* from = ReadAddressHeader(window, "From", TEXT_SENDER_HEADER_TOO_LONG);
        if (from == NULL)
            return false;
        char address[ADDRESS_SIZE];
        ExtractAddress(address, from);
        free(from);
        signer->cert = FindCertByEmail(signer->store, address, CERT_DIGITAL_SIGNATURE_KEY_USAGE, PREFER_PRIVATE_KEY);
    }
    if (signer->cert == NULL) {
        ShowMessage(TEXT_NO_OWN_CERT);
        return false;
    }
    char subject[SUBJECT_SIZE];
    if (GetSubjectString(signer->cert, subject) < 2) {
        ShowMessage(TEXT_NO_SUBJECT);
        return false;
    }
    if (DebugEnabled())
        ShowReport(std::string(TEXT_SIGNER) + "\n" + subject);
    SET_RESULT_TEXT(result->signerName, subject);
    return true;
}

bool SignContent(PCCERT_CONTEXT cert, BOOL detached, const BYTE* data, DWORD size, BYTE** blob,
                 DWORD* blobSize)
{
    CRYPT_SIGN_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = MESSAGE_ENCODING;
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
        ShowMessage(TEXT_SIGN_SIZE_FAILED);
        return false;
    }
    *blob = (BYTE*)malloc(*blobSize ? *blobSize : 1);
    if (*blob == NULL) {
        ShowMessage(TEXT_SIGN_ALLOCATION_FAILED);
        return false;
    }
    if (!CryptSignMessage(&para, detached, 1, parts, partSizes, *blob, blobSize)) {
        if (DebugEnabled())
            ShowLastErrorText();
        ShowMessage(TEXT_SIGN_FAILED);
        free(*blob);
        *blob = NULL;
        return false;
    }
    return true;
}
