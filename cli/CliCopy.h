#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "Listing.h"
#include "TerminalFrontend.h"
#include "copy/CopyTarget.h"

namespace moravel::cli {

// Where a copy to DEST (absolute) goes: DEST itself, or, when DEST is an existing
// folder, the offered name in it, made safe as a file name there (see
// SafeFileName): a name from the disk never leads out of the folder.
std::string OutputPathFor(const std::filesystem::path& destination, const std::string& offeredName);

// Runs the copy command of the command line over opened disks: resolves the
// tree path to a file, works out the destination, runs the copy job and prints
// its outcome. Returns the exit status.
int RunCopy(const CommandLine& line, DriveTree& access, TreeWalker& walker,
            TerminalFrontend& terminal, std::ostream& out, std::ostream& err,
            const CliEnvironment& environment);

}  // namespace moravel::cli
