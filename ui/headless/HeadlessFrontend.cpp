#include "HeadlessFrontend.h"

#include <algorithm>
#include <cctype>

#include "ui/MainDialog.h"

namespace moravel {

HeadlessFrontend::HeadlessFrontend() {
    m_tree[kTreeTop] = TreeNode{};
    // As the window's resources lay them out: the bar and the status line start hidden.
    m_controls[res::kProgressBar].visible = false;
    m_controls[res::kStatusLine].visible = false;
}

MessageAnswer HeadlessFrontend::ShowMessage(const std::string& text, const std::string& caption,
                                            MessageButtons buttons, MessageIcon icon) {
    Record("ShowMessage(" + text + ")");
    m_messages.push_back({text, caption, buttons, icon, {}});
    if (m_answers.empty()) {
        return MessageAnswer::Ok;
    }
    const MessageAnswer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

std::size_t HeadlessFrontend::Ask(const std::string& text, const std::vector<std::string>& verbs,
                                  MessageIcon icon) {
    Record("Ask(" + text + ")");
    m_messages.push_back({text, ApplicationTitle(), MessageButtons::OkCancel, icon, verbs});
    const std::size_t last = verbs.empty() ? 0 : verbs.size() - 1;
    if (!m_choices.empty()) {
        const std::size_t choice = m_choices.front();
        m_choices.pop_front();
        return std::min(choice, last);
    }
    if (!m_answers.empty()) {
        const MessageAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer == MessageAnswer::Ok ? 0 : last;
    }
    return 0;
}

void HeadlessFrontend::PostScanProgress() {
    ++m_posts;
    Record("PostScanProgress");
    m_queue.push_back([this] {
        if (m_dialog != nullptr) {
            m_dialog->OnScanProgress();
        }
        if (m_onScanProgress) {
            m_onScanProgress();
        }
    });
}

void HeadlessFrontend::PumpMessages() {
    ++m_pumps;
    if (m_onPumpStep) {
        m_onPumpStep();
    }
    while (!m_queue.empty()) {
        auto message = std::move(m_queue.front());
        m_queue.pop_front();
        message();
    }
}

void HeadlessFrontend::Post(std::function<void()> action) {
    m_queue.push_back(std::move(action));
}

void HeadlessFrontend::SetCaption(const std::string& text) {
    Record("SetCaption(" + text + ")");
    m_caption = text;
}

bool HeadlessFrontend::AppendSystemMenuSeparator() {
    Record("AppendSystemMenuSeparator");
    if (m_hasSystemMenu) {
        m_systemMenu.emplace_back(0, "");
    }
    return m_hasSystemMenu;
}

void HeadlessFrontend::AppendSystemMenuItem(unsigned command, const std::string& text) {
    Record("AppendSystemMenuItem(" + std::to_string(command) + ", " + text + ")");
    m_systemMenu.emplace_back(command, text);
}

void HeadlessFrontend::SetStatusText(const std::string& text) {
    Record("SetStatusText(" + text + ")");
    m_statusText = text;
}

void HeadlessFrontend::ShowControl(int id, bool show) {
    Record(std::string(show ? "Show(" : "Hide(") + std::to_string(id) + ")");
    m_controls[id].visible = show;
}

void HeadlessFrontend::EnableControl(int id, bool enable) {
    Record(std::string(enable ? "Enable(" : "Disable(") + std::to_string(id) + ")");
    m_controls[id].enabled = enable;
}

bool HeadlessFrontend::IsVisible(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() || found->second.visible;
}

bool HeadlessFrontend::IsEnabled(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() || found->second.enabled;
}

void HeadlessFrontend::SetControlText(int id, const std::string& text) {
    Record("SetControlText(" + std::to_string(id) + ", " + text + ")");
    m_controls[id].text = text;
}

std::string HeadlessFrontend::ControlText(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? std::string{} : found->second.text;
}

void HeadlessFrontend::SetProgressRange(int low, int high) {
    Record("SetProgressRange(" + std::to_string(low) + ", " + std::to_string(high) + ")");
    m_progressRange = {low, high};
}

void HeadlessFrontend::SetProgressPosition(int position) {
    Record("SetProgressPosition(" + std::to_string(position) + ")");
    // A position outside the range shows as the nearer end.
    m_progressPosition = std::clamp(position, m_progressRange.first, m_progressRange.second);
}

TreeItemHandle HeadlessFrontend::InsertTreeItem(TreeItemHandle parent, const std::string& text,
                                                int childCount, DriveItem* data) {
    Record("InsertTreeItem(" + std::to_string(parent) + ", " + text + ")");
    const TreeItemHandle item = m_nextItem++;
    m_tree[item] = TreeNode{parent, text, childCount, data, false, {}, {}};
    m_tree.at(parent).children.push_back(item);
    return item;
}

void HeadlessFrontend::SetTreeChildCount(TreeItemHandle item, int childCount) {
    Record("SetTreeChildCount(" + std::to_string(item) + ", " + std::to_string(childCount) + ")");
    m_tree.at(item).childCount = childCount;
}

void HeadlessFrontend::SetTreeItemText(TreeItemHandle item, const std::string& text) {
    Record("SetTreeItemText(" + std::to_string(item) + ", " + text + ")");
    m_tree.at(item).text = text;
}

unsigned HeadlessFrontend::StateOf(TreeItemHandle item) const {
    return m_tree.at(item).expandedOnce ? kTreeExpandedOnce : 0;
}

void HeadlessFrontend::DeleteAllTreeItems() {
    Record("DeleteAllTreeItems()");
    m_tree.clear();
    m_tree[kTreeTop] = TreeNode{};
    SelectTreeItem(kTreeTop);
}

void HeadlessFrontend::SetTreeItemTip(TreeItemHandle item, const std::string& text) {
    m_tree.at(item).tip = text;
}

void HeadlessFrontend::SelectTreeItem(TreeItemHandle item) {
    Record("SelectTreeItem(" + std::to_string(item) + ")");
    if (item == m_selection) {
        return;
    }
    m_selection = item;
    if (m_dialog != nullptr) {
        m_dialog->OnTreeSelectionChanged({item, StateOf(item), m_tree.at(item).data});
    }
}

void HeadlessFrontend::UserSelectTreeItem(TreeItemHandle item) {
    if (IsEnabled(res::kFolderTree)) {
        SelectTreeItem(item);
    }
}

void HeadlessFrontend::UserExpandTreeItem(TreeItemHandle item) {
    if (!IsEnabled(res::kFolderTree)) {
        return;
    }
    if (m_dialog != nullptr) {
        m_dialog->OnTreeItemExpanding({item, StateOf(item), m_tree.at(item).data});
    }
    TreeNode& node = m_tree.at(item);
    if (!node.children.empty()) {
        node.expandedOnce = true;
    }
}

void HeadlessFrontend::InsertListColumn(const std::string& title, ColumnAlignment alignment,
                                        int width) {
    Record("InsertListColumn(" + title + ")");
    m_columns.push_back({title, alignment, width});
}

void HeadlessFrontend::DeleteAllListRows() {
    Record("DeleteAllListRows");
    m_rows.clear();
    m_selectedRows.clear();
}

int HeadlessFrontend::InsertListRow(const std::string& text, DriveItem* data) {
    Record("InsertListRow(" + text + ")");
    const auto at = std::upper_bound(m_rows.begin(), m_rows.end(), text,
                                     [](const std::string& value, const ListRow& row) {
                                         return ListSortsBefore(value, row.texts[0]);
                                     });
    const auto index = static_cast<int>(at - m_rows.begin());
    m_rows.insert(at, ListRow{{text, "", "", ""}, data});
    for (int& selected : m_selectedRows) {
        selected += selected >= index ? 1 : 0;
    }
    return index;
}

void HeadlessFrontend::SetListItemText(int row, int column, const std::string& text) {
    Record("SetListItemText(" + std::to_string(row) + ", " + std::to_string(column) + ", " + text +
           ")");
    m_rows.at(static_cast<std::size_t>(row)).texts.at(static_cast<std::size_t>(column)) = text;
}

int HeadlessFrontend::SelectedListRow() {
    return m_selectedRows.empty() ? -1 : m_selectedRows.front();
}

DriveItem* HeadlessFrontend::ListRowData(int row) {
    return m_rows.at(static_cast<std::size_t>(row)).data;
}

void HeadlessFrontend::UserSelectListRow(int row) {
    if (IsEnabled(res::kFileList)) {
        m_selectedRows = row < 0 ? std::vector<int>{} : std::vector<int>{row};
    }
}

void HeadlessFrontend::UserSelectListRows(const std::vector<std::string>& names) {
    if (!IsEnabled(res::kFileList)) {
        return;
    }
    m_selectedRows.clear();
    const auto rows = RowNames();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (std::find(names.begin(), names.end(), rows[i]) != names.end()) {
            m_selectedRows.push_back(static_cast<int>(i));
        }
    }
}

bool HeadlessFrontend::UserSelectListRow(const std::string& name) {
    const auto names = RowNames();
    const auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end()) {
        return false;
    }
    UserSelectListRow(static_cast<int>(found - names.begin()));
    return true;
}

void HeadlessFrontend::UserDoubleClickList() {
    if (m_dialog != nullptr && IsEnabled(res::kFileList)) {
        m_dialog->OnFileListDoubleClick();
    }
}

void HeadlessFrontend::UserClickCopyFile() {
    if (m_dialog != nullptr && IsEnabled(res::kCopyFileButton)) {
        m_dialog->OnCopyFile();
    }
}

void HeadlessFrontend::UserClose() {
    if (m_dialog == nullptr || m_dialog->OnClose()) {
        CloseMainDialog();
    }
}

void HeadlessFrontend::CloseMainDialog() {
    Record("CloseMainDialog");
    m_closed = true;
}

bool HeadlessFrontend::UserSystemCommand(unsigned command) {
    return m_dialog != nullptr && m_dialog->OnSystemCommand(command);
}

void HeadlessFrontend::RunMainDialog(MainDialog& dialog) {
    Record("RunMainDialog");
    Attach(&dialog);
    dialog.InitializeDialog();
    PumpMessages();
    Attach(nullptr);
}

void HeadlessFrontend::RunAboutDialog(const res::DialogTemplate& about) {
    Record("RunAboutDialog(" + std::string(about.caption) + ")");
    ++m_aboutBoxes;
}

std::optional<SaveChoice> HeadlessFrontend::AskSaveFileName(const std::string& initialName) {
    Record("AskSaveFileName(" + initialName + ")");
    m_saveDialogs.push_back(initialName);
    if (m_saveAnswers.empty()) {
        return std::nullopt;
    }
    auto answer = m_saveAnswers.front();
    m_saveAnswers.pop_front();
    return answer;
}

std::optional<std::string> HeadlessFrontend::AskFolder(const std::string& title) {
    Record("AskFolder(" + title + ")");
    ++m_folderDialogs;
    if (m_folderAnswers.empty()) {
        return std::nullopt;
    }
    auto answer = m_folderAnswers.front();
    m_folderAnswers.pop_front();
    return answer;
}

std::vector<std::string> HeadlessFrontend::AskDiskImages() {
    Record("AskDiskImages");
    ++m_imageDialogs;
    if (m_imageAnswers.empty()) {
        return {};
    }
    auto answer = m_imageAnswers.front();
    m_imageAnswers.pop_front();
    return answer;
}

std::vector<std::string> HeadlessFrontend::MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& message : m_messages) {
        texts.push_back(message.text);
    }
    return texts;
}

std::vector<std::string> HeadlessFrontend::RowNames() const {
    std::vector<std::string> names;
    for (const auto& row : m_rows) {
        names.push_back(row.texts[0]);
    }
    return names;
}

std::vector<std::string> HeadlessFrontend::TreeTexts(TreeItemHandle parent) const {
    std::vector<std::string> texts;
    for (const TreeItemHandle child : m_tree.at(parent).children) {
        texts.push_back(m_tree.at(child).text);
    }
    return texts;
}

TreeItemHandle HeadlessFrontend::FindTreeItem(TreeItemHandle parent,
                                              const std::string& text) const {
    // A disk's node shows its model and size after its name, a volume's its
    // label once known: "Hard Disk 1 — disk.img, 64.0 MB".
    const std::string named = text + " \xE2\x80\x94 ";
    for (const TreeItemHandle child : m_tree.at(parent).children) {
        if (m_tree.at(child).text == text || m_tree.at(child).text.starts_with(named)) {
            return child;
        }
    }
    return kTreeTop;
}

}  // namespace moravel
