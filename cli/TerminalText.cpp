#include "TerminalText.h"

#include <cstdio>

namespace moravel::cli {

std::string EscapeControls(std::string_view text, bool keepLineBreaks) {
    std::string safe;
    safe.reserve(text.size());
    char escape[8];
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n' && keepLineBreaks) {
            safe += '\n';
        } else if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            safe += escape;
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            std::snprintf(escape, sizeof escape, "\\u%04x",
                          static_cast<unsigned char>(text[i + 1]));
            safe += escape;
            ++i;
        } else {
            safe += text[i];
        }
    }
    return safe;
}

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace moravel::cli
