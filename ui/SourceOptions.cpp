#include "SourceOptions.h"

#include <algorithm>
#include <array>

#include <CLI/CLI.hpp>

#include "disk/SystemDisks.h"
#include "tree/NameText.h"

namespace moravel {

namespace {

// The number of a code page that iconv can decode.
std::optional<unsigned> CodePageNumber(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
        return std::nullopt;
    }
    const auto number = static_cast<unsigned>(std::stoul(text));
    if (!OemCodePage::Load(number)) {
        return std::nullopt;
    }
    return number;
}

// "The following argument was not expected: --bogus" in the words of the usage
// errors: "unknown option --bogus", "unexpected operand x".
std::string WordsOfExtras(const std::string& message) {
    const auto colon = message.find(": ");
    if (colon == std::string::npos) {
        return message;
    }
    const std::string first = message.substr(colon + 2, message.find(' ', colon + 2) - colon - 2);
    return (first.size() > 1 && first[0] == '-' ? "unknown option " : "unexpected operand ") +
           first;
}

// "--disk: 1 required PATH missing": "option --disk needs a value".
std::string WordsOfMissingValue(const std::string& message) {
    const auto colon = message.find(':');
    if (colon == std::string::npos || message.rfind("-", 0) != 0) {
        return message;
    }
    return "option " + message.substr(0, colon) + " needs a value";
}

}  // namespace

void AddSourceOptions(CLI::App& app, SourceOptions& options) {
    app.add_option("--disk", options.sources.hardDisks)
        ->type_name("PATH")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--floppy", options.sources.floppies)
        ->type_name("PATH")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_flag_callback("--bios-services",
                          [&options] { options.platform = DiskPlatform::BiosServices; });
    app.add_option_function<std::string>(
           "--codepage",
           [&options](const std::string& value) {
               const std::optional<unsigned> number = CodePageNumber(value);
               if (!number) {
                   throw CLI::ValidationError(
                       "--codepage takes the number of a code page this system knows (437, 850, "
                       "852, 866, 1252, ...), not " +
                       value);
               }
               options.codePage = *number;
           })
        ->type_name("N");
}

void UseOwnHelp(CLI::App& app, bool& help, bool& version) {
    app.set_help_flag();
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
}

std::string ParseArguments(CLI::App& app, const std::vector<std::string>& args,
                           SourceOptions& options) {
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    std::string error;
    try {
        app.parse(reversed);
    } catch (const CLI::ExtrasError& failure) {
        error = WordsOfExtras(failure.what());
    } catch (const CLI::ArgumentMismatch& failure) {
        error = WordsOfMissingValue(failure.what());
    } catch (const CLI::ParseError& failure) {
        error = failure.what();
        std::replace(error.begin(), error.end(), '\n', ' ');
        while (!error.empty() && error.back() == ' ') {
            error.pop_back();
        }
        if (error.empty()) {
            error = "the command line cannot be read";
        }
    }
    options.sources.detect = options.sources.hardDisks.empty() && options.sources.floppies.empty();
    return error;
}

WindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& args) {
    WindowCommandLine line;
    CLI::App app;
    UseOwnHelp(app, line.help, line.version);
    AddSourceOptions(app, line.sources);
    app.add_option("IMAGE", line.images)->allow_extra_args();
    line.error = ParseArguments(app, args, line.sources);
    if (line.error.empty() &&
        std::find(line.images.begin(), line.images.end(), std::string()) != line.images.end()) {
        line.error = "an image path is empty";
    }
    return line;
}

std::string WindowUsageText() {
    return "Usage: moravel [--disk PATH]... [--floppy PATH]... [--bios-services] [--codepage N]\n"
           "               [IMAGE]...\n"
           "\n"
           "Opens the window that shows the disks of a harddisk video recorder: folders\n"
           "on the left, the files of the selected folder on the right, and Copy File.\n"
           "\n" +
           std::string(kSourceOptionsHelp) +
           "  IMAGE              a disk image added after the disks, as by the window's\n"
           "                     Open Disk Image command (a floppy by its size)\n"
           "  -h, --help         show this text\n"
           "      --version      show the version\n";
}

DriveAccessOptions AccessOptionsFor(const SourceOptions& options) {
    DriveAccessOptions access;
    access.platform = options.platform;
    access.sources = options.sources;
    access.codePage = options.codePage;
    UseSystemDisks(access, std::make_shared<SystemDisks>());
    return access;
}

bool HasFloppySize(std::uint64_t bytes) {
    // 160, 180, 320, 360, 720 KiB, 1.2, 1.44, 1.68 (DMF) and 2.88 MB floppies.
    constexpr std::array<std::uint64_t, 9> kSizes = {
        163'840, 184'320, 327'680, 368'640, 737'280, 1'228'800, 1'474'560, 1'720'320, 2'949'120};
    return std::find(kSizes.begin(), kSizes.end(), bytes) != kSizes.end();
}

}  // namespace moravel
