#include "CliCopy.h"

#include <algorithm>
#include <set>

#include "CliPlatform.h"
#include "CopyProgressLine.h"
#include "TerminalText.h"
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
        return Utf8FromPath(destination / PathFromUtf8(SafeFileName(offeredName)));
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
        if (const auto question = ReplacePartsQuestion(plan, target)) {
            terminal.Report(*question);
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
    const InterruptWatch watch(environment.catchInterrupt);
    return ReportOutcome(
        CopyOne(source, plan, access, targets.target, terminal, line.copy, environment, nullptr),
        terminal, out);
}

// One file of a copy of several: where it comes from and where it goes.
struct BatchFile {
    DriveItem* source = nullptr;
    std::string treePath;
    std::filesystem::path output;
};

// A folder whose date is set once its files are in it.
struct FolderDate {
    std::filesystem::path path;
    const DriveItem* entry = nullptr;
};

bool IsFolder(const DriveItem& item) {
    return (item.m_kind == ItemKind::Entry && item.IsDirectory()) ||
           item.m_kind == ItemKind::RootDirectory;
}

// The name a folder is given: its long or unpadded short name; a root directory
// (a FAT32 one is a chain of clusters without an entry) by the name it is listed with.
std::string FolderName(const DriveItem& folder) {
    const bool entry = folder.m_kind == ItemKind::Entry && !folder.EntryName().empty();
    return SafeFileName(entry ? folder.EntryName() : folder.DisplayName());
}

class BatchPlan {
public:
    explicit BatchPlan(TreeWalker& walker) : m_walker(walker) {}

    void AddFile(DriveItem& file, const std::string& treePath,
                 const std::filesystem::path& folder) {
        m_jobs.push_back({&file, treePath, UniqueOutput(folder, SafeFileName(file.EntryName()))});
    }

    // Every file below the folder, sub-folders kept; a folder that a damaged disk
    // links from several places, or nests without end, is taken once.
    void AddFolder(DriveItem& folder, const std::string& treePath,
                   const std::filesystem::path& parent, std::size_t depth) {
        const TreeWalker::DirectoryKey key{
            folder.m_drive, folder.m_partitionStart,
            folder.m_kind == ItemKind::Entry ? folder.m_firstCluster : folder.m_relativeSector};
        if (depth > TreeWalker::kMaxDepth || !m_openedFolders.insert(key).second) {
            m_skippedFolders.push_back(treePath);
            return;
        }
        const std::filesystem::path output = UniqueOutput(parent, FolderName(folder));
        m_folders.push_back({output, folder.m_kind == ItemKind::Entry ? &folder : nullptr});
        const Siblings children(m_walker.Expand(folder, treePath));
        if (m_walker.ReadInPart(folder)) {
            m_unreadFolders.push_back(treePath);
        }
        for (std::size_t i = 0; i < children.Size(); ++i) {
            DriveItem& child = children[i];
            const std::string childPath = JoinPath(treePath, children.PathComponent(i));
            if (IsFolder(child)) {
                AddFolder(child, childPath, output, depth + 1);
            } else if (child.IsFile() &&
                       (child.m_attributes & layout::entry::kAttributeVolumeLabel) == 0) {
                AddFile(child, childPath, output);
            }
        }
    }

    std::vector<BatchFile>& Jobs() { return m_jobs; }
    const std::vector<FolderDate>& Folders() const { return m_folders; }
    const std::vector<std::string>& SkippedFolders() const { return m_skippedFolders; }
    // Folders that could not be read, or not wholly: their files are not all copied.
    const std::vector<std::string>& UnreadFolders() const { return m_unreadFolders; }

private:
    // Two entries may come to the same output name (a damaged folder, names that
    // differ only in what a file name cannot hold, a file and a folder of one
    // name): the later one gets " (2)", " (3)", ... before its extension, so
    // that no copy of the run replaces another or is kept from its place.
    std::filesystem::path UniqueOutput(const std::filesystem::path& folder,
                                       const std::string& name) {
        std::filesystem::path output = folder / PathFromUtf8(name);
        // Compared without regard to case, as a FAT32 or NTFS destination does.
        for (int n = 2; !m_outputs.insert(FoldCase(Utf8FromPath(output))).second; ++n) {
            const auto dot = name.rfind('.');
            const bool extension = dot != std::string::npos && dot > 0;
            output = folder /
                     PathFromUtf8(name.substr(0, extension ? dot : name.size()) + " (" +
                                  std::to_string(n) + ")" + (extension ? name.substr(dot) : ""));
        }
        return output;
    }

    TreeWalker& m_walker;
    std::vector<BatchFile> m_jobs;
    std::vector<FolderDate> m_folders;
    std::set<TreeWalker::DirectoryKey> m_openedFolders;
    std::vector<std::string> m_skippedFolders;
    std::vector<std::string> m_unreadFolders;
    std::set<std::string> m_outputs;
};

// Whether a rescue map beside the output says the rescue has passes to go (or is
// no map that can be read: then what it kept cannot be told either).
bool RescueUnfinished(const std::string& output, CopyTarget& target) {
    const std::string map = MapPathBeside(output);
    if (!target.Exists(map)) {
        return false;
    }
    const Result<RescueMapFile> read = ReadRescueMap(target, map);
    return !read || read->pass != RescuePass::Done;
}

// Whether every output the plan writes is there at its size, and no rescue of it
// has passes to go.
bool HasWholeOutput(const CopyPlan& plan, CopyTarget& target) {
    const std::vector<PlannedOutput>& planned = plan.outputs;
    if (planned.empty() || RescueUnfinished(plan.path, target)) {
        return false;
    }
    return std::all_of(planned.begin(), planned.end(), [&target](const PlannedOutput& file) {
        const Result<std::uint64_t> size = target.SizeOf(file.path);
        return size && *size == file.size;
    });
}

void SetFolderDate(const FolderDate& folder) {
    if (folder.entry == nullptr) {
        return;
    }
    const auto moment = DecodeFatDateTime(folder.entry->m_writeDate, folder.entry->m_writeTime);
    const auto seconds = moment ? LocalTimeOf(*moment) : std::nullopt;
    if (!seconds) {
        return;
    }
    SetFolderModified(folder.path, *seconds);
}

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
    BatchPlan plan(walker);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (IsFolder(*sources[i])) {
            plan.AddFolder(*sources[i], line.copy.treePaths[i], destination, 0);
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
    for (const BatchFile& job : jobs) {
        progress.totalBytes += job.source->m_fileSize;
    }
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
            failed.push_back(job.treePath);
        }
    }
    for (auto folder = plan.Folders().rbegin(); folder != plan.Folders().rend(); ++folder) {
        SetFolderDate(*folder);
    }
    out << "Copied " << copied << " of " << jobs.size() << " files";
    if (skipped > 0) {
        out << ", skipped " << skipped << " already there";
    }
    if (!failed.empty()) {
        out << ", " << failed.size() << " not or not wholly copied";
    }
    const std::vector<std::string>& unread = plan.UnreadFolders();
    if (!unread.empty()) {
        out << ", " << unread.size() << (unread.size() == 1 ? " folder" : " folders")
            << " not or not wholly read";
    }
    if (interrupted) {
        out << ", interrupted";
    }
    out << ".\n";
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
    if (sources.size() == 1 && sources[0]->IsFile()) {
        return RunSingleCopy(line, *sources[0], access, terminal, out, err, environment);
    }
    return RunBatchCopy(line, std::move(sources), access, walker, terminal, out, err, environment);
}

}  // namespace moravel::cli
