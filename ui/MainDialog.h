#pragma once

#include <cstdint>

#include "Frontend.h"
#include "copy/CopyCommand.h"
#include "copy/CopyTarget.h"
#include "res/Resources.h"
#include "tree/DriveTree.h"

namespace moravel {

inline constexpr char kMainCaption[] = "Veltrano Harddisk Recorder Utility";
inline constexpr char kScanningText[] = "Scanning file structure ... Please wait.";

// The program's one window: the folder tree, the file list, Copy File, the
// progress bar and the status line, and the disks behind them. Its handlers run
// on the one thread of the front end, which calls them when their events happen;
// any of them may run nested inside a scan's or a copy's pump step.
class MainDialog {
public:
    // Copies go to the machine's own file systems unless a target is given.
    MainDialog(Frontend& frontend, DriveAccessOptions options, CopyTarget* target = nullptr);

    void InitializeDialog();
    // True when the command was the dialog's own (the About box); the front end
    // handles every other one its own way.
    bool OnSystemCommand(unsigned command);
    int OnScanProgress();
    void OnFileListDoubleClick();
    void OnTreeItemExpanding(const TreeNotification& notification);
    void OnTreeSelectionChanged(const TreeNotification& notification);
    // Copy File. A click while a copy runs is ignored.
    void OnCopyFile();
    // The window is asked to close: true when it may close now. During a copy
    // the copy ends after its current cluster, and the window closes then.
    bool OnClose();

    DriveTree& Drives() { return m_driveAccess; }

private:
    enum class Placement { List, Nowhere, Tree };
    static Placement PlacementOf(const DriveItem& child);
    void ShowOpenProblems();
    void AddFileRow(DriveItem& file);

    Frontend& m_frontend;
    FileSystemTarget m_fileSystems;
    CopyTarget& m_copyTarget;
    CopyCommand* m_runningCopy = nullptr;
    bool m_closeAfterCopy = false;
    int m_icon = res::kApplicationIcon;
    int m_tree = res::kFolderTree;
    int m_fileList = res::kFileList;
    DriveTree m_driveAccess;
    std::int32_t m_scanProgress = 0;
    int m_progress = res::kProgressBar;
    int m_status = res::kStatusLine;
};

}  // namespace moravel
