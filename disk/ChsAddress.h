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

// The BIOS address of sector `sector` of the partition that place lies in (the
// partition's start is taken from the place's CHS fields, through its geometry).
// False when the cylinder lies beyond 1023 (or the place has no geometry): then
// only an LBA request can reach the sector.
bool ChsOf(const DriveItem& place, std::uint32_t sector, ChsAddress& chs);

}  // namespace moravel
