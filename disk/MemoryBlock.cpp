#include "MemoryBlock.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "MemoryPages.h"

namespace moravel {

namespace {

// Allocations still to go before the injected failure; 0 when none is armed.
unsigned g_allocationsUntilFailure = 0;

bool InjectedFailureDue() {
    if (g_allocationsUntilFailure == 0) {
        return false;
    }
    return --g_allocationsUntilFailure == 0;
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
        UnmapPages(bytes, mapped);
    } else {
        FreeAligned(bytes);
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
        void* mapped = MapPages(rounded);
        if (mapped == nullptr) {
            return block;
        }
        memory = static_cast<std::uint8_t*>(mapped);
        block.m_bytes = std::unique_ptr<std::uint8_t[], Deleter>(memory, Deleter{rounded});
    } else {
        // The heap block is exactly as large as asked, so that the sanitizers
        // catch a read past its end.
        void* heap =
            AllocateAligned(page, kAddressSanitizer ? std::max<std::size_t>(bytes, 1) : rounded);
        if (heap == nullptr) {
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
