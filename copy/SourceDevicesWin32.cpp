#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>

#include "SourceDevices.h"
#include "VolumeRootWin32.h"
#include "disk/WideText.h"

namespace moravel {

namespace {

// \\.\PhysicalDrive1, \\.\C:, \\?\Volume{...}: a device, not a file.
bool IsDevicePath(const std::string& path) {
    return path.rfind("\\\\.\\", 0) == 0 ||
           (path.rfind("\\\\?\\", 0) == 0 && path.find('\\', 4) == std::string::npos);
}

}  // namespace

std::optional<ExaminedFile> ExamineFile(const std::string& path) {
    if (IsDevicePath(path)) {
        // Devices have no file index; the path names them.
        return ExaminedFile{{0, std::hash<std::string>{}(path)}, true};
    }
    // No access asked, only the file's identity; folders open with backup semantics.
    const HANDLE file = ::CreateFileW(WidePath(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!known) {
        return std::nullopt;
    }
    const std::uint64_t index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return ExaminedFile{{info.dwVolumeSerialNumber, index}, false};
}

std::optional<unsigned> PhysicalDriveNumber(std::string_view path) {
    constexpr std::string_view kPrefix = "\\\\.\\physicaldrive";
    if (path.size() <= kPrefix.size() || path.size() > kPrefix.size() + 3) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(path[i])) != kPrefix[i]) {
            return std::nullopt;
        }
    }
    unsigned number = 0;
    for (const char digit : path.substr(kPrefix.size())) {
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<unsigned>(digit - '0');
    }
    return number;
}

std::optional<char> DriveLetterDevice(std::string_view path) {
    const bool device = path.size() == 6 && path.substr(0, 4) == "\\\\.\\" && path[5] == ':' &&
                        std::isalpha(static_cast<unsigned char>(path[4]));
    if (!device) {
        return std::nullopt;
    }
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
}

// Image files by their volume and file index; whole disks by their number, drives
// read by their letter by that letter.
SourceDisks IdentifySourceDisks(const std::vector<std::string>& diskPaths,
                                const BlockDeviceTables& tables) {
    (void)tables;  // Windows has no loop devices or FUSE servers to follow
    SourceDisks sources;
    for (const std::string& path : diskPaths) {
        if (const std::optional<unsigned> number = PhysicalDriveNumber(path)) {
            sources.devices.push_back(*number);
        } else if (const std::optional<char> letter = DriveLetterDevice(path)) {
            sources.driveLetters.push_back(*letter);
        } else if (const std::optional<ExaminedFile> file = ExamineFile(path);
                   file && !file->blockDevice) {
            sources.images.push_back(file->identity);
        }
    }
    return sources;
}

// Windows has no sysfs to walk from a device to the disks beneath it; SourceRefusal
// asks the volume for its disk extents instead.
std::optional<SourceOverlap> FindSourceBeneath(dev_t device, const SourceDisks& sources,
                                               const std::filesystem::path& sysRoot) {
    (void)device;
    (void)sources;
    (void)sysRoot;
    return std::nullopt;
}

namespace {

// The numbers of the physical drives a volume lies on (one for a partition, more for
// a volume that spans disks); nothing when the system does not say (a network share,
// a volume without extents, too few rights).
std::optional<std::vector<unsigned>> DisksOfVolume(const std::wstring& root) {
    wchar_t name[MAX_PATH] = {};
    if (!::GetVolumeNameForVolumeMountPointW(root.c_str(), name, MAX_PATH)) {
        return std::nullopt;
    }
    // The volume's device is its name without the trailing '\'.
    std::wstring device(name);
    if (!device.empty() && device.back() == L'\\') {
        device.pop_back();
    }
    const HANDLE volume =
        ::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    constexpr std::size_t kMaxExtents = 64;
    std::vector<std::uint8_t> buffer(sizeof(VOLUME_DISK_EXTENTS) +
                                     kMaxExtents * sizeof(DISK_EXTENT));
    DWORD returned = 0;
    const bool asked =
        ::DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                          static_cast<DWORD>(buffer.size()), &returned, nullptr) != 0;
    ::CloseHandle(volume);
    if (!asked || returned < sizeof(VOLUME_DISK_EXTENTS)) {
        return std::nullopt;
    }
    VOLUME_DISK_EXTENTS header;
    std::memcpy(&header, buffer.data(), sizeof header);
    const std::size_t count = std::min<std::size_t>(header.NumberOfDiskExtents, kMaxExtents);
    std::vector<unsigned> disks;
    for (std::size_t i = 0; i < count; ++i) {
        DISK_EXTENT extent;
        std::memcpy(&extent,
                    buffer.data() + offsetof(VOLUME_DISK_EXTENTS, Extents) + i * sizeof extent,
                    sizeof extent);
        disks.push_back(extent.DiskNumber);
    }
    return disks;
}

}  // namespace

// A destination is refused when its volume is a drive being read by its letter, or
// lies on a physical drive being read: writing there while the drive is read raw
// would change the disk under the copy. An output that is itself an image being read
// is refused by SourceGuard, which compares volume serial numbers and file indexes.
// Where the volume lies cannot always be told (a share, too few rights): then nothing
// is refused for it, as on Linux when the device of a destination cannot be found.
std::optional<std::string> SourceRefusal(const std::string& path, const SourceDisks& sources,
                                         const BlockDeviceTables& tables) {
    (void)tables;
    if (sources.devices.empty() && sources.driveLetters.empty()) {
        return std::nullopt;
    }
    const std::optional<std::wstring> root = VolumeRootOf(path);
    if (!root) {
        return std::nullopt;
    }
    const bool lettered = root->size() == 3 && (*root)[1] == L':' && (*root)[0] < 0x80;
    if (lettered) {
        const char letter = static_cast<char>(std::toupper(static_cast<int>((*root)[0])));
        for (const char source : sources.driveLetters) {
            if (source == letter) {
                return std::string("it is on a disk being read (\\\\.\\") + letter + ":)";
            }
        }
    }
    if (sources.devices.empty()) {
        return std::nullopt;
    }
    const std::optional<std::vector<unsigned>> disks = DisksOfVolume(*root);
    if (!disks) {
        return std::nullopt;
    }
    for (const unsigned disk : *disks) {
        if (std::find(sources.devices.begin(), sources.devices.end(), disk) !=
            sources.devices.end()) {
            const std::string drive = "\\\\.\\PhysicalDrive" + std::to_string(disk);
            return disks->size() == 1
                       ? "it is on a partition of a disk being read (" + drive + ")"
                       : "it is on a volume that lies on a disk being read (" + drive + ")";
        }
    }
    return std::nullopt;
}

}  // namespace moravel
