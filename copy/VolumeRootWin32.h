#pragma once

#ifdef _WIN32

#include <optional>
#include <string>

namespace moravel {

// The root of the volume that holds a destination (C:\, a folder a volume is mounted
// on, \\server\share\): the path's own folder when it is one, else its parent, which
// has to exist. Nothing when neither exists or the system cannot tell.
std::optional<std::wstring> VolumeRootOf(const std::string& path);

}  // namespace moravel

#endif
