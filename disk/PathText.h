#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace moravel {

// The program's paths are UTF-8 text. A std::filesystem::path made from a plain
// string takes it in the system's narrow encoding, which on Windows is the ANSI
// code page ("Été" would name another folder), so paths go in and out as UTF-8.
inline std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace moravel
