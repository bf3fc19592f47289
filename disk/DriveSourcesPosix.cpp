#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include "DriveSources.h"

namespace moravel {

DriveSources DetectDriveSources(const std::filesystem::path& sysBlock,
                                const std::filesystem::path& dev) {
    DriveSources sources;
    sources.detect = true;
    std::error_code error;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(sysBlock, error)) {
        const std::string name = entry.path().filename().string();
        if (IsWholeDiskName(name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        sources.hardDisks.push_back((dev / name).string());
    }
    for (int n = 0;; ++n) {
        const auto floppy = dev / ("fd" + std::to_string(n));
        if (!std::filesystem::exists(floppy, error)) {
            break;
        }
        sources.floppies.push_back(floppy.string());
    }
    return sources;
}

std::string DeviceGroup(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || status.st_gid == 0) {
        return {};
    }
    const group* owner = ::getgrgid(status.st_gid);
    return owner != nullptr ? owner->gr_name : std::string{};
}

}  // namespace moravel
