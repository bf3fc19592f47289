#pragma once

#include <array>
#include <optional>
#include <string>

namespace moravel {

// The UTF-8 text of the bytes 0x80 to 0xFF of a code page (U+FFFD for a byte that
// stands for nothing), from the system's own tables; none when the system does not
// know the code page.
std::optional<std::array<std::string, 128>> SystemCodePageUpperHalf(unsigned number);

}  // namespace moravel
