// The calling thread's last error and the system message table.
#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <wincrypt.h>
#include "api_guard.h"

namespace {

thread_local DWORD t_lastError = 0;

struct SystemMessage {
    DWORD code;
    const char* text;
};

// English texts as Windows has them; FormatMessageA adds the line end.
const SystemMessage kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_INVALID_PASSWORD, "The specified network password is not correct."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DLL_INIT_FAILED, "A dynamic link library (DLL) initialization routine failed."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {NTE_BAD_KEY, "Bad Key."},
    {NTE_BAD_DATA, "Bad Data."},
    {NTE_BAD_SIGNATURE, "Invalid Signature."},
    {NTE_BAD_ALGID, "Invalid algorithm specified."},
    {NTE_NO_KEY, "Key does not exist."},
    {NTE_NO_MEMORY, "Insufficient memory available for the operation."},
    {CRYPT_E_MSG_ERROR, "An error occurred while performing an operation on a cryptographic message."},
    {CRYPT_E_UNKNOWN_ALGO, "Unknown cryptographic algorithm."},
    {CRYPT_E_OID_FORMAT, "The object identifier is poorly formatted."},
    {CRYPT_E_INVALID_MSG_TYPE, "Invalid cryptographic message type."},
    {CRYPT_E_UNEXPECTED_ENCODING, "Unexpected cryptographic message encoding."},
    {CRYPT_E_AUTH_ATTR_MISSING, "The cryptographic message does not contain an expected authenticated attribute."},
    {CRYPT_E_HASH_VALUE, "The hash value is not correct."},
    {CRYPT_E_INVALID_INDEX, "The index value is not valid."},
    {CRYPT_E_ALREADY_DECRYPTED, "The content of the cryptographic message has already been decrypted."},
    {CRYPT_E_NOT_DECRYPTED, "The content of the cryptographic message has not been decrypted yet."},
    {CRYPT_E_RECIPIENT_NOT_FOUND, "The enveloped-data message does not contain the specified recipient."},
    {CRYPT_E_CONTROL_TYPE, "Invalid control type."},
    {CRYPT_E_ISSUER_SERIALNUMBER, "Invalid issuer and/or serial number."},
    {CRYPT_E_SIGNER_NOT_FOUND, "Cannot find the original signer."},
    {CRYPT_E_ATTRIBUTES_MISSING, "The cryptographic message does not contain all of the requested attributes."},
    {CRYPT_E_STREAM_MSG_NOT_READY, "The streamed cryptographic message is not ready to return data."},
    {CRYPT_E_STREAM_INSUFFICIENT_DATA, "The streamed cryptographic message requires more data to complete the decode operation."},
    {CRYPT_E_BAD_LEN, "The length specified for the output data was insufficient."},
    {CRYPT_E_BAD_ENCODE, "An error occurred during encode or decode operation."},
    {CRYPT_E_FILE_ERROR, "An error occurred while reading or writing to a file."},
    {CRYPT_E_NOT_FOUND, "Cannot find object or property."},
    {CRYPT_E_EXISTS, "The object or property already exists."},
    {CRYPT_E_NO_PROVIDER, "No provider was specified for the store or object."},
    {CRYPT_E_SELF_SIGNED, "The specified certificate is self signed."},
    {CRYPT_E_DELETED_PREV, "The previous certificate or certificate revocation list (CRL) context was deleted."},
    {CRYPT_E_NO_MATCH, "Cannot find the requested object."},
    {CRYPT_E_UNEXPECTED_MSG_TYPE, "The type of the cryptographic message being decoded is different than what was expected."},
    {CRYPT_E_NO_KEY_PROPERTY, "The certificate does not have a property that references a private key."},
    {CRYPT_E_NO_DECRYPT_CERT, "Cannot find the certificate and private key to use for decryption."},
    {CRYPT_E_BAD_MSG, "Not a cryptographic message or the cryptographic message is not formatted correctly."},
    {CRYPT_E_NO_SIGNER, "The signed cryptographic message does not have a signer for the specified signer index."},
    {CRYPT_E_PENDING_CLOSE, "Final closure is pending until additional frees or closes."},
    {CRYPT_E_ASN1_ERROR, "ASN1 internal encode or decode error."},
    {CRYPT_E_ASN1_INTERNAL, "ASN1 internal encode or decode error."},
    {CRYPT_E_ASN1_EOD, "ASN1 unexpected end of data."},
    {CRYPT_E_ASN1_CORRUPT, "ASN1 corrupted data."},
    {CRYPT_E_ASN1_LARGE, "ASN1 value too large."},
    {CRYPT_E_ASN1_MEMORY, "ASN1 out of memory."},
    {CRYPT_E_ASN1_BADTAG, "ASN1 bad tag value met."},
};

const char* FindMessage(DWORD code)
{
    for (const SystemMessage& m : kMessages)
        if (m.code == code)
            return m.text;
    return nullptr;
}

}  // namespace

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return t_lastError;
}

void WINAPI SetLastError(DWORD code)
{
    t_lastError = code;
}

HLOCAL WINAPI LocalAlloc(UINT flags, size_t bytes)
{
    void* memory = (flags & LMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (memory == nullptr)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return memory;
}

HLOCAL WINAPI LocalFree(HLOCAL memory)
{
    free(memory);
    return nullptr;
}

// Only the system message table is offered; inserts are never expanded.
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD /*languageId*/,
                            LPSTR buffer, DWORD size, void* /*arguments*/)
{
    API_GUARD_BEGIN
    const char* text = (flags & FORMAT_MESSAGE_FROM_SYSTEM) ? FindMessage(messageId) : nullptr;
    if (text == nullptr) {
        if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER)
            *(LPSTR*)buffer = nullptr;
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    size_t length = strlen(text) + 2;  // with "\r\n", as Windows' texts end
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        char* out = (char*)LocalAlloc(LMEM_FIXED, length + 1);
        if (out == nullptr) {
            *(LPSTR*)buffer = nullptr;
            return 0;
        }
        memcpy(out, text, length - 2);
        memcpy(out + length - 2, "\r\n", 3);
        *(LPSTR*)buffer = out;
        return (DWORD)length;
    }
    if (buffer == nullptr || size < length + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(buffer, text, length - 2);
    memcpy(buffer + length - 2, "\r\n", 3);
    return (DWORD)length;
    API_GUARD_END((DWORD)0, SYSTEM_MEMORY_ERROR)
}

}  // extern "C"
