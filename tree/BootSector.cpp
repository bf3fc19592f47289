#include "BootSector.h"

#include "disk/DiskLayout.h"
#include "disk/DriveItem.h"
#include "disk/Sector.h"
#include "tree/NameText.h"

namespace moravel {

std::uint32_t BootSector::TotalSectors() const {
    return totalSectors16 != 0 ? totalSectors16 : totalSectors32;
}

std::uint32_t BootSector::SectorsPerFat(FatKind fatKind) const {
    return fatKind == FatKind::Fat32 ? sectorsPerFat32 : sectorsPerFat16;
}

BootSector DecodeBootSector(ByteSpan sector) {
    BootSector boot;
    boot.bytesPerSector = ReadLe16(sector, layout::boot::kBytesPerSector);
    boot.sectorsPerCluster = ReadU8(sector, layout::boot::kSectorsPerCluster);
    boot.reservedSectors = ReadLe16(sector, layout::boot::kReservedSectors);
    boot.fatCount = ReadU8(sector, layout::boot::kFatCount);
    boot.rootEntries = ReadLe16(sector, layout::boot::kRootEntries);
    boot.totalSectors16 = ReadLe16(sector, layout::boot::kTotalSectors16);
    boot.sectorsPerFat16 = ReadLe16(sector, layout::boot::kSectorsPerFat16);
    boot.sectorsPerTrack = ReadLe16(sector, layout::boot::kSectorsPerTrack);
    boot.heads = ReadLe16(sector, layout::boot::kHeads);
    boot.totalSectors32 = ReadLe32(sector, layout::boot::kTotalSectors32);
    boot.sectorsPerFat32 = ReadLe32(sector, layout::boot::fat32::kSectorsPerFat);
    boot.rootCluster = ReadLe32(sector, layout::boot::fat32::kRootCluster);
    return boot;
}

std::uint32_t BootSector::RootSectors() const {
    if (bytesPerSector == 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::uint32_t{rootEntries} * layout::entry::kSize /
                                      bytesPerSector);
}

std::uint64_t DataClusters(const BootSector& boot) {
    if (boot.bytesPerSector == 0 || boot.sectorsPerCluster == 0) {
        return 0;
    }
    const std::uint64_t sectorsPerFat =
        boot.sectorsPerFat16 != 0 ? boot.sectorsPerFat16 : boot.sectorsPerFat32;
    const std::uint64_t overhead =
        boot.reservedSectors + boot.fatCount * sectorsPerFat + boot.RootSectors();
    const std::uint64_t total = boot.TotalSectors();
    return total > overhead ? (total - overhead) / boot.sectorsPerCluster : 0;
}

std::optional<FatKind> FatKindOf(const BootSector& boot) {
    if (boot.bytesPerSector == 0 || boot.sectorsPerCluster == 0) {
        return std::nullopt;
    }
    if (boot.sectorsPerFat16 == 0) {
        return FatKind::Fat32;
    }
    const std::uint64_t clusters = DataClusters(boot);
    return clusters < 4085 ? FatKind::Fat12 : FatKind::Fat16;
}

std::optional<FatKind> ReadableFatKind(const BootSector& boot) {
    return boot.Decodable() ? FatKindOf(boot) : std::nullopt;
}

bool HasPartitionEntry(ByteSpan sector) {
    for (std::size_t slot = 0; slot < layout::partition::kEntryCount; ++slot) {
        const std::size_t at = layout::partition::EntryOffset(slot);
        const std::uint8_t flag = ReadU8(sector, at + layout::partition::kBootFlag);
        if ((flag == layout::partition::kInactive || flag == layout::partition::kActive) &&
            ReadU8(sector, at + layout::partition::kType) != 0) {
            return true;
        }
    }
    return false;
}

bool IsWholeDiskVolume(ByteSpan sector) {
    if (sector.size() < kSectorSize) {
        return false;
    }
    const std::uint8_t jump = ReadU8(sector, layout::boot::kJump);
    if (!(jump == 0xE9 || (jump == 0xEB && ReadU8(sector, layout::boot::kJumpNop) == 0x90))) {
        return false;
    }
    const BootSector boot = DecodeBootSector(sector);
    const unsigned perCluster = boot.sectorsPerCluster;
    const std::uint8_t media = ReadU8(sector, layout::boot::kMedia);
    return boot.bytesPerSector == 512 && perCluster != 0 && (perCluster & (perCluster - 1)) == 0 &&
           boot.reservedSectors != 0 && (boot.fatCount == 1 || boot.fatCount == 2) &&
           (media == 0xF0 || media >= 0xF8) && boot.TotalSectors() != 0 &&
           !HasPartitionEntry(sector);
}

std::string BootSectorLabel(ByteSpan sector, FatKind fatKind, const OemCodePage& codePage) {
    // The extended block lies further on in a FAT32 boot sector.
    namespace boot = layout::boot;
    const bool fat32 = fatKind == FatKind::Fat32;
    const std::size_t signature =
        fat32 ? boot::fat32::kExtendedSignature : boot::fat16::kExtendedSignature;
    if (sector[signature] != boot::kExtendedSignatureMark) {
        return "";
    }
    const std::size_t at = fat32 ? boot::fat32::kLabel : boot::fat16::kLabel;
    std::string_view label(reinterpret_cast<const char*>(sector.data() + at), boot::kLabelLength);
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) {
        label.remove_suffix(1);
    }
    if (label == "NO NAME") {
        return "";
    }
    return codePage.Decode(label);
}

}  // namespace moravel
