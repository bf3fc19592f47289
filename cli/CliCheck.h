#pragma once

#include <ostream>
#include <string>

#include "Listing.h"
#include "TerminalFrontend.h"
#include "tree/DriveTree.h"

namespace moravel::cli {

// Runs "check TREEPATH": reads every cluster of the file there, or of every file
// below the folder there, as a copy would and without writing anything, and
// prints for each file whether all of it could be read, and if not, which bytes
// could not. Returns the exit status: 1 when a sector could not be read or a file
// could not be checked.
int RunCheck(const std::string& treePath, DriveTree& access, TreeWalker& walker,
             TerminalFrontend& terminal, std::ostream& out, std::ostream& err);

}  // namespace moravel::cli
