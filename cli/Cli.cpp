#include "Cli.h"

#include <unistd.h>

#include "CliCheck.h"
#include "CliCopy.h"
#include "CliInfo.h"
#include "Listing.h"
#include "TerminalFrontend.h"
#include "TerminalText.h"
#include "res/Resources.h"
#include "ui/SourceOptions.h"

namespace moravel::cli {

namespace {

void ReportNoDisk(const std::vector<OpenError>& problems, std::ostream& err) {
    for (const OpenError& problem : problems) {
        err << kProgram << ": " << EscapeControls(problem.path) << ": "
            << EscapeControls(problem.reason) << "\n";
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
    return "Usage: moravel-cli [--disk PATH]... [--floppy PATH]... [--bios-services] list\n"
           "                   [-r|--recursive] [--json] [TREEPATH]\n"
           "       moravel-cli [--disk PATH]... [--floppy PATH]... [--bios-services] info\n"
           "                   [--json] TREEPATH\n"
           "       moravel-cli [--disk PATH]... [--floppy PATH]... [--bios-services] copy\n"
           "                   [--split auto|always] TREEPATH DEST\n"
           "       moravel-cli [--disk PATH]... [--floppy PATH]... [--bios-services] check\n"
           "                   TREEPATH\n"
           "\n"
           "list shows the drive tree of a harddisk video recorder's disk: disks,\n"
           "partitions, FAT copies, root directories, folders and files with their true\n"
           "sizes. info describes the item at TREEPATH: a file's or folder's names, its\n"
           "size beside the size its directory entry holds, its clusters and fragments\n"
           "with their sectors, its dates; a volume's partition and boot sector; a disk's\n"
           "source and size. copy copies the file at TREEPATH to DEST, a file path or an\n"
           "existing folder (the file keeps its name there); an existing file is replaced.\n"
           "check reads every cluster of the file at TREEPATH, or of every file below the\n"
           "folder there, writes nothing, and names the byte ranges that could not be read.\n"
           "\n" +
           std::string(kSourceOptionsHelp) +
           "  -r, --recursive    list everything below TREEPATH, depth first\n"
           "  --json             print JSON instead of lines of text: list one array, info\n"
           "                     one object\n"
           "  --split auto       copy: a file of 4 GiB or more goes in parts (DEST_1.ext,\n"
           "                     DEST_2.ext, ...) only on a FAT32 destination (the default)\n"
           "  --split always     copy: take the destination for FAT32 (FAT12/16 drives\n"
           "                     are still refused)\n"
           "  -h, --help         show this text\n"
           "      --version      show the version\n"
           "\n"
           "TREEPATH names an item from the top level, components separated by '/':\n"
           "  \"Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS\"\n"
           "A component is a name as listed, a short name without its padding (VIDEO.MPG),\n"
           "or #N, the N-th child counted from 1. Without TREEPATH the disks are listed.\n"
           "\n"
           "Text lines: name, kind, for files the size and the byte count, and for files\n"
           "and folders the date of their last change, separated by tabs. copy prints\n"
           "its outcome on a line of its own, and its progress on stderr when that is a\n"
           "terminal. A copy keeps the date of the entry's last change.\n"
           "\n"
           "Exit status: 0 done (copy: the file was copied), 1 a failure was reported\n"
           "(list: after the listing; info: after the report, the FAT or a boot sector\n"
           "could not be read; copy: nothing or not all was copied; check: a sector\n"
           "could not be read, or a file not checked), 2 usage error\n"
           "or a TREEPATH that names nothing (copy: or not a file).\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool optionsEnded = false;
    std::string listOption;       // the first option that only list (--json: and info) takes
    std::string recursiveOption;  // -r: list's alone
    std::string copyOption;       // the same for copy
    std::vector<std::string> operands;
    SourceOptions sources;
    for (std::size_t i = 0; i < args.size() && line.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            operands.push_back(arg);
            continue;
        }
        std::optional<std::string> value;
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (TakeSourceOption(args, i, sources, line.error)) {
            // --disk, --floppy, --bios-services
        } else if (arg == "-r" || arg == "--recursive") {
            line.list.recursive = true;
            listOption = listOption.empty() ? arg : listOption;
            recursiveOption = recursiveOption.empty() ? arg : recursiveOption;
        } else if (arg == "--json") {
            line.list.json = true;
            listOption = listOption.empty() ? arg : listOption;
        } else if (TakeOptionValue(args, i, "--split", value, line.error, "auto or always")) {
            if (value) {
                if (*value != "auto" && *value != "always") {
                    line.error = "--split takes auto or always, not " + *value;
                }
                line.copy.splitAlways = *value == "always";
                copyOption = "--split";
            }
        } else {
            line.error = "unknown option " + arg;
        }
    }
    FinishSourceOptions(sources);
    line.platform = sources.platform;
    line.sources = sources.sources;
    if (!line.error.empty() || line.help || line.version) {
        return line;
    }
    if (operands.empty()) {
        line.error = "missing command (list, info, copy or check)";
        return line;
    }
    line.command = operands[0];
    if (line.command == "list") {
        if (!copyOption.empty()) {
            line.error = "option " + copyOption + " is for copy, not list";
        } else if (operands.size() > 2) {
            line.error = "list takes one TREEPATH, not " + std::to_string(operands.size() - 1);
        } else if (operands.size() == 2) {
            line.list.treePath = operands[1];
        }
    } else if (line.command == "copy") {
        if (!listOption.empty()) {
            line.error = "option " + listOption +
                         (listOption == "--json" ? " is for list and info" : " is for list") +
                         ", not copy";
        } else if (operands.size() < 3) {
            line.error = operands.size() == 1 ? "copy needs TREEPATH and DEST" : "copy needs DEST";
        } else if (operands.size() > 3) {
            line.error = "copy takes TREEPATH and DEST, not " +
                         std::to_string(operands.size() - 1) + " operands";
        } else if (operands[2].empty()) {
            line.error = "DEST is empty";
        } else {
            line.copy.treePath = operands[1];
            line.copy.destination = operands[2];
        }
    } else if (line.command == "info") {
        if (!recursiveOption.empty()) {
            line.error = "option " + recursiveOption + " is for list, not info";
        } else if (!copyOption.empty()) {
            line.error = "option " + copyOption + " is for copy, not info";
        } else if (operands.size() != 2) {
            line.error = "info takes one TREEPATH, not " + std::to_string(operands.size() - 1);
        } else {
            line.info.json = line.list.json;
            line.info.treePath = operands[1];
        }
    } else if (line.command == "check") {
        const std::string& option = listOption.empty() ? copyOption : listOption;
        if (!option.empty()) {
            line.error = "option " + option + " is not for check";
        } else if (operands.size() != 2) {
            line.error = "check takes one TREEPATH, not " + std::to_string(operands.size() - 1);
        } else {
            line.checkPath = operands[1];
        }
    } else {
        line.error = "unknown command " + line.command;
    }
    return line;
}

CliEnvironment ProcessEnvironment() {
    CliEnvironment environment;
    environment.progressLine = ::isatty(STDERR_FILENO) == 1;
    environment.catchInterrupt = true;
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
        err << kProgram << ": " << line.error << "\n"
            << "Try '" << kProgram << " --help' for more information.\n";
        return kExitUsage;
    }

    TerminalFrontend frontend(err, environment.progressLine);
    DriveAccessOptions options;
    options.platform = line.platform;
    options.sources = line.sources;
    options.opener = environment.opener;
    if (environment.findDisks) {
        options.findDisks = environment.findDisks;
    }
    options.biosLibrary = environment.biosLibrary;
    DriveTree access(frontend, options);
    access.Open();
    for (const OpenError& problem : access.OpenProblems()) {
        frontend.Report(std::string(kProgram) + ": cannot open " + problem.path + ": " +
                        problem.reason);
    }
    if (access.NoFoundDiskOpened()) {
        ReportNoDisk(access.DetectProblems(), err);
        return kExitFailureShown;
    }

    TreeWalker walker(access, frontend);
    if (line.command == "copy") {
        return RunCopy(line, access, walker, frontend, out, err, environment);
    }
    if (line.command == "check") {
        return RunCheck(line.checkPath, access, walker, frontend, out, err);
    }
    if (line.command == "info") {
        return RunInfo(line.info.treePath, line.info.json, walker, frontend, out, err);
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
