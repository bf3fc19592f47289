#pragma once

#include <csignal>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tree/DriveTree.h"

namespace moravel {
class CopyTarget;
}

namespace moravel::cli {

// The program's name, as its messages begin.
inline constexpr char kProgram[] = "moravel-cli";

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailureShown = 1;  // a failure was shown (a copy did not succeed)
inline constexpr int kExitUsage = 2;         // bad command line, or a path that leads nowhere

struct ListOptions {
    bool recursive = false;
    bool json = false;
    std::optional<std::string> treePath;  // none: the disks
};

struct InfoOptions {
    bool json = false;
    std::string treePath;  // the item to describe
};

struct CopyOptions {
    bool splitAlways = false;            // --split always: the destination is taken for FAT32
    bool skipExisting = false;           // --skip-existing: outputs of the right size stay
    bool rescue = false;                 // --rescue: read as from a failing disk, with a map
    std::string mapPath;                 // --map FILE (one file only); else beside the output
    unsigned retries = 1;                // --retries N: bad sectors read again N times
    std::vector<std::string> treePaths;  // the files or folders to copy
    std::string destination;             // a file path, or an existing folder
};

struct MountOptions {
    std::string mountPoint;
    bool foreground = false;  // --foreground: stay attached to the terminal until unmounted
    bool fill = false;        // --fill: unreadable sectors read as 0xE5 bytes, not as EIO
};

struct ThumbnailOptions {
    std::string treePath;
    std::string output;  // the PNG file
    // --at: where the picture is taken, as a share of the recording (0.1 for
    // "10%"), or in seconds from its start.
    double at = 0.1;
    bool atSeconds = false;
};

// What the command line asks for.
struct CommandLine {
    bool help = false;
    bool version = false;
    DiskPlatform platform = DiskPlatform::Devices;
    DriveSources sources;  // detect when neither --disk nor --floppy is given
    unsigned codePage = kDefaultCodePage;
    std::string command;  // "list", "info", "copy", "check", "mount" or "thumbnail"
    ListOptions list;
    InfoOptions info;
    CopyOptions copy;
    std::string checkPath;  // check: the file or folder whose clusters are read
    MountOptions mount;
    ThumbnailOptions thumbnail;
    std::string error;  // not empty: a usage error, said in these words
    // A command that takes one TREEPATH given several words: them joined by
    // blanks, the path that a shell may have split.
    std::optional<std::string> splitPath;
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
    // Where the machine's own disks are looked for; empty: the system's block devices.
    std::function<DriveSources()> findDisks;
    std::string biosLibrary;  // empty: libDisk32.so beside the program
    // Where copies go; null: this machine's file systems.
    CopyTarget* copyTarget = nullptr;
    // The clock of the copy's progress line, in seconds; empty: the steady clock.
    std::function<double()> clock;
    // When it becomes non-zero, a running copy ends after its current cluster.
    const volatile std::sig_atomic_t* stopRequested = nullptr;
    // The real program: a first Ctrl-C during a copy ends the copy that way (the
    // second one ends the program).
    bool catchInterrupt = false;
    // The program runs as root: no disk it could not open is a matter of rights.
    bool runsAsRoot = false;
};

// The environment of the real program: the progress line when stderr is a terminal,
// Ctrl-C caught during a copy.
CliEnvironment ProcessEnvironment();

// Runs the command line (the arguments after the program name) and returns the
// exit status: the listing and the copy's outcome go to out, messages to err.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment);
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace moravel::cli
