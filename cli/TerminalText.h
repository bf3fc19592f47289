#pragma once

#include <string>
#include <string_view>

namespace moravel::cli {

// Text that comes from a disk, made safe to print on a terminal: control
// characters (C0, DEL, and C1 written as UTF-8) become visible escapes ("\x1b",
// "\u009b"), so that no name can move the cursor, recolour or retitle the
// terminal, or break a listing's lines and columns. Messages keep their own
// line breaks when asked to.
std::string EscapeControls(std::string_view text, bool keepLineBreaks = false);

// The text in double quotes, as messages name paths.
std::string Quote(const std::string& text);

}  // namespace moravel::cli
