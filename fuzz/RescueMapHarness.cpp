#include <cstdlib>
#include <string>

#include "FuzzHarness.h"
#include "copy/RescueMap.h"

namespace moravel::fuzz {

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

// A map file is the user's: edited, cut, or another program's. What is taken must
// cover the recording exactly, and read back the same once written again.
int FuzzRescueMap(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto map = ParseRescueMap(text);
    if (!map) {
        Require(!map.error().reason.empty());
        return 0;
    }
    std::uint64_t covered = 0;
    std::uint64_t expected = 0;
    for (const RescueRange& range : map->map.Ranges()) {
        Require(range.first == expected && range.end > range.first);
        expected = range.end;
        covered += range.Size();
    }
    Require(expected == map->source.size && covered == map->map.Size());
    Require(map->position <= map->source.size);
    const std::string written = FormatRescueMap(*map);
    const auto again = ParseRescueMap(written);
    Require(static_cast<bool>(again));
    Require(FormatRescueMap(*again) == written);
    return 0;
}

}  // namespace moravel::fuzz
