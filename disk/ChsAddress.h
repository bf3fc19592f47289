#pragma once

#include <cstdint>

namespace moravel {

struct DriveItem;

// A sector address in BIOS disk-service register form.
struct ChsAddress {
    std::uint16_t m_cylinder = 0;  // low 8 bits of the cylinder (whole value on overflow)
    std::uint16_t m_head = 0;
    std::uint16_t m_sector = 0;  // bits 0-5 sector from 1, bits 6-7 cylinder bits 8-9
};

// The BIOS address of the item's current first sector (m_relativeSector sectors
// into its partition, whose start is taken from its CHS fields). Returns 0 when
// the address is complete, 1 when the cylinder lies beyond 1023 (or the item has
// no geometry), in which case only an LBA request can reach the sector.
int ItemToChs(const DriveItem& item, ChsAddress& chs);

}  // namespace moravel
