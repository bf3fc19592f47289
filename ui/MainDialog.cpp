#include "MainDialog.h"

#include <string>

#include "AboutDialog.h"
#include "FormatSize.h"

namespace moravel {

MainDialog::MainDialog(Frontend& frontend, DriveAccessOptions options, CopyTarget* target)
    : m_frontend(frontend),
      m_copyTarget(target != nullptr ? *target : m_fileSystems),
      m_driveAccess(frontend, std::move(options)) {}

void MainDialog::InitializeDialog() {
    const std::string about(res::LoadString(res::kAboutMenuText));
    if (!about.empty() && m_frontend.AppendSystemMenuSeparator()) {
        m_frontend.AppendSystemMenuItem(res::kAboutCommand, about);
    }
    m_frontend.SetCaption(kMainCaption);
    m_frontend.SetProgressRange(0, 100);
    m_frontend.SetProgressPosition(0);
    m_frontend.InsertListColumn("File Name", ColumnAlignment::Left, 150);
    m_frontend.InsertListColumn("Size", ColumnAlignment::Right, 100);
    m_frontend.InsertListColumn("Size (bytes)", ColumnAlignment::Right, 100);

    m_driveAccess.Open();
    const auto disks = static_cast<std::size_t>(m_driveAccess.GetFloppyCount()) +
                       static_cast<std::size_t>(std::max(m_driveAccess.GetHardDiskCount(), 0));
    for (std::size_t i = 0; i < disks; ++i) {
        DriveItem& disk = m_driveAccess.GetDisks()[i];
        m_frontend.InsertTreeItem(kTreeTop, std::string(disk.DisplayName()), 1, &disk);
    }
    ShowOpenProblems();
}

// A disk named on the command line that could not be opened: the status line
// says which and why.
void MainDialog::ShowOpenProblems() {
    std::string text;
    for (const OpenError& problem : m_driveAccess.OpenProblems()) {
        text +=
            (text.empty() ? "" : "; ") + problem.path + " could not be opened: " + problem.reason;
    }
    if (!text.empty()) {
        m_frontend.SetStatusText(text);
        m_frontend.ShowControl(m_status, true);
    }
}

bool MainDialog::OnSystemCommand(unsigned command) {
    if ((command & ~0xFu) != res::kAboutCommand) {
        return false;
    }
    AboutDialog about(m_frontend);
    about.DoModal();
    return true;
}

int MainDialog::OnScanProgress() {
    m_frontend.SetProgressPosition(m_scanProgress);
    return 0;
}

void MainDialog::OnFileListDoubleClick() {
    m_frontend.ShowControl(m_status, false);
}

void MainDialog::OnTreeItemExpanding(const TreeNotification& notification) {
    if ((notification.state & kTreeExpandedOnce) != 0) {
        return;  // its children were inserted before
    }
    m_frontend.SelectTreeItem(notification.item);
}

MainDialog::Placement MainDialog::PlacementOf(const DriveItem& child) {
    if (child.IsFile()) {
        return Placement::List;
    }
    const bool fatCopy = (child.m_kind == KindFat12Table || child.m_kind == KindFat16Table ||
                          child.m_kind == KindFat32Table) &&
                         child.m_kind == child.m_fatKind;
    return fatCopy ? Placement::Nowhere : Placement::Tree;
}

void MainDialog::AddFileRow(DriveItem& file) {
    const int row = m_frontend.InsertListRow(std::string(file.DisplayName()), &file);
    m_frontend.SetListItemText(row, 1, FormatSize(file.m_fileSize));
    m_frontend.SetListItemText(row, 2, std::to_string(file.m_fileSize));
}

void MainDialog::OnTreeSelectionChanged(const TreeNotification& notification) {
    m_frontend.DeleteAllListRows();
    if (notification.item == kTreeTop || notification.data == nullptr) {
        return;  // nothing to expand: the list stays empty
    }
    const TreeItemHandle item = notification.item;
    m_frontend.SetStatusText(kScanningText);
    m_frontend.ShowControl(m_status, true);
    m_frontend.ShowControl(m_progress, true);

    // A copy of the children: a nested selection during the scan leaves it alone.
    const std::vector<DriveItem*> children =
        m_driveAccess.ExpandItem(*notification.data, m_scanProgress);
    if (children.empty()) {
        m_frontend.SetTreeChildCount(item, 0);
        m_frontend.ShowControl(m_progress, false);
        // A partition chain that links back is cut here: the status line says
        // why the partition shows nothing.
        if (const auto sector = m_driveAccess.RepeatedRecord(*notification.data)) {
            m_frontend.SetStatusText("The boot record of this extended partition (sector " +
                                     std::to_string(*sector) +
                                     ") was read before: the disk's partition chain links back "
                                     "to it, and is not followed again.");
            return;
        }
        m_frontend.ShowControl(m_status, false);
        return;
    }
    // Tree children go in once, also when the item is selected again before its
    // first expansion.
    const bool insertTreeChildren =
        (notification.state & kTreeExpandedOnce) == 0 && !m_frontend.TreeItemHasChildren(item);
    bool foundTreeChild = false;
    for (DriveItem* child : children) {
        switch (PlacementOf(*child)) {
            case Placement::List:
                AddFileRow(*child);
                break;
            case Placement::Nowhere:
                break;
            case Placement::Tree:
                foundTreeChild = true;
                if (insertTreeChildren) {
                    m_frontend.InsertTreeItem(item, std::string(child->DisplayName()), 1, child);
                }
                break;
        }
    }
    if (!foundTreeChild) {
        m_frontend.SetTreeChildCount(item, 0);
    }
    m_frontend.ShowControl(m_progress, false);
    m_frontend.ShowControl(m_status, false);
}

}  // namespace moravel

namespace moravel {

void MainDialog::OnCopyFile() {
    if (m_runningCopy != nullptr) {
        return;
    }
    // Whatever the Save dialog is given, a copy never overwrites a disk being read.
    SourceGuard target(m_copyTarget, m_driveAccess.SourcePaths());
    CopyCommand copy(m_frontend, m_driveAccess, target, {m_tree, m_fileList, m_progress, m_status});
    // Also when a handler throws inside one of the copy's pump steps: no later
    // close request may reach a copy that is gone.
    struct Running {
        CopyCommand*& slot;
        ~Running() { slot = nullptr; }
    } running{m_runningCopy};
    m_runningCopy = &copy;
    copy.Run();
    if (m_closeAfterCopy) {
        m_frontend.CloseMainDialog();
    }
}

bool MainDialog::OnClose() {
    if (m_runningCopy == nullptr) {
        return true;
    }
    m_runningCopy->RequestStop();
    m_closeAfterCopy = true;
    return false;
}

}  // namespace moravel
