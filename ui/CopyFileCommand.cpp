#include "CopyFileCommand.h"

#include <algorithm>

#include "ProgressText.h"
#include "disk/Sector.h"
#include "tree/DriveTree.h"

namespace moravel {

void ShowCopyRunning(CopyFrontend& frontend, const CopyControls& controls, bool running) {
    frontend.EnableControl(controls.tree, !running);
    frontend.EnableControl(controls.fileList, !running);
    frontend.SetControlText(controls.copyButton, running ? kStopButtonText : kCopyFileButtonText);
}

CopyFileCommand::CopyFileCommand(CopyFrontend& frontend, DriveTree& drives, CopyTarget& target,
                                 CopyControls controls)
    : m_frontend(frontend), m_target(target), m_controls(controls), m_job(drives, target) {}

void CopyFileCommand::ShowError(const std::string& text, MessageIcon icon) {
    m_frontend.ShowMessage(text, ApplicationTitle(), MessageButtons::Ok, icon);
}

void CopyFileCommand::Run() {
    m_report = CopyReport{};
    const int row = m_frontend.SelectedListRow();
    DriveItem* source = row < 0 ? nullptr : m_frontend.ListRowData(row);
    if (source == nullptr) {
        ShowError(kSelectFile);
        return;
    }
    const std::optional<CopyPlan> plan = ChoosePlan(*source);
    if (!plan) {
        return;
    }
    m_clusterBytes = SectorsToBytes(source->m_sectorsPerCluster);
    m_name = std::string(source->EntryName());
    ShowCopyRunning(m_frontend, m_controls, true);
    try {
        m_report = m_job.Run(*source, *plan, *this);
    } catch (...) {
        m_report = m_job.Report();
        ShowEnd(*plan);
        throw;
    }
    ShowEnd(*plan);
}

// Asks for the destination and about it; nothing when the command ends here.
std::optional<CopyPlan> CopyFileCommand::ChoosePlan(const DriveItem& source) {
    // The name on the disk is untrusted: as a file name it must stay in the folder.
    const auto choice = m_frontend.AskSaveFileName(FitFileName(SafeFileName(source.EntryName())));
    if (!choice) {
        return std::nullopt;
    }
    CopyPlan plan = PlanCopy(source, choice->path, m_target);
    if (plan.refused) {
        m_report.outcome = CopyOutcome::Refused;
        m_frontend.ShowMessage(RefusedDestinationText(plan.volume), ApplicationTitle(),
                               MessageButtons::Ok, MessageIcon::Hand);
        return std::nullopt;
    }
    if (!plan.volume.note.empty()) {
        m_frontend.ShowNote(plan.volume.note);
    }
    const auto ask = [this](const std::string& question) {
        return m_frontend.ShowMessage(question, ApplicationTitle(), MessageButtons::OkCancel,
                                      MessageIcon::Exclamation) == MessageAnswer::Ok;
    };
    if (plan.split && !ask(SplitNoticeText(plan.volume) + "\n\n" + PartsPlanText(plan))) {
        return std::nullopt;
    }
    if (const auto question = ReplacePartsQuestion(plan, m_target); question && !ask(*question)) {
        return std::nullopt;
    }
    return plan;
}

void CopyFileCommand::Began(std::uint64_t size) {
    m_pace.Start(0, SteadySecondsNow());
    m_bytesDone = 0;
    m_size = size;
    ShowProgressText(0, size);
    m_frontend.ShowControl(m_controls.status, true);
    m_frontend.SetProgressPosition(0);
    m_frontend.ShowControl(m_controls.progress, true);
    m_copying = true;
}

void CopyFileCommand::ShowProgressText(std::uint64_t bytesDone, std::uint64_t size) {
    m_shown = SteadySecondsNow();
    m_frontend.SetStatusText(
        CopyStatusText(m_name, bytesDone, size, m_pace.Text(bytesDone, size, m_shown)));
}

// The bar counts clusters: whole ones to 100, a last partial one beyond.
void CopyFileCommand::Copied(std::uint64_t bytesDone, std::uint64_t size) {
    if (m_clusterBytes == 0) {
        return;
    }
    const std::uint64_t wholeClusters = size / m_clusterBytes;
    const std::uint64_t clustersDone = (bytesDone + m_clusterBytes - 1) / m_clusterBytes;
    const double position = wholeClusters == 0 ? 0.0
                                               : static_cast<double>(clustersDone) * 100.0 /
                                                     static_cast<double>(wholeClusters);
    m_frontend.SetProgressPosition(static_cast<int>(std::min(position, 1e9)));
    m_bytesDone = bytesDone;
    m_size = size;
    const double now = SteadySecondsNow();
    const bool wasAround = m_pace.AroundUnreadable();
    m_pace.Copied(bytesDone, now);
    if (now - m_shown >= kStatusRedrawSeconds || wasAround != m_pace.AroundUnreadable()) {
        ShowProgressText(bytesDone, size);
    }
    m_frontend.PumpMessages();
}

// A failing drive may spend seconds on each sector: the status line says why
// the bar stands still, and the window stays alive meanwhile.
void CopyFileCommand::ReadingAroundUnreadable(std::uint64_t sectorsSoFar) {
    const bool wasAround = m_pace.AroundUnreadable();
    m_pace.Unreadable(sectorsSoFar, m_bytesDone);
    if (!wasAround || SteadySecondsNow() - m_shown >= kStatusRedrawSeconds) {
        ShowProgressText(m_bytesDone, m_size);
    }
    m_frontend.PumpMessages();
}

void CopyFileCommand::Rescued(const RescueProgress& progress) {
    const std::uint64_t known = progress.rescuedBytes + progress.badBytes;
    m_frontend.SetProgressPosition(
        progress.size == 0 ? 100 : static_cast<int>(known * 100 / progress.size));
    m_frontend.ShowRescueProgress(progress);
    m_frontend.PumpMessages();
}

// Once the copy had begun: its outcome in the status line, short, and the bar
// hidden; a copy that is not whole (filled, cut or failed, but not stopped as
// asked) also in a message box with the warning icon, which says what is where
// and what to do next. A reason the job gives before it began goes in a box
// alone. The tree and the list are enabled again.
void CopyFileCommand::ShowEnd(const CopyPlan& plan) {
    const bool reason = m_report.error && !m_report.error->reason.empty();
    if (!m_copying) {
        if (reason) {
            ShowError(m_report.error->reason, m_report.error->weight == Error::Weight::Stop
                                                  ? MessageIcon::Hand
                                                  : MessageIcon::Exclamation);
        }
        ShowCopyRunning(m_frontend, m_controls, false);
        return;
    }
    m_copying = false;
    m_frontend.SetStatusText(StatusEndText(plan));
    m_frontend.ShowControl(m_controls.progress, false);
    m_frontend.SetProgressPosition(0);
    ShowCopyRunning(m_frontend, m_controls, false);
    if (m_report.outcome == CopyOutcome::Incomplete || reason) {
        ShowError(DamagedCopyText(plan),
                  m_report.error && m_report.error->weight == Error::Weight::Stop
                      ? MessageIcon::Hand
                      : MessageIcon::Exclamation);
    }
}

std::string CopyFileCommand::StatusEndText(const CopyPlan& plan) const {
    switch (m_report.outcome) {
        case CopyOutcome::Copied:
            return kCopySucceededText + OutputText(plan);
        case CopyOutcome::Incomplete:
            return std::string(kCopyIncompleteText) + " " + FilledCountText(m_report) +
                   " It was copied" + OutputText(plan) + ".";
        default:
            return (m_report.stopped ? kCopyStoppedText : kCopyFailedText) + KeptText(plan);
    }
}

// The message box of a copy that is not whole: what happened, where the output
// is, and what can be done about it.
std::string CopyFileCommand::DamagedCopyText(const CopyPlan& plan) const {
    std::string text;
    if (m_report.outcome == CopyOutcome::Incomplete) {
        text = std::string(kCopyIncompleteText) + "\n\nIt was copied" + OutputText(plan) + ".\n\n" +
               FilledSectorsText(m_report);
    } else {
        // The reason first, as the job words it; then what is left where.
        text = m_report.error->reason;
        if (const std::string kept = KeptText(plan); !kept.empty()) {
            text += "\n\n" + kept.substr(1);
        }
    }
    if (m_report.filledSectors > 0) {
        text += std::string("\n\n") + (m_rescue ? kRescueAgainAdvice : kRescueCopyAdvice);
    }
    return text;
}

// " to /media/usb/Film.ts", or " in 3 parts in /media/usb/: Film_1.ts,
// Film_2.ts, Film_3.ts": where a whole copy went.
std::string CopyFileCommand::OutputText(const CopyPlan& plan) const {
    const auto& outputs = m_report.outputs;
    if (outputs.size() == 1) {
        return " to " + outputs.front().path;
    }
    if (outputs.empty()) {
        return "";
    }
    std::vector<std::string> paths;
    for (const CopyReport::Output& output : outputs) {
        paths.push_back(output.path);
    }
    return " in " + std::to_string(outputs.size()) + " parts in " + plan.folder + ": " +
           PartNamesText(paths);
}

// " What was copied is kept as Film_1.ts.part in /media/usb/." for a copy that
// ended before its last byte (the names first: a status line cut short keeps
// them); nothing when no output is left.
std::string CopyFileCommand::KeptText(const CopyPlan& plan) const {
    if (m_report.unfinished == 0) {
        return "";
    }
    std::string kept = " What was copied is kept as ";
    for (std::size_t i = 0; i < m_report.unfinished; ++i) {
        const std::string& path = m_report.outputs[i].path;
        kept += (i == 0 ? "" : ", ") + path.substr(FolderOf(path).size());
    }
    return kept + " in " + plan.folder + ".";
}

}  // namespace moravel
