// The encryption command: the composed message as PKCS #7 enveloped-data for
// every recipient and the sender.
#include "outgoing/encrypt.h"

#include <stdlib.h>
#include <string.h>

#include <memory>

#include "certs/cert_select.h"
#include "certs/trust.h"
#include "common/encoding.h"
#include "common/guards.h"
#include "common/host_api.h"
#include "common/messages.h"
#include "common/size_query.h"
#include "common/text.h"
#include "mime/address.h"
#include "mime/mime_part.h"
#include "outgoing/composer.h"
#include "outgoing/pkcs7_mime.h"
#include "outgoing/report.h"
#include "settings/settings.h"

static_assert(sizeof(void*) != 4 || sizeof(CRYPT_ENCRYPT_MESSAGE_PARA) == 36, "encrypt parameters");

namespace {

// The sender plus at most 32 addresses.
enum { MAX_ADDRESSES = 32, RECIPIENT_LIST_SIZE = MAX_ADDRESSES + 1 };

// To, Cc and Bcc, each with its comma (a header is read only when it is
// shorter than its buffer).
enum { RECIPIENT_HEADERS_SIZE = 3 * ADDRESS_HEADER_SIZE + 1 };

// Beyond the content and the recipients' certificates: the padding, the
// algorithm and the structure around them.
enum { ENVELOPE_ROOM = 1024 };

// CryptEncodeObject's RC2 parameters: a version and no IV.
enum { RC2_PARAMETERS_ESTIMATE = 16 };

const char kEnvelopedType[] = "application/x-pkcs7-mime;\n name=\"smime.p7m\";\n smime-type=enveloped-data\n";

// Everything one encryption owns. Members are released in the reverse of
// their order here: the stores close after the certificates taken from them
// ("CA", "MY", then "AddressBook").
struct EncryptJob {
    HWND window = NULL;
    const char* source = NULL;  // borrowed
    HeapBuffer<char> addresses;
    HeapBuffer<SmimeResult> scratch;  // what the trust check writes is not the command's
    StoreHandle addressBook{CLOSE_ON_STDOUT};
    StoreHandle my{CLOSE_ON_STDOUT};
    StoreHandle ca{CLOSE_ON_STDOUT};
    CertContextArray<RECIPIENT_LIST_SIZE> certs;
    HeapBuffer<BYTE> rc2Parameters;
    BYTE ivParameter[2 + 16] = {};  // DER OCTET STRING of an AES IV
    HeapBuffer<BYTE> blob;
    MimePart part;
};

// Appends one "prefix subject\n" line, cut at the field's end.
void AppendCertLine(SmimeResult* result, const char* prefix, const char* subject)
{
    AppendText(result->certText, sizeof result->certText, prefix);
    AppendText(result->certText, sizeof result->certText, subject);
    AppendText(result->certText, sizeof result->certText, "\n");
}

// To, Cc and Bcc joined with "," into text (RECIPIENT_HEADERS_SIZE bytes);
// false when one is too long to be read whole (after its message) or the user
// declines the Bcc question.
bool ReadRecipientHeaders(HWND window, char* text, size_t size)
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
        AppendText(text, size, value.get());
        AppendText(text, size, ",");
    }
    return true;
}

void ShowMissingRecipient(const char* address)
{
    char shown[ADDRESS_SIZE];
    CopyDisplayName(shown, sizeof shown, address);
    ShowReport({TEXT_NO_RECIPIENT_CERT, " [", shown, "]"});
}

bool OpenStores(EncryptJob* job)
{
    bool useAddressBook = SettingIsYes(g_settings.useOLStore);
    bool opened = job->my.OpenSystem("MY") && job->ca.OpenSystem("CA") &&
                  (!useAddressBook || job->addressBook.OpenSystem("AddressBook"));
    if (!opened) {
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
        cert = FindCertBySubject(job->my.get(), g_settings.encCert, CERT_KEY_ENCIPHERMENT_KEY_USAGE,
                                 PREFER_PRIVATE_KEY);
    } else {
        char* from = ReadAddressHeader(job->window, "From", TEXT_SENDER_HEADER_TOO_LONG);
        if (from == NULL)
            return false;
        char address[ADDRESS_SIZE];
        ExtractAddress(address, from);
        free(from);
        cert = FindCertByEmail(job->my.get(), address, CERT_KEY_ENCIPHERMENT_KEY_USAGE, PREFER_PRIVATE_KEY);
    }
    if (cert == NULL) {
        ShowMessage(TEXT_NO_OWN_CERT);
        return false;
    }
    job->certs.Add(cert);
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
    PCCERT_CONTEXT cert = FindCertByEmail(job->ca.get(), address, usage, PREFER_TRUSTED);
    if (cert == NULL && job->addressBook.get() != NULL)
        cert = FindCertByEmail(job->addressBook.get(), address, usage, PREFER_TRUSTED);
    if (cert == NULL)
        cert = FindCertByEmail(job->my.get(), address, usage, PREFER_TRUSTED);
    return cert;
}

// Entries 1 onwards, in address order; each is marked by whether its issuer is trusted.
// The list is cut into its entries in place.
bool AddRecipientCertificates(EncryptJob* job, char* addresses, SmimeResult* result)
{
    char* entry = addresses;
    for (char* p = addresses;; ++p) {
        if (*p != ',' && *p != '\0')
            continue;
        bool last = *p == '\0';
        *p = '\0';
        const char* address = entry;
        PCCERT_CONTEXT cert = FindRecipientCertificate(job, address);
        if (cert == NULL) {
            ShowMissingRecipient(address);
            return false;
        }
        if (job->certs.Full()) {  // the count check keeps this from happening
            CertFreeCertificateContext(cert);
            ShowMessage(TEXT_TOO_MANY_RECIPIENTS);
            return false;
        }
        job->certs.Add(cert);
        char subject[SUBJECT_SIZE];
        if (GetSubjectString(cert, subject) < 2) {
            ShowMessage(TEXT_NO_SUBJECT);
            return false;
        }
        memset(job->scratch.get(), 0, sizeof(SmimeResult));
        // Marked good only when its chain is trusted and it is valid today.
        bool good = CheckSignerTrust(cert, job->scratch.get()) == 1 && (job->scratch->flags & SR_SIGNER_CURRENT);
        AppendCertLine(result, good ? TEXT_GOOD_MARK : TEXT_BAD_MARK, subject);
        if (last)
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
        BYTE* encoded = NULL;
        SizeQueryOutcome outcome = QueryIntoNewBuffer(
            RC2_PARAMETERS_ESTIMATE,
            [&](BYTE* out, DWORD* size) {
                return CryptEncodeObject(MESSAGE_ENCODING, PKCS_RC2_CBC_PARAMETERS, &rc2, out, size);
            },
            &encoded, &parameters->cbData);
        job->rc2Parameters.Reset(encoded);
        parameters->pbData = encoded;
        if (outcome == QUERY_NO_MEMORY) {
            ShowMessage(TEXT_OUT_OF_MEMORY);
            return false;
        }
        if (outcome != QUERY_DONE) {
            ShowMessage(TEXT_BAD_MARK);
            return false;
        }
        if (parameters->cbData == 0)
            return false;
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
    // Room for the padded content and, per recipient, at most its certificate's
    // size (the issuer, serial and encrypted key are parts of it).
    size_t room = ENVELOPE_ROOM;
    for (DWORD i = 0; i < job->certs.count(); ++i)
        room += job->certs.data()[i]->cbCertEncoded;
    BYTE* encrypted = NULL;
    SizeQueryOutcome outcome = QueryIntoNewBuffer(
        SizeEstimate(contentSize, room),
        [&](BYTE* out, DWORD* size) {
            return CryptEncryptMessage(&copy, job->certs.count(), job->certs.data(), content, contentSize,
                                       out, size);
        },
        &encrypted, blobSize);
    job->blob.Reset(encrypted);
    if (outcome == QUERY_DONE)
        return true;
    if (outcome == QUERY_NO_MEMORY) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return false;
    }
    if (outcome == QUERY_FAILED || DebugEnabled())
        ShowLastErrorText();
    ShowMessage(TEXT_ENCRYPTION_FAILED);
    return false;
}

// The enveloped text of job->source, or null after the failure's message.
char* EncryptJobText(EncryptJob* job, SmimeResult* result)
{
    HWND window = job->window;
    // Only the headers are kept; the body is replaced by the enveloped data.
    if (!ParseHeaders(&job->part, job->source)) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return NULL;
    }

    HeapBuffer<char> recipients((char*)calloc(RECIPIENT_HEADERS_SIZE, 1));
    if (recipients.get() == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return NULL;
    }
    if (!ReadRecipientHeaders(window, recipients.get(), RECIPIENT_HEADERS_SIZE))
        return NULL;
    if (recipients.get()[0] == '\0') {
        ShowMissingRecipient("");
        return NULL;
    }
    recipients.get()[strlen(recipients.get()) - 1] = '\0';  // the trailing comma

    // The bare addresses never take more room than the values they come from.
    job->addresses.Reset((char*)calloc(strlen(recipients.get()) + 1, 1));
    job->scratch.Reset((SmimeResult*)calloc(1, sizeof(SmimeResult)));
    if (job->addresses.get() == NULL || job->scratch.get() == NULL) {
        ShowMessage(TEXT_OUT_OF_MEMORY);
        return NULL;
    }
    int count = 0;
    CollectAddresses(recipients.get(), job->addresses.get(), &count);
    if (count == 0) {  // only empty groups such as "undisclosed-recipients:;"
        ShowMissingRecipient("");
        return NULL;
    }
    if (count > MAX_ADDRESSES) {
        ShowMessage(TEXT_TOO_MANY_RECIPIENTS);
        return NULL;
    }

    if (!OpenStores(job) || !AddOwnCertificate(job, result) ||
        !AddRecipientCertificates(job, job->addresses.get(), result))
        return NULL;

    CRYPT_ENCRYPT_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = MESSAGE_ENCODING;
    if (!ChooseAlgorithm(job, &para))
        return NULL;

    DWORD blobSize = 0;
    if (!EncryptSource(job, para, &blobSize))
        return NULL;
    char* text = BuildPkcs7MimeText(&job->part, kEnvelopedType, job->blob.Take(), blobSize);
    if (text != NULL)
        result->flags |= SR_ENCRYPTED;
    return text;
}

}  // namespace

char* EncryptText(HWND window, const char* source, SmimeResult* result)
{
    EncryptJob job;
    job.window = window;
    job.source = source;
    return EncryptJobText(&job, result);
}

int EncryptMessage(HWND window, LPARAM, SmimeResult* result)
{
    EncryptJob job;
    // Declared after the job: the source goes back to the host before the stores close.
    HostText source(g_host.CompGetSource(window));
    if (source.get() == NULL) {
        ShowMessage(TEXT_NO_SOURCE);
        return 0;
    }
    job.window = window;
    job.source = source.get();
    char* text = EncryptJobText(&job, result);
    return text != NULL && ReplaceComposerText(window, text) ? 1 : 0;
}
