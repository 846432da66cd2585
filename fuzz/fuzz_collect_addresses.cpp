// Address lists of any text, and single entries into small buffers.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_common.h"
#include "mime/address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SetUpFuzzing(false);
    std::string list(reinterpret_cast<const char*>(data), size);
    size_t length = strlen(list.c_str());

    // Every address is part of its entry, so the output is never longer than the
    // list; empty elements and empty groups give no address.
    std::vector<char> output(length + 1, 'x');
    int count = -1;
    std::string entry = list;
    CollectAddresses(&list[0], output.data(), &count);
    if (length != 0 && (count < 0 || strlen(output.data()) > length || (count == 0 && output[0] != '\0')))
        abort();

    int nameSize = size > 0 ? data[0] % 8 : 1;
    int addressSize = size > 1 ? data[1] % 8 : 1;
    char name[8], address[8];
    SplitAddress(name, nameSize, address, addressSize, entry.c_str());
    if ((nameSize > 0 && strlen(name) >= (size_t)nameSize) ||
        (addressSize > 0 && strlen(address) >= (size_t)addressSize))
        abort();
    return 0;
}
