#pragma once

#include <cstdint>
#include <span>

#include "disk/ByteOrder.h"

namespace moravel {

struct DriveItem;

// A volume's allocation table in memory, with the highest cluster number that
// the volume's data region holds: a chain never leaves the image or the volume.
struct FatImage {
    ByteSpan bytes;
    std::uint32_t lastCluster = 0x0FFFFFFF;
};

// The highest data cluster of the volume that the item lies in (1 when it has none).
std::uint32_t LastClusterOf(const DriveItem& item);

// The table entry of cluster c; 0 (free, so a chain ends) when it lies outside the image.
std::uint32_t NextCluster(const FatImage& fat, std::uint16_t fatKind, std::uint32_t cluster);

// True when a chain ends at this value: 0, an end mark of the kind (FAT12 from
// 0xFF8, FAT16 from 0xFFF8, FAT32 from 0x0FFFFFF8 after masking), or any number
// that is no data cluster of the volume.
bool EndsChain(std::uint16_t fatKind, std::uint32_t value, std::uint32_t lastCluster);

// The number of clusters in the chain that starts at firstCluster; 0 for an empty
// chain or a kind other than FAT12, FAT16 or FAT32. A chain that runs in a cycle
// ends before its first repeated cluster: every cluster it counts is a different
// one. Linear time in the chain's length, no memory.
std::uint32_t CountChain(std::uint32_t firstCluster, std::uint16_t fatKind, const FatImage& fat);

// Stores the first chain.size() cluster numbers of the chain into chain; returns
// the cluster number that follows the last one stored. No end test: the caller's
// count decides.
std::uint32_t StoreChain(std::uint32_t firstCluster, std::uint16_t fatKind,
                         std::span<std::uint32_t> chain, const FatImage& fat);

}  // namespace moravel
