#include "CliCheck.h"

#include <string_view>
#include <utility>
#include <vector>

#include "Cli.h"
#include "CopyProgressLine.h"
#include "TerminalText.h"
#include "copy/CopyJob.h"

namespace moravel::cli {

namespace {

// Takes every byte and keeps none: the check reads as a copy does.
class DiscardedOutput final : public OutputFile {
public:
    bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        written = bytes.size();
        return true;
    }
    bool Flush() override { return true; }
    bool Close() override { return true; }
};

class DiscardTarget final : public CopyTarget {
public:
    std::optional<DestinationVolume> VolumeOf(const std::string&) override { return std::nullopt; }
    Result<std::unique_ptr<OutputFile>> Create(const std::string&) override {
        return std::make_unique<DiscardedOutput>();
    }
};

struct CheckedFile {
    DriveItem* item;
    std::string path;
};

// The files below a listing, and how many of its items could not be read wholly.
void CollectFiles(const std::vector<ListedItem>& listed, const TreeWalker& walker,
                  std::vector<CheckedFile>& files, std::size_t& unread) {
    for (const ListedItem& entry : listed) {
        if (entry.item != nullptr && entry.item->IsFile()) {
            files.push_back({entry.item, entry.path});
        }
        if (entry.item != nullptr && walker.ReadInPart(*entry.item)) {
            ++unread;
        }
        CollectFiles(entry.children, walker, files, unread);
    }
}

std::string UnreadableText(const CopyReport& report) {
    return std::to_string(report.filledSectors) +
           (report.filledSectors == 1 ? " sector" : " sectors") + " could not be read: bytes " +
           ByteRangesText(report.filledRanges);
}

// Why a file could not be checked to its end, in a check's words: the copy's
// reason without what it says of its output (a check keeps none).
std::string CheckFailureText(std::string reason) {
    const std::pair<std::string_view, std::string_view> kCopyWords[] = {
        {"Note that the fragment of the file that was succesfully copied may still be used.",
         "The file was checked as far as its chain goes."},
        {"The copy stopped.", "The check stopped."},
    };
    for (const auto& [copy, check] : kCopyWords) {
        if (const auto at = reason.find(copy); at != std::string::npos) {
            reason.replace(at, copy.size(), check);
        }
    }
    return reason;
}

}  // namespace

int RunCheck(const std::string& treePath, DriveTree& access, TreeWalker& walker,
             TerminalFrontend& terminal, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto place = walker.Resolve(treePath, error);
    if (!place) {
        err << EscapeControls(error) << '\n';
        return terminal.Failures() > 0 ? kExitFailureShown : kExitUsage;
    }
    const int failuresBefore = terminal.Failures();
    std::vector<CheckedFile> files;
    std::size_t unread = 0;
    if (place->item != nullptr && place->item->IsFile()) {
        files.push_back({place->item, place->path});
    } else {
        // The folder itself was opened on the way to it.
        unread = place->item != nullptr && walker.ReadInPart(*place->item) ? 1 : 0;
        CollectFiles(walker.List(*place, true), walker, files, unread);
    }

    DiscardTarget discard;
    std::size_t unreadable = 0;
    std::size_t unchecked = 0;
    for (const CheckedFile& file : files) {
        CopyJob job(access, discard);
        CopyReport report;
        {
            const CopyPlan plan = WholeFilePlan(*file.item, "check");
            CopyProgressLine line(terminal, SteadySeconds());
            report = job.Run(*file.item, plan, line);
        }
        if (report.error && !report.error->reason.empty()) {
            terminal.Report(CheckFailureText(report.error->reason));
        }
        out << EscapeControls(file.path) << '\t';
        if (report.outcome == CopyOutcome::Copied) {
            out << "readable\n";
        } else if (report.outcome == CopyOutcome::Incomplete) {
            ++unreadable;
            out << "unreadable\t" << UnreadableText(report) << '\n';
        } else {
            ++unchecked;
            out << "not checked\n";
        }
    }
    out << "Checked " << files.size() << (files.size() == 1 ? " file" : " files") << ": "
        << unreadable << " with unreadable sectors, " << unchecked << " not checked";
    if (unread > 0) {
        out << ", " << unread << (unread == 1 ? " folder" : " folders")
            << " not or not wholly read";
    }
    out << ".\n";
    out.flush();
    const bool clean =
        unreadable == 0 && unchecked == 0 && unread == 0 && terminal.Failures() == failuresBefore;
    return clean ? kExitOk : kExitFailureShown;
}

}  // namespace moravel::cli
