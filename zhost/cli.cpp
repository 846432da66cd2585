// Helpers shared by the commands of the command line.
#include <stdio.h>

#include "zhost/cli.h"

int UsageError(const std::string& message)
{
    fprintf(stderr, "zhost: %s\n", message.c_str());
    return EXIT_USAGE;
}

bool ReadFileBytes(const std::string& path, std::string* bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == NULL)
        return false;
    char chunk[65536];
    size_t n;
    bytes->clear();
    if (fseek(f, 0, SEEK_END) == 0) {
        long size = ftell(f);
        if (size > 0)
            bytes->reserve((size_t)size);
        rewind(f);
    }
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->append(chunk, n);
    fclose(f);
    return true;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == NULL)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}
