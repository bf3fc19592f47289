#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "disk/DriveAccess.h"

namespace CLI {
class App;
}

namespace moravel {

// Where the disks come from, as both programs take it from their command lines:
// --disk PATH and --floppy PATH (repeatable, in drive order) and --bios-services;
// and how their short names are read: --codepage N.
struct SourceOptions {
    DiskPlatform platform = DiskPlatform::Devices;
    DriveSources sources;  // detect is set once the whole line is read
    unsigned codePage = kDefaultCodePage;
};

// How the disk options are explained in both programs' usage texts.
inline constexpr char kSourceOptionsHelp[] =
    "  --disk PATH        a hard disk or its image (drives 128, 129, ... in order)\n"
    "  --floppy PATH      a floppy disk or its image (drives 0, 1, ... in order)\n"
    "                     with neither, the machine's own disks are read\n"
    "  --bios-services    read through the BIOS disk-service library libDisk32.so\n"
    "                     beside the program\n"
    "  --codepage N       the code page of short names (default 850; 437, 852,\n"
    "                     866, 1252, ...); long names are Unicode\n";

// Adds --disk, --floppy, --bios-services and --codepage to a parser (CLI11);
// what they give lands in options.
void AddSourceOptions(CLI::App& app, SourceOptions& options);

// Parses the arguments that follow the program name. Empty when they parse, else
// the usage error in one line. With neither --disk nor --floppy the machine's
// own disks are looked for.
std::string ParseArguments(CLI::App& app, const std::vector<std::string>& args,
                           SourceOptions& options);

// A parser without CLI11's own help: both programs print their own usage text.
void UseOwnHelp(CLI::App& app, bool& help, bool& version);

// The window's command line: moravel [--disk PATH]... [--floppy PATH]...
// [--bios-services] [IMAGE]... The images are added as disks once the window
// is up, as if opened from its menu.
struct WindowCommandLine {
    bool help = false;
    bool version = false;
    SourceOptions sources;
    std::vector<std::string> images;
    std::string error;  // not empty: a usage error, said in these words
};

WindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& args);
std::string WindowUsageText();

// The options the drive access is opened with.
DriveAccessOptions AccessOptionsFor(const SourceOptions& options);

// A floppy image by its size: one of the standard floppy formats, 160 KiB to
// 2.88 MiB. Anything else is taken for a hard disk.
bool HasFloppySize(std::uint64_t bytes);

}  // namespace moravel
