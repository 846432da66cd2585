// zhost's heap: message-sized blocks lie in mappings marked for huge pages.
// This binary links the same allocator as zhost.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

bool KernelOffersHugePages()
{
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string text;
    std::getline(mode, text);
    return !text.empty() && text.find("[never]") == std::string::npos;
}

// The mapping that holds `address`: its line in /proc/self/smaps, then its VmFlags.
std::string Mapping(const void* address)
{
    std::ifstream smaps("/proc/self/smaps");
    std::string line, header;
    while (std::getline(smaps, line)) {
        unsigned long start, end;
        if (sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2 && line.find(':') > line.find(' '))
            header = start <= (uintptr_t)address && (uintptr_t)address < end ? line : "";
        else if (!header.empty() && line.compare(0, 8, "VmFlags:") == 0)
            return header + "\n" + line;
    }
    return "";
}

}  // namespace

TEST(ZhostLargeBlocksTest, MessageSizedBlocksAskForHugePagesAndKeepTheirContents)
{
    if (!KernelOffersHugePages())
        GTEST_SKIP() << "the kernel offers no transparent huge pages";
    const size_t size = 4 << 20;

    char* grown = static_cast<char*>(malloc(64));
    ASSERT_NE(grown, nullptr);
    strcpy(grown, "kept across the move");
    grown = static_cast<char*>(realloc(grown, size));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "kept across the move");
    memset(grown + 64, 'x', size - 64);

    char* zeroed = static_cast<char*>(calloc(size, 1));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(zeroed[0] | zeroed[size / 2] | zeroed[size - 1], 0);

    char* plain = static_cast<char*>(malloc(size));
    ASSERT_NE(plain, nullptr);
    memset(plain, 'y', size);

    for (const char* block : {grown, zeroed, plain})
        EXPECT_NE(Mapping(block).find(" hg"), std::string::npos) << Mapping(block);
    free(grown);
    free(zeroed);
    free(plain);

    // After a large block is freed, glibc would serve the next one from its
    // main heap, whose pages are not marked.
    char* again = static_cast<char*>(malloc(size));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Mapping(again).find("[heap]"), std::string::npos) << Mapping(again);
    EXPECT_NE(Mapping(again).find(" hg"), std::string::npos) << Mapping(again);
    free(again);
}
