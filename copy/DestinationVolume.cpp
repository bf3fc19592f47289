#include "DestinationVolume.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "disk/ByteOrder.h"
#include "disk/DiskLayout.h"
#include "disk/DriveItem.h"
#include "tree/BootSector.h"

namespace moravel {

namespace {

// Bounds on the look for a FUSE mount's server.
constexpr std::size_t kMaxProcesses = 65536;
constexpr std::size_t kMaxOpenFiles = 4096;
constexpr std::size_t kMaxCommandLine = 65536;

bool IsOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

// The fields of one mountinfo line. The kernel puts exactly one space between fields and
// escapes the spaces inside them, so an empty field (a mount without a source) stays a field.
std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t space = line.find(' ', start);
        if (space == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, space - start));
        start = space + 1;
    }
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

std::optional<MountEntry> ParseMountLine(std::string_view line) {
    const std::vector<std::string_view> fields = SplitFields(line);
    // Six fixed fields, any number of optional ones, "-", then three more.
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") {
        ++separator;
    }
    if (separator + 3 >= fields.size()) {
        return std::nullopt;
    }
    MountEntry entry;
    const std::string_view device = fields[2];
    const std::size_t colon = device.find(':');
    if (!ParseNumber(fields[0], entry.id) || !ParseNumber(fields[1], entry.parentId) ||
        colon == std::string_view::npos || !ParseNumber(device.substr(0, colon), entry.major) ||
        !ParseNumber(device.substr(colon + 1), entry.minor)) {
        return std::nullopt;
    }
    entry.root = DecodeMountField(fields[3]);
    entry.mountPoint = DecodeMountField(fields[4]);
    if (entry.mountPoint.empty() || entry.mountPoint.front() != '/') {
        return std::nullopt;
    }
    entry.mountOptions = std::string(fields[5]);
    for (std::size_t i = 6; i < separator; ++i) {
        entry.optionalFields.emplace_back(fields[i]);
    }
    entry.fileSystemType = DecodeMountField(fields[separator + 1]);
    entry.source = DecodeMountField(fields[separator + 2]);
    entry.superOptions = DecodeMountField(fields[separator + 3]);
    return entry;
}

// The mount point without a trailing '/', except for the root itself.
std::string_view WithoutTrailingSlash(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    return path;
}

// Whether path is mountPoint or lies below it; "/mnt/a" holds "/mnt/a/x" but not "/mnt/ab".
bool Holds(std::string_view mountPoint, std::string_view path) {
    if (mountPoint == "/") {
        return !path.empty() && path.front() == '/';
    }
    return path.starts_with(mountPoint) &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

const MountEntry* DeepestHolding(const std::vector<MountEntry>& mounts, std::string_view path,
                                 const std::optional<dev_t>& device) {
    const MountEntry* best = nullptr;
    std::size_t bestDepth = 0;
    for (const MountEntry& mount : mounts) {
        const std::string_view point = WithoutTrailingSlash(mount.mountPoint);
        if (!Holds(point, path)) {
            continue;
        }
        if (device && (major(*device) != mount.major || minor(*device) != mount.minor)) {
            continue;
        }
        // Both hold the path, so the same length means the same mount point: then the
        // later mount is on top, unless the earlier one was mounted over it.
        const bool deeper = best == nullptr || point.size() > bestDepth;
        const bool over =
            best != nullptr && point.size() == bestDepth && best->parentId != mount.id;
        if (deeper || over) {
            best = &mount;
            bestDepth = point.size();
        }
    }
    return best;
}

bool IsFatType(std::string_view type) {
    return type == "vfat" || type == "msdos" || type == "fat";
}

bool IsFatVersion(std::string_view version) {
    return version == "FAT12" || version == "FAT16" || version == "FAT32";
}

std::optional<std::string> ReadTextFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        return std::nullopt;
    }
    return text.str();
}

// The first sector of a device or image, opened read-only; or why it could not be read.
struct FirstSector {
    std::vector<std::uint8_t> bytes;
    std::string problem;
};

FirstSector ReadFirstSector(const std::string& deviceOrImage) {
    FirstSector sector;
    // Not blocking: a FIFO put where a device was expected must not hang the copy.
    const int fd = ::open(deviceOrImage.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        sector.problem = error == EACCES || error == EPERM
                             ? "no access to " + deviceOrImage
                             : deviceOrImage + ": " + std::strerror(error);
        return sector;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !(S_ISBLK(status.st_mode) || S_ISREG(status.st_mode))) {
        sector.problem = deviceOrImage + " is no device";
        ::close(fd);
        return sector;
    }
    sector.bytes.resize(512);
    ssize_t got = -1;
    do {
        got = ::pread(fd, sector.bytes.data(), sector.bytes.size(), 0);
    } while (got < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (got != static_cast<ssize_t>(sector.bytes.size())) {
        sector.bytes.clear();
        sector.problem = got < 0 ? deviceOrImage + ": " + std::strerror(error)
                                 : deviceOrImage + " is too short for a boot sector";
    }
    return sector;
}

std::string WithTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

// The FAT version of a FAT mount: from the signature that was probed, else from udev's record
// of the mount's device, else from the boot sector of its source. When none of them tells,
// FAT32, the most common FAT that the kernel mounts today, and a note that it is a guess.
FileSystemName NameFatMount(const MountEntry& mount,
                            const std::optional<VolumeSignature>& signature,
                            const FatVersionSources& sources) {
    if (signature && IsFatType(signature->type) && IsFatVersion(signature->version)) {
        return {signature->version, ""};
    }
    if (!sources.udevData.empty()) {
        const std::string record = sources.udevData + "/b" + std::to_string(mount.major) + ":" +
                                   std::to_string(mount.minor);
        if (const std::optional<std::string> text = ReadTextFile(record)) {
            if (std::optional<std::string> version = FatVersionOfUdevRecord(*text)) {
                return {std::move(*version), ""};
            }
        }
    }
    std::string problem;
    if (mount.source.empty() || mount.source.front() != '/') {
        problem = "it is mounted from \"" + mount.source + "\", which is no device";
    } else if (!sources.bootSector) {
        problem = "the signature of " + mount.source + " could not be read";
    } else {
        const FirstSector sector = ReadFirstSector(mount.source);
        if (sector.bytes.empty()) {
            problem = sector.problem;
        } else if (std::optional<std::string> version = FatVersionOfBootSector(sector.bytes)) {
            return {std::move(*version), ""};
        } else {
            problem = mount.source + " holds no FAT boot sector that makes sense";
        }
    }
    return {"FAT32", "The FAT version of " + WithTrailingSlash(mount.mountPoint) +
                         " could not be read (" + problem + "); it is taken as FAT32."};
}

std::optional<std::string> ResolvedPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The folder that a destination path names: the path itself when it is a folder, else the
// folder of the file it names (which need not exist yet). A path that ends in '/' names a
// folder, which then has to exist: its "parent" is the path itself.
std::optional<std::string> DestinationFolder(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    if (const std::optional<std::string> resolved = ResolvedPath(path)) {
        if (IsFolder(*resolved)) {
            return resolved;
        }
        const std::string folder = ParentOf(*resolved);
        return IsFolder(folder) ? std::optional<std::string>(folder) : std::nullopt;
    }
    const std::optional<std::string> folder = ResolvedPath(ParentOf(path));
    return folder && IsFolder(*folder) ? folder : std::nullopt;
}

// Whether a relative argument, given by a server that has since left its working folder
// (daemons go to "/"), may name the mount point: it is the mount point's last components.
bool EndsWith(const std::filesystem::path& mountPoint, const std::filesystem::path& relative) {
    std::vector<std::filesystem::path> tail(relative.begin(), relative.end());
    std::vector<std::filesystem::path> whole(mountPoint.begin(), mountPoint.end());
    return !tail.empty() && tail.size() < whole.size() &&
           std::equal(tail.rbegin(), tail.rend(), whole.rbegin());
}

// A FUSE server names its mount point among its arguments, as given: relative ones
// from its working folder. Compared by spelling, never by looking at the paths: a hung
// server's mount would hang the look.
bool NamesMountPoint(const std::filesystem::path& process, const std::string& mountPoint) {
    std::ifstream in(process / "cmdline", std::ios::binary);
    std::string arguments(kMaxCommandLine, '\0');
    in.read(arguments.data(), static_cast<std::streamsize>(arguments.size()));
    arguments.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::read_symlink(process / "cwd", error);
    const std::filesystem::path wanted = std::filesystem::path(mountPoint).lexically_normal();
    std::size_t start = 0;
    while (start < arguments.size()) {
        const std::size_t end = std::min(arguments.find('\0', start), arguments.size());
        std::filesystem::path argument =
            std::filesystem::path(arguments.substr(start, end - start)).lexically_normal();
        start = end + 1;
        if (!argument.has_filename() && argument.has_parent_path() &&
            argument != argument.root_path()) {
            argument = argument.parent_path();
        }
        if (argument.empty() || (argument.is_relative() && error)) {
            continue;
        }
        if (argument.is_relative() && folder == folder.root_path()) {
            if (EndsWith(wanted, argument)) {
                return true;
            }
        } else if ((argument.is_absolute() ? argument : (folder / argument).lexically_normal()) ==
                   wanted) {
            return true;
        }
    }
    return false;
}

// The paths a process holds open, as its file descriptors show them, by descriptor.
std::vector<std::pair<std::string, std::string>> OpenFilesOf(const std::filesystem::path& process) {
    std::vector<std::pair<std::string, std::string>> files;
    std::error_code error;
    for (std::filesystem::directory_iterator it(process / "fd", error), end;
         !error && it != end && files.size() < kMaxOpenFiles; it.increment(error)) {
        std::error_code unreadable;
        const std::filesystem::path target = std::filesystem::read_symlink(it->path(), unreadable);
        if (!unreadable) {
            files.emplace_back(it->path().filename().string(), target.string());
        }
    }
    return files;
}

// The FUSE connection a /dev/fuse descriptor serves, which is the minor number of its
// mount's device; Linux tells it from 6.x on. Nothing when it does not.
std::optional<unsigned int> FuseConnectionOf(const std::filesystem::path& process,
                                             const std::string& descriptor) {
    std::ifstream in(process / "fdinfo" / descriptor);
    std::string line;
    while (std::getline(in, line)) {
        constexpr std::string_view kField = "fuse_connection:";
        if (line.starts_with(kField)) {
            std::string_view digits = std::string_view(line).substr(kField.size());
            digits.remove_prefix(std::min(digits.find_first_not_of(" \t"), digits.size()));
            unsigned int connection = 0;
            const auto [end, failure] =
                std::from_chars(digits.data(), digits.data() + digits.size(), connection);
            if (failure == std::errc() && end == digits.data() + digits.size()) {
                return connection;
            }
        }
    }
    return std::nullopt;
}

// Whether the process serves the FUSE mount: it has /dev/fuse open, for that mount's
// connection where the system tells, else with the mount point among its arguments.
bool ServesMount(const std::filesystem::path& process,
                 const std::vector<std::pair<std::string, std::string>>& files,
                 const MountEntry& mount) {
    bool fuse = false;
    bool told = false;
    for (const auto& [descriptor, path] : files) {
        if (path != "/dev/fuse") {
            continue;
        }
        fuse = true;
        if (const auto connection = FuseConnectionOf(process, descriptor)) {
            if (mount.major == 0 && *connection == mount.minor) {
                return true;
            }
            told = true;
        }
    }
    return fuse && !told && NamesMountPoint(process, mount.mountPoint);
}

}  // namespace

namespace {

// A FUSE driver that names itself as the source (fusefat does) is named by the device or
// image it serves; a FAT driver whose device cannot be looked into is taken as FAT32, with
// the note that says so. Nothing when neither tells.
std::optional<FileSystemName> NameServedFileSystem(const MountEntry& mount,
                                                   const FatVersionSources& sources) {
    for (const std::string& file : FuseServedFiles(mount, sources.procRoot)) {
        MountEntry served = mount;
        served.source = file;
        served.fileSystemType = "fuseblk";
        const std::optional<VolumeSignature> signature =
            sources.probe ? sources.probe(file) : std::nullopt;
        if (signature && !signature->type.empty()) {
            return NameMountedFileSystem(served, sources);
        }
        if (sources.bootSector) {
            const FirstSector sector = ReadFirstSector(file);
            if (std::optional<std::string> version = FatVersionOfBootSector(sector.bytes)) {
                return FileSystemName{std::move(*version), ""};
            }
        }
    }
    const std::string_view type = mount.fileSystemType;
    if (type.find("fat") != std::string_view::npos &&
        type.find("exfat") == std::string_view::npos) {
        return NameFatMount(mount, std::nullopt, sources);
    }
    return std::nullopt;
}

}  // namespace

bool IsFuseType(std::string_view type) {
    return type == "fuse" || type == "fuseblk" || type.starts_with("fuse.");
}

std::vector<std::string> FuseServedFiles(const MountEntry& mount,
                                         const std::filesystem::path& procRoot) {
    std::vector<std::string> served;
    const auto add = [&served](const std::string& path) {
        if (std::find(served.begin(), served.end(), path) == served.end()) {
            served.push_back(path);
        }
    };
    // A source that is a path names what is served (ntfs-3g names its device); the
    // look through the processes is for drivers that name themselves.
    if (mount.source.starts_with('/')) {
        add(mount.source);
        return served;
    }
    std::error_code error;
    std::size_t processes = 0;
    for (std::filesystem::directory_iterator it(procRoot, error), end;
         !error && it != end && processes < kMaxProcesses; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        ++processes;
        const auto files = OpenFilesOf(it->path());
        if (!ServesMount(it->path(), files, mount)) {
            continue;
        }
        for (const auto& [descriptor, file] : files) {
            struct stat status {};
            if (file != "/dev/fuse" && file.starts_with('/') &&
                ::stat(file.c_str(), &status) == 0 &&
                (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode))) {
                add(file);
            }
        }
    }
    return served;
}

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string DecodeMountField(std::string_view field) {
    std::string decoded;
    decoded.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctalDigit(field[i + 1]) &&
            IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
            const int value =
                (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                decoded += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        decoded += field[i];
    }
    return decoded;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (std::optional<MountEntry> entry = ParseMountLine(text.substr(start, end - start))) {
            mounts.push_back(std::move(*entry));
        }
        start = end + 1;
    }
    return mounts;
}

const MountEntry* MountHolding(const std::vector<MountEntry>& mounts, std::string_view resolvedPath,
                               dev_t device) {
    if (const MountEntry* mount = DeepestHolding(mounts, resolvedPath, device)) {
        return mount;
    }
    return DeepestHolding(mounts, resolvedPath, std::nullopt);
}

std::optional<VolumeSignature> ProbeVolume(const std::string& deviceOrImage) {
    struct stat status {};
    if (::stat(deviceOrImage.c_str(), &status) != 0 ||
        !(S_ISBLK(status.st_mode) || S_ISREG(status.st_mode))) {
        return std::nullopt;
    }
    std::unique_ptr<blkid_struct_probe, decltype(&blkid_free_probe)> probe(
        blkid_new_probe_from_filename(deviceOrImage.c_str()), &blkid_free_probe);
    if (!probe) {
        return std::nullopt;
    }
    if (blkid_probe_enable_superblocks(probe.get(), 1) != 0 ||
        blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION) !=
            0 ||
        blkid_do_safeprobe(probe.get()) != 0) {
        return std::nullopt;
    }
    const auto value = [&probe](const char* name) {
        const char* data = nullptr;
        std::size_t length = 0;
        if (blkid_probe_lookup_value(probe.get(), name, &data, &length) != 0 || data == nullptr) {
            return std::string();
        }
        // The length counts the terminating zero.
        return std::string(data, length > 0 && data[length - 1] == '\0' ? length - 1 : length);
    };
    VolumeSignature signature{value("TYPE"), value("VERSION")};
    if (signature.type.empty()) {
        return std::nullopt;
    }
    return signature;
}

std::optional<std::string> ProbeFatVersion(const std::string& deviceOrImage) {
    const std::optional<VolumeSignature> signature = ProbeVolume(deviceOrImage);
    if (signature && IsFatType(signature->type) && IsFatVersion(signature->version)) {
        return signature->version;
    }
    return std::nullopt;
}

std::optional<std::string> ProbeType(const std::string& deviceOrImage) {
    const std::optional<VolumeSignature> signature = ProbeVolume(deviceOrImage);
    if (!signature) {
        return std::nullopt;
    }
    return signature->type;
}

std::optional<std::string> FatVersionOfBootSector(std::span<const std::uint8_t> sector) {
    if (sector.size() < 512) {
        return std::nullopt;
    }
    const BootSector boot = DecodeBootSector(sector);
    const unsigned bytesPerSector = boot.bytesPerSector;
    const unsigned sectorsPerCluster = boot.sectorsPerCluster;
    const bool sectorSize = bytesPerSector == 512 || bytesPerSector == 1024 ||
                            bytesPerSector == 2048 || bytesPerSector == 4096;
    const bool clusterSize =
        sectorsPerCluster != 0 && (sectorsPerCluster & (sectorsPerCluster - 1)) == 0;
    // The media byte is F0 or F8..FF on every FAT volume the kernel mounts.
    const std::uint8_t media = ReadU8(sector, layout::boot::kMedia);
    const bool mediaByte = media == 0xF0 || media >= 0xF8;
    if (!sectorSize || !clusterSize || !mediaByte || boot.reservedSectors == 0 ||
        boot.fatCount == 0) {
        return std::nullopt;
    }
    // No room for data, or no count of sectors at all.
    const std::uint64_t clusters = DataClusters(boot);
    const std::optional<FatKind> kind = FatKindOf(boot);
    if (clusters == 0 || !kind) {
        return std::nullopt;
    }
    const std::uint64_t entryBits = FatBits(*kind);
    if (*kind == FatKind::Fat16 && clusters >= 65525) {
        return std::nullopt;  // more clusters than 16-bit entries can number
    }
    // Every cluster, and the two reserved entries, have an entry in the FAT.
    const std::uint64_t sectorsPerFat = boot.SectorsPerFat(*kind);
    if (sectorsPerFat * bytesPerSector * 8 / entryBits < clusters + 2) {
        return std::nullopt;
    }
    return *kind == FatKind::Fat32 ? "FAT32" : *kind == FatKind::Fat16 ? "FAT16" : "FAT12";
}

std::optional<std::string> FatVersionOfUdevRecord(std::string_view record) {
    std::string_view type;
    std::string_view version;
    std::size_t start = 0;
    while (start < record.size()) {
        std::size_t end = record.find('\n', start);
        if (end == std::string_view::npos) {
            end = record.size();
        }
        const std::string_view line = record.substr(start, end - start);
        // Properties are the lines "E:KEY=VALUE".
        if (line.starts_with("E:ID_FS_TYPE=")) {
            type = line.substr(13);
        } else if (line.starts_with("E:ID_FS_VERSION=")) {
            version = line.substr(16);
        }
        start = end + 1;
    }
    if (IsFatType(type) && IsFatVersion(version)) {
        return std::string(version);
    }
    return std::nullopt;
}

FileSystemName NameMountedFileSystem(const MountEntry& mount, const FatVersionSources& sources) {
    const std::string& type = mount.fileSystemType;
    const bool fat = IsFatType(type);
    const bool fuse = IsFuseType(type);
    // Only a source that is an absolute path can be a device or an image; FUSE drivers are
    // free to name their sources as they like ("user@host:", "data").
    std::optional<VolumeSignature> signature;
    if ((fat || fuse) && sources.probe && !mount.source.empty() && mount.source.front() == '/') {
        signature = sources.probe(mount.source);
    }
    if (fat) {
        return NameFatMount(mount, signature, sources);
    }
    if (fuse && !mount.source.starts_with('/')) {
        if (std::optional<FileSystemName> name = NameServedFileSystem(mount, sources)) {
            return std::move(*name);
        }
    }
    if (type == "ntfs" || type == "ntfs3") {
        return {"NTFS", ""};
    }
    if (type == "exfat") {
        return {"exFAT", ""};
    }
    if (fuse && signature && !signature->type.empty()) {
        // A FUSE driver serving a device or image: named by what the device holds.
        if (signature->type == "ntfs") {
            return {"NTFS", ""};
        }
        if (signature->type == "exfat") {
            return {"exFAT", ""};
        }
        if (IsFatType(signature->type)) {
            return NameFatMount(mount, signature, sources);
        }
        return {signature->type, ""};
    }
    return {type, ""};
}

std::string NameFileSystem(const MountEntry& mount, const VolumeProbe& probe) {
    return NameMountedFileSystem(mount, FatVersionSources{probe, "", false}).name;
}

std::optional<std::string> ReadMountTable() {
    return ReadTextFile("/proc/self/mountinfo");
}

std::optional<DestinationVolume> FindDestinationVolume(const std::string& path) {
    const std::optional<std::string> folder = DestinationFolder(path);
    if (!folder) {
        return std::nullopt;
    }
    struct stat status {};
    if (::stat(folder->c_str(), &status) != 0) {
        return std::nullopt;
    }
    const std::optional<std::string> table = ReadMountTable();
    if (!table) {
        return std::nullopt;
    }
    const std::vector<MountEntry> mounts = ParseMountInfo(*table);
    const MountEntry* mount = MountHolding(mounts, *folder, status.st_dev);
    if (mount == nullptr) {
        return std::nullopt;
    }
    FileSystemName name = NameMountedFileSystem(*mount);
    return DestinationVolume{WithTrailingSlash(mount->mountPoint), std::move(name.name),
                             std::move(name.note)};
}

}  // namespace moravel
