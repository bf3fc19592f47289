#include "BatchCopyCommand.h"

#include <algorithm>
#include <system_error>

#include "copy/RescueEngine.h"
#include "disk/PathText.h"
#include "tree/DriveTree.h"

namespace moravel {

namespace {

// The problems a summary names; the rest are counted.
constexpr std::size_t kProblemsNamed = 10;

// The folders of a batch, read as the tree reads them when they are opened; a
// child's path is its folder's with its name.
class DriveFolders final : public FolderReader {
public:
    explicit DriveFolders(DriveTree& drives) : m_drives(drives) {}

    std::vector<Child> Children(DriveItem& folder, const std::string& path) override {
        std::int32_t progress = 0;
        const Expansion expansion = m_drives.ExpandItem(folder, progress);
        if (!expansion.errors.empty()) {
            m_readInPart.push_back(&folder);
        }
        std::vector<Child> named;
        for (DriveItem* child : expansion.children) {
            named.push_back({child, path + "/" + std::string(child->PlainName())});
        }
        return named;
    }
    bool ReadInPart(const DriveItem& folder) const override {
        return std::find(m_readInPart.begin(), m_readInPart.end(), &folder) != m_readInPart.end();
    }

private:
    DriveTree& m_drives;
    std::vector<const DriveItem*> m_readInPart;
};

}  // namespace

BatchCopyCommand::BatchCopyCommand(CopyFrontend& frontend, DriveTree& drives, CopyTarget& target,
                                   CopyControls controls)
    : m_frontend(frontend), m_drives(drives), m_target(target), m_controls(controls) {}

void BatchCopyCommand::RequestStop() {
    m_stopRequested = true;
}

void BatchCopyCommand::Run(const std::vector<Source>& sources) {
    m_tally = BatchTally{};
    m_problems.clear();
    m_anyFilled = false;
    m_skipExisting = false;
    m_stopRequested = false;
    const std::optional<std::string> folder = m_frontend.AskFolder(kCopyToFolderTitle);
    if (!folder) {
        return;
    }
    if (const auto refusal = m_target.Refusal(*folder)) {
        m_frontend.ShowMessage("Nothing is copied into " + *folder + ": " + *refusal,
                               ApplicationTitle(), MessageButtons::Ok, MessageIcon::Hand);
        return;
    }
    ShowCopyRunning(m_frontend, m_controls, true);
    struct Enable {
        BatchCopyCommand& command;
        ~Enable() { ShowCopyRunning(command.m_frontend, command.m_controls, false); }
    } enableAtEnd{*this};

    DriveFolders folders(m_drives);
    BatchPlan plan(folders);
    for (const Source& source : sources) {
        if (IsFolder(*source.item)) {
            plan.AddFolder(*source.item, source.path, PathFromUtf8(*folder));
        } else {
            plan.AddFile(*source.item, source.path, PathFromUtf8(*folder));
        }
    }
    if (m_stopRequested || !Confirm(plan.Jobs(), *folder)) {
        return;
    }
    // Folders are made first, so that an empty one is there as well.
    for (const FolderDate& made : plan.Folders()) {
        std::error_code failure;
        std::filesystem::create_directories(made.path, failure);
    }
    CopyAll(plan);
    for (auto made = plan.Folders().rbegin(); made != plan.Folders().rend(); ++made) {
        SetFolderDate(*made);
    }
    ShowEnd(plan, *folder);
}

// Asks what the files' plans ask of the user, once for all: a destination that
// takes no copies ends it; parts for FAT32 and files there already go on when
// the user says so.
bool BatchCopyCommand::Confirm(const std::vector<BatchFile>& jobs, const std::string& folder) {
    bool split = false;
    std::size_t there = 0;
    DestinationVolume volume;
    for (const BatchFile& job : jobs) {
        const CopyPlan plan = PlanCopy(*job.source, Utf8FromPath(job.output), m_target);
        if (plan.refused) {
            m_frontend.ShowMessage(RefusedDestinationText(plan.volume), ApplicationTitle(),
                                   MessageButtons::Ok, MessageIcon::Hand);
            return false;
        }
        split = split || plan.split;
        volume = plan.volume;
        const bool exists =
            std::any_of(plan.outputs.begin(), plan.outputs.end(),
                        [&](const PlannedOutput& output) { return m_target.Exists(output.path); });
        if (exists || m_target.Exists(plan.path)) {
            ++there;
        }
    }
    const auto ask = [this](const std::string& question) {
        return m_frontend.ShowMessage(question, ApplicationTitle(), MessageButtons::OkCancel,
                                      MessageIcon::Exclamation) == MessageAnswer::Ok;
    };
    if (split && !ask(SplitNoticeText(volume))) {
        return false;
    }
    if (there == 0) {
        return true;
    }
    // As the command line's --skip-existing: a file whose copy is there whole
    // is left as it is.
    const std::size_t choice = m_frontend.Ask(
        std::to_string(there) + (there == 1 ? " file is" : " files are") + " in " + folder +
            " already. Replace " + (there == 1 ? "it, or skip it?" : "them, or skip them?"),
        {kReplaceVerb, kSkipVerb, kCancelVerb}, MessageIcon::Exclamation);
    m_skipExisting = choice == 1;
    return choice < 2;
}

void BatchCopyCommand::CopyAll(BatchPlan& plan) {
    const std::vector<BatchFile>& jobs = plan.Jobs();
    m_tally.files = jobs.size();
    m_progress = BatchProgress{};
    m_progress.files = jobs.size();
    m_progress.totalBytes = plan.TotalBytes();
    m_progress.started = SteadySecondsNow();
    m_pace.Start(0, m_progress.started);
    m_frontend.SetProgressPosition(0);
    m_frontend.ShowControl(m_controls.progress, true);
    m_frontend.ShowControl(m_controls.status, true);
    for (std::size_t i = 0; i < jobs.size() && !m_tally.interrupted; ++i) {
        m_progress.fileNumber = i + 1;
        CopyOne(jobs[i]);
        m_progress.bytesBefore += jobs[i].source->m_fileSize;
    }
    m_frontend.ShowControl(m_controls.progress, false);
    m_frontend.SetProgressPosition(0);
}

void BatchCopyCommand::CopyOne(const BatchFile& job) {
    m_name = Utf8FromPath(job.output.filename());
    const CopyPlan planned = PlanCopy(*job.source, Utf8FromPath(job.output), m_target);
    if (m_skipExisting && HasWholeOutput(planned, m_target)) {
        ++m_tally.skipped;
        return;
    }
    CopyReport report;
    std::error_code failure;
    std::filesystem::create_directories(job.output.parent_path(), failure);
    if (failure) {
        report.outcome = CopyOutcome::Failed;
        report.error = Error{"cannot create " + Utf8FromPath(job.output.parent_path()) + ": " +
                             failure.message()};
    } else {
        CopyJob copy(m_drives, m_target);
        report = copy.Run(*job.source, planned, *this);
    }
    m_tally.interrupted = report.stopped;
    if (report.outcome == CopyOutcome::Copied) {
        ++m_tally.copied;
        return;
    }
    ++m_tally.failed;
    m_anyFilled = m_anyFilled || report.filledSectors > 0;
    if (report.stopped && !report.error) {
        return;  // the summary says the copy was interrupted
    }
    std::string why = report.error && !report.error->reason.empty() ? report.error->reason
                      : report.outcome == CopyOutcome::Incomplete   ? FilledSectorsText(report)
                                                                    : kCopyFailedText;
    std::replace(why.begin(), why.end(), '\n', ' ');
    m_problems.push_back(job.path + ": " + why);
}

void BatchCopyCommand::Began(std::uint64_t) {
    Copied(0, 0);
}

// The bar and the status line count the bytes of all the files.
void BatchCopyCommand::Copied(std::uint64_t bytesDone, std::uint64_t) {
    const std::uint64_t done = m_progress.bytesBefore + bytesDone;
    const std::uint64_t all = std::max<std::uint64_t>(m_progress.totalBytes, 1);
    m_frontend.SetProgressPosition(static_cast<int>(static_cast<double>(std::min(done, all)) *
                                                    100.0 / static_cast<double>(all)));
    m_done = done;
    const double now = SteadySecondsNow();
    const bool wasAround = m_pace.AroundUnreadable();
    m_pace.Copied(done, now);
    if (bytesDone == 0 || now - m_shown >= kStatusRedrawSeconds ||
        wasAround != m_pace.AroundUnreadable()) {
        ShowProgressText(now);
    }
    m_frontend.PumpMessages();
}

void BatchCopyCommand::ReadingAroundUnreadable(std::uint64_t sectorsSoFar) {
    const bool wasAround = m_pace.AroundUnreadable();
    m_pace.Unreadable(sectorsSoFar, m_done);
    if (const double now = SteadySecondsNow();
        !wasAround || now - m_shown >= kStatusRedrawSeconds) {
        ShowProgressText(now);
    }
    m_frontend.PumpMessages();
}

void BatchCopyCommand::ShowProgressText(double now) {
    m_shown = now;
    m_frontend.SetStatusText(BatchStatusText(m_progress, m_name, m_done,
                                             m_pace.Text(m_done, m_progress.totalBytes, now)));
}

// The summary in the status line; what went wrong, when anything did, in a
// message box.
void BatchCopyCommand::ShowEnd(const BatchPlan& plan, const std::string& folder) {
    m_tally.unreadFolders = plan.UnreadFolders().size();
    m_frontend.SetStatusText(BatchSummaryText(m_tally) + " The copies are in " + folder + ".");
    m_frontend.ShowControl(m_controls.status, true);
    for (const std::string& path : plan.UnreadFolders()) {
        m_problems.push_back(path + ": the folder could not be read, or not wholly.");
    }
    for (const std::string& path : plan.SkippedFolders()) {
        m_problems.push_back(path +
                             ": a folder taken before (or nested too deep), not copied again.");
    }
    if (m_problems.empty()) {
        return;
    }
    std::string text = BatchSummaryText(m_tally);
    for (std::size_t i = 0; i < m_problems.size() && i < kProblemsNamed; ++i) {
        text += "\n" + m_problems[i];
    }
    if (m_problems.size() > kProblemsNamed) {
        text += "\n... and " + std::to_string(m_problems.size() - kProblemsNamed) + " more.";
    }
    if (m_anyFilled) {
        text += std::string("\n\n") + kRescueCopyAdvice;
    }
    m_frontend.ShowMessage(text, ApplicationTitle(), MessageButtons::Ok, MessageIcon::Exclamation);
}

}  // namespace moravel
