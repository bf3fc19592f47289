#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "disk/DriveAccess.h"

namespace moravel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailureShown = 1;  // the listing was printed, a failure was shown
inline constexpr int kExitUsage = 2;         // bad command line, or a path that leads nowhere

struct ListOptions {
    bool recursive = false;
    bool json = false;
    std::optional<std::string> treePath;  // none: the disks
};

// What the command line asks for.
struct CommandLine {
    bool help = false;
    DiskPlatform platform = DiskPlatform::Devices;
    DriveSources sources;  // detect when neither --disk nor --floppy is given
    std::string command;   // "list"
    ListOptions list;
    std::string error;  // not empty: a usage error, said in these words
};

// Parses the arguments that follow the program name. Disk options may stand
// before or after the command; "--" ends the options.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text that --help prints.
std::string UsageText();

// Where the program runs: whether the progress line is shown, and how disk paths
// are opened (tests put failing sources behind it).
struct CliEnvironment {
    bool progressLine = false;
    SourceOpener opener = OpenFileSource;
    std::string biosLibrary;  // empty: libDisk32.so beside the program
};

// The environment of the real program: the progress line when stderr is a terminal.
CliEnvironment ProcessEnvironment();

// Runs the command line (the arguments after the program name) and returns the
// exit status: the listing goes to out, messages to err.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment);
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace moravel::cli
