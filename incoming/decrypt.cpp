// Removing one enveloped-data layer with a private key from the user's "MY" store.
#include "incoming/decrypt.h"

#include <stdlib.h>
#include <string.h>

#include <wincrypt.h>

#include "certs/cert_select.h"
#include "common/encoding.h"
#include "common/guards.h"
#include "common/messages.h"
#include "common/size_query.h"
#include "incoming/smime_body.h"

char* DecryptSmimeMessage(const char* source, SmimeResult* result)
{
    DWORD derSize = 0;
    HeapBuffer<BYTE> der(DecodeSmimeBodyOfType(source, CMSG_ENVELOPED, result, &derSize));
    if (der.get() == NULL)
        return NULL;

    StoreHandle myStore(CLOSE_IN_BOX, TEXT_CLOSE_STORE_NOTICE);
    CertContext keyCert;  // released before "MY" closes
    myStore.OpenSystem("MY");

    CRYPT_DECRYPT_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = MESSAGE_ENCODING;
    para.cCertStore = 1;
    para.rghCertStore = myStore.address();

    // The content is shorter than the enveloped object that holds it.
    BYTE* decrypted = NULL;
    DWORD contentSize = 0;
    SizeQueryOutcome outcome = QUERY_FAILED;
    if (myStore.get() != NULL)
        outcome = QueryIntoNewBuffer(
            derSize,
            [&](BYTE* out, DWORD* size) {
                return CryptDecryptMessage(&para, der.get(), derSize, out, size, keyCert.receive());
            },
            &decrypted, &contentSize);
    HeapBuffer<BYTE> content(decrypted);
    der.Release();
    if (!UnwrapDone(outcome, TEXT_DECRYPTION_FAILED, result))
        return NULL;
    char name[SUBJECT_SIZE] = "";
    DWORD named = keyCert.get() == NULL ? 0 : GetSubjectString(keyCert.get(), name);
    if (named < 2) {
        SET_RESULT_TEXT(result->errorText, TEXT_NO_SUBJECT);
        return NULL;
    }
    result->flags |= SR_ENCRYPTED;
    SET_RESULT_TEXT(result->certText, name);
    return (char*)content.Take();
}
