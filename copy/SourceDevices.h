#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace moravel {

// A file by identity, whatever path names it.
struct FileIdentity {
    std::uint64_t device = 0;  // the file system's device (on Windows its volume's serial number)
    std::uint64_t inode = 0;   // the file's number there (on Windows its file index)
};

// What an existing path names: its identity, and whether it is a block device (or on
// Windows a device path such as \\.\PhysicalDrive1). Nothing when it cannot be examined.
struct ExaminedFile {
    FileIdentity identity;
    bool blockDevice = false;
};
std::optional<ExaminedFile> ExamineFile(const std::string& path);

// The disks being read, as the kernel knows them.
struct SourceDisks {
    // Disks that are block devices: their device numbers (on Windows the N of each
    // \\.\PhysicalDriveN being read).
    std::vector<dev_t> devices;
    std::vector<FileIdentity> images;  // disks that are image files
    std::vector<char> driveLetters{};  // on Windows, drives read by their letter (\\.\A:)
};

#ifdef _WIN32
// N of a path \\.\PhysicalDriveN (any case), and the letter of a drive device
// \\.\A: (upper case); nothing for other paths.
std::optional<unsigned> PhysicalDriveNumber(std::string_view path);
std::optional<char> DriveLetterDevice(std::string_view path);
#endif

// Where this machine describes its block devices and its mounts; tests put fakes there.
struct BlockDeviceTables {
    std::filesystem::path sysRoot = "/sys";
    // The text of the mount table; nothing: /proc/self/mountinfo, read at each look-up.
    std::optional<std::string> mountInfo;
    std::filesystem::path procRoot = "/proc";  // where FUSE servers are looked for
};

// The disks behind the paths they were opened by, and the files behind those: what a loop
// device reads (its backing file, also of the disk a partition lies on, and of the devices a
// mapped device is made of), what a FUSE file system serves an image from (its source, or
// the files its server holds open), followed as far as they lead. Writing to any of them
// writes the disk being read. A path that cannot be examined is left out: it cannot be read
// either.
SourceDisks IdentifySourceDisks(const std::vector<std::string>& diskPaths,
                                const BlockDeviceTables& tables = {});

// How a file system's device stands on a disk being read.
enum class SourceOverlap {
    Disk,       // it is the disk
    Partition,  // it is a partition of the disk
    Layered,    // it is made of the disk or its partitions (device mapper: LVM, dm-crypt, ...)
    Loop,       // a loop device reads the disk, an image being read, or a file on the disk
    Image,      // a file system driver (FUSE) serves it from an image being read
};

// Whether the block device `device` is a disk being read or lies on one. The walk follows
// the device in sysfs (sysRoot/dev/block/MAJ:MIN): from a partition to its disk, from a
// device to the devices it is made of (its "slaves"), from a loop device to its backing
// file. It is bounded in depth and breadth, and an entry that is missing or makes no sense
// ends its branch. Never Image.
std::optional<SourceOverlap> FindSourceBeneath(dev_t device, const SourceDisks& sources,
                                               const std::filesystem::path& sysRoot = "/sys");

// The reason a file created at `path` would be written to a disk being read ("it is on a
// partition of a disk being read (/dev/sdb1)"); nothing when it would not, or when where it
// would go cannot be told (then it cannot be created either). Looked at: the device of the
// file system that holds the path (that of an existing file or of a symbolic link's target
// where it is one), and the source of the mount that holds it when that is a block device or
// an image file, or else the files its FUSE server holds open: FUSE file systems have device
// numbers of their own.
std::optional<std::string> SourceRefusal(const std::string& path, const SourceDisks& sources,
                                         const BlockDeviceTables& tables = {});

}  // namespace moravel
