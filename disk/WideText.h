#pragma once

#ifdef _WIN32

#include <string>

namespace moravel {

// The program's paths and texts are UTF-8; Windows takes UTF-16 paths. Bytes
// that are not UTF-8 are taken as the ANSI code page's.
std::wstring WidePath(const std::string& utf8);

// UTF-16 text (a path or a message of the system) as UTF-8.
std::string NarrowText(const std::wstring& wide);

// The system's text for an error code of GetLastError, without its line break.
// The errors of opening a path that the Linux program names too are named as
// there ("No such file or directory", "Permission denied"), so that both say the same.
std::string SystemMessage(unsigned long code);

}  // namespace moravel

#endif
