#include <string>

#include "FuzzHarness.h"
#include "FuzzSupport.h"
#include "copy/RescueMap.h"

namespace moravel::fuzz {

// A map file is the user's: edited, cut, or another program's. What is taken must
// cover the recording exactly, and read back the same once written again.
int FuzzRescueMap(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto map = ParseRescueMap(text);
    if (!map) {
        FUZZ_CHECK(!map.error().reason.empty(), "a refused map says why");
        return 0;
    }
    std::uint64_t covered = 0;
    std::uint64_t expected = 0;
    for (const RescueRange& range : map->map.Ranges()) {
        FUZZ_CHECK(range.first == expected && range.end > range.first,
                   "the ranges follow one another without a gap or an empty one");
        expected = range.end;
        covered += range.Size();
    }
    FUZZ_CHECK(expected == map->source.size && covered == map->map.Size(),
               "the ranges cover the recording exactly");
    FUZZ_CHECK(map->position <= map->source.size, "the position lies within the recording");
    const std::string written = FormatRescueMap(*map);
    const auto again = ParseRescueMap(written);
    FUZZ_CHECK(static_cast<bool>(again), "a written map is taken back");
    FUZZ_CHECK(FormatRescueMap(*again) == written, "a map read back is written the same");
    return 0;
}

}  // namespace moravel::fuzz
