// The outer edge of every Windows API function that allocates with the C++
// library: its callers are C and the plug-in, which know only return values
// and the last error, so no exception may leave it. The library throws only
// when memory (or an address range) runs out (std::bad_alloc,
// std::length_error), and Windows then answers with the function's failure
// value and its memory error. The body goes between the two:
//
//     BOOL WINAPI CryptSomething(...)
//     {
//         API_GUARD_BEGIN
//         ...
//         API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
//     }
#pragma once

#include <windows.h>

// crypt32 reports memory as an HRESULT, kernel32 and user32 as an error code.
#define CRYPT_MEMORY_ERROR E_OUTOFMEMORY
#define SYSTEM_MEMORY_ERROR ERROR_NOT_ENOUGH_MEMORY

#define API_GUARD_BEGIN try {
#define API_GUARD_END(failure, memoryError) \
    }                                        \
    catch (...)                              \
    {                                        \
        SetLastError(memoryError);           \
        return failure;                      \
    }
