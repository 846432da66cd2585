#include "incoming/sender_check.h"

#include <stdlib.h>
#include <string.h>

#include "common/encoding.h"
#include "common/messages.h"
#include "common/text.h"
#include "mime/address.h"
#include "mime/mime_part.h"


static bool SameAddress(const char* a, const char* b)
{
    size_t length = strlen(a);
    return length == strlen(b) && EqualNoCase(a, b, length);
}

// An IA5 name as a wide string against the narrow address.
static bool SameWideAddress(LPCWSTR name, const char* address)
{
    for (; *name != 0 && *address != '\0'; ++name, ++address)
        if (*name > 0x7F || AsciiLower((char)*name) != AsciiLower(*address))
            return false;
    return *name == 0 && *address == '\0';
}

static bool AltNamesHold(PCCERT_CONTEXT cert, const char* address)
{
    PCERT_EXTENSION extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2,
                                                  cert->pCertInfo->cExtension,
                                                  cert->pCertInfo->rgExtension);
    DWORD size = 0;
    if (extension == NULL ||
        !CryptDecodeObject(MESSAGE_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, 0, NULL, &size))
        return false;
    CERT_ALT_NAME_INFO* names = (CERT_ALT_NAME_INFO*)malloc(size);
    bool found = false;
    if (names != NULL && CryptDecodeObject(MESSAGE_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                                           extension->Value.cbData, 0, names, &size)) {
        for (DWORD i = 0; !found && i < names->cAltEntry; ++i) {
            const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
            found = entry.dwAltNameChoice == CERT_ALT_NAME_RFC822_NAME &&
                    SameWideAddress(entry.pwszRfc822Name, address);
        }
    }
    free(names);
    return found;
}

static bool CertificateHolds(PCCERT_CONTEXT cert, const char* address)
{
    char email[ADDRESS_SIZE] = "";
    CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, (void*)szOID_RSA_emailAddr, email,
                       sizeof email);
    return (email[0] != '\0' && SameAddress(email, address)) || AltNamesHold(cert, address);
}

void NoteUnlistedSender(const char* source, PCCERT_CONTEXT signer, SmimeResult* result)
{
    if (source == NULL || signer == NULL)
        return;
    MimePart outer;
    const char* position = source;
    ParseHeaderBlock(&outer, &position);
    char from[ADDRESS_SIZE];
    outer.GetHeader("From", from, sizeof from);
    size_t length = strlen(from);
    while (length > 0 && (from[length - 1] == '\r' || from[length - 1] == '\n'))
        from[--length] = '\0';  // the header line's end
    char address[ADDRESS_SIZE];
    ExtractAddress(address, from);
    if (address[0] != '\0' && !CertificateHolds(signer, address))
        CopyDisplayName(result->unlistedSender, sizeof result->unlistedSender, address);
}
