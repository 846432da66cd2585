// Base64 decoding of any text; what is decoded encodes and decodes back to itself.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_common.h"
#include "mime/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte chooses whether foreign characters are reported.
    SetUpFuzzing(size > 0 && (data[0] & 1) != 0);
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t length = strlen(text.c_str());

    DWORD count = 0xDEADBEEF;
    BYTE* bytes = Base64Decode(text.c_str(), &count);
    if (bytes == NULL) {
        if (length != 0 || count != 0xDEADBEEF)
            abort();
        return 0;
    }
    if (count > length / 4 * 3)
        abort();

    DWORD encodedLength = 0;
    char* encoded = Base64Encode(bytes, count, &encodedLength);
    if (encoded == NULL || encodedLength != strlen(encoded))
        abort();
    DWORD again = 0;
    BYTE* back = Base64Decode(encoded, &again);
    if (count == 0 ? back != NULL : (back == NULL || again != count || memcmp(back, bytes, count) != 0))
        abort();
    free(back);
    free(encoded);
    free(bytes);
    return 0;
}
