#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MainWindow.h"
#include "disk/Udisks.h"
#include "ui/Frontend.h"

class QEventLoop;
class QSettings;
class QSocketNotifier;
class QTimer;
class QTreeWidgetItem;

namespace moravel::qt {

class FileRow;

// The desktop window as the main dialog's front end: every Frontend operation
// on real Qt widgets, and the window's events turned into the dialog's
// handlers. One thread, as the dialog wants it: long work pumps the event queue
// through PumpMessages, in which any handler may run, nested. A QApplication
// must exist before one is made.
class QtFrontend final : public QObject, public Frontend, private WindowEvents {
    Q_OBJECT
public:
    QtFrontend();
    ~QtFrontend() override;
    QtFrontend(const QtFrontend&) = delete;
    QtFrontend& operator=(const QtFrontend&) = delete;

    // CoreFrontend.
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                              MessageButtons buttons, MessageIcon icon) override;
    std::size_t Ask(const std::string& text, const std::vector<std::string>& verbs,
                    MessageIcon icon) override;
    void PostScanProgress() override;
    void PumpMessages() override;

    // CopyFrontend.
    int SelectedListRow() override;
    std::vector<int> SelectedListRows() override;
    std::optional<std::string> AskFolder(const std::string& title) override;
    DriveItem* ListRowData(int row) override;
    std::optional<SaveChoice> AskSaveFileName(const std::string& initialName) override;
    void SetStatusText(const std::string& text) override;
    void ShowControl(int id, bool show) override;
    void EnableControl(int id, bool enable) override;
    void SetControlText(int id, const std::string& text) override;
    void SetProgressPosition(int position) override;
    void ShowNote(const std::string& text) override;

    // Frontend.
    void SetCaption(const std::string& text) override;
    bool AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(unsigned command, const std::string& text) override;
    void SetProgressRange(int low, int high) override;
    TreeItemHandle InsertTreeItem(TreeItemHandle parent, const std::string& text, int childCount,
                                  DriveItem* data) override;
    void SetTreeChildCount(TreeItemHandle item, int childCount) override;
    void SetTreeItemText(TreeItemHandle item, const std::string& text) override;
    void SelectTreeItem(TreeItemHandle item) override;
    void DeleteAllTreeItems() override;
    void SetTreeItemTip(TreeItemHandle item, const std::string& text) override;
    void InsertListColumn(const std::string& title, ColumnAlignment alignment, int width) override;
    void DeleteAllListRows() override;
    int InsertListRow(const std::string& text, DriveItem* data) override;
    void SetListItemText(int row, int column, const std::string& text) override;
    void RunMainDialog(MainDialog& dialog) override;
    void CloseMainDialog() override;
    void RunAboutDialog(const res::DialogTemplate& about) override;
    std::vector<std::string> AskDiskImages() override;

    // RunMainDialog in two halves, for tests and benchmarks that drive the window
    // themselves: OpenMainDialog initialises the dialog and shows the window;
    // IsClosed says whether it was closed since.
    void OpenMainDialog(MainDialog& dialog);
    bool IsClosed() const { return m_closed; }

    // What the user does; each runs the dialog's handlers as the window's events do.
    // The close box (or Ctrl+Q, Ctrl+W): closes when the dialog lets it.
    void UserClose() override;
    // A context-menu command (or its shortcut).
    void UserCommand(unsigned command);
    void UserDropFiles(const std::vector<std::string>& paths);
    void UserDropUrls(const QList<QUrl>& files) override;
    // Refresh asked for again, after the dialog put it off.
    void UserRefresh();
    // The expand button of an item: the expanding notice, then the item opens, or
    // loses its button when it has no children to show.
    void UserExpand(TreeItemHandle item);

    // The window and its items.
    MainWindow& Window() const { return *m_window; }
    // The list's row that the dialog numbers row, wherever the view shows it.
    QTreeWidgetItem* ListItem(int row) const;
    QTreeWidgetItem* TreeItem(TreeItemHandle item) const;
    TreeItemHandle HandleOf(const QTreeWidgetItem* item) const;
    bool WasExpandedOnce(TreeItemHandle item) const;

    // The pump's time slice: PumpMessages dispatches events only when this much
    // time has passed since it last did (10 ms unless set; 0: every call).
    void SetPumpSlice(std::int64_t nanoseconds) { m_pumpSlice = nanoseconds; }
    // PumpMessages calls, those that dispatched events, and scan-progress notices
    // handled, since the front end was made.
    std::uint64_t PumpSteps() const { return m_pumpSteps; }
    std::uint64_t EventPumps() const { return m_eventPumps; }
    std::uint64_t ScanProgressNotices() const { return m_progressNotices; }

private:
    // Preview...: a window of its own for the selected recording.
    void OpenPreview();
    struct TreeNode {
        QTreeWidgetItem* item = nullptr;
        DriveItem* data = nullptr;
        bool expandedOnce = false;
    };
    // A row as the dialog numbers it (the dialog's order, by its first
    // column), whatever order the view shows the rows in.
    struct ListRow {
        std::string text;  // the first column as the dialog gave it, for the order
        DriveItem* data = nullptr;
        FileRow* item = nullptr;
    };

    void ScanProgressDue() override;
    void CommandsAboutToShow() override { UpdateCommands(); }
    // Each command enabled as the dialog says it can act now.
    void UpdateCommands();
    void AddCommands();
    void CopyFileClicked();
    // The window's size and place, the splitter and the list's order and column
    // widths, as the window closes.
    void RememberWindow();
    void RestoreWindow(const QSettings& settings);
    void RememberColumnWidths(QSettings& settings);
    void SetSortKey(int row, int column);
    void FitColumn(const QTreeWidgetItem& item, int column);
    // Follows udisks2's disks coming and going, where there is a system bus.
    void FollowDisks();
    void DisksChanged();
    // A refresh the dialog put off is asked for again a little later.
    void RetryRefreshLater();
    void CurrentItemChanged(QTreeWidgetItem* current);
    void ExpandRequested(QTreeWidgetItem* item);
    void ItemExpanded(QTreeWidgetItem* item);
    void ExpandingNotice(TreeItemHandle handle);
    void FinishExpanding(TreeItemHandle handle);
    TreeNode& Node(TreeItemHandle item);
    const TreeNode& Node(TreeItemHandle item) const;
    QWidget* DialogParent() const;
    // Runs the window's own code for an event: a failure is said in a message box
    // rather than thrown into Qt's event dispatch.
    template <class Action>
    void Guarded(Action&& action);
    // A failure of the window's own code, in a message box; nothing escapes.
    void ShowOwnFailure(const char* text, const char* detail = "") noexcept;

    std::unique_ptr<MainWindow> m_window;
    MainDialog* m_dialog = nullptr;
    QEventLoop* m_loop = nullptr;
    bool m_closed = false;

    std::vector<TreeNode> m_tree;  // handle h is m_tree[h - 1]
    bool m_expandingQuietly = false;
    std::vector<ColumnAlignment> m_columns;
    std::vector<ListRow> m_rows;
    std::pair<int, int> m_progressRange{0, 100};
    // The folders last chosen and the list's column widths come from the user's
    // settings as the front end starts; the folders go back there when chosen,
    // the widths when the window closes.
    QString m_lastSaveFolder;
    QString m_lastImageFolder;
    std::vector<int> m_savedColumnWidths;  // 0: none remembered
    int m_savedSortColumn = 0;
    Qt::SortOrder m_savedSortOrder = Qt::AscendingOrder;
    // Columns whose width the user chose (now or last time): their contents no
    // longer widen them.
    std::vector<bool> m_columnsChosen;
    bool m_fittingColumns = false;
    QWidget* m_focusToRestore = nullptr;

    QElapsedTimer m_pumpClock;
    std::int64_t m_pumpSlice = 10'000'000;
    std::uint64_t m_pumpSteps = 0;
    std::uint64_t m_eventPumps = 0;
    bool m_progressPending = false;
    std::uint64_t m_progressNotices = 0;

    std::unique_ptr<udisks::Watch> m_diskWatch;
    QSocketNotifier* m_diskNotifier = nullptr;
    QTimer* m_refreshRetry = nullptr;
};

}  // namespace moravel::qt
