#pragma once

#include <ostream>
#include <string>

#include "Cli.h"
#include "Listing.h"
#include "TerminalFrontend.h"
#include "tree/DriveTree.h"

namespace moravel::cli {

// Runs "mount MOUNTPOINT": serves the drive tree read-only at the mount point
// (FUSE) until it is unmounted (fusermount3 -u), or the user stops it (SIGINT,
// SIGTERM, SIGHUP: it unmounts). Disks, volumes and folders are directories;
// files have their true sizes and are read through their chains on demand.
// Returns the exit status: 0 after an unmount or a user's stop.
int RunMount(const MountOptions& options, DriveTree& access, TreeWalker& walker, std::ostream& err);

}  // namespace moravel::cli
