#include <windows.h>

#include <cstdint>

#include "CodePageTable.h"
#include "NameText.h"

namespace moravel {

std::optional<std::array<std::string, 128>> SystemCodePageUpperHalf(unsigned number) {
    if (!::IsValidCodePage(number)) {
        return std::nullopt;
    }
    std::string replacement;
    AppendUtf8(replacement, kReplacementCharacter);
    std::array<std::string, 128> upper;
    for (std::size_t i = 0; i < upper.size(); ++i) {
        const char byte = static_cast<char>(0x80 + i);
        wchar_t units[4] = {};
        // A byte that stands for nothing, or only starts a character of two bytes,
        // is refused rather than guessed at.
        const int length = ::MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, &byte, 1, units, 4);
        if (length <= 0) {
            upper[i] = replacement;
            continue;
        }
        std::u16string text;
        for (int k = 0; k < length; ++k) {
            text.push_back(static_cast<char16_t>(units[k]));
        }
        upper[i] = Utf16ToUtf8(text);
    }
    return upper;
}

}  // namespace moravel
