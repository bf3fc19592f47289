#include "DriveSources.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <system_error>

namespace moravel {

namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool AllLetters(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::islower(c) != 0; });
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

bool IsWholeDiskName(const std::string& name) {
    // sda, hdb, vdc: letters only after the prefix (sda1 is a partition).
    for (const char* prefix : {"sd", "hd", "vd"}) {
        if (StartsWith(name, prefix) && AllLetters(name.substr(2))) {
            return true;
        }
    }
    // nvme0n1 (a namespace), not nvme0n1p1 (its partition).
    if (StartsWith(name, "nvme")) {
        const auto n = name.find('n', 4);
        return n != std::string::npos && AllDigits(name.substr(4, n - 4)) &&
               AllDigits(name.substr(n + 1));
    }
    // mmcblk0, not mmcblk0p1 or mmcblk0boot0.
    if (StartsWith(name, "mmcblk")) {
        return AllDigits(name.substr(6));
    }
    return false;
}

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
