#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "NameText.h"
#include "disk/ByteOrder.h"
#include "disk/DiskLayout.h"
#include "disk/ItemKinds.h"

namespace moravel {

enum class EntryVerdict { Keep, Skip, End };

// What a directory scan does with the entry: long-name entries and deleted
// entries (0xE5) are skipped; the fixed root also skips volume labels, a
// cluster-chain directory its dot entries instead (and keeps the label); a first
// byte 0x00 ends the directory. A first byte 0x05 is a live entry whose name
// begins with the byte 0xE5.
EntryVerdict FilterEntry(ByteSpan entry, bool chainDirectory);

bool IsLongNameEntry(ByteSpan entry);

// All names come out in UTF-8: long names from their UTF-16 units, short names
// from the bytes of the OEM code page.

// The name of entry index of the directory buffer: its long name when the
// long-name entries right before it are its own (AssembleLongName), else the
// short name as stored: 8 name bytes, a dot and 3 extension bytes, padding kept.
std::string FormEntryName(ByteSpan directory, std::size_t index, const OemCodePage& codePage);

// The long name gathered before entry index, if there is a whole one that is the
// entry's: live long-name entries numbered 1, 2, ... back from it to the one
// marked 0x40, each with the checksum of its short name. The name runs up to its
// first 0 unit, at most 255 units.
std::optional<std::string> AssembleLongName(ByteSpan directory, std::size_t index);

// The checksum over the 11 short-name bytes of an entry that its long-name
// entries carry.
std::uint8_t ShortNameChecksum(ByteSpan entry);

std::string ShortName(ByteSpan entry, const OemCodePage& codePage);

// The short name as a file of the machine would be called: name and extension
// without their padding, and no dot before an empty extension ("NEWS0518.TS",
// "TRAILER.TS", "README"), each in small letters where the entry's case flags
// say so ("readme.txt").
std::string UnpaddedShortName(ByteSpan entry, const OemCodePage& codePage);

// The name a copy of the entry is given: its long name, else its unpadded short name.
std::string FormFileName(ByteSpan directory, std::size_t index, const OemCodePage& codePage);

// The first cluster of an entry: the high word counts on FAT32 only.
std::uint32_t EntryFirstCluster(ByteSpan entry, FatKind fatKind);

inline std::uint32_t EntrySize(ByteSpan entry) {
    return ReadLe32(entry, layout::entry::kFileSize);
}

// A file's true size from its directory size (the size modulo 2^32) and the bytes
// its chain allocates: the largest value that equals the directory size modulo
// 2^32 and does not exceed the allocation (the directory size itself when the
// allocation is smaller).
std::uint64_t FileSizeFromChain(std::uint32_t directorySize, std::uint64_t allocatedBytes);

}  // namespace moravel
