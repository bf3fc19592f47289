#pragma once

#include <cstdint>
#include <optional>

#include "disk/ByteOrder.h"

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
    std::uint32_t SectorsPerFat(std::uint16_t fatKind) const;
    // Every read and every cluster counts sectors of 512 bytes, so a volume whose
    // sectors are of another size (or of none: an unformatted partition, say), or
    // whose clusters hold no sector, cannot be read: no FAT kind, no children.
    bool Decodable() const { return bytesPerSector == 512 && sectorsPerCluster != 0; }
};

// Decodes the first 512 bytes of a volume.
BootSector DecodeBootSector(ByteSpan sector);

// FAT12 below 4096 clusters, else FAT16; FAT32 when the partition type said so
// (fatKindFromPartition 9), whatever the count. A volume without a partition (a
// floppy, a disk formatted whole) has no type to tell: it is FAT32 when its boot
// sector is, by a 16-bit FAT size of 0 beside a 32-bit one. Nothing for an
// undecodable sector.
std::optional<std::uint16_t> DecideFatKind(const BootSector& boot,
                                           std::uint16_t fatKindFromPartition,
                                           bool partitionless = false);

// Whether a disk's first sector is the boot sector of a FAT volume that fills
// the disk rather than a master boot record: a jump to boot code, 512-byte
// sectors, a power of two sectors per cluster, reserved sectors, one or two FATs,
// a media byte, and no partition entry whose boot flag is 0x00 or 0x80 with a
// type in it.
bool IsWholeDiskVolume(ByteSpan sector);

}  // namespace moravel
