#pragma once

#include <cstdint>

namespace moravel {

// Every read transfers whole 512-byte sectors, whatever a boot sector claims.
inline constexpr std::uint32_t kSectorSize = 512;

// An unreadable sector reads back as this byte. It is also the mark of a deleted
// directory entry, so an unreadable directory sector yields no entries.
inline constexpr std::uint8_t kUnreadableFill = 0xE5;

inline constexpr std::uint64_t SectorsToBytes(std::uint64_t sectors) {
    return sectors * kSectorSize;
}

}  // namespace moravel
