#pragma once

#include <cstddef>
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

// The name of part n: base, "_", n, extension (Movie_1.ts), shortened as
// FitFileName shortens a name when that is longer than a file name can be.
std::string PartName(const NameParts& name, int part);

// The longest file name the program writes: NAME_MAX bytes of UTF-8 on Linux,
// 255 UTF-16 units on Windows (counted by FileNameLength).
inline constexpr std::size_t kFileNameLimit = 255;
std::size_t FileNameLength(std::string_view name);

// The name stem + tail when it fits kFileNameLimit; else the stem cut at a
// character's edge, "~" and eight hex digits of a hash of the whole stem, then
// the tail: names that differ stay different, and the same name is always cut
// the same way (a rescue finds its working files again).
std::string NameWithin(std::string_view stem, std::string_view tail);
// A file name made to fit kFileNameLimit, its extension kept; a name that fits
// is left as it is.
std::string FitFileName(std::string_view name);
// The file name with a suffix after it (".part"), made to fit as FitFileName
// does, before the extension when the name has to be cut.
std::string FitFileName(std::string_view name, std::string_view suffix);
// A path whose last name is given a suffix, that name made to fit.
std::string PathWithSuffix(std::string_view path, std::string_view suffix);

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
