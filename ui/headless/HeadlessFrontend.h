#pragma once

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/Frontend.h"

namespace moravel {

// A front end without a screen, for the tests. It records every call in order,
// keeps what a window would show (tree items, sorted list rows, control states,
// the progress bar) for the test to inspect, answers message boxes and the Save
// dialog from answers the test queued, and has a real message queue: posts wait
// until a pump step dispatches them, and actions the test posts run there too,
// nested inside whatever scan or copy is pumping.
class HeadlessFrontend : public Frontend {
public:
    struct Message {
        std::string text;
        std::string caption;
        MessageButtons buttons;
        MessageIcon icon;
        std::vector<std::string> verbs;  // a question's buttons (Ask)
    };
    struct TreeNode {
        TreeItemHandle parent = kTreeTop;
        std::string text;
        int childCount = 0;
        DriveItem* data = nullptr;
        bool expandedOnce = false;
        std::vector<TreeItemHandle> children;
        std::string tip;
    };
    struct ListRow {
        std::array<std::string, 4> texts;
        DriveItem* data = nullptr;
    };
    struct Column {
        std::string title;
        ColumnAlignment alignment;
        int width;
    };
    struct Control {
        bool visible = true;
        bool enabled = true;
        std::string text;
    };

    HeadlessFrontend();

    // The dialog whose handlers the events go to.
    void Attach(MainDialog* dialog) { m_dialog = dialog; }

    // CoreFrontend.
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                              MessageButtons buttons, MessageIcon icon) override;
    // Recorded as a message with its verbs; a queued choice answers it, else a
    // queued answer (OK: the first verb, Cancel: the last), else the first verb.
    std::size_t Ask(const std::string& text, const std::vector<std::string>& verbs,
                    MessageIcon icon) override;
    void PostScanProgress() override;
    void PumpMessages() override;

    // Frontend.
    void SetCaption(const std::string& text) override;
    bool AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(unsigned command, const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void ShowControl(int id, bool show) override;
    void EnableControl(int id, bool enable) override;
    void SetControlText(int id, const std::string& text) override;
    void SetProgressRange(int low, int high) override;
    void SetProgressPosition(int position) override;
    void ShowNote(const std::string& text) override { Record("ShowNote(" + text + ")"); }
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
    int SelectedListRow() override;
    std::vector<int> SelectedListRows() override { return m_selectedRows; }
    std::optional<std::string> AskFolder(const std::string& title) override;
    DriveItem* ListRowData(int row) override;
    void RunMainDialog(MainDialog& dialog) override;
    void CloseMainDialog() override;
    void RunAboutDialog(const res::DialogTemplate& about) override;
    std::optional<SaveChoice> AskSaveFileName(const std::string& initialName) override;
    std::vector<std::string> AskDiskImages() override;

    // What the user does; each runs the dialog's handlers as a desktop would. A
    // disabled control takes no clicks.
    void UserSelectTreeItem(TreeItemHandle item);
    // Clicks an item's expand button: the expanding notice, then the view opens
    // the item (and marks it expanded once) if it has children to show.
    void UserExpandTreeItem(TreeItemHandle item);
    // -1: no row.
    void UserSelectListRow(int row);
    // Ctrl-clicks: the rows with these names, and no others, are selected.
    void UserSelectListRows(const std::vector<std::string>& names);
    // Selects the list row with that name; false when there is none.
    bool UserSelectListRow(const std::string& name);
    void UserDoubleClickList();
    void UserClickCopyFile();
    // The close box: the window closes when the dialog lets it (now or later).
    void UserClose();
    bool Closed() const { return m_closed; }
    // False when the dialog left the command to the window's own handling.
    bool UserSystemCommand(unsigned command);
    // Runs the action at the next pump step, as a message waiting in the queue.
    void Post(std::function<void()> action);

    // Answers for dialogs still to come; without one a message box answers OK and
    // the Save dialog Cancel.
    void QueueAnswer(MessageAnswer answer) { m_answers.push_back(answer); }
    void QueueChoice(std::size_t verb) { m_choices.push_back(verb); }
    void QueueSaveAnswer(std::optional<SaveChoice> answer) { m_saveAnswers.push_back(answer); }
    // Without one the folder dialog answers Cancel.
    void QueueFolderAnswer(std::optional<std::string> folder) {
        m_folderAnswers.push_back(std::move(folder));
    }
    void QueueDiskImages(std::vector<std::string> paths) {
        m_imageAnswers.push_back(std::move(paths));
    }
    // Runs as an extra handler of every scan-progress notice, during the pump step.
    void OnScanProgress(std::function<void()> handler) { m_onScanProgress = std::move(handler); }
    // Test hook: runs at the start of every pump step, as a handler of an event
    // that came in meanwhile would.
    void OnPumpStep(std::function<void()> handler) { m_onPumpStep = std::move(handler); }

    // What the window shows and what was called.
    const std::vector<std::string>& Calls() const { return m_calls; }
    const std::vector<Message>& Messages() const { return m_messages; }
    std::vector<std::string> MessageTexts() const;
    const std::string& Caption() const { return m_caption; }
    const std::string& StatusText() const { return m_statusText; }
    bool IsVisible(int id) const;
    bool IsEnabled(int id) const;
    std::string ControlText(int id) const;
    int ProgressPosition() const { return m_progressPosition; }
    std::pair<int, int> ProgressRange() const { return m_progressRange; }
    const std::vector<std::pair<unsigned, std::string>>& SystemMenu() const { return m_systemMenu; }
    const std::vector<Column>& Columns() const { return m_columns; }
    const std::vector<ListRow>& Rows() const { return m_rows; }
    std::vector<std::string> RowNames() const;
    const TreeNode& Node(TreeItemHandle item) const { return m_tree.at(item); }
    std::vector<std::string> TreeTexts(TreeItemHandle parent) const;
    // The child of a tree item by its text, or by its name before the details
    // a disk's or volume's node shows after " — "; kTreeTop when there is none.
    TreeItemHandle FindTreeItem(TreeItemHandle parent, const std::string& text) const;
    TreeItemHandle Selection() const { return m_selection; }
    int AboutBoxes() const { return m_aboutBoxes; }
    int DiskImageDialogs() const { return m_imageDialogs; }
    std::vector<std::string> SaveDialogs() const { return m_saveDialogs; }
    int FolderDialogs() const { return m_folderDialogs; }
    int ScanProgressPosts() const { return m_posts; }
    int PumpSteps() const { return m_pumps; }

    // Test hook: the window has no system menu.
    void RemoveSystemMenu() { m_hasSystemMenu = false; }

private:
    void Record(std::string call) { m_calls.push_back(std::move(call)); }
    unsigned StateOf(TreeItemHandle item) const;

    MainDialog* m_dialog = nullptr;
    std::vector<std::string> m_calls;
    std::vector<Message> m_messages;
    std::deque<MessageAnswer> m_answers;
    std::deque<std::size_t> m_choices;
    std::deque<std::optional<SaveChoice>> m_saveAnswers;
    std::vector<std::string> m_saveDialogs;
    std::deque<std::optional<std::string>> m_folderAnswers;
    int m_folderDialogs = 0;
    std::deque<std::vector<std::string>> m_imageAnswers;
    int m_imageDialogs = 0;
    std::deque<std::function<void()>> m_queue;
    std::function<void()> m_onScanProgress;
    std::function<void()> m_onPumpStep;
    int m_posts = 0;
    int m_pumps = 0;

    std::string m_caption;
    bool m_hasSystemMenu = true;
    std::vector<std::pair<unsigned, std::string>> m_systemMenu;
    std::string m_statusText;
    std::map<int, Control> m_controls;
    std::pair<int, int> m_progressRange{0, 100};
    int m_progressPosition = 0;
    std::map<TreeItemHandle, TreeNode> m_tree;
    TreeItemHandle m_nextItem = 1;
    TreeItemHandle m_selection = kTreeTop;
    std::vector<Column> m_columns;
    std::vector<ListRow> m_rows;
    std::vector<int> m_selectedRows;  // in the list's order
    int m_aboutBoxes = 0;
    bool m_closed = false;
};

}  // namespace moravel
