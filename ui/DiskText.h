#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "disk/DriveSources.h"

namespace moravel {

// A disk's node in the tree: "Hard Disk 2 — WDC WD2500, 232.9 GB". Two disks
// of the same make are told apart by their model (an image by its file name)
// and size, as far as the system tells them without the disk being read; the
// name alone where nothing is known. The name stays the item's: paths use it.
std::string DiskNodeText(std::string_view name, const DiskDetails& details,
                         std::optional<std::uint64_t> bytes);

}  // namespace moravel
