// Removing one enveloped-data layer with a private key from the user's "MY" store.
#include "incoming/decrypt.h"

#include <stdlib.h>
#include <string.h>

#include <wincrypt.h>

#include "common/encoding.h"
#include "common/messages.h"
#include "incoming/smime_body.h"
#include "settings/settings.h"

char* DecryptSmimeMessage(const char* source, SmimeResult* result)
{
    DWORD derSize = 0;
    BYTE* der = DecodeSmimeBodyOfType(source, CMSG_ENVELOPED, result, &derSize);
    if (der == NULL)
        return NULL;

    bool decrypted = false;
    BYTE* content = NULL;
    PCCERT_CONTEXT keyCert = NULL;
    HCERTSTORE myStore = CertOpenSystemStoreA(0, "MY");

    CRYPT_DECRYPT_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = MESSAGE_ENCODING;
    para.cCertStore = 1;
    para.rghCertStore = &myStore;

    DWORD contentSize = 0;
    if (myStore == NULL || !CryptDecryptMessage(&para, der, derSize, NULL, &contentSize, NULL)) {
        if (DebugEnabled())
            ShowLastErrorText();
        SET_RESULT_TEXT(result->errorText, TEXT_DECRYPTION_FAILED);
    } else if ((content = (BYTE*)malloc((size_t)contentSize + 1)) == NULL) {
        SET_RESULT_TEXT(result->errorText, TEXT_ALLOCATION_ERROR);
    } else {
        DWORD capacity = contentSize;
        if (!CryptDecryptMessage(&para, der, derSize, content, &contentSize, &keyCert) ||
            contentSize > capacity) {
            SET_RESULT_TEXT(result->errorText, TEXT_DECRYPTION_FAILED);
        } else {
            content[contentSize] = '\0';
            char name[1024] = "";
            DWORD named = keyCert == NULL ? 0
                                          : CertNameToStrA(X509_ASN_ENCODING,
                                                           &keyCert->pCertInfo->Subject,
                                                           CERT_X500_NAME_STR, name, sizeof name);
            if (named < 2) {
                SET_RESULT_TEXT(result->errorText, TEXT_NO_SUBJECT);
            } else {
                decrypted = true;
                result->flags |= SR_ENCRYPTED;
                SET_RESULT_TEXT(result->certText, name);
            }
        }
    }

    if (!decrypted) {
        free(content);
        content = NULL;
    }
    free(der);
    if (keyCert != NULL)
        CertFreeCertificateContext(keyCert);
    if (myStore != NULL && !CertCloseStore(myStore, CERT_CLOSE_STORE_CHECK_FLAG))
        ShowMessage(TEXT_CLOSE_STORE_NOTICE);
    return (char*)content;
}
