// The caller's side of the crypt32 functions that write into a caller's
// buffer (the message functions, CryptEncodeObject, CryptMsgGetParam).
#pragma once

#include <stdlib.h>
#include <string.h>

#include <windows.h>

enum SizeQueryOutcome {
    QUERY_DONE,          // *out holds *size bytes
    QUERY_FAILED,        // the first call failed (for a reason other than the size)
    QUERY_NO_MEMORY,     // no buffer could be had
    QUERY_REFILL_FAILED  // the call with the size the function asked for failed
};

// Runs call(buffer, &size) into a new buffer of `estimate` bytes, a good upper
// bound of the output, so that one call usually does the work. When the
// function answers ERROR_MORE_DATA with the size it needs, the call is made
// once more into a buffer of that size. On QUERY_DONE *out is a new buffer
// (free(); the caller owns it) with zero bytes after the *size bytes written,
// up to the end of the buffer and one beyond;
// otherwise *out is null and the function's last error stands.
// The largest buffer asked for: its size and the zero byte after it fit any size_t.
enum : DWORD { SIZE_QUERY_LIMIT = 0x7FFFFFFF };

// a + b, or SIZE_QUERY_LIMIT when that is larger: for building estimates.
inline DWORD SizeEstimate(size_t a, size_t b)
{
    return a > SIZE_QUERY_LIMIT || b > SIZE_QUERY_LIMIT - a ? (DWORD)SIZE_QUERY_LIMIT : (DWORD)(a + b);
}

template <typename Call>
SizeQueryOutcome QueryIntoNewBuffer(DWORD estimate, Call call, BYTE** out, DWORD* size)
{
    *out = NULL;
    DWORD capacity = estimate < SIZE_QUERY_LIMIT ? estimate : (DWORD)SIZE_QUERY_LIMIT;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Not zeroed at first: a large buffer is only touched where it is written.
        BYTE* buffer = (BYTE*)malloc((size_t)capacity + 1);
        if (buffer == NULL)
            return QUERY_NO_MEMORY;
        DWORD written = capacity;
        if (call(buffer, &written) && written <= capacity) {
            memset(buffer + written, 0, (size_t)(capacity - written) + 1);
            *out = buffer;
            *size = written;
            return QUERY_DONE;
        }
        DWORD error = GetLastError();
        free(buffer);
        SetLastError(error);
        if (error != ERROR_MORE_DATA || written <= capacity)
            return attempt == 0 ? QUERY_FAILED : QUERY_REFILL_FAILED;
        if (written > SIZE_QUERY_LIMIT)
            return QUERY_NO_MEMORY;
        capacity = written;
    }
    return QUERY_REFILL_FAILED;
}
