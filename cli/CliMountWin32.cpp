#include "Cli.h"
#include "CliMount.h"

namespace moravel::cli {

int RunMount(const MountOptions& /*options*/, DriveTree& /*access*/, TreeWalker& /*walker*/,
             std::ostream& err) {
    err << kProgram << ": mount is not available on Windows: it needs FUSE (Linux)\n";
    return kExitUsage;
}

}  // namespace moravel::cli
