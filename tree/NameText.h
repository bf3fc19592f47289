#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace moravel {

// U+FFFD, which stands in for whatever cannot be decoded.
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Appends the code point in UTF-8.
void AppendUtf8(std::string& text, char32_t code);

// A long name's UTF-16 units as UTF-8: surrogate pairs become one character, a
// surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(std::span<const char16_t> units);

// Reads the character at text[i] and steps over it. A byte that starts no whole
// UTF-8 character is read on its own, as 0x110000 + its value: no character of
// Unicode, so that it matches none and sorts after all of them.
char32_t NextCharacter(std::string_view text, std::size_t& i);

// The small letter of a capital one in the Latin, Greek and Cyrillic alphabets;
// any other character as it is.
char32_t LowerCase(char32_t c);

// The text with its capital letters made small, as FAT names match without
// regard to case.
std::string FoldCase(std::string_view text);

// The order of names without regard to case: character by character, small
// letters for capital ones, then by code point.
bool FoldedLess(std::string_view a, std::string_view b);

// The OEM code page of short names and labels: bytes below 0x80 are ASCII, the
// others are decoded through a table of the code page's 128 upper characters.
class OemCodePage {
public:
    // The code page by its number (850, 437, 852, 866, 1252, ...), from the system;
    // none when the system does not know it.
    static std::optional<OemCodePage> Load(unsigned number);
    // A stand-in that knows no upper half: every byte from 0x80 becomes U+FFFD.
    static OemCodePage Unknown();

    unsigned Number() const { return m_number; }
    std::string Decode(std::string_view bytes) const;

private:
    unsigned m_number = 0;
    std::array<std::string, 128> m_upper;
};

}  // namespace moravel
