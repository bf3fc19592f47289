#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CopyFileCommand.h"
#include "ProgressText.h"
#include "copy/BatchPlan.h"

namespace moravel {

inline constexpr char kCopyToFolderTitle[] = "Copy to Folder";
// The buttons of the question about files there already.
inline constexpr char kReplaceVerb[] = "Replace";
inline constexpr char kSkipVerb[] = "Skip";
inline constexpr char kCancelVerb[] = "Cancel";

// Several files of the list, or a folder of the tree whole, copied into a
// folder the user chooses, by the rules of the command line's copy of several:
// safe names made unique, sub-folders kept with their dates, FAT32 parts. One
// progress for all (the bar, and the status line as the terminal's line says
// it), Stop ends it after the cluster being copied, and one summary at the end.
class BatchCopyCommand final : public RunningCopy, private CopyProgress {
public:
    // A source is a file or a folder; its path names it in what is reported.
    struct Source {
        DriveItem* item = nullptr;
        std::string path;
    };

    BatchCopyCommand(CopyFrontend& frontend, DriveTree& drives, CopyTarget& target,
                     CopyControls controls);

    void Run(const std::vector<Source>& sources);
    void RequestStop() override;

    const BatchTally& Tally() const { return m_tally; }

private:
    bool Confirm(const std::vector<BatchFile>& jobs, const std::string& folder);
    void CopyAll(BatchPlan& plan);
    void CopyOne(const BatchFile& job);
    void ShowEnd(const BatchPlan& plan, const std::string& folder);

    void Began(std::uint64_t size) override;
    void Copied(std::uint64_t bytesDone, std::uint64_t size) override;
    void ReadingAroundUnreadable(std::uint64_t sectorsSoFar) override;
    void ShowProgressText(double now);
    bool StopRequested() override { return m_stopRequested; }

    CopyFrontend& m_frontend;
    DriveTree& m_drives;
    CopyTarget& m_target;
    CopyControls m_controls;
    BatchTally m_tally;
    BatchProgress m_progress;
    CopyPace m_pace;
    std::uint64_t m_done = 0;  // the bytes of all the files copied so far
    std::string m_name;        // the file being copied
    double m_shown = 0;        // when the status line last showed the progress
    bool m_stopRequested = false;
    bool m_anyFilled = false;     // a file was copied with sectors filled
    bool m_skipExisting = false;  // files there whole already are left alone
    // What did not go well, one line each, for the summary's message box.
    std::vector<std::string> m_problems;
};

}  // namespace moravel
