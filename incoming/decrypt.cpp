// Removing one enveloped-data layer with a private key from the user's "MY" store.
#include "incoming/decrypt.h"

#include <stdlib.h>
#include <string.h>

#include <wincrypt.h>

#include "certs/cert_select.h"
#include "host/messages.h"
#include "incoming/smime_body.h"
#include "settings/settings.h"

static const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

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
    para.dwMsgAndCertEncodingType = kEncoding;
    para.cCertStore = 1;
    para.rghCertStore = &myStore;

    DWORD contentSize = 0;
    if (myStore == NULL || !CryptDecryptMessage(&para, der, derSize, NULL, &contentSize, NULL)) {
        if (DebugEnabled())
            ShowLastErrorText();
        SET_RESULT_TEXT(result->errorText, "復号失敗");
    } else if ((content = (BYTE*)malloc((size_t)contentSize + 1)) == NULL) {
        SET_RESULT_TEXT(result->errorText, "メモリアロケーションエラー");
    } else {
        DWORD capacity = contentSize;
        if (!CryptDecryptMessage(&para, der, derSize, content, &contentSize, &keyCert) ||
            contentSize > capacity) {
            SET_RESULT_TEXT(result->errorText, "復号失敗");
        } else {
            content[contentSize] = '\0';
            char name[SUBJECT_SIZE] = "";
            DWORD named = keyCert == NULL ? 0 : GetSubjectString(keyCert, name);
            if (named < 2) {
                SET_RESULT_TEXT(result->errorText, "証明書のサブジェクトが取得できません");
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
        ShowMessage("CertCloseStore returns with some notice");
    return (char*)content;
}
