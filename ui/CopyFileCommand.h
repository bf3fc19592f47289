#pragma once

#include <optional>
#include <string>

#include "CopyFrontend.h"
#include "ProgressText.h"
#include "copy/CopyJob.h"

namespace moravel {

// The window's controls that a copy touches.
struct CopyControls {
    int tree;
    int fileList;
    int progress;
    int status;
    int copyButton;
};

// The button's text while a copy runs, and again after it.
inline constexpr char kStopButtonText[] = "Stop";
inline constexpr char kCopyFileButtonText[] = "Copy File";
inline constexpr char kCopyStoppedText[] = "The copy was stopped.";
// What to do about sectors that could not be read: a normal copy tries each
// once more; a rescue copy goes on from its map.
inline constexpr char kRescueCopyAdvice[] =
    "The disk may be failing. Rescue Copy... in the menu reads everything that can be read "
    "first, tries the unreadable sectors again at the end, and keeps a map of what it read, so "
    "that a later run goes on where it stopped.";
inline constexpr char kRescueAgainAdvice[] =
    "Run Rescue Copy... of this file again later, to the same place: it goes on from its map "
    "and tries the unreadable sectors once more.";

// While a copy runs the tree and the list take no clicks and Copy File says
// Stop; after it, both are enabled again and the button says Copy File.
void ShowCopyRunning(CopyFrontend& frontend, const CopyControls& controls, bool running);

// A copy the window runs: Stop, or the window closing, ends it after the
// cluster being copied.
class RunningCopy {
public:
    virtual void RequestStop() = 0;

protected:
    ~RunningCopy() = default;
};

// The window's Copy File command: takes the file of the selected list row, asks
// where to put it, refuses old FAT drives, asks about parts for FAT32 and about
// part files that are there already, then runs the copy job with the status line
// (what the terminal's progress line says) and the progress bar showing it, the
// tree and the list disabled, and Copy File turned into Stop. Every progress
// step is a pump step, in which the window stays alive. At the end the status
// line says where the output went.
class CopyFileCommand final : public RunningCopy, private CopyProgress {
public:
    CopyFileCommand(CopyFrontend& frontend, DriveTree& drives, CopyTarget& target,
                    CopyControls controls);

    void Run();
    // From now on the command makes rescue copies (nothing: normal copies again).
    void SetRescue(std::optional<RescueSettings> settings) {
        m_rescue = settings.has_value();
        m_job.SetRescue(std::move(settings));
    }
    // Ends a running copy after the cluster being copied (Stop, or the window is
    // closing).
    void RequestStop() override { m_job.RequestStop(); }

    const CopyReport& Report() const { return m_report; }

private:
    std::optional<CopyPlan> ChoosePlan(const DriveItem& source);
    void ShowEnd(const CopyPlan& plan);
    std::string StatusEndText(const CopyPlan& plan) const;
    std::string DamagedCopyText(const CopyPlan& plan) const;
    std::string KeptText(const CopyPlan& plan) const;
    std::string OutputText(const CopyPlan& plan) const;
    void ShowProgressText(std::uint64_t bytesDone, std::uint64_t size);
    void ShowError(const std::string& text, MessageIcon icon = MessageIcon::Exclamation);

    void Began(std::uint64_t size) override;
    void Copied(std::uint64_t bytesDone, std::uint64_t size) override;
    void ReadingAroundUnreadable(std::uint64_t sectorsSoFar) override;
    void Rescued(const RescueProgress& progress) override;

    CopyFrontend& m_frontend;
    CopyTarget& m_target;
    CopyControls m_controls;
    CopyJob m_job;
    CopyReport m_report;
    // The copy's bytes per cluster: the bar moves by clusters.
    std::uint64_t m_clusterBytes = 0;
    bool m_copying = false;  // the status line and the bar show the copy
    bool m_rescue = false;   // the copies are rescue copies
    std::string m_name;      // the file's name, as the status line shows it
    CopyPace m_pace;
    std::uint64_t m_bytesDone = 0;
    std::uint64_t m_size = 0;
    double m_shown = 0;  // when the status line last showed the progress
};

}  // namespace moravel
