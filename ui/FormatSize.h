#pragma once

#include <cstdint>
#include <string>

namespace moravel {

// The short size text of the file list: "N B" below 1024 bytes, else the size in
// KB, MB or GB with one decimal. The size is first rounded to a 32-bit float (as
// the list has always shown it), so sizes just below a unit boundary already show
// as the larger unit; a quotient exactly halfway between two tenths rounds up.
std::string FormatSize(std::uint64_t bytes);

}  // namespace moravel
