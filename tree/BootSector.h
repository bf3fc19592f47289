#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "disk/ByteOrder.h"
#include "disk/ItemKinds.h"

namespace moravel {

// The fields of a FAT volume's boot sector that the program uses. Nothing else of
// the sector is read: neither the hidden-sectors field nor the 0x55 0xAA mark.
struct BootSector {
    std::uint16_t bytesPerSector = 0;
    std::uint8_t sectorsPerCluster = 0;
    std::uint16_t reservedSectors = 0;
    std::uint8_t fatCount = 0;
    std::uint16_t rootEntries = 0;
    std::uint16_t totalSectors16 = 0;
    std::uint16_t sectorsPerFat16 = 0;
    std::uint16_t sectorsPerTrack = 0;
    std::uint16_t heads = 0;
    std::uint32_t totalSectors32 = 0;
    std::uint32_t sectorsPerFat32 = 0;
    std::uint32_t rootCluster = 0;

    // The 16-bit count when it is nonzero, else the 32-bit one.
    std::uint32_t TotalSectors() const;
    std::uint32_t SectorsPerFat(FatKind fatKind) const;
    // The sectors of a fixed root directory (none on FAT32, whose root is a chain),
    // rounded down as the volume's layout counts them (the kernel and mtools too).
    std::uint32_t RootSectors() const;
    // Every read and every cluster counts sectors of 512 bytes, so a volume whose
    // sectors are of another size (or of none: an unformatted partition, say), or
    // whose clusters hold no sector, cannot be read: no FAT kind, no children.
    bool Decodable() const { return bytesPerSector == 512 && sectorsPerCluster != 0; }
};

// Decodes the first 512 bytes of a volume.
BootSector DecodeBootSector(ByteSpan sector);

class OemCodePage;
// The label a formatter wrote into the boot sector (in the OEM code page) as
// UTF-8, without its padding; empty when the sector carries none or the
// formatter's "no label" mark.
std::string BootSectorLabel(ByteSpan sector, FatKind fatKind, const OemCodePage& codePage);

// The clusters of the volume's data region: what the reserved sectors, the FATs and
// a fixed root leave, in whole clusters; 0 when they leave nothing or the sector
// or cluster has no size.
std::uint64_t DataClusters(const BootSector& boot);

// The FAT kind of a volume, by one rule for the disks read and the drives written
// to. A boot sector laid out as FAT32's (its 16-bit FAT size 0) is FAT32 whatever
// its cluster count: mkfs.fat makes small FAT32 volumes, and the kernel and
// fsck.fat take them as FAT32. Otherwise the count of data clusters decides, as FAT
// defines it: FAT12 below 4085, else FAT16. Nothing when a sector or a cluster
// has no size.
std::optional<FatKind> FatKindOf(const BootSector& boot);

// The kind of a volume the program reads: nothing for one it cannot (Decodable).
std::optional<FatKind> ReadableFatKind(const BootSector& boot);

// Whether one of the four entries at offset 446 has a boot flag of 0x00 or 0x80
// and a type.
bool HasPartitionEntry(ByteSpan sector);

// Whether a disk's first sector is the boot sector of a FAT volume that fills
// the disk rather than a master boot record: a jump to boot code, 512-byte
// sectors, a power of two sectors per cluster, reserved sectors, one or two FATs,
// a media byte, and no partition entry whose boot flag is 0x00 or 0x80 with a
// type in it.
bool IsWholeDiskVolume(ByteSpan sector);

}  // namespace moravel
