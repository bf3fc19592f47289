#pragma once

#include <cstdint>

#include "DriveItem.h"

namespace moravel {

// The sectors one read asks for: `count` sectors from sector `first` of the
// partition that `place` lies in. The place says which drive holds them and where
// its partition starts (m_partitionStart; for the BIOS services also the CHS fields
// of that start and the disk's geometry); its own m_relativeSector and
// m_sectorCount play no part. A run only points at its place, which outlives it:
// naming other sectors of an item takes no copy of it.
struct SectorRun {
    // The item's own run, m_sectorCount sectors from m_relativeSector. Implicit, so
    // that a read of an item's own sectors passes the item.
    SectorRun(const DriveItem& item)  // NOLINT(google-explicit-constructor)
        : place(&item), first(item.m_relativeSector), count(item.m_sectorCount) {}
    SectorRun(const DriveItem& of, std::uint32_t from, std::uint32_t sectors)
        : place(&of), first(from), count(sectors) {}

    const DriveItem* place;
    std::uint32_t first;
    std::uint32_t count;
};

}  // namespace moravel
