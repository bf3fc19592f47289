#include <windows.h>

#include "SourceDevices.h"
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

// Image files by their volume and file index. Whole disks (\\.\PhysicalDriveN) have
// no device numbers on Windows: they are not listed, so nothing is found beneath a
// destination for them (see SourceRefusal).
SourceDisks IdentifySourceDisks(const std::vector<std::string>& diskPaths) {
    SourceDisks sources;
    for (const std::string& path : diskPaths) {
        const std::optional<ExaminedFile> file = ExamineFile(path);
        if (file && !file->blockDevice) {
            sources.images.push_back(file->identity);
        }
    }
    return sources;
}

// Windows has no sysfs to walk from a device to the disks beneath it: where a device
// lies cannot be told, as on Linux when its sysfs entry is missing.
std::optional<SourceOverlap> FindSourceBeneath(dev_t device, const SourceDisks& sources,
                                               const std::filesystem::path& sysRoot) {
    (void)device;
    (void)sources;
    (void)sysRoot;
    return std::nullopt;
}

// Whether a destination's volume lies on a disk being read (its disk extents against
// the physical drives being read) is not looked at yet on Windows: it cannot be told,
// and nothing is refused for it, as on Linux when the device of a destination cannot
// be found. An output that is itself a disk or image being read is still refused by
// SourceGuard, which compares file identities.
std::optional<std::string> SourceRefusal(const std::string& path, const SourceDisks& sources,
                                         const BlockDeviceTables& tables) {
    (void)path;
    (void)sources;
    (void)tables;
    return std::nullopt;
}

}  // namespace moravel
