#include "incoming/cms_info.h"

#include <stdlib.h>
#include <string.h>

#include <wincrypt.h>

#include "common/encoding.h"
#include "common/guards.h"
#include "common/messages.h"
#include "common/size_query.h"

static void WriteError(SmimeResult* result, const char* text)
{
    if (result != NULL)
        SET_RESULT_TEXT(result->errorText, text);
}

struct AlgorithmName {
    const char* oid;
    const char* name;
};

static const AlgorithmName kHashNames[] = {
    {szOID_RSA_MD5, "MD5"},
    {szOID_OIWSEC_sha1, "SHA-1"},
    {szOID_OIWSEC_dsaSHA1, "SHA-1 (DSA)"},
    {"2.16.840.1.101.3.4.2.4", "SHA-224"},
    {"2.16.840.1.101.3.4.2.1", "SHA-256"},
    {"2.16.840.1.101.3.4.2.2", "SHA-384"},
    {"2.16.840.1.101.3.4.2.3", "SHA-512"},
};

// RC2 is named by its parameters (Rc2Name); these by the identifier alone.
static const AlgorithmName kCipherNames[] = {
    {szOID_OIWSEC_desCBC, "DES"},
    {szOID_RSA_DES_EDE3_CBC, "3DES"},
    {"2.16.840.1.101.3.4.1.2", "AES (128bit)"},
    {"2.16.840.1.101.3.4.1.22", "AES (192bit)"},
    {"2.16.840.1.101.3.4.1.42", "AES (256bit)"},
};

// The display name of a known identifier, else the identifier itself.
template <size_t N>
static const char* NameOf(const AlgorithmName (&names)[N], const char* oid)
{
    for (const AlgorithmName& entry : names)
        if (strcmp(oid, entry.oid) == 0)
            return entry.name;
    return oid;
}

static const char* Rc2Name(const CRYPT_ALGORITHM_IDENTIFIER* algorithm)
{
    CRYPT_RC2_CBC_PARAMETERS parameters;
    memset(&parameters, 0, sizeof(parameters));
    DWORD size = sizeof(parameters);
    if (!CryptDecodeObject(MESSAGE_ENCODING, PKCS_RC2_CBC_PARAMETERS, algorithm->Parameters.pbData,
                           algorithm->Parameters.cbData, 0, &parameters, &size))
        return "RC2";
    switch (parameters.dwVersion) {
    case CRYPT_RC2_40BIT_VERSION:
        return "RC2 (40bit)";
    case CRYPT_RC2_56BIT_VERSION:
        return "RC2 (56bit)";
    case CRYPT_RC2_64BIT_VERSION:
        return "RC2 (64bit)";
    case CRYPT_RC2_128BIT_VERSION:
        return "RC2 (128bit)";
    default:
        return "RC2";
    }
}

static const char* CipherName(const char* oid, const CRYPT_ALGORITHM_IDENTIFIER* algorithm)
{
    if (strcmp(oid, szOID_RSA_RC2CBC) == 0)
        return Rc2Name(algorithm);
    return NameOf(kCipherNames, oid);
}

// An algorithm parameter as CryptMsgGetParam writes it (the identifier, then
// what it points to), in a zeroed buffer larger than the identifier itself so
// that a short answer cannot be overread.
enum { ALGORITHM_PARAM_ESTIMATE = 256 };
static_assert(ALGORITHM_PARAM_ESTIMATE > sizeof(CRYPT_ALGORITHM_IDENTIFIER), "room for the identifier");

static SizeQueryOutcome ReadAlgorithmParam(HCRYPTMSG message, DWORD type, HeapBuffer<BYTE>* param)
{
    BYTE* buffer = NULL;
    DWORD size = 0;
    SizeQueryOutcome outcome = QueryIntoNewBuffer(
        ALGORITHM_PARAM_ESTIMATE,
        [&](BYTE* out, DWORD* outSize) { return CryptMsgGetParam(message, type, 0, out, outSize); },
        &buffer, &size);
    param->Reset(buffer);
    return outcome;
}

static const CRYPT_ALGORITHM_IDENTIFIER* Identifier(const HeapBuffer<BYTE>& param)
{
    return reinterpret_cast<const CRYPT_ALGORITHM_IDENTIFIER*>(param.get());
}

static const char* ObjectId(const HeapBuffer<BYTE>& param)
{
    const char* oid = Identifier(param)->pszObjId;
    return oid != NULL ? oid : "";
}

static void NameHashAlgorithm(HCRYPTMSG message, SmimeResult* result)
{
    HeapBuffer<BYTE> param;
    switch (ReadAlgorithmParam(message, CMSG_SIGNER_HASH_ALGORITHM_PARAM, &param)) {
    case QUERY_FAILED:
        WriteError(result, TEXT_CMS_HASH_SIZE_FAILED);
        break;
    case QUERY_NO_MEMORY:
        WriteError(result, TEXT_CMS_ALLOCATION_FAILED);
        break;
    case QUERY_REFILL_FAILED:
        WriteError(result, TEXT_CMS_HASH_FAILED);
        break;
    case QUERY_DONE:
        SET_RESULT_TEXT(result->hashAlgName, NameOf(kHashNames, ObjectId(param)));
        break;
    }
}

static void NameCipher(HCRYPTMSG message, SmimeResult* result)
{
    HeapBuffer<BYTE> param;
    switch (ReadAlgorithmParam(message, CMSG_ENVELOPE_ALGORITHM_PARAM, &param)) {
    case QUERY_FAILED:
        WriteError(result, TEXT_CMS_CIPHER_SIZE_FAILED);
        break;
    case QUERY_NO_MEMORY:
        ShowMessage(TEXT_CMS_ALLOCATION_FAILED);
        break;
    case QUERY_REFILL_FAILED:
        WriteError(result, TEXT_CMS_CIPHER_FAILED);
        break;
    case QUERY_DONE:
        SET_RESULT_TEXT(result->encAlgName, CipherName(ObjectId(param), Identifier(param)));
        break;
    }
}

// Reads the type of the whole object; 0 with the failing step's text.
static DWORD ReadMessageType(HCRYPTMSG message, const BYTE* der, DWORD count, SmimeResult* result)
{
    if (!CryptMsgUpdate(message, der, count, TRUE)) {
        WriteError(result, TEXT_CMS_UPDATE_FAILED);
        return 0;
    }
    DWORD type = 0;
    DWORD size = sizeof(type);
    if (!CryptMsgGetParam(message, CMSG_TYPE_PARAM, 0, &type, &size)) {
        WriteError(result, TEXT_CMS_TYPE_FAILED);
        return 0;
    }
    return type;
}

DWORD InspectCmsMessage(const BYTE* der, DWORD count, SmimeResult* result)
{
    HCRYPTMSG message = CryptMsgOpenToDecode(MESSAGE_ENCODING, 0, 0, 0, NULL, NULL);
    if (message == NULL) {
        WriteError(result, TEXT_CMS_OPEN_FAILED);
        return 0;
    }
    DWORD type = ReadMessageType(message, der, count, result);
    if (type != 0 && result != NULL) {
        if (type == CMSG_SIGNED)
            NameHashAlgorithm(message, result);
        else if (type == CMSG_ENVELOPED)
            NameCipher(message, result);
        else
            WriteError(result, TEXT_WRONG_MESSAGE_TYPE);
    }
    CryptMsgClose(message);
    return type;
}
