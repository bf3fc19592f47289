#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Little-endian readers over byte spans. On-disk structures are decoded field by
// field with these, never by casting a packed struct over the bytes: the layout
// then does not depend on the host's byte order or alignment.
namespace moravel {

using ByteSpan = std::span<const std::uint8_t>;

inline std::uint8_t ReadU8(ByteSpan bytes, std::size_t offset) {
    return bytes[offset];
}

inline std::uint16_t ReadLe16(ByteSpan bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline std::uint32_t ReadLe32(ByteSpan bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

inline void WriteLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void WriteLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace moravel
