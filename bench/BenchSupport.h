#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/FatVolumeBuilder.h"
#include "image/ImageBuilder.h"
#include "tree/DriveTree.h"

// What the benchmarks share: timing, medians, their images' partition entry,
// command-line numbers and the walk down the drive tree.
namespace moravel::bench {

using Clock = std::chrono::steady_clock;

// Where the benchmarks' one FAT32 volume begins.
inline constexpr std::uint32_t kVolumeStart = 2048;

double SecondsSince(Clock::time_point start);
double Median(std::vector<double> values);

// The MBR entry of a FAT32 volume of that many sectors at kVolumeStart, with the
// CHS start a 255-head, 63-sector disk gives it.
image::PartitionEntry VolumeEntry(std::uint32_t sectors);

// A decimal number of at most limit, or nothing.
std::optional<std::uint64_t> ParseNumber(const char* text, std::uint64_t limit);

// A short name as the program shows it ("RECORDS .   ") without its padding.
std::string PlainName(std::string_view name);

// The child of an item by its name, padded or not; null when there is none.
DriveItem* FindChild(DriveTree& access, DriveItem& item, std::string_view name);

}  // namespace moravel::bench
