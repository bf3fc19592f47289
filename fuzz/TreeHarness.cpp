#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <functional>

#include "FuzzHarness.h"
#include "FuzzSupport.h"
#include "disk/DiskLayout.h"
#include "disk/Sector.h"
#include "image/ImageBuilder.h"
#include "tree/Directory.h"
#include "tree/PartitionTable.h"

namespace moravel::fuzz {

namespace {

namespace image = moravel::image;

constexpr std::uint32_t kVolumeStart = 2048;
constexpr std::uint32_t kVolumeSectors = 65536;

std::shared_ptr<MemoryDisk> DiskOf(ByteSpan records) {
    auto disk = std::make_shared<MemoryDisk>(kFuzzDiskBytes);
    PutRecords(*disk, records);
    return disk;
}

std::array<std::uint8_t, 512> SectorOf(ByteSpan bytes) {
    std::array<std::uint8_t, 512> sector{};
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), 512), sector.begin());
    return sector;
}

// Expands the disks and extended partitions below the item, nothing else. Each
// boot record that yields partitions lies in a sector the input gave: counted,
// they are no more than the disk holds.
void ExpandPartitions(TreeWalk& walk, DriveItem& item, std::size_t depth, std::size_t& tables) {
    if ((item.m_kind != ItemKind::Disk && item.m_kind != ItemKind::Extended) ||
        depth >= kMaxDepth) {
        return;
    }
    const std::vector<DriveItem*> children = walk.Expand(item);
    if (!children.empty()) {
        ++tables;
    }
    for (DriveItem* child : children) {
        ExpandPartitions(walk, *child, depth + 1, tables);
    }
}

// The child of the item that is a volume, if it has one.
DriveItem* FirstVolume(const std::vector<DriveItem*>& items) {
    const auto found = std::find_if(items.begin(), items.end(), [](const DriveItem* i) {
        return i->m_kind == ItemKind::Volume;
    });
    return found == items.end() ? nullptr : *found;
}

// What a directory scan keeps, decided apart from the program from its rules:
// long-name entries, deleted entries and entries marked 0x05 are passed over;
// the fixed root also passes over volume labels, a cluster-chain folder its dot
// entries; a first byte 0 then ends the directory.
std::vector<std::size_t> KeptEntries(ByteSpan directory, bool chainDirectory) {
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; (i + 1) * layout::entry::kSize <= directory.size(); ++i) {
        const ByteSpan e = directory.subspan(i * layout::entry::kSize, layout::entry::kSize);
        const std::uint8_t first = e[layout::entry::kName];
        const std::uint8_t attributes = e[layout::entry::kAttributes];
        const bool longName =
            (attributes & layout::entry::kAttributeLongName) == layout::entry::kAttributeLongName;
        if (longName || first == layout::entry::kDeleted) {
            continue;
        }
        if (chainDirectory
                ? ((attributes & layout::entry::kAttributeDirectory) != 0 && first == '.')
                : (attributes & layout::entry::kAttributeVolumeLabel) != 0) {
            continue;
        }
        if (first == layout::entry::kEndOfDirectory) {
            break;
        }
        kept.push_back(i);
    }
    return kept;
}

// Whether a name decoded from the code page can be these bytes: valid UTF-8 of one
// character per byte, ASCII bytes as themselves (or, when the case flags may
// have made them small, in either case).
bool SameLetters(std::string_view shown, const std::string& bytes, bool caseMayDiffer = false) {
    std::size_t at = 0;
    for (const char byte : bytes) {
        if (at >= shown.size()) {
            return false;
        }
        const auto lead = static_cast<unsigned char>(shown[at]);
        if (static_cast<unsigned char>(byte) < 0x80) {
            const bool same =
                shown[at] == byte || (caseMayDiffer && std::tolower(lead) == std::tolower(byte));
            if (!same) {
                return false;
            }
            ++at;
            continue;
        }
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || at + length > shown.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(shown[at + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        at += length;
    }
    return at == shown.size();
}

// Compares a scanned directory's children with its entries, one by one.
void CheckEntries(const DriveTree& tree, const MemoryDisk& disk, const DriveItem& directory,
                  const std::vector<DriveItem*>& children, ByteSpan entries, bool chainDirectory) {
    const std::vector<std::size_t> kept = KeptEntries(entries, chainDirectory);
    FUZZ_CHECK(children.size() == kept.size(), "the scan kept " + std::to_string(children.size()) +
                                                   " entries, not " + std::to_string(kept.size()));
    for (std::size_t n = 0; n < kept.size(); ++n) {
        const std::size_t i = kept[n];
        const ByteSpan e = entries.subspan(i * layout::entry::kSize, layout::entry::kSize);
        const DriveItem& child = *children[n];
        FUZZ_CHECK(child.m_attributes == e[layout::entry::kAttributes],
                   "attributes differ from the entry's");
        const std::uint32_t low = ReadLe16(e, layout::entry::kFirstClusterLow);
        const std::uint32_t first =
            directory.m_fatKind == FatKind::Fat32
                ? (std::uint32_t{ReadLe16(e, layout::entry::kFirstClusterHigh)} << 16) | low
                : low;
        FUZZ_CHECK(child.m_firstCluster == first, "first cluster differs from the entry's");
        // Without a long-name entry right before it, an entry goes by its short name.
        const ByteSpan before =
            i > 0 ? entries.subspan((i - 1) * layout::entry::kSize, layout::entry::kSize)
                  : ByteSpan{};
        const bool afterLongName =
            i > 0 &&
            (before[layout::entry::kAttributes] & layout::entry::kAttributeLongName) ==
                layout::entry::kAttributeLongName &&
            before[layout::longName::kOrder] != layout::entry::kDeleted;
        if (!afterLongName) {
            // 0x05 first stands for 0xE5.
            std::string bytes(e.begin() + layout::entry::kName,
                              e.begin() + layout::entry::kName + layout::entry::kShortNameLength);
            if (static_cast<std::uint8_t>(bytes[0]) == layout::entry::kEscapedE5) {
                bytes[0] = static_cast<char>(layout::entry::kDeleted);
            }
            std::string shortName = bytes.substr(0, 8) + "." + bytes.substr(8);
            // A 0 byte ends a name.
            shortName = shortName.substr(0, shortName.find('\0'));
            FUZZ_CHECK(SameLetters(child.DisplayName(), shortName),
                       "an entry without a long name is not shown by its short name");
            // Its file name is the short name without the padding of either part
            // (in small letters where the entry's case flags say so).
            auto trimmed = [&bytes](std::size_t from, std::size_t count) {
                std::string part = bytes.substr(from, count);
                return part.erase(part.find_last_not_of(' ') + 1);
            };
            std::string fileName = trimmed(0, 8);
            if (!trimmed(8, 3).empty()) {
                fileName += "." + trimmed(8, 3);
            }
            fileName = fileName.substr(0, fileName.find('\0'));
            FUZZ_CHECK(
                SameLetters(child.EntryName(), fileName,
                            (e[layout::entry::kCaseFlags] &
                             (layout::entry::kSmallName | layout::entry::kSmallExtension)) != 0),
                "an entry without a long name is not called by its unpadded short name");
        }
        const std::uint32_t directorySize = ReadLe32(e, layout::entry::kFileSize);
        if (child.IsDirectory()) {
            FUZZ_CHECK(child.m_fileSize == 0, "a folder with a size");
        } else if (!chainDirectory) {
            FUZZ_CHECK(child.m_fileSize == directorySize, "a root file's size is not its entry's");
        } else {
            const auto fat = ReferenceFat(tree, disk, directory);
            FUZZ_CHECK(fat.has_value(), "a folder was scanned without a FAT that fits");
            const std::uint64_t clusters =
                ReferenceChain(*fat, directory.m_fatKind, first, LastClusterOf(directory)).size();
            const std::uint64_t expected = ExpectedFileSize(
                directorySize, clusters * SectorsToBytes(directory.m_sectorsPerCluster));
            FUZZ_CHECK(child.m_fileSize == expected, "size " + std::to_string(child.m_fileSize) +
                                                         " where the chain gives " +
                                                         std::to_string(expected));
        }
    }
}

// Lays a volume out of the builder's pieces at kVolumeStart, behind a master
// boot record with one partition of the type.
void PutVolume(MemoryDisk& disk, std::uint8_t type, const image::BootParameters& boot) {
    const image::Bytes mbr = image::PartitionSector({{type, kVolumeStart, kVolumeSectors}});
    disk.Put(0, mbr);
    disk.Put(kVolumeStart, image::BootSectorBytes(boot));
}

// Checks what the program found at the root and opens the folders in it once.
void OpenFoldersOnce(TreeWalk& walk, const std::vector<DriveItem*>& children) {
    for (DriveItem* child : children) {
        if (child->IsDirectory()) {
            walk.Expand(*child);
        }
    }
}

}  // namespace

int FuzzPartitionTable(const std::uint8_t* data, std::size_t size) {
    const auto disk = DiskOf({data, size});
    FuzzTree fuzz(disk, true, false);
    TreeWalk walk(*fuzz.tree);
    std::size_t tables = 0;
    for (DriveItem* item : fuzz.Disks()) {
        ExpandPartitions(walk, *item, 0, tables);
    }
    FUZZ_CHECK(tables <= disk->Sectors().size(),
               "more partition tables than sectors on the disk: a record was read twice");
    return 0;
}

int FuzzVolume(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t type = data[0];
    const auto boot = SectorOf({data + 1, std::min<std::size_t>(size - 1, 512)});
    const bool floppy = type == 0;
    auto disk = std::make_shared<MemoryDisk>(kFuzzDiskBytes);
    if (size > 513) {
        PutRecords(*disk, {data + 513, size - 513});
    }
    if (floppy) {
        disk->Put(0, boot);
    } else {
        disk->Put(0, image::PartitionSector({{type, kVolumeStart, kVolumeSectors}}));
        disk->Put(kVolumeStart, boot);
    }
    FuzzTree fuzz(disk, !floppy, floppy);
    TreeWalk walk(*fuzz.tree);
    DriveItem* volume = &fuzz.tree->GetDisks()[0];
    if (!floppy) {
        volume = FirstVolume(walk.Expand(*volume));
        if (volume == nullptr) {
            FUZZ_CHECK(ClassifyPartition(type).kind != ItemKind::Volume,
                       "a volume type without a volume");
            return 0;
        }
    }
    const std::vector<DriveItem*> children = walk.Expand(*volume);

    // The boot sector's fields, decoded here on their own.
    const ByteSpan b = boot;
    const std::uint32_t sectorsPerCluster = b[layout::boot::kSectorsPerCluster];
    const std::uint32_t reserved = ReadLe16(b, layout::boot::kReservedSectors);
    const std::uint32_t fats = b[layout::boot::kFatCount];
    const std::uint32_t rootEntries = ReadLe16(b, layout::boot::kRootEntries);
    const std::uint32_t total = ReadLe16(b, layout::boot::kTotalSectors16) != 0
                                    ? ReadLe16(b, layout::boot::kTotalSectors16)
                                    : ReadLe32(b, layout::boot::kTotalSectors32);
    const bool decodable =
        ReadLe16(b, layout::boot::kBytesPerSector) == 512 && sectorsPerCluster != 0;
    if (!decodable) {
        FUZZ_CHECK(children.empty(), "a boot sector without 512-byte sectors gave children");
        return 0;
    }
    // The boot sector tells the kind, whatever the partition type: FAT32 when it
    // has no 16-bit FAT size, else FAT12 below 4085 clusters in the data region
    // (the fixed root's sectors rounded down), FAT16 from there.
    const bool fat32 = ReadLe16(b, layout::boot::kSectorsPerFat16) == 0;
    const std::uint32_t sectorsPerFat = fat32 ? ReadLe32(b, layout::boot::fat32::kSectorsPerFat)
                                              : ReadLe16(b, layout::boot::kSectorsPerFat16);
    const std::uint64_t overhead = reserved + std::uint64_t{fats} * sectorsPerFat +
                                   (fat32 ? 0 : rootEntries * layout::entry::kSize / 512);
    const std::uint64_t clusters = total > overhead ? (total - overhead) / sectorsPerCluster : 0;
    const FatKind kind = fat32 ? FatKind::Fat32 : clusters < 4085 ? FatKind::Fat12 : FatKind::Fat16;
    // Where things lie, counted without a bound: a volume's sectors are numbered
    // in 32 bits, so one whose FATs end past that cannot be laid out at all.
    const std::uint64_t rootStart = std::uint64_t{sectorsPerFat} * fats + reserved;
    if (rootStart + (fat32 ? 0 : rootEntries * layout::entry::kSize / 512) > UINT32_MAX) {
        FUZZ_CHECK(children.empty(), "a volume whose FATs end past sector 2^32 was laid out");
        return 0;
    }
    FUZZ_CHECK(children.size() == fats + 1, "not one item for each FAT copy and the root");
    for (std::uint32_t i = 0; i < fats; ++i) {
        const DriveItem& fat = *children[i];
        FUZZ_CHECK(fat.m_fatKind == kind, "the FAT kind differs");
        FUZZ_CHECK(fat.m_sectorCount == sectorsPerFat, "a FAT copy of another size");
        FUZZ_CHECK(fat.m_relativeSector == std::uint64_t{sectorsPerFat} * i + reserved,
                   "a FAT copy elsewhere");
        FUZZ_CHECK(fat.m_totalSectors == total, "the volume's size differs");
    }
    DriveItem& root = *children.back();
    FUZZ_CHECK(root.m_relativeSector == rootStart && root.m_fatKind == kind,
               "the root directory lies elsewhere");
    if (fat32) {
        FUZZ_CHECK(root.m_firstCluster == ReadLe32(b, layout::boot::fat32::kRootCluster) &&
                       root.m_dataStart == rootStart,
                   "the FAT32 root directory's chain starts elsewhere");
    } else {
        FUZZ_CHECK(root.m_sectorCount == rootEntries * layout::entry::kSize / 512 &&
                       root.m_dataStart == rootStart + root.m_sectorCount,
                   "the fixed root directory's size differs");
    }
    OpenFoldersOnce(walk, walk.Expand(root));
    return 0;
}

int FuzzFixedRoot(const std::uint8_t* data, std::size_t size) {
    image::BootParameters boot;
    boot.sectorsPerCluster = 4;
    boot.reservedSectors = 1;
    boot.rootEntries = 64;
    boot.totalSectors = kVolumeSectors;
    boot.sectorsPerFat = 64;
    constexpr std::uint32_t kRootBytes = 64 * 32;
    const std::uint32_t rootSector = kVolumeStart + 1 + 2 * boot.sectorsPerFat;

    auto disk = std::make_shared<MemoryDisk>(kFuzzDiskBytes);
    PutVolume(*disk, 0x06, boot);
    image::FatTable fat(16, 4);
    fat.Set(0, 0xFFF8);
    fat.Set(1, 0xFFFF);
    disk->Write(SectorsToBytes(kVolumeStart + 1), fat.Data());
    const ByteSpan input(data, size);
    const ByteSpan entries = input.first(std::min<std::size_t>(size, kRootBytes));
    disk->Write(SectorsToBytes(rootSector), entries);
    if (size > kRootBytes) {
        const ByteSpan table =
            input.subspan(kRootBytes).first(std::min<std::size_t>(size - kRootBytes, 64 * 512));
        disk->Write(SectorsToBytes(kVolumeStart + 1), table);
    }

    FuzzTree fuzz(disk, true, false);
    TreeWalk walk(*fuzz.tree);
    DriveItem* volume = FirstVolume(walk.Expand(fuzz.tree->GetDisks()[0]));
    FUZZ_CHECK(volume != nullptr, "the FAT16 partition was not found");
    DriveItem& root = *walk.Expand(*volume).back();
    FUZZ_CHECK(root.m_kind == ItemKind::RootDirectory, "the FAT16 volume has no fixed root");
    const std::vector<DriveItem*> children = walk.Expand(root);
    std::vector<std::uint8_t> directory(kRootBytes, 0);
    std::copy(entries.begin(), entries.end(), directory.begin());
    CheckEntries(*fuzz.tree, *disk, root, children, directory, false);
    OpenFoldersOnce(walk, children);
    return 0;
}

int FuzzChainDirectory(const std::uint8_t* data, std::size_t size) {
    image::BootParameters boot;
    boot.fat32 = true;
    boot.sectorsPerCluster = 1;
    boot.reservedSectors = 32;
    boot.totalSectors = kVolumeSectors;
    boot.sectorsPerFat = 512;
    boot.rootCluster = 2;
    constexpr std::uint32_t kRootClusters = 8;
    constexpr std::uint32_t kRootBytes = kRootClusters * 512;
    const std::uint32_t dataSector = kVolumeStart + 32 + 2 * boot.sectorsPerFat;

    auto disk = std::make_shared<MemoryDisk>(kFuzzDiskBytes);
    PutVolume(*disk, 0x0C, boot);
    // The root's chain, 2 to 9, in the FAT's first sector; the input's FAT
    // sectors follow it.
    image::FatTable fat(32, 128);
    fat.Set(0, 0x0FFFFFF8);
    fat.Set(1, 0x0FFFFFFF);
    std::vector<std::uint32_t> rootChain;
    for (std::uint32_t c = 2; c < 2 + kRootClusters; ++c) {
        rootChain.push_back(c);
    }
    fat.Chain(rootChain);
    disk->Write(SectorsToBytes(kVolumeStart + 32), fat.Data());
    const ByteSpan input(data, size);
    const ByteSpan entries = input.first(std::min<std::size_t>(size, kRootBytes));
    disk->Write(SectorsToBytes(dataSector), entries);
    if (size > kRootBytes) {
        const ByteSpan table =
            input.subspan(kRootBytes)
                .first(std::min<std::size_t>(size - kRootBytes, (boot.sectorsPerFat - 1) * 512));
        disk->Write(SectorsToBytes(kVolumeStart + 33), table);
    }

    FuzzTree fuzz(disk, true, false);
    TreeWalk walk(*fuzz.tree);
    DriveItem* volume = FirstVolume(walk.Expand(fuzz.tree->GetDisks()[0]));
    FUZZ_CHECK(volume != nullptr, "the FAT32 partition was not found");
    DriveItem& root = *walk.Expand(*volume).back();
    FUZZ_CHECK(IsChainDirectory(root), "the FAT32 volume's root is no cluster-chain folder");
    const std::vector<DriveItem*> children = walk.Expand(root);
    std::vector<std::uint8_t> directory(kRootBytes, 0);
    std::copy(entries.begin(), entries.end(), directory.begin());
    CheckEntries(*fuzz.tree, *disk, root, children, directory, true);
    OpenFoldersOnce(walk, children);
    return 0;
}

int FuzzDisk(const std::uint8_t* data, std::size_t size) {
    const auto disk = DiskOf({data, size});
    FuzzTree fuzz(disk, true, true);
    TreeWalk walk(*fuzz.tree);
    for (DriveItem* item : fuzz.Disks()) {
        walk.Walk(*item, [&](DriveItem& found, const DriveItem* parent) {
            // A file's size beyond 4 GiB comes from its chain, never beyond it.
            if (parent == nullptr || !found.IsFile() || !IsChainDirectory(*parent)) {
                return;
            }
            const auto fat = ReferenceFat(*fuzz.tree, *disk, *parent);
            FUZZ_CHECK(fat.has_value(), "a folder was scanned without a FAT that fits");
            const std::uint64_t clusters =
                ReferenceChain(*fat, found.m_fatKind, found.m_firstCluster, LastClusterOf(found))
                    .size();
            FUZZ_CHECK(found.m_fileSize ==
                           ExpectedFileSize(found.FileSizeLow(),
                                            clusters * SectorsToBytes(found.m_sectorsPerCluster)),
                       "a file's size does not follow from its chain");
        });
    }
    return 0;
}

}  // namespace moravel::fuzz
