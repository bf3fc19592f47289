#include "SourceOptions.h"

#include <algorithm>
#include <array>

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

}  // namespace

bool TakeOptionValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                     std::optional<std::string>& value, std::string& error, const char* what) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) {
            error = "option " + name + " needs " + what;
            return true;
        }
        value = args[++i];
        return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

bool TakeSourceOption(const std::vector<std::string>& args, std::size_t& i, SourceOptions& options,
                      std::string& error) {
    std::optional<std::string> value;
    if (TakeOptionValue(args, i, "--disk", value, error)) {
        if (value) {
            options.sources.hardDisks.push_back(*value);
        }
        return true;
    }
    if (TakeOptionValue(args, i, "--floppy", value, error)) {
        if (value) {
            options.sources.floppies.push_back(*value);
        }
        return true;
    }
    if (args[i] == "--bios-services") {
        options.platform = DiskPlatform::BiosServices;
        return true;
    }
    if (TakeOptionValue(args, i, "--codepage", value, error, "a code page number")) {
        if (value) {
            const std::optional<unsigned> number = CodePageNumber(*value);
            if (number) {
                options.codePage = *number;
            } else {
                error =
                    "--codepage takes the number of a code page this system knows (437, "
                    "850, 852, 866, 1252, ...), not " +
                    *value;
            }
        }
        return true;
    }
    return false;
}

void FinishSourceOptions(SourceOptions& options) {
    options.sources.detect = options.sources.hardDisks.empty() && options.sources.floppies.empty();
}

WindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& args) {
    WindowCommandLine line;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size() && line.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            line.images.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (!TakeSourceOption(args, i, line.sources, line.error)) {
            line.error = "unknown option " + arg;
        }
    }
    for (const std::string& image : line.images) {
        if (image.empty()) {
            line.error = "an image path is empty";
        }
    }
    FinishSourceOptions(line.sources);
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
    return access;
}

bool HasFloppySize(std::uint64_t bytes) {
    // 160, 180, 320, 360, 720 KiB, 1.2, 1.44, 1.68 (DMF) and 2.88 MB floppies.
    constexpr std::array<std::uint64_t, 9> kSizes = {
        163'840, 184'320, 327'680, 368'640, 737'280, 1'228'800, 1'474'560, 1'720'320, 2'949'120};
    return std::find(kSizes.begin(), kSizes.end(), bytes) != kSizes.end();
}

}  // namespace moravel
