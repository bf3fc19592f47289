#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace moravel {

// The volume that holds a destination folder, as the copy needs to know it.
struct DestinationVolume {
    std::string rootPath;    // the mount point, with a trailing '/' ("/", "/media/usb/")
    std::string fileSystem;  // "FAT12", "FAT16", "FAT32", "NTFS", "exFAT", or the kernel's name:
                             // "ext4", "btrfs", "xfs", "tmpfs", ...
    // Empty, or a sentence for the user when the file system could not be read and its
    // name is a guess ("The FAT version of /media/usb/ could not be read ..."). Initialized
    // so that a volume may still be written as {rootPath, fileSystem}.
    std::string note{};
    // The file system was taken for FAT32 because parts were asked for, not found.
    bool partsAsked = false;
};

// For an existing folder, or a file path whose folder exists: the mount that holds it.
// Nothing when the folder does not exist or the mount table cannot be read.
std::optional<DestinationVolume> FindDestinationVolume(const std::string& path);

// One line of /proc/self/mountinfo, with the escapes of its paths decoded.
struct MountEntry {
    int id = 0;
    int parentId = 0;
    unsigned int major = 0;
    unsigned int minor = 0;
    std::string root;        // the folder of the file system that is mounted here
    std::string mountPoint;  // where, as this process sees it
    std::string mountOptions;
    std::vector<std::string> optionalFields;  // "shared:1", "master:2", ...
    std::string fileSystemType;               // the kernel's name: "vfat", "ext4", "fuseblk", ...
    std::string source;                       // "/dev/sdb1", "tmpfs", ...
    std::string superOptions;
};

// Decodes the octal escapes (\040 space, \011 tab, \012 newline, \134 backslash) that the
// kernel writes into the paths of the mount table. Anything else is kept as it stands.
std::string DecodeMountField(std::string_view field);

// The mounts of a mountinfo text, in its order. Lines that do not have the fields of a
// mount are passed over.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The mount that holds resolvedPath (absolute, no symbolic links, no "." or ".."): of the
// mounts whose mount point is resolvedPath or one of its parent folders, the deepest one
// whose device is `device`; when no such mount has that device (btrfs subvolumes report
// their own), the deepest one. Of two mounts on the same point, the one mounted over the
// other. Null when no mount point is a parent folder of resolvedPath.
const MountEntry* MountHolding(const std::vector<MountEntry>& mounts, std::string_view resolvedPath,
                               dev_t device);

// The folder a path lies in, by its spelling: "." for a bare name, "/" for a
// name in the root.
std::string ParentOf(const std::string& path);

// The files a FUSE file system is served from, as far as this process can see: its source
// when that is an absolute path (ntfs-3g's device), else the regular files and block devices
// that its server holds open (fusefat and others name themselves as the source). The server is a
// process under procRoot that has /dev/fuse open and names the mount point among its
// arguments. A server of another user cannot be looked into. Bounded in processes and files.
std::vector<std::string> FuseServedFiles(const MountEntry& mount,
                                         const std::filesystem::path& procRoot = "/proc");

// Whether a mount's file system type is one of FUSE's ("fuse", "fuseblk", "fuse.NAME").
bool IsFuseType(std::string_view type);

// What a file system signature probe finds on a device or image file.
struct VolumeSignature {
    std::string type;     // blkid's TYPE: "vfat", "ntfs", "exfat", "ext4", ...
    std::string version;  // blkid's VERSION, when it has one: "FAT12", "FAT16", "FAT32", ...
};

// Reads the file system signature of a mount source; nothing when it cannot be read.
using VolumeProbe = std::function<std::optional<VolumeSignature>(const std::string& source)>;

// The signature of a block device or image file, read with libblkid. Nothing when the path
// is neither, cannot be opened, holds no known file system or more than one.
std::optional<VolumeSignature> ProbeVolume(const std::string& deviceOrImage);

// "FAT12", "FAT16" or "FAT32" when deviceOrImage holds a FAT file system; else nothing.
std::optional<std::string> ProbeFatVersion(const std::string& deviceOrImage);

// blkid's TYPE of deviceOrImage ("vfat", "ntfs", "ext4", ...); nothing when unknown.
std::optional<std::string> ProbeType(const std::string& deviceOrImage);

// The FAT version that a FAT boot sector (the first 512 bytes of a volume, or more) describes:
// a volume laid out as FAT32 (no 16-bit FAT size) is FAT32; else the count of its data
// clusters decides, FAT12 below 4085 and FAT16 below 65525. Nothing when the bytes are not a
// plausible FAT boot sector (sector size not 512, 1024, 2048 or 4096, clusters that are not a
// power of two sectors, no FAT, no reserved sector, a FAT too small for the clusters, ...).
std::optional<std::string> FatVersionOfBootSector(std::span<const std::uint8_t> sector);

// The FAT version that udev recorded for a device, from the text of its record
// (/run/udev/data/bMAJ:MIN, which every user may read): its ID_FS_VERSION when its
// ID_FS_TYPE is a FAT type. Nothing otherwise.
std::optional<std::string> FatVersionOfUdevRecord(std::string_view record);

// Where the FAT version of a FAT mount is looked for, in this order. A normal user cannot
// read the device of a mounted stick, so libblkid fails there; udev's record of the device
// can be read by anyone.
struct FatVersionSources {
    VolumeProbe probe = ProbeVolume;          // the signature of the mount source; empty: not asked
    std::string udevData = "/run/udev/data";  // udev's device records; empty: not read
    bool bootSector = true;                   // the boot sector of the mount source, read-only
    std::filesystem::path procRoot = "/proc";  // where a FUSE mount's server is looked for
};

// A file system's name as the copy uses it, and a note when the name is a guess.
struct FileSystemName {
    std::string name;
    std::string note;
};

// The name the copy uses for the file system of a mount. FAT mounts are named by their FAT
// version, looked for in `sources`; when none of them tells it, FAT32, with a note that says
// so. NTFS and exFAT by those names, also when a FUSE driver serves them from a block device;
// any other file system as the kernel names it.
FileSystemName NameMountedFileSystem(const MountEntry& mount,
                                     const FatVersionSources& sources = {});

// The same name, the FAT version read with `probe` alone (FAT32 when it cannot be read).
std::string NameFileSystem(const MountEntry& mount, const VolumeProbe& probe = ProbeVolume);

// The text of /proc/self/mountinfo; nothing when it cannot be read.
std::optional<std::string> ReadMountTable();

}  // namespace moravel
