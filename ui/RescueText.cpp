#include "RescueText.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "FormatSize.h"

namespace moravel {

namespace {

// m:ss below an hour, else h:mm:ss; capped below a hundred hours.
std::string Clock(double seconds) {
    const auto whole = static_cast<std::uint64_t>(std::clamp(seconds, 0.0, 359999.0));
    const std::uint64_t hours = whole / 3600;
    const std::uint64_t minutes = whole / 60 % 60;
    const std::string tail = (whole % 60 < 10 ? ":0" : ":") + std::to_string(whole % 60);
    if (hours == 0) {
        return std::to_string(minutes) + tail;
    }
    return std::to_string(hours) + (minutes < 10 ? ":0" : ":") + std::to_string(minutes) + tail;
}

std::string PassTitle(RescuePass pass) {
    std::string name(RescuePassName(pass));
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    return name + " pass";
}

}  // namespace

std::string RescueProgressText(const RescueProgress& progress) {
    const auto tenths = static_cast<std::uint64_t>(
        std::llround(std::max(progress.bytesPerSecond, 0.0) / 1048576.0 * 10));
    return PassTitle(progress.pass) + "  " + FormatSize(progress.rescuedBytes) + " rescued  " +
           FormatSize(progress.badBytes) + " bad  " + std::to_string(tenths / 10) + "." +
           std::to_string(tenths % 10) + " MB/s  last good read " +
           Clock(progress.secondsSinceGoodRead) + " ago  pass ETA " +
           (progress.passSecondsLeft < 0 ? std::string("--:--") : Clock(progress.passSecondsLeft));
}

}  // namespace moravel
