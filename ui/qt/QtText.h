#pragma once

#include <QString>
#include <string>
#include <string_view>

class QWidget;

namespace moravel::qt {

// A text of the core (disk names, status texts, messages: UTF-8) as the window
// shows it; a byte that is no part of UTF-8 shows as U+FFFD.
QString FromCore(std::string_view bytes);

// A path of this machine's file systems as the core takes it (the file name
// encoding, UTF-8), and back.
std::string ToLocalPath(const QString& path);

// A label text with '&' prefix processing: "&&" shows as "&", a single '&'
// (which marks a mnemonic, underlined only with a buddy) is dropped.
QString WithoutMnemonics(std::string_view text);

// Plain text for a tool tip, which Qt would otherwise take for rich text when it
// looks like markup.
QString PlainToolTip(const QString& text);

}  // namespace moravel::qt
