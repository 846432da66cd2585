// Text services: wsprintfA, the ANSI code page (932, Shift-JIS) and conversions.
#include <errno.h>
#include <iconv.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <string>

#include <windows.h>
#include "api_guard.h"

namespace {

// The code page the module's texts are in.
const UINT kAnsiCodePage = 932;

const char* IconvName(UINT codePage)
{
    switch (codePage) {
    case CP_ACP:
    case 932:
        return "CP932";
    case CP_UTF8:
        return "UTF-8";
    default:
        return nullptr;
    }
}

// Converts with iconv; unconvertible input becomes '?' (or U+003F).
std::string Convert(const char* from, const char* to, const char* input, size_t length,
                    size_t unitSize)
{
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1)
        return out;
    char* in = const_cast<char*>(input);
    size_t inLeft = length;
    char buffer[4096];
    while (inLeft > 0) {
        char* o = buffer;
        size_t oLeft = sizeof buffer;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, o - buffer);
        if (r == (size_t)-1 && errno != E2BIG) {
            // Skip one unit of the input and write a replacement.
            size_t skip = unitSize > inLeft ? inLeft : unitSize;
            in += skip;
            inLeft -= skip;
            char q[4] = {'?', 0, 0, 0};
            char* qi = q;
            size_t qLeft = 1;
            char* qo = buffer;
            size_t qoLeft = sizeof buffer;
            iconv_t back = iconv_open(to, "ASCII");
            if (back != (iconv_t)-1) {
                iconv(back, &qi, &qLeft, &qo, &qoLeft);
                iconv_close(back);
                out.append(buffer, qo - buffer);
            }
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace

extern "C" {

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    // wsprintfA writes at most 1024 bytes, terminator included.
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, 1024, format, args);
    va_end(args);
    if (n < 0)
        return 0;
    return n > 1023 ? 1023 : n;
}

BOOL WINAPI IsDBCSLeadByteEx(UINT codePage, BYTE c)
{
    if (codePage != CP_ACP && codePage != kAnsiCodePage)
        return FALSE;
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

BOOL WINAPI IsDBCSLeadByte(BYTE c)
{
    return IsDBCSLeadByteEx(CP_ACP, c);
}

LPSTR WINAPI CharNextA(LPCSTR p)
{
    if (*p == '\0')
        return const_cast<LPSTR>(p);
    if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0')
        return const_cast<LPSTR>(p + 2);
    return const_cast<LPSTR>(p + 1);
}

UINT WINAPI GetACP(void)
{
    return kAnsiCodePage;
}

int WINAPI lstrlenA(LPCSTR s)
{
    return s == nullptr ? 0 : (int)strlen(s);
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b)
{
    return strcasecmp(a, b);
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft)
{
    // 100-nanosecond intervals since 1601-01-01.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long t = (unsigned long long)now.tv_sec * 10000000ULL +
                           (unsigned long long)now.tv_nsec / 100ULL + 116444736000000000ULL;
    ft->dwLowDateTime = (DWORD)t;
    ft->dwHighDateTime = (DWORD)(t >> 32);
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD /*flags*/, LPCSTR text, int length,
                               LPWSTR wide, int wideSize)
{
    API_GUARD_BEGIN
    const char* from = IconvName(codePage);
    if (from == nullptr || text == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t bytes = length < 0 ? strlen(text) + 1 : (size_t)length;
    std::string utf16 = Convert(from, "UTF-16LE", text, bytes, 1);
    int units = (int)(utf16.size() / 2);
    if (wideSize == 0)
        return units;
    if (units > wideSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(wide, utf16.data(), utf16.size());
    return units;
    API_GUARD_END(0, SYSTEM_MEMORY_ERROR)
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD /*flags*/, LPCWSTR wide, int wideLength,
                               LPSTR text, int size, LPCSTR /*defaultChar*/, BOOL* usedDefault)
{
    API_GUARD_BEGIN
    const char* to = IconvName(codePage);
    if (to == nullptr || wide == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t units = 0;
    if (wideLength < 0) {
        while (wide[units] != 0)
            ++units;
        ++units;
    } else {
        units = (size_t)wideLength;
    }
    std::string out = Convert("UTF-16LE", to, (const char*)wide, units * 2, 2);
    if (usedDefault != nullptr)
        *usedDefault = FALSE;
    if (size == 0)
        return (int)out.size();
    if ((int)out.size() > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(text, out.data(), out.size());
    return (int)out.size();
    API_GUARD_END(0, SYSTEM_MEMORY_ERROR)
}

}  // extern "C"
