#include "FormatSize.h"

#include <cmath>

namespace moravel {

namespace {

// The quotient with one decimal, a tie between two tenths going up. The quotient
// is a float divided by a power of two, so it and ten times it are exact doubles
// (at most 24 significant bits, times ten fits in 28), and the tie test is exact.
std::string OneDecimal(double quotient, const char* unit) {
    const double tenths = quotient * 10.0;
    double whole = std::floor(tenths);
    if (tenths - whole >= 0.5) {
        whole += 1.0;
    }
    const auto rounded = static_cast<std::uint64_t>(whole);
    return std::to_string(rounded / 10) + "." + std::to_string(rounded % 10) + " " + unit;
}

}  // namespace

std::string FormatSize(std::uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    // Round to the nearest float, ties to even: every test below uses this value.
    const double size = static_cast<double>(static_cast<float>(bytes));
    if (size / 1024.0 < 1024.0) {
        return OneDecimal(size / 1024.0, "KB");
    }
    if (size / 1048576.0 < 1024.0) {
        return OneDecimal(size / 1048576.0, "MB");
    }
    return OneDecimal(size / 1073741824.0, "GB");
}

}  // namespace moravel
