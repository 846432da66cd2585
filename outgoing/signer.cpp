// The signer's certificate and the signing call.
#include "outgoing/signer.h"

#include <stdlib.h>
#include <string.h>

#include "certs/cert_select.h"
#include "common/encoding.h"
#include "common/host_api.h"
#include "common/messages.h"
#include "common/size_query.h"
#include "mime/address.h"
#include "outgoing/composer.h"
#include "outgoing/report.h"
#include "settings/settings.h"

// Beyond the certificate: the signature (up to a 4096-bit key), the signed
// attributes and the structure around them.
enum { SIGNATURE_ROOM = 4096 };

// The sizes the native 32-bit structures have; other builds carry wider pointers.
static_assert(sizeof(void*) != 4 || sizeof(CRYPT_SIGN_MESSAGE_PARA) == 68, "sign parameters");

bool OpenSigner(HWND window, SmimeResult* result, Signer* signer)
{
    if (!signer->store.OpenSystem("MY")) {
        ShowMessage(TEXT_STORE_NOT_OPENED);
        return false;
    }
    if (g_settings.signCert[0] != '\0') {
        signer->cert.Reset(FindCertBySubject(signer->store.get(), g_settings.signCert,
                                             CERT_DIGITAL_SIGNATURE_KEY_USAGE, PREFER_PRIVATE_KEY));
    } else {
        char* from = ReadAddressHeader(window, "From", TEXT_SENDER_HEADER_TOO_LONG);
        if (from == NULL)
            return false;
        char address[ADDRESS_SIZE];
        ExtractAddress(address, from);
        free(from);
        signer->cert.Reset(FindCertByEmail(signer->store.get(), address, CERT_DIGITAL_SIGNATURE_KEY_USAGE,
                                           PREFER_PRIVATE_KEY));
    }
    if (signer->cert.get() == NULL) {
        ShowMessage(TEXT_NO_OWN_CERT);
        return false;
    }
    char subject[SUBJECT_SIZE];
    if (GetSubjectString(signer->cert.get(), subject) < 2) {
        ShowMessage(TEXT_NO_SUBJECT);
        return false;
    }
    if (DebugEnabled())
        ShowReport({TEXT_SIGNER, "\n", subject});
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
    // Room for the content (unless detached), the certificate, the signature
    // and its attributes: one call usually does the work.
    DWORD estimate = SizeEstimate(detached ? 0 : size, cert->cbCertEncoded + SIGNATURE_ROOM);
    SizeQueryOutcome outcome = QueryIntoNewBuffer(
        estimate,
        [&](BYTE* out, DWORD* outSize) {
            return CryptSignMessage(&para, detached, 1, parts, partSizes, out, outSize);
        },
        blob, blobSize);
    if (outcome == QUERY_DONE)
        return true;
    if (outcome == QUERY_NO_MEMORY) {
        ShowMessage(TEXT_SIGN_ALLOCATION_FAILED);
        return false;
    }
    if (DebugEnabled())
        ShowLastErrorText();
    ShowMessage(outcome == QUERY_FAILED ? TEXT_SIGN_SIZE_FAILED : TEXT_SIGN_FAILED);
    return false;
}

char* SignComposerText(HWND window, SignTextFunction sign, SmimeResult* result)
{
    // Declared first, released last: the source goes back to the host before "MY" closes.
    Signer signer;
    HostText source(g_host.CompGetSource(window));
    if (source.get() == NULL) {
        ShowMessage(TEXT_NO_SOURCE);
        return NULL;
    }
    return sign(window, source.get(), &signer, result);
}
