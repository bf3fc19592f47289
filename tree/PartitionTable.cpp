#include "PartitionTable.h"

#include "BootSector.h"
#include "DriveTree.h"
#include "disk/DiskLayout.h"
#include "disk/Sector.h"

namespace moravel {

std::vector<PartitionEntry> DecodePartitionTable(ByteSpan sector) {
    std::vector<PartitionEntry> entries;
    for (std::size_t i = 0; i < layout::partition::kEntryCount; ++i) {
        const std::size_t at = layout::partition::EntryOffset(i);
        PartitionEntry entry;
        entry.type = ReadU8(sector, at + layout::partition::kType);
        if (entry.type == 0) {
            break;
        }
        entry.startHead = ReadU8(sector, at + layout::partition::kStartHead);
        entry.startSector = ReadU8(sector, at + layout::partition::kStartSector);
        entry.startCylinder = ReadU8(sector, at + layout::partition::kStartCylinder);
        entry.startLba = ReadLe32(sector, at + layout::partition::kStartLba);
        entries.push_back(entry);
    }
    return entries;
}

PartitionType ClassifyPartition(std::uint8_t type) {
    switch (type) {
        case 0x01:
            return {"12-Bit FAT Disk", ItemKind::Volume, FatKind::Unknown};
        case 0x04:
        case 0x06:
        case 0x0E:
            return {"16-Bit FAT Disk", ItemKind::Volume, FatKind::Unknown};
        case 0x05:
            return {"Extended DOS Partition", ItemKind::Extended, FatKind::Unknown};
        case 0x0B:
        case 0x0C:
            return {"32-Bit FAT Disk", ItemKind::Volume, FatKind::Fat32};
        case 0x0F:
            return {"Extended 32-bit Partition", ItemKind::Extended, FatKind::Unknown};
        default:
            return {"Unknown", ItemKind::Unknown, FatKind::Unknown};
    }
}

std::uint32_t PartitionStart(const PartitionEntry& entry, bool inMasterRecord, ExtendedScan& scan) {
    if (inMasterRecord) {
        if (IsExtendedType(entry.type)) {
            scan.extendedBase = entry.startLba;
        }
        return entry.startLba;
    }
    if (IsExtendedType(entry.type)) {
        scan.linkOffset = entry.startLba;
        return scan.extendedBase + entry.startLba;
    }
    return scan.extendedBase + scan.linkOffset + entry.startLba;
}

ExtendedScan PartitionScan::ContextOf(const DriveItem& extended) const {
    const auto found = m_contexts.find(&extended);
    return found != m_contexts.end() ? found->second : ExtendedScan{};
}

void PartitionScan::Found(const DriveItem& extended, ExtendedScan context) {
    m_contexts[&extended] = context;
}

bool PartitionScan::FirstRead(std::uint16_t drive, std::uint32_t sector) {
    return m_recordsRead[drive].insert(sector).second;
}

void PartitionScan::MarkRepeated(const DriveItem& item, std::uint32_t sector) {
    m_repeated[&item] = sector;
}

std::optional<std::uint32_t> PartitionScan::Repeated(const DriveItem& item) const {
    const auto found = m_repeated.find(&item);
    if (found == m_repeated.end()) {
        return std::nullopt;
    }
    return found->second;
}

void PartitionScan::Clear() {
    m_contexts.clear();
    m_recordsRead.clear();
    m_repeated.clear();
}

// A disk formatted without partitions (a copy of one partition, a stick): its one
// volume starts at the disk's first sector and is named after its FAT kind, as
// a partition of that type would be.
void DriveTree::AddWholeDiskVolume(DriveItem& disk, ByteSpan bootSector) {
    const BootSector boot = DecodeBootSector(bootSector);
    const FatKind fatKind = ReadableFatKind(boot).value_or(FatKind::Unknown);
    auto volume = std::make_unique<DriveItem>();
    volume->SetDisplayName(fatKind == FatKind::Fat32   ? "32-Bit FAT Disk"
                           : fatKind == FatKind::Fat12 ? "12-Bit FAT Disk"
                                                       : "16-Bit FAT Disk");
    volume->m_kind = ItemKind::Volume;
    volume->m_fatKind = fatKind == FatKind::Fat32 ? FatKind::Fat32 : FatKind::Unknown;
    volume->m_drive = disk.m_drive;
    volume->m_useExtensions = disk.m_useExtensions;
    volume->m_startCylinder = 0;
    volume->m_startHead = 0;
    volume->m_startSector = 1;
    volume->m_sectorCount = 1;
    volume->m_relativeSector = 0;
    volume->m_partitionStart = 0;
    disk.m_children.Append(std::move(volume));
}

bool LooksLikePartitionTable(ByteSpan sector) {
    return sector.size() >= kSectorSize &&
           (ReadLe16(sector, layout::boot::kSignature) == layout::boot::kSignatureMark ||
            HasPartitionEntry(sector));
}

// A disk added by its path that is not one: a text, a video, a blank image.
Error DriveTree::NoDiskError(const DriveItem& disk, const std::string& why) const {
    const std::optional<std::string> path = SourcePath(disk.m_drive);
    return {(path ? *path : std::string(disk.DisplayName())) +
                " holds no partition table and no FAT boot sector" + why + ".",
            Error::Weight::Stop};
}

void DriveTree::ExpandPartitionTable(DriveItem& item, Errors& errors) {
    const bool disk = item.m_kind == ItemKind::Disk;
    MemoryBlock buffer = MemoryBlock::Allocate(SectorsToBytes(item.m_sectorCount));
    if (!buffer) {
        errors.push_back(
            {disk ? "internal error 00009" : "internal error 00012", Error::Weight::Stop});
        return;
    }
    // A chain of extended boot records that leads back to a record of this disk
    // (itself, an earlier link, the master boot record) would be followed for ever.
    if (!m_partitionScan.FirstRead(item.m_drive, item.m_partitionStart)) {
        m_partitionScan.MarkRepeated(item, item.m_partitionStart);
        return;
    }
    switch (RawReadItem(item, buffer.Bytes())) {
        case RawRead::Ok:
            break;
        case RawRead::BiosServiceFailed:
            errors.push_back(
                {disk ? "internal error 00010" : "internal error 00013", Error::Weight::Stop});
            return;
        case RawRead::DeviceReadShort: {
            const std::optional<std::uint64_t> bytes = DiskBytes(item.m_drive);
            if (disk && bytes && *bytes < kSectorSize) {
                errors.push_back(NoDiskError(
                    item, ": it is " + std::to_string(*bytes) + " bytes long, less than a sector"));
            } else {
                errors.push_back(
                    {disk ? "internal error 00011" : "internal error 00014", Error::Weight::Stop});
            }
            return;
        }
    }

    if (disk && IsWholeDiskVolume(buffer.Bytes())) {
        AddWholeDiskVolume(item, buffer.Bytes());
        return;
    }
    if (disk && !LooksLikePartitionTable(buffer.Bytes())) {
        errors.push_back(NoDiskError(item, ""));
        return;
    }
    ExtendedScan scan = disk ? ExtendedScan{} : m_partitionScan.ContextOf(item);
    for (const PartitionEntry& entry : DecodePartitionTable(buffer.Bytes())) {
        const PartitionType type = ClassifyPartition(entry.type);
        auto child = std::make_unique<DriveItem>();
        child->SetDisplayName(type.displayName);
        child->m_kind = type.kind;
        child->m_fatKind = type.fatKind;
        child->m_partitionType = entry.type;
        child->m_drive = item.m_drive;
        child->m_useExtensions = item.m_useExtensions;
        child->m_startCylinder = entry.startCylinder;
        child->m_startHead = entry.startHead;
        child->m_startSector = entry.startSector;
        child->m_sectorCount = 1;
        child->m_relativeSector = 0;
        child->m_partitionStart = PartitionStart(entry, disk, scan);
        if (child->m_kind == ItemKind::Extended) {
            m_partitionScan.Found(*child, scan);
        }
        item.m_children.Append(std::move(child));
    }
}

}  // namespace moravel
