#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "disk/DriveSources.h"
#include "tree/DriveTree.h"

namespace moravel::cli {

// The absolute sector where a cluster of the item's volume begins.
std::uint64_t ClusterLba(const DriveItem& item, std::uint32_t cluster);

// The FAT of the volume of the items that a listing or a report shows, read
// through the drive tree's pages of it. A volume whose FAT could not be read
// where a chain ran (a sector lost in both copies, or a FAT that does not fit) is
// not tried again: its chains are left out, and that is told once.
class FatCache {
public:
    explicit FatCache(DriveTree& access) : m_access(access) {}

    enum class Outcome {
        Ready,        // Fat() is the FAT of the item's volume
        Failed,       // it could not be read just now
        FailedBefore  // the same volume's FAT failed already
    };
    Outcome Load(const DriveItem& item);

    // The chain of an item of the volume last loaded, with its first keepRuns
    // runs; nothing when it runs into a FAT sector that could not be read (the
    // volume then counts as failed).
    std::optional<ChainShape> Measure(const DriveItem& item, std::size_t keepRuns);

    // The FAT last loaded, and the number of table entries it holds.
    const FatImage& Fat() const { return m_fat; }
    std::uint64_t Entries() const;

private:
    using Key = std::tuple<std::uint16_t, std::uint32_t, std::uint16_t, std::uint32_t>;
    static Key KeyOf(const DriveItem& item);

    DriveTree& m_access;
    FatKind m_fatKind = FatKind::Unknown;
    FatImage m_fat;
    std::set<Key> m_failed;
};

// A FAT volume as its boot sector describes it.
struct VolumeDetails {
    std::uint32_t sectors = 0;  // the volume's total sectors
    std::uint16_t fatBits = 0;  // 12, 16 or 32
    std::uint32_t clusterBytes = 0;
    std::string label;  // UTF-8 without trailing blanks; empty when it has none
};

enum class BootRead { Read, Unreadable, NotFat };

// Reads the boot sector of a volume item (a partition, a floppy, a disk formatted
// whole) and decodes it the way the drive tree does: NotFat for a sector that
// holds no FAT volume the program can read (an unformatted partition, say).
BootRead ReadVolumeDetails(DriveTree& access, const DriveItem& volume, VolumeDetails& details);

// What a listing or a report adds to an item beyond its own fields: what had to
// be read for it. Each part is left out where it could not be had.
struct ItemDetails {
    std::optional<ChainShape> chain;  // a directory entry's or FAT32 root's chain
    std::optional<VolumeDetails> volume;
    std::optional<std::string> source;   // a disk's image file or device
    std::optional<std::uint64_t> bytes;  // a disk's or volume's size
    std::optional<DiskDetails> disk;     // a disk's device, model, serial and bus
};

}  // namespace moravel::cli
