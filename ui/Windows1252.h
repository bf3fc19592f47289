#pragma once

#include <string>
#include <string_view>

namespace moravel {

// The single-byte names of the disk as UTF-8: every byte is a Windows-1252
// character. The five bytes that code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) stand for the C1 control characters of the same value.
std::string Windows1252ToUtf8(std::string_view bytes);

}  // namespace moravel
