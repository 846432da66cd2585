// Large heap blocks on transparent huge pages (zhost's POSIX build).
//
// Host and plug-in hand whole messages to each other as copies, and every copy
// lands in memory that the process has never touched. With 4 KB pages each
// first touch is a kernel fault; on a virtual machine a 10 MB copy costs more
// in faults than the plug-in spends hashing it. So blocks of a megabyte and
// more get mappings of their own, marked for huge pages, which is what glibc's
// "glibc.malloc.hugetlb=1" tunable does. An executable's malloc comes first in
// symbol lookup: the plug-in's and OpenSSL's allocations take this path too.
// Freeing stays glibc's own, since every block is glibc's.
//
// Not linked into sanitizer builds, whose runtime owns malloc.
#include <errno.h>
#include <malloc.h>
#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_COLLAPSE
#define MADV_COLLAPSE 25 // Linux 6.1; older kernels refuse it, which costs one syscall
#endif

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* block, size_t size);

namespace {

const size_t kLargeBlock = 1 << 20;
const uintptr_t kHugePage = 2 << 20;

void AdviseHugePages(void* block, size_t size)
{
    if (block == nullptr || size < kLargeBlock)
        return;
    int callerErrno = errno;  // a successful malloc leaves errno alone
    uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    uintptr_t start = (uintptr_t)block & ~(page - 1);
    uintptr_t end = ((uintptr_t)block + size + page - 1) & ~(page - 1);
    // Advice only: where the kernel has no huge pages the block keeps small ones.
    if (madvise((void*)start, end - start, MADV_HUGEPAGE) == 0) {
        // glibc wrote the block's header before the advice. Where the mapping
        // starts on a huge-page boundary, that one small page would keep the
        // whole first 2 MB on small pages, so that range is made huge now.
        uintptr_t head = (uintptr_t)block & ~(kHugePage - 1);
        if (head == start && head + kHugePage <= end)
            madvise((void*)head, kHugePage, MADV_COLLAPSE);
    }
    errno = callerErrno;
}

// A fixed threshold keeps every large block in a mapping of its own. glibc's
// moving threshold would carve later ones out of the main heap, whose pages
// are not marked.
__attribute__((constructor)) void KeepLargeBlocksMapped()
{
    mallopt(M_MMAP_THRESHOLD, kLargeBlock);
}

} // namespace

extern "C" void* malloc(size_t size)
{
    void* block = __libc_malloc(size);
    AdviseHugePages(block, size);
    return block;
}

extern "C" void* calloc(size_t count, size_t size)
{
    void* block = __libc_calloc(count, size);
    if (block != nullptr) // glibc refuses a product that overflows
        AdviseHugePages(block, count * size);
    return block;
}

extern "C" void* realloc(void* block, size_t size)
{
    void* moved = __libc_realloc(block, size);
    AdviseHugePages(moved, size);
    return moved;
}
