// Helpers shared by the commands of the command line.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif

#include "zhost/cli.h"

int UsageError(const std::string& message)
{
    fprintf(stderr, "zhost: %s\n", message.c_str());
    return EXIT_USAGE;
}

bool ReadFileBytes(const std::string& path, std::string* bytes, size_t room)
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
            bytes->reserve((size_t)size + room);
        rewind(f);
    }
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->append(chunk, n);
    fclose(f);
    return true;
}

// The output may be a decrypted message: it is the user's alone, also when
// the file was there before with a wider mode.
bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0600);
    if (fd < 0)
        return false;
#ifndef _WIN32
    if (fchmod(fd, 0600) != 0) {
        close(fd);
        return false;
    }
#endif
    FILE* f = fdopen(fd, "wb");
    if (f == NULL) {
        close(fd);
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}
