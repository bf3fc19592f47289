#include "Cli.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <filesystem>
#include <sstream>

#include "CliCheck.h"
#include "CliCopy.h"
#include "CliInfo.h"
#include "CliMedia.h"
#include "CliMount.h"
#include "CliPlatform.h"
#include "Listing.h"
#include "TerminalFrontend.h"
#include "TerminalText.h"
#include "disk/SystemDisks.h"
#include "res/Resources.h"
#include "ui/SourceOptions.h"

namespace moravel::cli {

namespace {

void ReportNoDisk(const std::vector<OpenError>& problems, bool fromUdisks, bool asRoot,
                  std::ostream& err) {
    for (const OpenError& problem : problems) {
        err << kProgram << ": " << EscapeControls(OpenProblemText(problem)) << "\n";
    }
    if (fromUdisks) {
        // udisks2 asked for the rights, and they were refused: the lines above say so.
        err << kProgram << ": no disk could be opened.\n";
        return;
    }
    if (asRoot) {
        // More rights there are none: the lines above say what stood in the way.
        err << kProgram << ": no disk could be opened. Name a disk image with --disk PATH.\n";
        return;
    }
    err << kProgram << ": no disk could be opened. Run it as root (sudo " << kProgram << " ...)";
    const std::string group = DeviceGroup(problems.front().path);
    if (!group.empty()) {
        err << ", or join the group \"" << group << "\" (sudo adduser $USER " << group
            << ", then log in again)";
    }
    err << ", or name a disk image with --disk PATH.\n";
}

}  // namespace

std::string UsageText() {
    return "Usage: moravel-cli [DISK OPTIONS] list [-r|--recursive] [--json] [TREEPATH]\n"
           "       moravel-cli [DISK OPTIONS] copy [--split auto|always] [--skip-existing]\n"
           "                   [--rescue [--map FILE] [--retries N]] TREEPATH... DEST\n"
           "       moravel-cli [DISK OPTIONS] check TREEPATH\n"
           "       moravel-cli [DISK OPTIONS] info [--json] TREEPATH\n"
           "       moravel-cli [DISK OPTIONS] mount [--foreground] [--fill] MOUNTPOINT\n"
           "       moravel-cli [DISK OPTIONS] thumbnail [--at 10%|SECONDS] TREEPATH OUT.png\n"
           "DISK OPTIONS: [--disk PATH]... [--floppy PATH]... [--bios-services] [--codepage N]\n"
           "\n"
           "list shows the drive tree of a harddisk video recorder's disk: disks,\n"
           "partitions, FAT copies, root directories, folders and files with their true\n"
           "sizes. copy copies the file at TREEPATH to DEST, a file path or an existing\n"
           "folder (the file keeps its name there); an existing file is replaced. Several\n"
           "TREEPATHs, or a folder, are copied into DEST, which must then be an existing\n"
           "folder: a folder as DEST/FOLDER/..., with every file below it. check\n"
           "reads every cluster of the file at TREEPATH, or of every file below the folder\n"
           "there, writes nothing, and names the byte ranges that could not be read.\n"
           "info describes the item at TREEPATH: a file's or folder's names, its size\n"
           "beside the size its directory entry holds, its clusters and fragments with\n"
           "their sectors, its dates; a volume's partition and boot sector; a disk's\n"
           "source and size; for a recording also its container, duration, first and\n"
           "last timestamps, video and audio tracks (from a few MB at its start and end).\n"
           "thumbnail writes one picture of the recording at TREEPATH as OUT.png.\n"
           "mount serves the drive tree read-only at MOUNTPOINT, an existing folder, for\n"
           "other programs (Linux): disks, volumes and folders as folders, files with\n"
           "their true sizes and dates, read from the disk as they are read. Names are\n"
           "as TREEPATHs spell them, made fit for file names. It runs in the background\n"
           "until it is unmounted (fusermount3). An unreadable sector fails the read (EIO).\n"
           "\n" +
           std::string(kSourceOptionsHelp) +
           "  -r, --recursive    list everything below TREEPATH, depth first\n"
           "  --json             print JSON instead of lines of text: list one array, info\n"
           "                     one object\n"
           "  --split auto       copy: a file of 4 GiB or more goes in parts (DEST_1.ext,\n"
           "                     DEST_2.ext, ...) only on a FAT32 destination (the default)\n"
           "  --split always     copy: take the destination for FAT32 (FAT12/16 drives\n"
           "                     are still refused)\n"
           "  --skip-existing    copy: leave a file whose output is already there with\n"
           "                     the right size (to go on with an interrupted copy)\n"
           "  --rescue           copy: for a failing disk. Everything readable first (bad\n"
           "                     areas are skipped), then their edges, then what is left\n"
           "                     sector by sector; a map beside the output\n"
           "                     (DEST.moravel-map) lets the same command go on later\n"
           "                     without reading anything twice\n"
           "  --map FILE         copy --rescue of one file: keep the map in FILE\n"
           "  --retries N        copy --rescue: read bad sectors again N times at the end\n"
           "                     (default 1)\n"
           "  --foreground       mount: stay in the foreground; Ctrl-C unmounts\n"
           "  --fill             mount: unreadable sectors read as 0xE5 bytes, as a copy\n"
           "                     fills them, instead of failing the read\n"
           "  --at 10%|SECONDS   thumbnail: where the picture is taken, as a share of the\n"
           "                     recording or in seconds from its start (default 10%)\n"
           "  -h, --help         show this text\n"
           "      --version      show the version\n"
           "\n"
           "TREEPATH names an item from the top level, components separated by '/':\n"
           "  \"Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS\"\n"
           "A component is a name as listed, a short name without its padding (VIDEO.MPG),\n"
           "either of them in any case (video.mpg), or #N, the N-th child counted from 1.\n"
           "Without TREEPATH the disks are listed.\n"
           "\n"
           "Text lines: name, kind, for files the size and the byte count, and for files\n"
           "and folders the date of their last change, separated by tabs. copy prints\n"
           "its outcome on a line of its own (of several files: a line for each, after\n"
           "its output path, and a summary), and its progress on stderr when that is a\n"
           "terminal. A copy keeps the date of the entry's last change.\n"
           "\n"
           "Exit status: 0 done (copy: every file was copied), 1 a failure was reported\n"
           "(list: after the listing; info: after the report, the FAT or a boot sector\n"
           "could not be read; copy: nothing or not all of a file was copied;\n"
           "check: a sector could not be read, or a file not checked), 2 usage error\n"
           "or a TREEPATH that names nothing (copy: or neither a file nor a folder).\n";
}

namespace {

// A command's parser: disk options may stand after it as well.
CLI::App* AddCommand(CLI::App& app, const char* name, std::vector<std::string>& operands) {
    CLI::App* command = app.add_subcommand(name);
    command->fallthrough();
    // A TREEPATH may start with '/': it is no Windows-style option, there either.
    command->allow_windows_style_options(false);
    command->add_option("operands", operands);
    return command;
}

// The operands of each command, counted.
void CheckOperands(CommandLine& line, const std::vector<std::string>& operands) {
    const std::size_t count = operands.size();
    const auto joined = [&](std::size_t words) {
        std::string path = operands[0];
        for (std::size_t i = 1; i < words; ++i) {
            path += " " + operands[i];
        }
        return path;
    };
    if (count > 1 &&
        (line.command == "list" || line.command == "info" || line.command == "check")) {
        line.splitPath = joined(count);
    } else if (count > 2 && line.command == "thumbnail") {
        line.splitPath = joined(count - 1);
    }
    if (line.command == "list") {
        if (count > 1) {
            line.error = "list takes one TREEPATH, not " + std::to_string(count);
        } else if (count == 1) {
            line.list.treePath = operands[0];
        }
    } else if (line.command == "thumbnail") {
        if (count != 2) {
            line.error = "thumbnail needs TREEPATH and OUT.png";
        } else {
            line.thumbnail.treePath = operands[0];
            line.thumbnail.output = operands[1];
        }
    } else if (line.command == "copy") {
        if (count < 2) {
            line.error = count == 0 ? "copy needs TREEPATH and DEST" : "copy needs DEST";
        } else if (operands.back().empty()) {
            line.error = "DEST is empty";
        } else {
            line.copy.treePaths.assign(operands.begin(), operands.end() - 1);
            line.copy.destination = operands.back();
        }
    } else if (count != 1) {
        line.error = line.command +
                     (line.command == "mount" ? " takes one MOUNTPOINT, not "
                                              : " takes one TREEPATH, not ") +
                     std::to_string(count);
    } else if (line.command == "info") {
        line.info.treePath = operands[0];
    } else if (line.command == "mount") {
        line.mount.mountPoint = operands[0];
    } else {
        line.checkPath = operands[0];
    }
}

// --at: "10%" (0 to 100) or seconds.
void ParseAt(const std::string& text, CommandLine& line) {
    const bool share = !text.empty() && text.back() == '%';
    const std::string number = share ? text.substr(0, text.size() - 1) : text;
    double value = -1;
    // Digits and a point only, whatever the locale says of decimals.
    const auto [end, problem] = std::from_chars(number.data(), number.data() + number.size(), value,
                                                std::chars_format::fixed);
    if (problem != std::errc{} || end != number.data() + number.size() || number.empty() ||
        !(value >= 0) || (share && value > 100) ||
        number.find_first_not_of("0123456789.") != std::string::npos) {
        line.error = "--at takes a share of the recording (10%) or seconds (90), not " + text;
        return;
    }
    line.thumbnail.at = share ? value / 100 : value;
    line.thumbnail.atSeconds = !share;
}

// The mount's server leaves the folder it was started in (libfuse moves it to
// the root folder), and opens a floppy afresh each time it reads the floppy's
// volume: the disks it serves are named by absolute paths.
DriveSources AbsolutePaths(DriveSources sources) {
    for (auto* paths : {&sources.hardDisks, &sources.floppies}) {
        for (std::string& path : *paths) {
            std::error_code error;
            const std::filesystem::path absolute = std::filesystem::absolute(path, error);
            if (!error) {
                path = absolute.string();
            }
        }
    }
    return sources;
}

DriveAccessOptions AccessOptions(const CommandLine& line, const CliEnvironment& environment) {
    DriveAccessOptions options;
    options.platform = line.platform;
    options.sources = line.command == "mount" ? AbsolutePaths(line.sources) : line.sources;
    options.codePage = line.codePage;
    options.opener = environment.opener;
    if (environment.findDisks) {
        options.findDisks = environment.findDisks;
    }
    options.biosLibrary = environment.biosLibrary;
    return options;
}

// What a usage error adds when the words of a TREEPATH may have been split by
// the shell: the path to quote, when they lead somewhere joined by blanks (the
// disks named read quietly to see), else only the advice. The machine's own
// disks are not opened for a usage error: that may ask for a password.
std::string SplitPathAdvice(const CommandLine& line, const CliEnvironment& environment) {
    if (!line.splitPath) {
        return "";
    }
    const std::string advice = "; quote a TREEPATH that holds blanks";
    if (line.sources.detect) {
        return advice;
    }
    std::ostringstream quiet;
    TerminalFrontend frontend(quiet, false);
    DriveTree access(frontend, AccessOptions(line, environment));
    access.Open();
    TreeWalker walker(access, frontend);
    std::string unused;
    return walker.Resolve(*line.splitPath, unused)
               ? advice + ": " + EscapeControls(Quote(*line.splitPath))
               : advice;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    CLI::App app;
    // CLI11 takes "/x" for an option on Windows; here it is a TREEPATH or a file.
    app.allow_windows_style_options(false);
    UseOwnHelp(app, line.help, line.version);
    SourceOptions sources;
    AddSourceOptions(app, sources);
    // Words before any command: an unknown command.
    std::vector<std::string> stray;
    app.add_option("stray", stray);

    std::vector<std::string> operands;
    CLI::App* list = AddCommand(app, "list", operands);
    list->add_flag("-r,--recursive", line.list.recursive);
    list->add_flag("--json", line.list.json);
    CLI::App* copy = AddCommand(app, "copy", operands);
    std::string split = "auto";
    copy->add_option("--split", split)
        ->type_name("auto|always")
        ->check(CLI::IsMember({"auto", "always"}));
    copy->add_flag("--skip-existing", line.copy.skipExisting);
    copy->add_flag("--rescue", line.copy.rescue);
    CLI::Option* map = copy->add_option("--map", line.copy.mapPath)->type_name("FILE");
    CLI::Option* retries = copy->add_option("--retries", line.copy.retries)
                               ->type_name("N")
                               ->check(CLI::Range(0u, 1000u));
    CLI::App* check = AddCommand(app, "check", operands);
    CLI::App* info = AddCommand(app, "info", operands);
    info->add_flag("--json", line.info.json);
    CLI::App* thumbnail = AddCommand(app, "thumbnail", operands);
    std::string at;
    CLI::Option* atOption = thumbnail->add_option("--at", at)->type_name("10%|SECONDS");
    CLI::App* mount = AddCommand(app, "mount", operands);
    mount->add_flag("--foreground", line.mount.foreground);
    mount->add_flag("--fill", line.mount.fill);

    line.error = ParseArguments(app, args, sources);
    line.platform = sources.platform;
    line.sources = sources.sources;
    line.codePage = sources.codePage;
    line.copy.splitAlways = split == "always";
    if (!line.error.empty() || line.help || line.version) {
        return line;
    }
    for (const CLI::App* command : {list, copy, check, info, mount, thumbnail}) {
        if (command->parsed()) {
            line.command = command->get_name();
        }
    }
    if (line.command.empty()) {
        line.error = stray.empty() ? "missing command (list, info, copy, check, mount or thumbnail)"
                                   : "unknown command " + stray[0];
        return line;
    }
    CheckOperands(line, operands);
    if (line.error.empty() && atOption->count() > 0) {
        ParseAt(at, line);
    }
    if (line.error.empty() && !line.copy.rescue && (map->count() > 0 || retries->count() > 0)) {
        line.error = std::string(map->count() > 0 ? "--map" : "--retries") + " goes with --rescue";
    } else if (line.error.empty() && map->count() > 0 && line.copy.treePaths.size() > 1) {
        line.error = "--map names the map of one file; with several, each map lies beside its file";
    } else if (line.error.empty() && line.copy.rescue && line.copy.skipExisting) {
        line.error = "--skip-existing does not go with --rescue: a rescue goes on from its map";
    } else if (line.error.empty() && map->count() > 0 && line.copy.mapPath.empty()) {
        line.error = "--map needs a FILE";
    }
    return line;
}

CliEnvironment ProcessEnvironment() {
    CliEnvironment environment;
    environment.progressLine = StderrIsTerminal();
    environment.catchInterrupt = true;
    environment.runsAsRoot = RunsAsRoot();
    auto disks = std::make_shared<SystemDisks>();
    disks->SetBeforeAsking(StartTextAgent);
    environment.opener = [disks](const std::string& path) { return disks->Open(path); };
    environment.findDisks = [disks] { return disks->Find(); };
    return environment;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return RunCli(args, out, err, ProcessEnvironment());
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment) {
    const CommandLine line = ParseCommandLine(args);
    if (line.help) {
        out << UsageText();
        return kExitOk;
    }
    if (line.version) {
        out << kProgram << " " << res::kProgramVersion << "\n";
        return kExitOk;
    }
    if (!line.error.empty()) {
        err << kProgram << ": " << line.error << SplitPathAdvice(line, environment) << "\n"
            << "Try '" << kProgram << " --help' for more information.\n";
        return kExitUsage;
    }

    TerminalFrontend frontend(err, environment.progressLine);
    DriveTree access(frontend, AccessOptions(line, environment));
    frontend.Report(access.Open());
    for (const OpenError& problem : access.OpenProblems()) {
        const std::string text = OpenProblemText(problem);
        frontend.Report(std::string(kProgram) + ": " +
                        (text == problem.reason ? text : "cannot open " + text));
    }
    for (const std::string& note : access.OpenNotes()) {
        frontend.Note(std::string(kProgram) + ": " + note);
    }
    if (access.NoFoundDiskOpened()) {
        ReportNoDisk(access.DetectProblems(), access.DisksFromUdisks(), environment.runsAsRoot,
                     err);
        return kExitFailureShown;
    }

    TreeWalker walker(access, frontend);
    if (line.command == "copy") {
        return RunCopy(line, access, walker, frontend, out, err, environment);
    }
    if (line.command == "check") {
        return RunCheck(line.checkPath, access, walker, frontend, out, err);
    }
    if (line.command == "mount") {
        // A mount without a disk that was asked for would look whole and be wrong.
        if (frontend.Failures() > 0) {
            err << kProgram << ": nothing is mounted at " << Quote(line.mount.mountPoint)
                << ": a disk could not be opened\n";
            return kExitFailureShown;
        }
        return RunMount(line.mount, access, walker, err);
    }
    if (line.command == "thumbnail") {
        return RunThumbnail(line.thumbnail, access, walker, out, err);
    }
    if (line.command == "info") {
        return RunInfo(line.info.treePath, line.info.json, access, walker, frontend, out, err);
    }
    std::string error;
    const auto place = walker.Resolve(line.list.treePath.value_or(""), error);
    if (!place) {
        err << EscapeControls(error) << '\n';
        return kExitUsage;
    }
    std::vector<ListedItem> listing = walker.List(*place, line.list.recursive);
    if (line.list.json) {
        walker.AddDetails(*place, listing);
        PrintJson(out, listing);
    } else {
        PrintText(out, listing);
    }
    out.flush();
    return frontend.Failures() == 0 ? kExitOk : kExitFailureShown;
}

}  // namespace moravel::cli
