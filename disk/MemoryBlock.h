#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace moravel {

// A zero-filled, page-aligned block of memory, the program's only way of getting
// a buffer for sectors, FATs, chains and clusters. Allocation can fail (the block
// is then empty and tests false), and every site reports that failure itself.
class MemoryBlock {
public:
    MemoryBlock() = default;

    // A zero-filled block of the given size, or an empty block when memory is short.
    // A request of 0 bytes succeeds with a block that holds nothing.
    static MemoryBlock Allocate(std::size_t bytes);

    explicit operator bool() const { return m_valid; }
    std::uint8_t* Data() const { return m_bytes.get(); }
    std::size_t Size() const { return m_size; }
    std::span<std::uint8_t> Bytes() const { return {m_bytes.get(), m_size}; }
    void Release();

private:
    struct Deleter {
        std::size_t mapped;  // the length of a mapped block; 0 for a heap block
        void operator()(std::uint8_t* bytes) const;
    };
    std::unique_ptr<std::uint8_t[], Deleter> m_bytes;
    std::size_t m_size = 0;
    bool m_valid = false;
};

// Test hook: makes the n-th allocation from now on fail (1 = the next one), so that
// every "out of memory" path can be reached. 0 disarms it.
void FailNthAllocation(unsigned n);

}  // namespace moravel
