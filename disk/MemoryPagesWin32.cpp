#include <malloc.h>
#include <windows.h>

#include "MemoryPages.h"

namespace moravel {

std::size_t PageSize() {
    static const std::size_t page = [] {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return static_cast<std::size_t>(info.dwPageSize);
    }();
    return page;
}

void* MapPages(std::size_t bytes) {
    // Committed pages come zero-filled and are given memory when first touched.
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void UnmapPages(void* pages, std::size_t bytes) {
    (void)bytes;
    ::VirtualFree(pages, 0, MEM_RELEASE);
}

void* AllocateAligned(std::size_t alignment, std::size_t bytes) {
    return ::_aligned_malloc(bytes, alignment);
}

void FreeAligned(void* block) {
    ::_aligned_free(block);
}

}  // namespace moravel
