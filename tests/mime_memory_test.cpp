// Running out of memory: the MIME operations and the platform's Windows API
// functions fail cleanly instead of crashing.
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include <wincrypt.h>

#include "mime/base64.h"
#include "mime/mime_part.h"

namespace {

long VmSizeBytes()
{
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long kib = -1;
    while (fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, "VmSize:", 7) == 0)
            kib = atol(line + 7);
    fclose(f);
    return kib * 1024;
}

// Runs check in a child whose address space may grow by only `room` bytes
// more; returns the child's exit code (check returns it), or -1 if it died.
int WithLittleMemory(long room, int (*check)(const std::string&), const std::string& input)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        malloc_trim(0);
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = (rlim_t)(VmSizeBytes() + room);
        setrlimit(RLIMIT_AS, &limit);
        _exit(check(input));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 0: the parse failed and left an empty part; 1: it did not fail; 2: wrong.
int ParseFails(const std::string& message)
{
    MimePart part;
    const char* position = message.c_str();
    part.Parse(&position, nullptr);
    if (part.headers.head == nullptr && part.body.head == nullptr && part.firstChild == nullptr &&
        part.boundary == nullptr && *position == '\0')
        return 0;
    return part.firstChild != nullptr && part.firstChild->body.head != nullptr ? 1 : 2;
}

int Base64Fails(const std::string& text)
{
    // Far more than the heap of this process can have free: the encoder gives
    // up on its output buffer before it reads any input.
    DWORD length = 99;
    char* encoded = Base64Encode(reinterpret_cast<const BYTE*>(text.data()), 0x30000000, &length);
    return encoded == nullptr && length == 0 ? 0 : 1;
}

std::string BigMessage()
{
    std::string message = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n";
    const std::string line = "MIAGCSqGSIb3DQEHA6CAMIACAQAxggEwMIIBLAIBADCBlDCBjjELMAkGA1UEBhMC\r\n";
    while (message.size() < (24u << 20))
        message += line;
    return message + "--b--\r\n";
}

// 0: the platform answered as Windows does, FALSE and E_OUTOFMEMORY; 1: not.
// Two pieces of detached content are joined before the signature is read.
int DetachedVerifyFails(const std::string& piece)
{
    const BYTE* pieces[2] = {(const BYTE*)piece.data(), (const BYTE*)piece.data()};
    DWORD sizes[2] = {(DWORD)piece.size(), (DWORD)piece.size()};
    CRYPT_VERIFY_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    const BYTE signature[] = {0x30, 0x00};
    BOOL ok = CryptVerifyDetachedMessageSignature(&para, 0, signature, sizeof signature, 2, pieces,
                                                  sizes, NULL);
    return !ok && GetLastError() == E_OUTOFMEMORY ? 0 : 1;
}

// The same for a store function, called when the heap has nothing left.
int StoreOpenFails(const std::string& name)
{
    // Called through a volatile pointer: an optimiser may drop allocations that nothing reads.
    void* (*volatile allocate)(size_t) = malloc;
    for (size_t size = 1 << 20; size > 0; size /= 2)
        while (allocate(size) != nullptr) {
        }
    HCERTSTORE store = CertOpenSystemStoreA(0, name.c_str());
    return store == NULL && GetLastError() == E_OUTOFMEMORY ? 0 : 1;
}

}  // namespace

TEST(MimeMemoryTest, PlatformFunctionsReportMemoryInsteadOfThrowing)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
#else
    EXPECT_EQ(WithLittleMemory(8L << 20, DetachedVerifyFails, std::string(24u << 20, 'x')), 0);
    EXPECT_EQ(WithLittleMemory(8L << 20, StoreOpenFails, "CA"), 0);
#endif
}

TEST(MimeMemoryTest, ParseAndBase64FailCleanlyWithoutMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
#else
    std::string message = BigMessage();
    EXPECT_EQ(WithLittleMemory(8L << 20, ParseFails, message), 0);
    EXPECT_EQ(WithLittleMemory(1L << 20, Base64Fails, message), 0);
    // With room enough the same parse succeeds.
    EXPECT_EQ(WithLittleMemory(4L << 30, ParseFails, message), 1);
#endif
}
