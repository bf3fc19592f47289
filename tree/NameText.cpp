#include "NameText.h"

#include <cstdint>
#include <utility>

#include "CodePageTable.h"

namespace moravel {

namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

void AppendUtf8(std::string& text, char32_t code) {
    auto byte = [&text](std::uint32_t value) { text.push_back(static_cast<char>(value)); };
    auto c = static_cast<std::uint32_t>(code);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = kReplacementCharacter;
    }
    if (c < 0x80) {
        byte(c);
    } else if (c < 0x800) {
        byte(0xC0 | (c >> 6));
        byte(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        byte(0xE0 | (c >> 12));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    } else {
        byte(0xF0 | (c >> 18));
        byte(0x80 | ((c >> 12) & 0x3F));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(std::span<const char16_t> units) {
    std::string text;
    text.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            const char32_t code =
                0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{units[i + 1]} - 0xDC00);
            AppendUtf8(text, code);
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8(text, kReplacementCharacter);
        } else {
            AppendUtf8(text, unit);
        }
    }
    return text;
}

char32_t NextCharacter(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    bool whole = length > 1 && i + length <= text.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
        whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (!whole) {
        ++i;
        return lead < 0x80 ? lead : 0x110000 + lead;
    }
    char32_t code = lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    }
    i += length;
    return code;
}

char32_t LowerCase(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
        return c + 32;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 80;
    }
    if (c == 0x178) {
        return 0xFF;
    }
    // Latin Extended-A and Cyrillic pairs: capital and small side by side.
    const bool evenCapital = (c % 2) == 0;
    const bool evenPairs = (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) ||
                           (c >= 0x14A && c <= 0x177) || (c >= 0x460 && c <= 0x4BF);
    const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return (evenPairs && evenCapital) || (oddPairs && !evenCapital) ? c + 1 : c;
}

std::string FoldCase(std::string_view text) {
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t c = NextCharacter(text, i);
        const char32_t lower = LowerCase(c);
        if (lower == c) {
            folded.append(text.substr(start, i - start));  // as it was, also when not UTF-8
        } else {
            AppendUtf8(folded, lower);
        }
    }
    return folded;
}

bool FoldedLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t k = 0;
    while (i < a.size() && k < b.size()) {
        const char32_t x = LowerCase(NextCharacter(a, i));
        const char32_t y = LowerCase(NextCharacter(b, k));
        if (x != y) {
            return x < y;
        }
    }
    return i == a.size() && k < b.size();
}

std::optional<OemCodePage> OemCodePage::Load(unsigned number) {
    if (number == 0 || number > 99999) {
        return std::nullopt;
    }
    std::optional<std::array<std::string, 128>> upper = SystemCodePageUpperHalf(number);
    if (!upper) {
        return std::nullopt;
    }
    OemCodePage page;
    page.m_number = number;
    page.m_upper = std::move(*upper);
    return page;
}

OemCodePage OemCodePage::Unknown() {
    OemCodePage page;
    std::string replacement;
    AppendUtf8(replacement, kReplacementCharacter);
    page.m_upper.fill(replacement);
    return page;
}

std::string OemCodePage::Decode(std::string_view bytes) const {
    std::string text;
    text.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto byte = static_cast<std::uint8_t>(ch);
        if (byte < 0x80) {
            text.push_back(ch);
        } else {
            text += m_upper[byte - 0x80u];
        }
    }
    return text;
}

}  // namespace moravel
