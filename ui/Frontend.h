#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CopyFrontend.h"
#include "RescueText.h"
#include "res/Resources.h"
#include "tree/NameText.h"

namespace moravel {

struct DriveItem;
class MainDialog;

// A tree item of the window's folder tree; 0 stands for the top level.
using TreeItemHandle = std::uintptr_t;
inline constexpr TreeItemHandle kTreeTop = 0;

// The tree item state bit that the view sets after an item's first expansion.
inline constexpr unsigned kTreeExpandedOnce = 0x0040;

// What a tree notification carries: the item, its state and its drive item.
struct TreeNotification {
    TreeItemHandle item = 0;
    unsigned state = 0;
    DriveItem* data = nullptr;
};

enum class ColumnAlignment { Left, Right };

// The file list's order, the same in every front end: ascending, letters
// compared without regard to case, other characters by their code point
// (whatever the locale); a name equal to one listed goes after it.
inline bool ListSortsBefore(std::string_view a, std::string_view b) {
    return FoldedLess(a, b);
}

// The window operations that the main dialog's logic needs, on top of what the
// core and the copy need. A front end (the desktop window, the headless one of the tests)
// provides them and calls the dialog's handlers when its events happen. Texts
// are UTF-8, names of the disk decoded as the tree read them.
class Frontend : public CopyFrontend {
public:
    // Window and controls (by their ids in the window's resources).
    virtual void SetCaption(const std::string& text) = 0;
    // False when the window has no system menu; nothing is appended then.
    virtual bool AppendSystemMenuSeparator() = 0;
    virtual void AppendSystemMenuItem(unsigned command, const std::string& text) = 0;
    virtual void SetProgressRange(int low, int high) = 0;

    // Folder tree. Inserting appends after the parent's last child. Selecting an
    // item that is not selected yet runs the selection-changed handler to its end
    // before it returns.
    virtual TreeItemHandle InsertTreeItem(TreeItemHandle parent, const std::string& text,
                                          int childCount, DriveItem* data) = 0;
    virtual void SetTreeChildCount(TreeItemHandle item, int childCount) = 0;
    virtual void SetTreeItemText(TreeItemHandle item, const std::string& text) = 0;
    virtual void SelectTreeItem(TreeItemHandle item) = 0;
    // Empties the tree; the selection becomes the top level, as the
    // selection-changed handler is told. Handles given before are void.
    virtual void DeleteAllTreeItems() = 0;
    // The text shown when the pointer rests on the item; a front end without
    // such tips shows it nowhere.
    virtual void SetTreeItemTip(TreeItemHandle /*item*/, const std::string& /*text*/) {}

    // File list: rows numbered in ascending order of their first column
    // (ListSortsBefore); a view that lets the user sort by another column shows
    // them in its own order, and a row's number still means the same row. The
    // width is in pixels of the layout's font.
    virtual void InsertListColumn(const std::string& title, ColumnAlignment alignment,
                                  int width) = 0;
    virtual void DeleteAllListRows() = 0;
    // Returns the row's number: its index in that order.
    virtual int InsertListRow(const std::string& text, DriveItem* data) = 0;
    virtual void SetListItemText(int row, int column, const std::string& text) = 0;

    // Modal dialogs. Running the main dialog initialises it and returns when it
    // is closed; closing it asks the dialog first (MainDialog::OnClose).
    virtual void RunMainDialog(MainDialog& dialog) = 0;
    virtual void CloseMainDialog() = 0;
    virtual void RunAboutDialog(const res::DialogTemplate& about) = 0;
    // The Open Disk Image dialog: the image files the user chose, none on Cancel.
    virtual std::vector<std::string> AskDiskImages() = 0;

    // A rescue copy's progress goes to the status line.
    void ShowRescueProgress(const RescueProgress& progress) override {
        SetStatusText(RescueProgressText(progress));
    }
};

}  // namespace moravel
