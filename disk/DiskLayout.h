#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Where the fields of the on-disk structures lie: byte offsets from the start of
// each structure, named once here for the parsers that read them (with the
// little-endian readers of ByteOrder.h) and the image builders that write them.
// A field is as wide as the reader it is read with (ReadU8, ReadLe16, ReadLe32).
namespace moravel::layout {

// The boot sector of a FAT volume, its first sector. The BIOS parameter block
// at its start is the same on every FAT kind.
namespace boot {
inline constexpr std::size_t kJump = 0;     // 0xEB xx 0x90 or 0xE9 xx xx: a jump to the boot code
inline constexpr std::size_t kJumpNop = 2;  // the 0x90 after a short jump
inline constexpr std::size_t kOemName = 3;  // 8 bytes: the formatter's name
inline constexpr std::size_t kBytesPerSector = 11;
inline constexpr std::size_t kSectorsPerCluster = 13;  // 8 bits
inline constexpr std::size_t kReservedSectors = 14;
inline constexpr std::size_t kFatCount = 16;         // 8 bits
inline constexpr std::size_t kRootEntries = 17;      // 0 on FAT32, whose root is a chain
inline constexpr std::size_t kTotalSectors16 = 19;   // 0 when the count needs 32 bits
inline constexpr std::size_t kMedia = 21;            // 8 bits: F0, F8..FF
inline constexpr std::size_t kSectorsPerFat16 = 22;  // 0 on FAT32
inline constexpr std::size_t kSectorsPerTrack = 24;
inline constexpr std::size_t kHeads = 26;
inline constexpr std::size_t kHiddenSectors = 28;  // 32 bits: the sectors before the volume
inline constexpr std::size_t kTotalSectors32 = 32;

// The extended block (drive number, signature, serial number, label, type name)
// follows the common block. FAT32 puts fields of its own there first, so its
// extended block lies 28 bytes further on: each kind has its offsets below.
inline constexpr std::uint8_t kExtendedSignatureMark = 0x29;  // a serial and a label follow
inline constexpr std::size_t kLabelLength = 11;
inline constexpr std::size_t kFileSystemTypeLength = 8;

// Every boot record (a volume's boot sector, a master or extended boot record)
// ends with the bytes 0x55 0xAA: 0xAA55 read as one little-endian 16-bit field.
inline constexpr std::size_t kSignature = 510;
inline constexpr std::uint16_t kSignatureMark = 0xAA55;
}  // namespace boot

// The extended block of FAT12 and FAT16, right after the common block.
namespace boot::fat16 {
inline constexpr std::size_t kDriveNumber = 36;  // 8 bits
inline constexpr std::size_t kExtendedSignature = 38;
inline constexpr std::size_t kVolumeId = 39;  // 32 bits
inline constexpr std::size_t kLabel = 43;
inline constexpr std::size_t kFileSystemType = 54;
}  // namespace boot::fat16

// FAT32's own fields after the common block, then its extended block.
namespace boot::fat32 {
inline constexpr std::size_t kSectorsPerFat = 36;  // 32 bits
inline constexpr std::size_t kFlags = 40;          // which FAT is mirrored or active
inline constexpr std::size_t kVersion = 42;
inline constexpr std::size_t kRootCluster = 44;       // 32 bits
inline constexpr std::size_t kFsInfoSector = 48;      // from the volume's start
inline constexpr std::size_t kBackupBootSector = 50;  // from the volume's start
inline constexpr std::size_t kDriveNumber = 64;
inline constexpr std::size_t kExtendedSignature = 66;
inline constexpr std::size_t kVolumeId = 67;
inline constexpr std::size_t kLabel = 71;
inline constexpr std::size_t kFileSystemType = 82;
}  // namespace boot::fat32

// FAT32's information sector: a hint of the free clusters, between three marks.
namespace fsInfo {
inline constexpr std::size_t kLeadSignature = 0;
inline constexpr std::size_t kStructSignature = 484;
inline constexpr std::size_t kFreeCount = 488;
inline constexpr std::size_t kNextFree = 492;
inline constexpr std::size_t kTrailSignature = 508;
inline constexpr std::uint32_t kLeadSignatureMark = 0x41615252;
inline constexpr std::uint32_t kStructSignatureMark = 0x61417272;
inline constexpr std::uint32_t kTrailSignatureMark = 0xAA550000;
}  // namespace fsInfo

// The partition table of a master or extended boot record: four entries of 16
// bytes before the 0x55 0xAA signature, and the fields of one entry from its start.
namespace partition {
inline constexpr std::size_t kTableOffset = 446;
inline constexpr std::size_t kEntrySize = 16;
inline constexpr std::size_t kEntryCount = 4;

inline constexpr std::size_t kBootFlag = 0;
inline constexpr std::size_t kStartHead = 1;
inline constexpr std::size_t kStartSector = 2;  // bits 0-5 sector, bits 6-7 cylinder bits 8-9
inline constexpr std::size_t kStartCylinder = 3;
inline constexpr std::size_t kType = 4;
inline constexpr std::size_t kEndHead = 5;
inline constexpr std::size_t kEndSector = 6;
inline constexpr std::size_t kEndCylinder = 7;
inline constexpr std::size_t kStartLba = 8;      // 32 bits
inline constexpr std::size_t kSectorCount = 12;  // 32 bits

// The boot flags an entry can carry.
inline constexpr std::uint8_t kInactive = 0x00;
inline constexpr std::uint8_t kActive = 0x80;

// Where the entry in table slot 0..3 begins in its boot record.
inline constexpr std::size_t EntryOffset(std::size_t slot) {
    return kTableOffset + slot * kEntrySize;
}
}  // namespace partition

// A short directory entry: 32 bytes, the 8+3 name blank-padded.
namespace entry {
inline constexpr std::size_t kSize = 32;

inline constexpr std::size_t kName = 0;
inline constexpr std::size_t kNameLength = 8;
inline constexpr std::size_t kExtension = 8;
inline constexpr std::size_t kExtensionLength = 3;
inline constexpr std::size_t kShortNameLength = kNameLength + kExtensionLength;
inline constexpr std::size_t kAttributes = 11;
inline constexpr std::size_t kCaseFlags = 12;  // Windows NT: name or extension in small letters
inline constexpr std::size_t kCreateTime = 14;
inline constexpr std::size_t kCreateDate = 16;
inline constexpr std::size_t kAccessDate = 18;
inline constexpr std::size_t kFirstClusterHigh = 20;  // counts on FAT32 only
inline constexpr std::size_t kWriteTime = 22;
inline constexpr std::size_t kWriteDate = 24;
inline constexpr std::size_t kFirstClusterLow = 26;
inline constexpr std::size_t kFileSize = 28;  // 32 bits: the size modulo 2^32

// What the first name byte tells: 0x00 ends the directory, 0xE5 marks a deleted
// entry, 0x05 stands for a name that begins with the byte 0xE5.
inline constexpr std::uint8_t kEndOfDirectory = 0x00;
inline constexpr std::uint8_t kDeleted = 0xE5;
inline constexpr std::uint8_t kEscapedE5 = 0x05;

// Attribute bits. A long-name entry has the four low ones set (read-only,
// hidden, system, label), a combination no short entry carries.
inline constexpr std::uint8_t kAttributeVolumeLabel = 0x08;
inline constexpr std::uint8_t kAttributeDirectory = 0x10;
inline constexpr std::uint8_t kAttributeArchive = 0x20;
inline constexpr std::uint8_t kAttributeLongName = 0x0F;

// Case flags: the name, or the extension, is shown in small letters.
inline constexpr std::uint8_t kSmallName = 0x08;
inline constexpr std::uint8_t kSmallExtension = 0x10;
}  // namespace entry

// A long-name entry: 13 UTF-16 units of the name in three pieces, around the
// fields it keeps at a short entry's places (attributes, first cluster 0). The
// entries of a name lie before its short entry, last piece first.
namespace longName {
inline constexpr std::size_t kOrder = 0;  // the piece's number from 1, with kLastEntry
inline constexpr std::size_t kName1 = 1;
inline constexpr std::size_t kName1Units = 5;
inline constexpr std::size_t kAttributes = entry::kAttributes;  // kAttributeLongName
inline constexpr std::size_t kType = 12;                        // always 0
inline constexpr std::size_t kChecksum = 13;  // of the short name the long name is for
inline constexpr std::size_t kName2 = 14;
inline constexpr std::size_t kName2Units = 6;
inline constexpr std::size_t kFirstCluster = entry::kFirstClusterLow;  // always 0
inline constexpr std::size_t kName3 = 28;
inline constexpr std::size_t kName3Units = 2;
inline constexpr std::size_t kUnitsPerEntry = kName1Units + kName2Units + kName3Units;

// Marks in the order byte the entry that holds the end of the name.
inline constexpr std::uint8_t kLastEntry = 0x40;

// Where each of the entry's units lies, in the name's order.
inline constexpr std::array<std::size_t, kUnitsPerEntry> kUnitOffsets = [] {
    std::array<std::size_t, kUnitsPerEntry> offsets{};
    std::size_t unit = 0;
    for (std::size_t i = 0; i < kName1Units; ++i) {
        offsets[unit++] = kName1 + 2 * i;
    }
    for (std::size_t i = 0; i < kName2Units; ++i) {
        offsets[unit++] = kName2 + 2 * i;
    }
    for (std::size_t i = 0; i < kName3Units; ++i) {
        offsets[unit++] = kName3 + 2 * i;
    }
    return offsets;
}();
}  // namespace longName

}  // namespace moravel::layout
