#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "disk/CoreFrontend.h"

namespace moravel {

enum class MessageButtons { Ok, OkCancel };
enum class MessageIcon { None, Exclamation, Hand };
enum class MessageAnswer { Ok, Cancel };

struct DriveItem;
struct RescueProgress;

// The Save dialog's answer: the full path and the bare file name.
struct SaveChoice {
    std::string path;
    std::string fileName;
};

// The window operations that the Copy File command uses, on top of what the core
// uses: the file list's selection, the Save dialog, the status line, the progress
// bar and enabling controls (by their ids).
class CopyFrontend : public CoreFrontend {
public:
    // A modal message box; returns the button the user pressed.
    virtual MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                      MessageButtons buttons, MessageIcon icon) = 0;
    // A question whose two or three buttons say what they do ("Stop Copy and
    // Close", "Keep Copying"): the first is the default, the last is what Escape
    // and the close box answer. Returns the index of the verb chosen.
    virtual std::size_t Ask(const std::string& text, const std::vector<std::string>& verbs,
                            MessageIcon icon) = 0;
    // The first selected row of the file list, or -1; and the drive item it shows.
    virtual int SelectedListRow() = 0;
    // Every selected row, in the list's order (a list that selects one row at a
    // time has one at most).
    virtual std::vector<int> SelectedListRows() {
        const int row = SelectedListRow();
        return row < 0 ? std::vector<int>{} : std::vector<int>{row};
    }
    virtual DriveItem* ListRowData(int row) = 0;
    // The Save dialog: asks before an existing file is replaced; nothing on Cancel.
    virtual std::optional<SaveChoice> AskSaveFileName(const std::string& initialName) = 0;
    // A folder dialog: the folder chosen, nothing on Cancel.
    virtual std::optional<std::string> AskFolder(const std::string& title) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowControl(int id, bool show) = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // Something the user should know about the destination that is no failure (its
    // file system was guessed, say); a front end shows it where it fits.
    virtual void ShowNote(const std::string& text) { (void)text; }
    // How far a rescue copy is; shown where the front end shows a copy's progress.
    virtual void ShowRescueProgress(const RescueProgress& progress) { (void)progress; }
};

// The window's caption; its message boxes carry it too.
inline constexpr char kMainCaption[] = "Veltrano Harddisk Recorder Utility";

// The caption of the window's message boxes: the window's own (kMainCaption), so
// that a box names the program as its window does. A front end shows this for a
// box whose caption is empty.
std::string ApplicationTitle();

// A message box with OK, the exclamation icon and the application's title: how
// the window tells what the disks and the drive tree could not do.
void ShowFailure(CopyFrontend& frontend, const std::string& text);

}  // namespace moravel
