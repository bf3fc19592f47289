#include <windows.h>

#include "DriveSources.h"

namespace moravel {

namespace {

// True when the device can be opened at all (no access asked: even a user who may
// not read it can see it is there).
bool DeviceExists(const std::wstring& path) {
    const HANDLE device = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(device);
    return true;
}

constexpr int kMaxPhysicalDrives = 32;

}  // namespace

// Windows numbers its whole disks \\.\PhysicalDrive0, 1, ...; one may be missing
// between others (a disk taken out), so every number up to the limit is tried.
// Floppies are the drives A: and B: that exist. The Linux folders are not used.
DriveSources DetectDriveSources(const std::filesystem::path& sysBlock,
                                const std::filesystem::path& dev) {
    (void)sysBlock;
    (void)dev;
    DriveSources sources;
    sources.detect = true;
    for (int n = 0; n < kMaxPhysicalDrives; ++n) {
        const std::wstring path = L"\\\\.\\PhysicalDrive" + std::to_wstring(n);
        if (DeviceExists(path)) {
            sources.hardDisks.push_back("\\\\.\\PhysicalDrive" + std::to_string(n));
        }
    }
    const DWORD drives = ::GetLogicalDrives();
    for (int n = 0; n < 2 && (drives & (1u << n)) != 0; ++n) {
        const char letter = static_cast<char>('A' + n);
        sources.floppies.push_back(std::string("\\\\.\\") + letter + ":");
    }
    return sources;
}

// Windows lets users read disks by privilege, not by group membership.
std::string DeviceGroup(const std::string& path) {
    (void)path;
    return {};
}

// Windows keeps its system on one of the same PhysicalDrives; it is shown as today.
std::vector<std::string> SystemDiskNames() {
    return {};
}

DiskDetails DescribeDisk(const std::string& path) {
    DiskDetails details;
    details.device = path;
    // "\\.\PhysicalDrive1": the disks of the system are named in the device space.
    details.blockDevice = path.starts_with("\\\\.\\");
    return details;
}

}  // namespace moravel
