#pragma once

#include <optional>
#include <string>

#include "CopyFrontend.h"
#include "copy/CopyJob.h"

namespace moravel {

// The window's controls that a copy touches.
struct CopyControls {
    int tree;
    int fileList;
    int progress;
    int status;
};

// The window's Copy File command: takes the file of the selected list row, asks
// where to put it, refuses old FAT drives, asks about parts for FAT32 and about
// part files that are there already, then runs the copy job with the status line
// and the progress bar showing it, and the tree and the list disabled. Every
// progress step is a pump step, in which the window stays alive.
class CopyFileCommand final : private CopyProgress {
public:
    CopyFileCommand(CopyFrontend& frontend, DriveTree& drives, CopyTarget& target,
                    CopyControls controls);

    void Run();
    // From now on the command makes rescue copies (nothing: normal copies again).
    void SetRescue(std::optional<RescueSettings> settings) { m_job.SetRescue(std::move(settings)); }
    // Ends a running copy after the cluster being copied (the window is closing).
    void RequestStop() { m_job.RequestStop(); }

    const CopyReport& Report() const { return m_report; }

private:
    std::optional<CopyPlan> ChoosePlan(const DriveItem& source);
    void ShowEnd(const CopyPlan& plan);
    std::string KeptText(const CopyPlan& plan) const;
    void ShowError(const std::string& text, MessageIcon icon = MessageIcon::Exclamation);
    void EnableSelection(bool enable);

    void Began(std::uint64_t size) override;
    void Copied(std::uint64_t bytesDone, std::uint64_t size) override;
    void Rescued(const RescueProgress& progress) override;

    CopyFrontend& m_frontend;
    CopyTarget& m_target;
    CopyControls m_controls;
    CopyJob m_job;
    CopyReport m_report;
    // The copy's bytes per cluster: the bar moves by clusters.
    std::uint64_t m_clusterBytes = 0;
    bool m_copying = false;  // the status line and the bar show the copy
};

}  // namespace moravel
