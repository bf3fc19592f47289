#include "DriveSources.h"

#include <algorithm>
#include <cctype>

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

bool IsLoopName(const std::string& name) {
    return StartsWith(name, "loop") && AllDigits(name.substr(4));
}

}  // namespace moravel
