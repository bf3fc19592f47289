#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "BatchCopyCommand.h"
#include "CopyFileCommand.h"
#include "Frontend.h"
#include "copy/CopyTarget.h"
#include "copy/FileReader.h"
#include "res/Resources.h"
#include "tree/DriveTree.h"

namespace moravel {

inline constexpr char kScanningText[] = "Scanning file structure ... Please wait.";
// The status line while the listed files' chains are walked for their sizes.
inline constexpr char kSizingText[] = "Reading the sizes of the files ...";
// A file's size column while its chain has not been walked yet.
inline constexpr char kSizePendingText[] = "\xE2\x80\xA6";
inline constexpr char kStopAndCloseQuestion[] = "A copy is running. Stop it and close?";
inline constexpr char kStopAndCloseVerb[] = "Stop Copy and Close";
inline constexpr char kKeepCopyingVerb[] = "Keep Copying";

// The program's one window: the folder tree, the file list, Copy File, the
// progress bar and the status line, and the disks behind them. Its handlers run
// on the one thread of the front end, which calls them when their events happen;
// any of them may run nested inside a scan's or a copy's pump step.
class MainDialog {
public:
    // Copies go to the machine's own file systems unless a target is given. The
    // disk images are added to the tree after the disks (as by Open Disk Image).
    MainDialog(Frontend& frontend, DriveAccessOptions options, CopyTarget* target = nullptr,
               std::vector<std::string> images = {});

    // Every handler catches what goes wrong inside it: a failure becomes a message
    // box, and the window goes on.
    void InitializeDialog();
    // True when the command was the dialog's own (the About box, Open Disk Image);
    // the front end handles every other one its own way.
    bool OnSystemCommand(unsigned command);
    int OnScanProgress();
    void OnFileListDoubleClick();
    void OnTreeItemExpanding(const TreeNotification& notification);
    void OnTreeSelectionChanged(const TreeNotification& notification);
    // Copy File; while a copy runs the button says Stop, and a click stops it.
    // With several rows selected, they are copied into a folder the user chooses.
    void OnCopyFile();
    // Copy Folder: the folder selected in the tree, all of it, into a folder the
    // user chooses.
    void OnCopyFolder();
    // Rescue Copy: the selected file copied as from a failing disk (readable parts
    // first, bad areas last), its map beside the output; run again, it goes on.
    void OnRescueCopy();
    // The window is asked to close: true when it may close now. A running scan
    // ends at its next step. During a copy the user is asked first; the copy then
    // ends after its current cluster (what it copied kept as .part), and the
    // window closes.
    bool OnClose();
    // Open Disk Image: asks for image files and adds them as disks.
    void OnOpenDiskImage();
    // Files dropped onto the window: each is added as a disk.
    void OnDropFiles(const std::vector<std::string>& paths);
    // Refresh (F5): the disks are opened and read again, and the tree starts over.
    void OnRefresh();
    // Disks came or went (udisks2 said so): with no disks named, the tree follows
    // when the machine's disks differ from those shown.
    void OnDisksChanged();
    // A refresh waits while a copy, a scan or another handler runs: true until it
    // was done. The front end calls OnRefresh again later.
    bool RefreshPending() const { return m_refreshPending; }

    // Preview: the one selected file, its true size measured and its chain walked,
    // opened to be read on another thread beside the window's own reads. Nothing
    // while a copy runs, when not one file is selected, or when it cannot be read
    // (said in a message box).
    struct FileAside {
        std::unique_ptr<FileReader> reader;
        std::string name;
    };
    std::optional<FileAside> OpenSelectedFileAside();

    // The commands a front end offers beside the system menu (a context menu):
    // command ids for OnSystemCommand with their texts.
    static std::vector<std::pair<unsigned, std::string>> WindowCommands();
    // Whether the command can do anything now: Rescue Copy and Preview need one
    // file selected, Copy File one or more, Copy Folder a folder selected in the
    // tree, and none of them while a copy runs.
    bool CommandEnabled(unsigned command);
    // A copy runs: Copy File says Stop, and a click stops it.
    bool CopyRunning() const { return m_runningCopy != nullptr; }

    DriveTree& Drives() { return m_driveAccess; }

private:
    enum class Placement { List, Nowhere, Tree };
    static Placement PlacementOf(const DriveItem& child);
    template <class Handler>
    void Guarded(Handler&& handler);
    void ShowFailureOf(const std::string& text);
    void ShowErrors(const Errors& errors);
    void InitializeDialogNow();
    void SelectionChanged(const TreeNotification& notification);
    void ShowScanning();
    void EndScanning(const DriveItem& item, bool empty);
    bool InsertTreeChildren(const TreeNotification& parent,
                            const std::vector<DriveItem*>& children);
    void ShowBootLabel(const TreeNotification& volume);
    void ShowVolumeLabel(const DriveItem& root, const std::vector<DriveItem*>& children);
    void FillList(const std::vector<DriveItem*>& children);
    void ClearList();
    void ShowTrueSizes(DriveItem& folder, const std::vector<DriveItem*>& children);
    void ShowFileSize(const DriveItem& file);
    // A copy waits for the true sizes of its files, and only theirs.
    void MeasureNow(const std::vector<DriveItem*>& files);
    void CopyFile(bool rescue);
    void CopyBatch(const std::vector<DriveItem*>& sources);
    CopyControls Controls() const {
        return {m_tree, m_fileList, m_progress, m_status, res::kCopyFileButton};
    }
    // The drive items of the selected rows, in the list's order.
    std::vector<DriveItem*> SelectedFiles();
    // A copy runs from the call until it returns: m_runningCopy is set meanwhile.
    template <class Command, class... Args>
    void RunCopy(Command& command, Args&&... args);
    void ShowOpenProblems();
    std::string NoDiskOpenedText() const;
    void FillTree();
    void RefreshDisks();
    std::string DiskDetailsText(const DriveItem& disk) const;
    std::string DiskText(const DriveItem& disk) const;
    void AddFileRow(DriveItem& file);
    // Remembered, the images are added again by a refresh.
    void AddDiskImages(const std::vector<std::string>& paths, bool remember);
    void InsertDisk(DriveItem& disk);

    Frontend& m_frontend;
    FileSystemTarget m_fileSystems;
    CopyTarget& m_copyTarget;
    // The images added as disks (named at the start, or opened since): a refresh
    // adds them again.
    std::vector<std::string> m_images;
    // How many handlers run, one nested in another.
    int m_handlers = 0;
    bool m_refreshPending = false;
    RunningCopy* m_runningCopy = nullptr;
    bool m_closeAfterCopy = false;
    // The items whose scans run, in the frames of the handlers below this one.
    std::set<const DriveItem*> m_scansRunning;
    // The drive items shown in the tree: each goes in once.
    std::set<const DriveItem*> m_inTree;
    // The volume node above each root directory in the tree: it shows the label.
    std::map<const DriveItem*, TreeNotification> m_volumeOfRoot;
    std::set<const DriveItem*> m_rootLabelShown;  // volumes named by their root's label
    // The item selected last, and how many selections there were: a handler that
    // scanned learns whether the list is still its own.
    DriveItem* m_selected = nullptr;
    std::uint64_t m_selections = 0;
    // The list's row of each file it shows.
    std::map<const DriveItem*, int> m_rowOf;
    int m_icon = res::kApplicationIcon;
    int m_tree = res::kFolderTree;
    int m_fileList = res::kFileList;
    DriveTree m_driveAccess;
    std::int32_t m_scanProgress = 0;
    int m_progress = res::kProgressBar;
    int m_status = res::kStatusLine;
};

}  // namespace moravel
