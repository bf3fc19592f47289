#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include "disk/DriveItem.h"

namespace moravel {

// The running values of a partition table scan: the start of the primary
// extended partition, and the offset (from it) of the extended boot record whose
// logical partition is being resolved.
struct ExtendedScan {
    std::uint32_t extendedBase = 0;
    std::uint32_t linkOffset = 0;
};

// What the partition scan carries between records, for one opening of the disks.
// Each extended partition resolves its record against the running values in force
// when it was found, whichever disk was read in between; and each disk's boot
// records are read once, so a chain that links back to one of them ends there.
class PartitionScan {
public:
    ExtendedScan ContextOf(const DriveItem& extended) const;
    void Found(const DriveItem& extended, ExtendedScan context);

    // True when the disk's boot record at this sector has not been read before;
    // it counts as read from now on.
    bool FirstRead(std::uint16_t drive, std::uint32_t sector);
    // The item whose record was read before, and where that record lies.
    void MarkRepeated(const DriveItem& item, std::uint32_t sector);
    std::optional<std::uint32_t> Repeated(const DriveItem& item) const;

    void Clear();

private:
    std::map<const DriveItem*, ExtendedScan> m_contexts;
    std::map<std::uint16_t, std::set<std::uint32_t>> m_recordsRead;
    std::map<const DriveItem*, std::uint32_t> m_repeated;
};

}  // namespace moravel
