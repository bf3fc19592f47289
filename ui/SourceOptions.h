#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "disk/DriveAccess.h"

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

// Takes the value of an option given as "--name VALUE" or "--name=VALUE" at
// args[i]: true when args[i] is that option (i then stands on its last
// argument); a missing value is said in error ("option --name needs WHAT").
bool TakeOptionValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                     std::optional<std::string>& value, std::string& error,
                     const char* what = "a path");

// Takes one disk option at args[i] into options; false when args[i] is none.
bool TakeSourceOption(const std::vector<std::string>& args, std::size_t& i, SourceOptions& options,
                      std::string& error);

// With neither --disk nor --floppy the machine's own disks are looked for.
void FinishSourceOptions(SourceOptions& options);

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
