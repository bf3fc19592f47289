#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "BootSector.h"
#include "DriveTree.h"
#include "FatChain.h"
#include "disk/Sector.h"

namespace moravel {

namespace {

// Copies what every item inside a volume carries from the volume item itself.
std::unique_ptr<DriveItem> VolumePart(const DriveItem& volume, const BootSector& boot) {
    auto part = std::make_unique<DriveItem>();
    part->m_drive = volume.m_drive;
    part->m_startCylinder = volume.m_startCylinder;
    part->m_startHead = volume.m_startHead;
    part->m_startSector = volume.m_startSector;
    part->m_useExtensions = volume.m_useExtensions;
    part->m_partitionStart = volume.m_partitionStart;
    part->m_heads = boot.heads;
    part->m_sectorsPerTrack = boot.sectorsPerTrack;
    part->m_sectorsPerCluster = boot.sectorsPerCluster;
    part->m_bytesPerSector = boot.bytesPerSector;
    part->m_totalSectors = boot.TotalSectors();
    return part;
}

}  // namespace

void DriveTree::ExpandVolume(DriveItem& item, Errors& errors) {
    MemoryBlock buffer = MemoryBlock::Allocate(SectorsToBytes(item.m_sectorCount));
    if (!buffer) {
        errors.push_back({"internal error 00015", Error::Weight::Stop});
        return;
    }
    // A floppy may have been changed since it was last read: open it afresh.
    if (item.m_drive < kFirstHardDisk && !ReopenFloppy(item.m_drive)) {
        errors.push_back({"Drive is inaccessible!", Error::Weight::Stop});
        return;
    }
    if (buffer.Size() < kSectorSize || RawReadItem(item, buffer.Bytes()) != RawRead::Ok) {
        return;
    }
    const BootSector boot = DecodeBootSector(buffer.Bytes());
    // The boot sector tells the kind, not the partition type: a FAT16 volume in a
    // partition typed FAT32 is still read as FAT16.
    const auto fatKind = ReadableFatKind(boot);
    if (!fatKind) {
        return;  // an unformatted partition, say: nothing to show
    }
    item.SetLabel(BootSectorLabel(buffer.Bytes(), *fatKind, CodePage()));
    const std::uint32_t sectorsPerFat = boot.SectorsPerFat(*fatKind);
    // Every sector of a volume is numbered in 32 bits from its start. FAT copies
    // (and a fixed root) that end past that cannot be addressed: counted in 32
    // bits, the root's start would wrap round and be read from inside the FATs.
    const std::uint64_t rootSectors =
        *fatKind == FatKind::Fat32
            ? 0
            : std::uint64_t{boot.rootEntries} * layout::entry::kSize / kSectorSize;
    if (std::uint64_t{sectorsPerFat} * boot.fatCount + boot.reservedSectors + rootSectors >
        UINT32_MAX) {
        errors.push_back(
            {"The volume's FATs reach past the last sector a volume can have: it is "
             "not read.",
             Error::Weight::Stop});
        return;
    }

    for (std::uint32_t i = 0; i < boot.fatCount; ++i) {
        auto fat = VolumePart(item, boot);
        char name[16];
        std::snprintf(name, sizeof name, "FAT %u", i + 1);
        fat->SetDisplayName(name);
        fat->m_sectorCount = sectorsPerFat;
        fat->m_kind = FatCopyKind(*fatKind);
        fat->m_fatKind = *fatKind;
        fat->m_relativeSector = sectorsPerFat * i + boot.reservedSectors;
        item.m_children.Append(std::move(fat));
    }

    auto root = VolumePart(item, boot);
    root->SetDisplayName("Root Directory");
    root->m_reservedSectors = boot.reservedSectors;
    root->m_sectorsPerFat = sectorsPerFat;
    root->m_fatKind = *fatKind;
    root->m_relativeSector = sectorsPerFat * boot.fatCount + boot.reservedSectors;
    if (*fatKind == FatKind::Fat32) {
        root->m_kind = ItemKind::Entry;
        root->m_sectorCount = 0;
        root->m_attributes = layout::entry::kAttributeDirectory;
        root->m_firstCluster = boot.rootCluster;
        root->m_dataStart = root->m_relativeSector;
    } else {
        root->m_kind = ItemKind::RootDirectory;
        root->m_sectorCount = static_cast<std::uint32_t>(std::uint32_t{boot.rootEntries} *
                                                         layout::entry::kSize / kSectorSize);
        root->m_dataStart = root->m_relativeSector + root->m_sectorCount;
    }
    item.m_children.Append(std::move(root));
}

bool DriveTree::FatFits(const DriveItem& item) const {
    // The first copy lies between the reserved sectors and the data region, and
    // inside the volume.
    const std::uint64_t fatEnd = std::uint64_t{item.m_reservedSectors} + item.m_sectorsPerFat;
    if (item.m_sectorsPerFat == 0 || item.m_sectorsPerCluster == 0 || fatEnd > item.m_dataStart ||
        item.m_dataStart > item.m_totalSectors) {
        return false;
    }
    // What is read of it must be on the disk.
    const std::optional<std::uint64_t> disk = DiskBytes(item.m_drive);
    const std::uint64_t end =
        SectorsToBytes(std::uint64_t{item.m_partitionStart} + item.m_reservedSectors) +
        FatBytesUsed(item);
    return !disk || end <= *disk;
}

std::shared_ptr<FatPages> DriveTree::VolumeFat(const DriveItem& item) {
    if (!FatFits(item)) {
        return nullptr;
    }
    const VolumeKey key{item.m_drive, item.m_partitionStart, item.m_reservedSectors,
                        item.m_sectorsPerFat};
    std::shared_ptr<FatPages>& pages = m_fats[key];
    if (pages) {
        return pages;
    }
    // The reads name the volume through a place of their own: the items of the
    // tree may go before the table does.
    auto place = std::make_shared<DriveItem>();
    CopyVolumeFields(item, *place);
    const auto read = [this, place](unsigned copy, std::uint32_t first, std::uint32_t count,
                                    std::span<std::uint8_t> out,
                                    std::vector<std::uint32_t>& unreadable) {
        // The second copy follows the first directly.
        const SectorRun run{
            *place, place->m_reservedSectors + copy * place->m_sectorsPerFat + first, count};
        UnreadableSectors failed;
        ReadSectors(run, &Chs(), out, &failed);
        unreadable.insert(unreadable.end(), failed.begin(), failed.end());
    };
    pages = std::make_shared<FatPages>(item.m_fatKind, FatBytesUsed(item), LastClusterOf(item),
                                       read, m_fatHeldBytes);
    pages->AfterEachRead([this] { Frontend().PumpMessages(); });
    if (SectorSource::ReaderAside aside = ReadAside(item.m_drive)) {
        const std::uint64_t fatStart =
            SectorsToBytes(std::uint64_t{item.m_partitionStart} + item.m_reservedSectors);
        pages->ReadAheadAside(
            [aside = std::move(aside), fatStart](std::uint32_t first, std::span<std::uint8_t> out) {
                return aside(fatStart + SectorsToBytes(first), out) == out.size();
            });
    }
    return pages;
}

void DriveTree::HoldFatUpTo(std::uint64_t bytes) {
    m_fatHeldBytes = bytes;
    for (auto& [key, pages] : m_fats) {
        pages->HoldUpTo(bytes);
    }
}

std::uint32_t DriveTree::CountFatEntries(std::uint32_t firstCluster, FatKind fatKind,
                                         const FatImage& fat) const {
    return CountChain(firstCluster, fatKind, fat);
}

std::uint32_t DriveTree::StoreFatEntries(std::uint32_t firstCluster, FatKind fatKind,
                                         std::uint32_t* chain, std::uint32_t count,
                                         const FatImage& fat) const {
    return StoreChain(firstCluster, fatKind, {chain, count}, fat);
}

}  // namespace moravel
