#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "Listing.h"
#include "TerminalFrontend.h"

namespace moravel::cli {

// The runs of a chain that info names one by one; a damaged disk's chain can
// break into millions of them, and only their number is given for the rest.
inline constexpr std::size_t kShownFragments = 1000;

// Runs "info TREEPATH": prints what is known of the item there, for people (lines
// of "Label: value") or, with json, as one JSON object. A file or folder: its
// names, its size and the entry's size field (and why they differ), its clusters
// and fragments with their cluster and sector ranges, its dates. A volume: its
// partition entry and boot sector. A disk: its source and size. Returns the exit
// status: 2 for a TREEPATH that names nothing, 1 when something could not be read
// (the FAT, a boot sector).
int RunInfo(const std::string& treePath, bool json, DriveTree& access, TreeWalker& walker,
            TerminalFrontend& terminal, std::ostream& out, std::ostream& err);

}  // namespace moravel::cli
