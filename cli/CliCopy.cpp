#include "CliCopy.h"

#include <algorithm>
#include <set>

#include "CliPlatform.h"
#include "CopyProgressLine.h"
#include "TerminalText.h"
#include "copy/BatchPlan.h"
#include "copy/CopyJob.h"
#include "copy/PartNames.h"
#include "disk/PathText.h"
#include "tree/FatDate.h"
#include "tree/NameText.h"

namespace moravel::cli {

namespace {

// The outcome line on stdout, and on stderr what was not said on the way.
int ReportOutcome(const CopyReport& report, TerminalFrontend& terminal, std::ostream& out) {
    if (report.filledSectors > 0) {
        terminal.Report(std::string(kProgram) + ": " + FilledSectorsText(report));
    }
    // A copy that ended before its last byte: what it left, under which names.
    const bool whole =
        report.outcome == CopyOutcome::Copied || report.outcome == CopyOutcome::Incomplete;
    if (report.stopped || (!whole && !report.outputs.empty())) {
        std::string kept;
        for (const CopyReport::Output& output : report.outputs) {
            kept += (kept.empty() ? "" : ", ") + std::to_string(output.bytes) + " bytes in " +
                    output.path;
        }
        terminal.Report(std::string(kProgram) +
                        (report.stopped ? ": interrupted; kept " : ": not copied wholly; kept ") +
                        (kept.empty() ? std::string("nothing") : kept));
    } else if (report.outputs.size() > 1) {
        std::vector<std::string> paths;
        for (const CopyReport::Output& output : report.outputs) {
            paths.push_back(output.path);
        }
        terminal.Note(std::string(kProgram) + ": in " + std::to_string(paths.size()) +
                      " parts in " + FolderOf(paths.front()) + ": " + PartNamesText(paths));
    }
    switch (report.outcome) {
        case CopyOutcome::Copied:
            out << kCopySucceededText << '\n';
            break;
        case CopyOutcome::Incomplete:
            out << kCopyIncompleteText << '\n';
            break;
        default:
            out << kCopyFailedText << '\n';
            break;
    }
    out.flush();
    return report.outcome == CopyOutcome::Copied ? kExitOk : kExitFailureShown;
}

}  // namespace

std::string OutputPathFor(const std::filesystem::path& destination,
                          const std::string& offeredName) {
    std::error_code failure;
    // A destination ending in '/' names a folder, there or not.
    if (std::filesystem::is_directory(destination, failure) || !destination.has_filename()) {
        return Utf8FromPath(destination / PathFromUtf8(FitFileName(SafeFileName(offeredName))));
    }
    return Utf8FromPath(destination);
}

namespace {

// Where the copies go: the file system, with the disks being read refused, and
// taken for FAT32 when --split always asks for parts.
struct CopyTargets {
    FileSystemTarget fileSystem;
    SourceGuard guarded;
    PartsAlways inParts;
    CopyTarget& target;

    CopyTargets(const CommandLine& line, DriveTree& access, const CliEnvironment& environment)
        : guarded(environment.copyTarget != nullptr ? *environment.copyTarget : fileSystem,
                  access.SourcePaths()),
          inParts(guarded),
          target(line.copy.splitAlways ? static_cast<CopyTarget&>(inParts) : guarded) {}
};

const volatile std::sig_atomic_t* StopFlag(const CliEnvironment& environment) {
    if (environment.stopRequested == nullptr && environment.catchInterrupt) {
        return &g_interrupted;
    }
    return environment.stopRequested;
}

// Copies one file as planned: what the plan asks of the user is said on the
// error stream (and taken as agreed), then the job runs with the progress line.
CopyReport CopyOne(const DriveItem& source, const CopyPlan& plan, DriveTree& access,
                   CopyTarget& target, TerminalFrontend& terminal, const CopyOptions& options,
                   const CliEnvironment& environment, const BatchProgress* batch) {
    if (!plan.refused && !plan.volume.note.empty()) {
        terminal.Note(std::string(kProgram) + ": " + plan.volume.note);
    }
    if (plan.split) {
        terminal.Report(SplitNoticeText(plan.volume));
        terminal.Note(PartsPlanText(plan));
        // Said, not asked: the command line does not wait for an answer.
        if (const auto replaced = ReplacedPartsText(plan, target)) {
            terminal.Report(*replaced);
        }
    }
    CopyJob job(access, target);
    if (options.rescue) {
        job.SetRescue(RescueSettings{options.mapPath, options.retries});
    }
    return RunWithProgressLine(job, source, plan, terminal,
                               environment.clock ? environment.clock : SteadySeconds(),
                               StopFlag(environment), batch);
}

// Whether two paths name one file, however spelt: links, "..", and on Windows
// case. A path that does not exist yet is compared by its resolved spelling.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code failure;
    const std::filesystem::path first = PathFromUtf8(a);
    const std::filesystem::path second = PathFromUtf8(b);
    if (std::filesystem::equivalent(first, second, failure) && !failure) {
        return true;
    }
    std::error_code unresolved;
    const std::string one = Utf8FromPath(std::filesystem::weakly_canonical(first, unresolved));
    const std::string two = Utf8FromPath(std::filesystem::weakly_canonical(second, unresolved));
#ifdef _WIN32
    return !unresolved && FoldCase(one) == FoldCase(two);
#else
    return !unresolved && one == two;
#endif
}

// The output (or its working name) that a rescue map at mapPath, or the map's own
// working name, would be written over; nothing when the map has a place of its own.
std::optional<std::string> MapInPlaceOfOutput(const std::string& mapPath, const CopyPlan& plan) {
    std::vector<PlannedOutput> outputs = plan.outputs;
    outputs.push_back({plan.path, 0});  // also when the destination is refused
    for (const PlannedOutput& output : outputs) {
        for (const std::string& written : {output.path, WorkingPath(output.path)}) {
            if (SameFile(mapPath, written) || SameFile(WorkingPath(mapPath), written)) {
                return written;
            }
        }
    }
    return std::nullopt;
}

int RunSingleCopy(const CommandLine& line, DriveItem& source, DriveTree& access,
                  TerminalFrontend& terminal, std::ostream& out, std::ostream& err,
                  const CliEnvironment& environment) {
    // The copy creates its files by full path.
    std::error_code failure;
    const std::filesystem::path destination =
        std::filesystem::absolute(PathFromUtf8(line.copy.destination), failure);
    if (failure) {
        err << kProgram << ": cannot tell where " << line.copy.destination
            << " is: " << failure.message() << '\n';
        return kExitFailureShown;
    }
    CopyTargets targets(line, access, environment);
    const CopyPlan plan = PlanCopy(
        source, OutputPathFor(destination, std::string(source.EntryName())), targets.target);
    if (!line.copy.mapPath.empty()) {
        if (const auto output = MapInPlaceOfOutput(line.copy.mapPath, plan)) {
            err << kProgram << ": --map " << EscapeControls(line.copy.mapPath)
                << " would be written where the copy writes " << EscapeControls(*output)
                << ": the map needs a place of its own\n";
            return kExitUsage;
        }
    }
    if (line.copy.skipExisting && HasWholeOutput(plan, targets.target)) {
        out << "Skipped (already there): " << EscapeControls(plan.path) << '\n';
        return kExitOk;
    }
    const InterruptWatch watch(environment.catchInterrupt);
    return ReportOutcome(
        CopyOne(source, plan, access, targets.target, terminal, line.copy, environment, nullptr),
        terminal, out);
}

// The folders of a batch, read through the listing's walker: a child's path is
// the tree path that names it.
class WalkerFolders final : public FolderReader {
public:
    explicit WalkerFolders(TreeWalker& walker) : m_walker(walker) {}

    std::vector<Child> Children(DriveItem& folder, const std::string& path) override {
        const Siblings children(m_walker.Expand(folder, path));
        std::vector<Child> named;
        for (std::size_t i = 0; i < children.Size(); ++i) {
            named.push_back({&children[i], JoinPath(path, children.PathComponent(i))});
        }
        return named;
    }
    bool ReadInPart(const DriveItem& folder) const override { return m_walker.ReadInPart(folder); }

private:
    TreeWalker& m_walker;
};

int RunBatchCopy(const CommandLine& line, std::vector<DriveItem*> sources, DriveTree& access,
                 TreeWalker& walker, TerminalFrontend& terminal, std::ostream& out,
                 std::ostream& err, const CliEnvironment& environment) {
    std::error_code failure;
    const std::filesystem::path destination =
        std::filesystem::absolute(PathFromUtf8(line.copy.destination), failure);
    if (failure || !std::filesystem::is_directory(destination, failure)) {
        // A folder that cannot be looked at (a name too long, no access) is named
        // with the reason; only what is there and no folder is "no folder".
        const bool unseen = failure && failure != std::errc::no_such_file_or_directory &&
                            failure != std::errc::not_a_directory;
        err << kProgram << ": " << EscapeControls(line.copy.destination)
            << (unseen ? ": " + failure.message()
                       : std::string(" is no folder: several files, or a folder, are copied "
                                     "into an existing folder"))
            << '\n';
        return kExitUsage;
    }
    CopyTargets targets(line, access, environment);
    // Checked before any folder is made there.
    if (const auto refusal = targets.target.Refusal(Utf8FromPath(destination))) {
        err << kProgram << ": nothing is copied into " << EscapeControls(line.copy.destination)
            << ": " << *refusal << '\n';
        return kExitFailureShown;
    }
    WalkerFolders folders(walker);
    BatchPlan plan(folders);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (IsFolder(*sources[i])) {
            plan.AddFolder(*sources[i], line.copy.treePaths[i], destination);
        } else {
            plan.AddFile(*sources[i], line.copy.treePaths[i], destination);
        }
    }
    for (const std::string& skipped : plan.SkippedFolders()) {
        terminal.Report(std::string(kProgram) + ": \"" + EscapeControls(skipped) +
                        "\" is a folder taken before (or nested too deep): not copied again");
    }

    std::vector<BatchFile>& jobs = plan.Jobs();
    // Folders are made first, so that an empty one is there as well.
    for (const FolderDate& folder : plan.Folders()) {
        std::filesystem::create_directories(folder.path, failure);
    }
    BatchProgress progress;
    progress.files = jobs.size();
    progress.totalBytes = plan.TotalBytes();
    const InterruptWatch watch(environment.catchInterrupt);
    const double started = (environment.clock ? environment.clock : SteadySeconds())();
    progress.started = started;
    std::size_t copied = 0;
    std::size_t skipped = 0;
    std::vector<std::string> failed;
    bool interrupted = false;
    for (std::size_t i = 0; i < jobs.size() && !interrupted; ++i) {
        const BatchFile& job = jobs[i];
        progress.fileNumber = i + 1;
        const CopyPlan planned = PlanCopy(*job.source, Utf8FromPath(job.output), targets.target);
        if (line.copy.skipExisting && HasWholeOutput(planned, targets.target)) {
            ++skipped;
            progress.bytesBefore += job.source->m_fileSize;
            out << "Skipped (already there): " << EscapeControls(Utf8FromPath(job.output)) << '\n';
            continue;
        }
        std::filesystem::create_directories(job.output.parent_path(), failure);
        CopyReport report;
        if (failure) {
            terminal.Report(std::string(kProgram) + ": cannot create " +
                            EscapeControls(Utf8FromPath(job.output.parent_path())) + ": " +
                            failure.message());
            report.outcome = CopyOutcome::Failed;
        } else {
            report = CopyOne(*job.source, planned, access, targets.target, terminal, line.copy,
                             environment, &progress);
        }
        out << EscapeControls(Utf8FromPath(job.output)) << ": ";
        ReportOutcome(report, terminal, out);
        progress.bytesBefore += job.source->m_fileSize;
        interrupted = report.stopped;
        if (report.outcome == CopyOutcome::Copied) {
            ++copied;
        } else {
            failed.push_back(job.path);
        }
    }
    for (auto folder = plan.Folders().rbegin(); folder != plan.Folders().rend(); ++folder) {
        SetFolderDate(*folder);
    }
    const std::vector<std::string>& unread = plan.UnreadFolders();
    out << BatchSummaryText(
               {jobs.size(), copied, skipped, failed.size(), unread.size(), interrupted})
        << '\n';
    out.flush();
    for (const std::string& path : failed) {
        terminal.Report(std::string(kProgram) + ": not copied wholly: \"" + EscapeControls(path) +
                        "\"");
    }
    for (const std::string& path : unread) {
        terminal.Report(std::string(kProgram) + ": folder not or not wholly read: \"" +
                        EscapeControls(path) + "\"");
    }
    const bool complete =
        failed.empty() && unread.empty() && !interrupted && plan.SkippedFolders().empty();
    return complete ? kExitOk : kExitFailureShown;
}

}  // namespace

int RunCopy(const CommandLine& line, DriveTree& access, TreeWalker& walker,
            TerminalFrontend& terminal, std::ostream& out, std::ostream& err,
            const CliEnvironment& environment) {
    std::vector<DriveItem*> sources;
    for (const std::string& treePath : line.copy.treePaths) {
        std::string error;
        const auto place = walker.Resolve(treePath, error);
        if (!place) {
            err << EscapeControls(error) << '\n';
            // When a disk or a folder on the way could not be read, the path may
            // well be right: that is a failure, not a mistake on the command line.
            return terminal.Failures() > 0 ? kExitFailureShown : kExitUsage;
        }
        const bool several = line.copy.treePaths.size() > 1;
        if (place->item == nullptr || !(place->item->IsFile() || IsFolder(*place->item))) {
            err << kProgram << ": \"" << EscapeControls(treePath) << "\" is not a file"
                << (several || place->item != nullptr ? " or folder" : "") << '\n';
            return kExitUsage;
        }
        sources.push_back(place->item);
    }
    if (!line.copy.mapPath.empty() && !(sources.size() == 1 && sources[0]->IsFile())) {
        err << kProgram
            << ": --map names the map of one file; with a folder, each map lies beside its file\n";
        return kExitUsage;
    }
    // Copied to stdout: its lines go with the messages, never into the bytes.
    std::ostream& lines = IsStandardOutput(line.copy.destination) ? err : out;
    if (sources.size() == 1 && sources[0]->IsFile()) {
        return RunSingleCopy(line, *sources[0], access, terminal, lines, err, environment);
    }
    return RunBatchCopy(line, std::move(sources), access, walker, terminal, lines, err,
                        environment);
}

}  // namespace moravel::cli
