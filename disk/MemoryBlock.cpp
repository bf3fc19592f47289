#include "MemoryBlock.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace moravel {

namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Allocations still to go before the injected failure; 0 when none is armed.
unsigned g_allocationsUntilFailure = 0;

bool InjectedFailureDue() {
    if (g_allocationsUntilFailure == 0) {
        return false;
    }
    return --g_allocationsUntilFailure == 0;
}

std::size_t PageSize() {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

// Blocks from this size on are mapped straight from the kernel: they come
// zero-filled without being written, and cost nothing until they are read into.
constexpr std::size_t kMappedFrom = 256 * 1024;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

}  // namespace

void FailNthAllocation(unsigned n) {
    g_allocationsUntilFailure = n;
}

void MemoryBlock::Deleter::operator()(std::uint8_t* bytes) const {
    if (mapped != 0) {
        ::munmap(bytes, mapped);
    } else {
        std::free(bytes);
    }
}

MemoryBlock MemoryBlock::Allocate(std::size_t bytes) {
    MemoryBlock block;
    if (InjectedFailureDue()) {
        return block;
    }
    // Page-aligned, always: the kernel copies from the page cache into an
    // aligned buffer several times faster than into one that is merely 16-byte
    // aligned, and the copy's reads are most of its time.
    const std::size_t page = PageSize();
    if (bytes > SIZE_MAX - page) {
        return block;
    }
    const std::size_t rounded = bytes == 0 ? page : (bytes + page - 1) / page * page;
    std::uint8_t* memory = nullptr;
    // The address sanitizer watches the edges of heap blocks only, so its
    // builds take every block from the heap.
    if (rounded >= kMappedFrom && !kAddressSanitizer) {
        void* mapped =
            ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            return block;
        }
        memory = static_cast<std::uint8_t*>(mapped);
#ifdef MADV_HUGEPAGE
        // A large disk's FAT is over a hundred megabytes: in huge pages it is
        // mapped in and given back many times faster than page by page. Only
        // a hint, so its failure does not matter.
        if (rounded >= kHugePageBytes) {
            ::madvise(mapped, rounded, MADV_HUGEPAGE);
        }
#endif
        block.m_bytes = std::unique_ptr<std::uint8_t[], Deleter>(memory, Deleter{rounded});
    } else {
        // The heap block is exactly as large as asked, so that the sanitizers
        // catch a read past its end.
        void* heap = nullptr;
        if (::posix_memalign(&heap, page,
                             kAddressSanitizer ? std::max<std::size_t>(bytes, 1) : rounded) != 0) {
            return block;
        }
        memory = static_cast<std::uint8_t*>(heap);
        std::memset(memory, 0, bytes);
        block.m_bytes = std::unique_ptr<std::uint8_t[], Deleter>(memory, Deleter{0});
    }
    block.m_size = bytes;
    block.m_valid = true;
    return block;
}

void MemoryBlock::Release() {
    m_bytes.reset();
    m_size = 0;
    m_valid = false;
}

}  // namespace moravel
