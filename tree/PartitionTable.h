#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "PartitionScan.h"
#include "disk/ByteOrder.h"
#include "disk/DriveItem.h"

namespace moravel {

// One entry of the table at offset 446 of a master or extended boot record.
struct PartitionEntry {
    std::uint8_t startHead = 0;
    std::uint8_t startSector = 0;  // bits 0-5 sector, bits 6-7 cylinder bits 8-9
    std::uint8_t startCylinder = 0;
    std::uint8_t type = 0;
    std::uint32_t startLba = 0;
};

// The entries of a boot record's table in order, up to the first empty one (type
// 0), which ends the table. The 0x55 0xAA mark is not looked at.
std::vector<PartitionEntry> DecodePartitionTable(ByteSpan sector);

// Whether a disk's first sector can be a master boot record at all: it carries
// the 0x55 0xAA mark, or an entry with a boot flag (0x00 or 0x80) and a type. A
// text, a video or a blank disk has neither.
bool LooksLikePartitionTable(ByteSpan sector);

struct PartitionType {
    std::string_view displayName;
    ItemKind kind;
    FatKind fatKind;
};

// Name, item kind and FAT kind for a partition type byte (never 0).
PartitionType ClassifyPartition(std::uint8_t type);

inline bool IsExtendedType(std::uint8_t type) {
    return type == 0x05 || type == 0x0F;
}

// Where each table entry's partition starts: a disk's own entries at their LBA
// (an extended one also sets the base); in an extended boot record a link at the
// base plus its LBA (it also sets the link offset), a logical partition at base +
// link offset + its LBA. Sums wrap at 2^32. The scan is updated as it goes.
std::uint32_t PartitionStart(const PartitionEntry& entry, bool inMasterRecord, ExtendedScan& scan);

}  // namespace moravel
