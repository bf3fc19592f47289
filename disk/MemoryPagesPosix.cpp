#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "MemoryPages.h"

namespace moravel {

namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

}  // namespace

std::size_t PageSize() {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

void* MapPages(std::size_t bytes) {
    void* mapped =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
#ifdef MADV_HUGEPAGE
    // A large disk's FAT is over a hundred megabytes: in huge pages it is
    // mapped in and given back many times faster than page by page. Only
    // a hint, so its failure does not matter.
    if (bytes >= kHugePageBytes) {
        ::madvise(mapped, bytes, MADV_HUGEPAGE);
    }
#endif
    return mapped;
}

void UnmapPages(void* pages, std::size_t bytes) {
    ::munmap(pages, bytes);
}

void* AllocateAligned(std::size_t alignment, std::size_t bytes) {
    void* heap = nullptr;
    return ::posix_memalign(&heap, alignment, bytes) == 0 ? heap : nullptr;
}

void FreeAligned(void* block) {
    std::free(block);
}

}  // namespace moravel
