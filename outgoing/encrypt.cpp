// The encryption command: the composed message as PKCS #7 enveloped-data for
// every recipient and the sender.
#include "outgoing/encrypt.h"

#include <stdlib.h>
#include <string.h>

#include <memory>

#include "certs/cert_select.h"
#include "certs/trust.h"
#include "common/encoding.h"
#include "common/host_api.h"
#include "common/messages.h"
#include "mime/address.h"
#include "mime/mime_part.h"
#include "outgoing/composer.h"
#include "outgoing/pkcs7_mime.h"
#include "outgoing/report.h"
#include "outgoing/signer.h"
#include "settings/settings.h"

static_assert(sizeof(void*) != 4 || sizeof(CRYPT_ENCRYPT_MESSAGE_PARA) == 36, "encrypt parameters");

namespace {

// The sender plus at most 32 addresses.
enum { MAX_ADDRESSES = 32, RECIPIENT_LIST_SIZE = MAX_ADDRESSES + 1 };

const char kEnvelopedType[] = "application/x-pkcs7-mime;\n name=\"smime.p7m\";\n smime-type=enveloped-data\n";

// Everything one encryption owns; released in this order whatever the outcome.
struct EncryptJob {
    HWND window = NULL;
    LPSTR source = NULL;
    BYTE* rc2Parameters = NULL;
    BYTE ivParameter[2 + 16] = {};  // DER OCTET STRING of an AES IV
    BYTE* blob = NULL;
    PCCERT_CONTEXT certs[RECIPIENT_LIST_SIZE] = {};
    DWORD certCount = 0;
    HCERTSTORE my = NULL;
    HCERTSTORE ca = NULL;
    HCERTSTORE addressBook = NULL;
    SmimeResult* scratch = NULL;  // what the trust check writes is not the command's
    char* addresses = NULL;
    MimePart part;

    ~EncryptJob()
    {
        if (source != NULL)
            g_host.Free(source);
        free(blob);
        free(rc2Parameters);
        for (DWORD i = 0; i < certCount; ++i)
            CertFreeCertificateContext(certs[i]);
        CloseStoreChecked(ca);
        CloseStoreChecked(my);
        CloseStoreChecked(addressBook);
        free(scratch);
        free(addresses);
    }
};

// Appends one "prefix subject\n" line, cut at the field's end.
void AppendCertLine(SmimeResult* result, const char* prefix, const char* subject)
{
    AppendText(result->certText, sizeof result->certText, prefix);
    AppendText(result->certText, sizeof result->certText, subject);
    AppendText(result->certText, sizeof result->certText, "\n");
}

// To, Cc and Bcc joined with ","; false when one is too long to be read whole
// (after its message) or the user declines the Bcc question.
bool ReadRecipientHeaders(HWND window, std::string* text)
{
    static const char* const kNames[] = {"To", "Cc", "Bcc"};
    for (const char* name : kNames) {
        std::unique_ptr<char, decltype(&free)> value(
            ReadAddressHeader(window, name, TEXT_RECIPIENT_HEADER_TOO_LONG), &free);
        if (value == NULL)
            return false;
        if (value.get()[0] == '\0')
            continue;
        if (strcmp(name, "Bcc") == 0 &&
            MessageBoxA(NULL, TEXT_BCC_QUESTION, TEXT_BCC_CAPTION, MB_TOPMOST | MB_ICONINFORMATION | MB_YESNO) != IDYES)
            return false;
        *text += value.get();
        *text += ",";
    }
    return true;
}

void ShowMissingRecipient(const char* address)
{
    char shown[ADDRESS_SIZE];
    CopyDisplayName(shown, sizeof shown, address);
    ShowReport(std::string(TEXT_NO_RECIPIENT_CERT) + " [" + shown + "]");
}

bool OpenStores(EncryptJob* job)
{
    job->my = CertOpenSystemStoreA(0, "MY");
    if (job->my != NULL)
        job->ca = CertOpenSystemStoreA(0, "CA");
    if (job->ca != NULL && SettingIsYes(g_settings.useOLStore))
        job->addressBook = CertOpenSystemStoreA(0, "AddressBook");
    if (job->my == NULL || job->ca == NULL || (SettingIsYes(g_settings.useOLStore) && job->addressBook == NULL)) {
        ShowMessage(TEXT_STORE_NOT_OPENED);
        return false;
    }
    return true;
}

// Entry 0: the sender's own certificate, so that the sender can read the message.
bool AddOwnCertificate(EncryptJob* job, SmimeResult* result)
{
    PCCERT_CONTEXT cert;
    if (g_settings.encCert[0] != '\0') {
        cert = FindCertBySubject(job->my, g_settings.encCert, CERT_KEY_ENCIPHERMENT_KEY_USAGE,
                                  PREFER_PRIVATE_KEY);
    } else {
        char* from = ReadAddressHeader(job->window, "From", TEXT_SENDER_HEADER_TOO_LONG);
        if (from == NULL)
            return false;
        char address[ADDRESS_SIZE];
        ExtractAddress(address, from);
        free(from);
        cert = FindCertByEmail(job->my, address, CERT_KEY_ENCIPHERMENT_KEY_USAGE, PREFER_PRIVATE_KEY);
    }
    if (cert == NULL) {
        ShowMessage(TEXT_NO_OWN_CERT);
        return false;
    }
    job->certs[job->certCount++] = cert;
    char subject[SUBJECT_SIZE];
    if (GetSubjectString(cert, subject) < 2) {
        ShowMessage(TEXT_NO_SUBJECT);
        return false;
    }
    AppendCertLine(result, TEXT_GOOD_MARK, subject);
    return true;
}

PCCERT_CONTEXT FindRecipientCertificate(EncryptJob* job, const char* address)
{
    const BYTE usage = CERT_KEY_ENCIPHERMENT_KEY_USAGE;
    PCCERT_CONTEXT cert = FindCertByEmail(job->ca, address, usage, PREFER_TRUSTED);
    if (cert == NULL && job->addressBook != NULL)
        cert = FindCertByEmail(job->addressBook, address, usage, PREFER_TRUSTED);
    if (cert == NULL)
        cert = FindCertByEmail(job->my, address, usage, PREFER_TRUSTED);
    return cert;
}

// Entries 1 onwards, in address order; each is marked by whether its issuer is trusted.
bool AddRecipientCertificates(EncryptJob* job, const char* addresses, SmimeResult* result)
{
    const char* entry = addresses;
    for (const char* p = addresses;; ++p) {
        if (*p != ',' && *p != '\0')
            continue;
        std::string address(entry, p - entry);
        PCCERT_CONTEXT cert = FindRecipientCertificate(job, address.c_str());
        if (cert == NULL) {
            ShowMissingRecipient(address.c_str());
            return false;
        }
        if (job->certCount >= RECIPIENT_LIST_SIZE) {  // the count check keeps this from happening
            CertFreeCertificateContext(cert);
            ShowMessage(TEXT_TOO_MANY_RECIPIENTS);
            return false;
        }
        job->certs[job->certCount++] = cert;
        char subject[SUBJECT_SIZE];
        if (GetSubjectString(cert, subject) < 2) {
            ShowMessage(TEXT_NO_SUBJECT);
            return false;
        }
        memset(job->scratch, 0, sizeof *job->scratch);
        // Marked good only when its chain is trusted and it is valid today.
        bool good = CheckSignerTrust(cert, job->scratch) == 1 && (job->scratch->flags & SR_SIGNER_CURRENT);
        AppendCertLine(result, good ? TEXT_GOOD_MARK : TEXT_BAD_MARK, subject);
        if (*p == '\0')
            return true;
        entry = p + 1;
    }
}

// AES takes a fresh random 16-byte IV as its parameters (an OCTET STRING).
bool MakeAesParameters(EncryptJob* job, CRYPT_OBJID_BLOB* parameters)
{
    HCRYPTPROV provider = 0;
    BYTE* iv = job->ivParameter + 2;
    bool made = CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
                CryptGenRandom(provider, 16, iv);
    if (provider != 0)
        CryptReleaseContext(provider, 0);
    if (!made) {
        ShowLastErrorText();
        ShowMessage(TEXT_ENCRYPTION_FAILED);
        return false;
    }
    job->ivParameter[0] = 0x04;
    job->ivParameter[1] = 16;
    parameters->pbData = job->ivParameter;
    parameters->cbData = sizeof job->ivParameter;
    return true;
}

// RC2 with a 128-bit key needs its parameters encoded, AES its IV; the others take none.
bool ChooseAlgorithm(EncryptJob* job, CRYPT_ENCRYPT_MESSAGE_PARA* para)
{
    const char* name = g_settings.encAlg;
    if (strcmp(name, "RC2(40bit)") == 0) {
        para->ContentEncryptionAlgorithm.pszObjId = (LPSTR)szOID_RSA_RC2CBC;
    } else if (strcmp(name, "DES") == 0) {
        para->ContentEncryptionAlgorithm.pszObjId = (LPSTR)szOID_OIWSEC_desCBC;
    } else if (strcmp(name, "RC2(128bit)") == 0) {
        para->ContentEncryptionAlgorithm.pszObjId = (LPSTR)szOID_RSA_RC2CBC;
        CRYPT_RC2_CBC_PARAMETERS rc2;
        memset(&rc2, 0, sizeof rc2);
        rc2.dwVersion = CRYPT_RC2_128BIT_VERSION;
        rc2.fIV = FALSE;
        CRYPT_OBJID_BLOB* parameters = &para->ContentEncryptionAlgorithm.Parameters;
        if (!CryptEncodeObject(MESSAGE_ENCODING, PKCS_RC2_CBC_PARAMETERS, &rc2, NULL, &parameters->cbData)) {
            ShowMessage(TEXT_BAD_MARK);
            return false;
        }
        if (parameters->cbData == 0)
            return false;
        job->rc2Parameters = (BYTE*)malloc(parameters->cbData);
        if (job->rc2Parameters == NULL) {
            ShowMessage(TEXT_OUT_OF_MEMORY);
            return false;
        }
        parameters->pbData = job->rc2Parameters;
        if (!CryptEncodeObject(MESSAGE_ENCODING, PKCS_RC2_CBC_PARAMETERS, &rc2, job->rc2Parameters,
                               &parameters->cbData)) {
            ShowMessage(TEXT_BAD_MARK);
            return false;
        }
    } else if (strcmp(name, "3DES") == 0) {
        para->ContentEncryptionAlgorithm.pszObjId = (LPSTR)szOID_RSA_DES_EDE3_CBC;
    } else if (strcmp(name, "AES(128bit)") == 0) {
        para->ContentEncryptionAlgorithm.pszObjId = (LPSTR)szOID_NIST_AES128_CBC;
        return MakeAesParameters(job, &para->ContentEncryptionAlgorithm.Parameters);
    } else if (strcmp(name, "AES(256bit)") == 0) {
        para->ContentEncryptionAlgorithm.pszObjId = (LPSTR)szOID_NIST_AES256_CBC;
        return MakeAesParameters(job, &para->ContentEncryptionAlgorithm.Parameters);
    } else {
        ShowMessage(TEXT_UNKNOWN_ALGORITHM);
        return false;
    }
    return true;
}

bool EncryptSource(EncryptJob* job, const CRYPT_ENCRYPT_MESSAGE_PARA& para, DWORD* blobSize)
{
    CRYPT_ENCRYPT_MESSAGE_PARA copy = para;
    const BYTE* content = (const BYTE*)job->source;
    DWORD contentSize = (DWORD)strlen(job->source);
    *blobSize = 0;
    if (!CryptEncryptMessage(&copy, job->certCount, job->certs, content, contentSize, NULL, blobSize)) {
        ShowLastErrorText();
        ShowMessage(TEXT_ENCRYPTION_FAILED);
        return false;
    }
    job->blob = (BYTE*)calloc(*blobSize ? *blobSize : 1, 1);
    if (job->blob == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return false;
    }
    if (!CryptEncryptMessage(&copy, job->certCount, job->certs, content, contentSize, job->blob, blobSize)) {
        if (DebugEnabled())
            ShowLastErrorText();
        ShowMessage(TEXT_ENCRYPTION_FAILED);
        return false;
    }
    return true;
}

}  // namespace

int EncryptMessage(HWND window, LPARAM, SmimeResult* result)
{
    EncryptJob job;
    job.window = window;
    job.source = g_host.CompGetSource(window);
    if (job.source == NULL) {
        ShowMessage(TEXT_NO_SOURCE);
        return 0;
    }
    // Only the headers are kept; the body is replaced by the enveloped data.
    if (!ParseHeaders(&job.part, job.source)) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return 0;
    }

    std::string recipients;
    if (!ReadRecipientHeaders(window, &recipients))
        return 0;
    if (recipients.empty()) {
        ShowMissingRecipient("");
        return 0;
    }
    recipients.erase(recipients.size() - 1);  // the trailing comma

    // The bare addresses never take more room than the values they come from.
    job.addresses = (char*)calloc(recipients.size() + 1, 1);
    job.scratch = (SmimeResult*)calloc(1, sizeof(SmimeResult));
    if (job.addresses == NULL || job.scratch == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return 0;
    }
    int count = 0;
    CollectAddresses(&recipients[0], job.addresses, &count);
    if (count == 0) {  // only empty groups such as "undisclosed-recipients:;"
        ShowMissingRecipient("");
        return 0;
    }
    if (count > MAX_ADDRESSES) {
        ShowMessage(TEXT_TOO_MANY_RECIPIENTS);
        return 0;
    }

    if (!OpenStores(&job) || !AddOwnCertificate(&job, result) ||
        !AddRecipientCertificates(&job, job.addresses, result))
        return 0;

    CRYPT_ENCRYPT_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = MESSAGE_ENCODING;
    if (!ChooseAlgorithm(&job, &para))
        return 0;

    DWORD blobSize = 0;
    if (!EncryptSource(&job, para, &blobSize))
        return 0;
    char* text = BuildPkcs7MimeText(&job.part, kEnvelopedType, job.blob, blobSize);
    job.blob = NULL;
    if (text == NULL || !ReplaceComposerText(window, text))
        return 0;
    result->flags |= SR_ENCRYPTED;
    return 1;
}
