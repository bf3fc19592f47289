#include "FatChain.h"

#include <optional>

#include "disk/DriveItem.h"

namespace moravel {

namespace {

constexpr std::uint32_t kFat32Mask = 0x0FFFFFFF;

bool KnownKind(std::uint16_t fatKind) {
    return fatKind == Fat12 || fatKind == Fat16 || fatKind == Fat32;
}

}  // namespace

std::uint32_t LastClusterOf(const DriveItem& item) {
    if (item.m_sectorsPerCluster == 0 || item.m_totalSectors <= item.m_dataStart) {
        return 1;
    }
    return 1 + (item.m_totalSectors - item.m_dataStart) / item.m_sectorsPerCluster;
}

std::uint32_t NextCluster(const FatImage& fat, std::uint16_t fatKind, std::uint32_t cluster) {
    const ByteSpan bytes = fat.bytes;
    switch (fatKind) {
        case Fat16: {
            const std::size_t at = 2 * std::size_t{cluster};
            return at + 2 <= bytes.size() ? ReadLe16(bytes, at) : 0;
        }
        case Fat12: {
            const std::size_t at = 3 * std::size_t{cluster} / 2;
            if (at + 2 > bytes.size()) {
                return 0;
            }
            const std::uint16_t pair = ReadLe16(bytes, at);
            return (cluster & 1) != 0 ? pair >> 4 : pair & 0xFFFu;
        }
        case Fat32: {
            const std::size_t at = 4 * std::size_t{cluster & kFat32Mask};
            return at + 4 <= bytes.size() ? ReadLe32(bytes, at) & kFat32Mask : 0;
        }
        default:
            return 0;
    }
}

bool EndsChain(std::uint16_t fatKind, std::uint32_t value, std::uint32_t lastCluster) {
    const std::uint32_t endMarks = fatKind == Fat12   ? 0xFF8
                                   : fatKind == Fat16 ? 0xFFF8
                                                      : 0x0FFFFFF8;
    if (fatKind == Fat32) {
        value &= kFat32Mask;
    }
    return value >= endMarks || value < 2 || value > lastCluster;
}

std::uint32_t CountChain(std::uint32_t firstCluster, std::uint16_t fatKind, const FatImage& fat) {
    if (!KnownKind(fatKind) || EndsChain(fatKind, firstCluster, fat.lastCluster)) {
        return 0;
    }
    // The cluster after c, or nothing where the chain ends.
    const auto step = [&](std::uint32_t c) -> std::optional<std::uint32_t> {
        const std::uint32_t next = NextCluster(fat, fatKind, c);
        if (EndsChain(fatKind, next, fat.lastCluster)) {
            return std::nullopt;
        }
        return next;
    };
    const std::uint32_t first = fatKind == Fat32 ? firstCluster & kFat32Mask : firstCluster;

    // Brent's cycle search: the hare runs ahead, the tortoise waits at powers of
    // two. Linear time and no memory, whatever the table holds. A chain without
    // a cycle ends under the hare.
    std::uint64_t power = 1;
    std::uint32_t cycle = 1;
    std::uint32_t length = 1;
    std::uint32_t tortoise = first;
    std::optional<std::uint32_t> hare = step(first);
    while (hare && *hare != tortoise) {
        if (power == cycle) {
            tortoise = *hare;
            power *= 2;
            cycle = 0;
        }
        hare = step(*hare);
        ++cycle;
        ++length;
    }
    if (!hare) {
        return length;
    }
    // A cycle of `cycle` clusters: the chain holds the clusters before it and one
    // round of it, and ends where it would come back to a cluster it has had.
    std::uint32_t ahead = first;
    for (std::uint32_t i = 0; i < cycle; ++i) {
        ahead = *step(ahead);
    }
    std::uint32_t behind = first;
    std::uint32_t lead = 0;
    while (behind != ahead) {
        behind = *step(behind);
        ahead = *step(ahead);
        ++lead;
    }
    return lead + cycle;
}

std::uint32_t StoreChain(std::uint32_t firstCluster, std::uint16_t fatKind,
                         std::span<std::uint32_t> chain, const FatImage& fat) {
    std::uint32_t cluster = firstCluster;
    for (auto& stored : chain) {
        stored = fatKind == Fat32 ? cluster & kFat32Mask : cluster;
        cluster = NextCluster(fat, fatKind, cluster);
    }
    return cluster;
}

}  // namespace moravel
