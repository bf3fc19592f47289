#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace moravel {

// A part of a split copy holds at most this many bytes: one less than the
// largest file FAT32 can hold.
inline constexpr std::uint64_t kPartLimit = 0xFFFFFFFE;

// FAT, FAT12 and FAT16 drives are refused as destinations.
bool IsRefusedFileSystem(std::string_view fileSystem);

// A copy to a FAT32 drive goes in parts when the file is 4 GiB or more: FAT32
// holds files of at most 4 GiB - 1 byte.
bool NeedsParts(std::string_view fileSystem, std::uint64_t fileSize);

// A file name cut at its last '.': the extension is the dot and what follows.
struct NameParts {
    std::string base;
    std::string extension;
};
NameParts SplitFileName(std::string_view fileName);

// The name of part n: base, "_", n, extension (Movie_1.ts).
std::string PartName(const NameParts& name, int part);

// Where the parts of a split copy begin in the file: a part takes whole clusters
// while it stays within kPartLimit bytes, and the file's last, partial cluster
// too when that still fits. {0} for a file that is not split.
std::vector<std::uint64_t> PartStarts(std::uint64_t size, std::uint64_t clusterBytes, bool split);

// A name from the disk made fit to be a file name in a chosen folder: '/', NUL and
// control characters (also C1 controls written as UTF-8) become '_', and so do
// "." and ".." and an empty name, so that nothing is written outside the folder
// and no name can move a terminal's cursor.
std::string SafeFileName(std::string_view name);

// The name with " (n)" before its extension ("Movie (2).ts"), for the later of
// two entries that come to the same name.
std::string NumberedName(const std::string& name, int n);

// The folder of a path, with its trailing '/' ("" for a bare name).
std::string FolderOf(std::string_view path);

}  // namespace moravel
