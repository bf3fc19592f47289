#include "PartitionTable.h"

#include "disk/DriveAccess.h"
#include "disk/Sector.h"

namespace moravel {

namespace {

// Module-wide, as the scan of one disk's chain of extended boot records needs
// them. Each extended item also keeps the values that were in force when it was
// found, so that its record is resolved the same way whichever disk was read last.
std::uint32_t g_extendedBase = 0;
std::uint32_t g_linkOffset = 0;

constexpr std::size_t kTableOffset = 446;
constexpr std::size_t kEntrySize = 16;

}  // namespace

ExtendedScan CurrentExtendedScan() {
    return {g_extendedBase, g_linkOffset};
}

std::vector<PartitionEntry> DecodePartitionTable(ByteSpan sector) {
    std::vector<PartitionEntry> entries;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = kTableOffset + i * kEntrySize;
        PartitionEntry entry;
        entry.type = ReadU8(sector, at + 4);
        if (entry.type == 0) {
            break;
        }
        entry.startHead = ReadU8(sector, at + 1);
        entry.startSector = ReadU8(sector, at + 2);
        entry.startCylinder = ReadU8(sector, at + 3);
        entry.startLba = ReadLe32(sector, at + 8);
        entries.push_back(entry);
    }
    return entries;
}

PartitionType ClassifyPartition(std::uint8_t type) {
    switch (type) {
        case 0x01:
            return {"12-Bit FAT Disk", KindVolume, FatUnknown};
        case 0x04:
        case 0x06:
        case 0x0E:
            return {"16-Bit FAT Disk", KindVolume, FatUnknown};
        case 0x05:
            return {"Extended DOS Partition", KindExtended, FatUnknown};
        case 0x0B:
        case 0x0C:
            return {"32-Bit FAT Disk", KindVolume, Fat32};
        case 0x0F:
            return {"Extended 32-bit Partition", KindExtended, FatUnknown};
        default:
            return {"Unknown", KindUnknown, FatUnknown};
    }
}

void DriveAccess::ExpandPartitionTable(DriveItem& item) {
    const bool disk = item.m_kind == KindDisk;
    MemoryBlock buffer = MemoryBlock::Allocate(SectorsToBytes(item.m_sectorCount));
    if (!buffer) {
        ShowFailure(m_frontend, disk ? "internal error 00009" : "internal error 00012");
        return;
    }
    if (disk) {
        g_extendedBase = 0;
        g_linkOffset = 0;
    } else if (const auto found = m_extendedScans.find(&item); found != m_extendedScans.end()) {
        g_extendedBase = found->second.extendedBase;
        g_linkOffset = found->second.linkOffset;
    }
    switch (RawReadItem(item, buffer.Bytes())) {
        case RawRead::Ok:
            break;
        case RawRead::BiosServiceFailed:
            ShowFailure(m_frontend, disk ? "internal error 00010" : "internal error 00013");
            return;
        case RawRead::DeviceReadShort:
            ShowFailure(m_frontend, disk ? "internal error 00011" : "internal error 00014");
            return;
    }

    for (const PartitionEntry& entry : DecodePartitionTable(buffer.Bytes())) {
        const PartitionType type = ClassifyPartition(entry.type);
        auto child = std::make_unique<DriveItem>();
        child->SetDisplayName(type.displayName);
        child->m_kind = type.kind;
        child->m_fatKind = type.fatKind;
        child->m_drive = item.m_drive;
        child->m_useExtensions = item.m_useExtensions;
        child->m_startCylinder = entry.startCylinder;
        child->m_startHead = entry.startHead;
        child->m_startSector = entry.startSector;
        child->m_sectorCount = 1;
        child->m_relativeSector = 0;
        if (disk) {
            if (IsExtendedType(entry.type)) {
                g_extendedBase = entry.startLba;
            }
            child->m_partitionStart = entry.startLba;
        } else if (IsExtendedType(entry.type)) {
            g_linkOffset = entry.startLba;
            child->m_partitionStart = g_extendedBase + entry.startLba;
        } else {
            child->m_partitionStart = g_extendedBase + g_linkOffset + entry.startLba;
        }
        if (child->m_kind == KindExtended) {
            m_extendedScans[child.get()] = {g_extendedBase, g_linkOffset};
        }
        item.m_children.Append(std::move(child));
    }
}

}  // namespace moravel
