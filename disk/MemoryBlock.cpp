#include "MemoryBlock.h"

#include <cstdlib>

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
}  // namespace

void FailNthAllocation(unsigned n) {
    g_allocationsUntilFailure = n;
}

void MemoryBlock::FreeDeleter::operator()(std::uint8_t* bytes) const {
    std::free(bytes);
}

MemoryBlock MemoryBlock::Allocate(std::size_t bytes) {
    MemoryBlock block;
    if (InjectedFailureDue()) {
        return block;
    }
    // calloc hands large blocks out as fresh zero pages, so a FAT-sized buffer
    // costs nothing until it is read into.
    auto* memory = static_cast<std::uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1));
    if (memory == nullptr) {
        return block;
    }
    block.m_bytes.reset(memory);
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
