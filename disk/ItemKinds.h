#pragma once

#include <cstdint>

namespace moravel {

// What a drive item is (m_kind). The numbers are the item kind codes of the
// record; a FAT copy's kind follows from its volume's FAT kind (FatCopyKind).
enum class ItemKind : std::uint16_t {
    Disk = 0,
    Volume = 1,
    Extended = 2,
    Fat16Table = 3,
    Fat12Table = 4,
    RootDirectory = 5,
    Entry = 6,
    Fat32Table = 9,
    Unknown = 11,
};

// The FAT kind of a volume and of every item in it (m_fatKind); Unknown until
// the volume's boot sector tells it.
enum class FatKind : std::uint16_t { Unknown, Fat12, Fat16, Fat32 };

// The kind of the FAT copies of a volume of the FAT kind; ItemKind::Unknown for
// FatKind::Unknown, which has none.
constexpr ItemKind FatCopyKind(FatKind fat) {
    switch (fat) {
        case FatKind::Fat12:
            return ItemKind::Fat12Table;
        case FatKind::Fat16:
            return ItemKind::Fat16Table;
        case FatKind::Fat32:
            return ItemKind::Fat32Table;
        case FatKind::Unknown:
            break;
    }
    return ItemKind::Unknown;
}

// The width of one FAT entry of the kind in bits: 12, 16 or 32; 0 for Unknown.
constexpr std::uint16_t FatBits(FatKind fat) {
    switch (fat) {
        case FatKind::Fat12:
            return 12;
        case FatKind::Fat16:
            return 16;
        case FatKind::Fat32:
            return 32;
        case FatKind::Unknown:
            break;
    }
    return 0;
}

}  // namespace moravel
