#include "QtFrontend.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeySequence>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSettings>
#include <QSocketNotifier>
#include <QSplitter>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <map>
#include <new>
#include <stdexcept>

#include "AboutBox.h"
#include "Controls.h"
#include "DialogUnits.h"
#include "PreviewWindow.h"
#include "QtText.h"
#include "disk/DriveItem.h"
#include "tree/FatDate.h"
#include "ui/MainDialog.h"

namespace moravel::qt {

namespace {

Qt::Alignment AlignmentOf(ColumnAlignment alignment) {
    return (alignment == ColumnAlignment::Right ? Qt::AlignRight : Qt::AlignLeft) |
           Qt::AlignVCenter;
}

QMessageBox::Icon IconOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Hand:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// What the window remembers from one run to the next: the folders last chosen,
// the window's size and place, the splitter, the file list's order and column
// widths, in the user's settings
// (~/.config/Moravel/moravel.conf on Linux).
QSettings RememberedSettings() {
    return QSettings(QStringLiteral("Moravel"), QStringLiteral("moravel"));
}

const QString kSaveFolderKey = QStringLiteral("folders/lastSave");
const QString kImageFolderKey = QStringLiteral("folders/lastImage");
const QString kColumnWidthsKey = QStringLiteral("fileList/columnWidths");
const QString kSortColumnKey = QStringLiteral("fileList/sortColumn");
const QString kSortOrderKey = QStringLiteral("fileList/sortOrder");
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kSplitterKey = QStringLiteral("window/splitter");

// A remembered folder, when it is still there.
QString RememberedFolder(const QSettings& settings, const QString& key) {
    const QString folder = settings.value(key).toString();
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

// Shortcuts of the context menu's commands, as desktops have them.
QKeySequence ShortcutOf(unsigned command) {
    switch (command & ~0xFu) {
        case res::kOpenImageCommand:
            return QKeySequence::Open;
        case res::kAboutCommand:
            return QKeySequence::HelpContents;
        case res::kRefreshCommand:
            return QKeySequence::Refresh;
        default:
            return {};
    }
}

// The entry's moment as one number that orders moments; unknown for a date the
// entry does not hold.
qint64 MomentOf(const DriveItem& file) {
    if (!DecodeFatDateTime(file.m_writeDate, file.m_writeTime)) {
        return FileRow::kUnknown;
    }
    return (qint64{file.m_writeDate} << 16) | file.m_writeTime;
}

// The menu: what acts on the selection first, then the disks, then About.
std::vector<std::vector<unsigned>> CommandGroups() {
    return {{res::kCopyFileCommand, res::kPreviewCommand, res::kRescueCopyCommand,
             res::kCopyFolderCommand},
            {res::kOpenImageCommand, res::kRefreshCommand},
            {res::kAboutCommand}};
}

}  // namespace

QtFrontend::QtFrontend()
    : m_window(std::make_unique<MainWindow>(res::MainDialogTemplate(),
                                            static_cast<WindowEvents&>(*this))) {
    FolderTree& tree = m_window->Tree();
    connect(
        &tree, &QTreeWidget::currentItemChanged, this,
        [this](QTreeWidgetItem* current) { CurrentItemChanged(current); }, Qt::DirectConnection);
    connect(
        &tree, &FolderTree::expandRequested, this,
        [this](QTreeWidgetItem* item) { ExpandRequested(item); }, Qt::DirectConnection);
    connect(
        &tree, &QTreeWidget::itemExpanded, this,
        [this](QTreeWidgetItem* item) { ItemExpanded(item); }, Qt::DirectConnection);
    connect(&m_window->List(), &FileList::doubleClickedAnywhere, this, [this] {
        Guarded([this] {
            if (m_dialog != nullptr) {
                m_dialog->OnFileListDoubleClick();
            }
        });
        UpdateCommands();  // a copy, if one ran, has ended
    });
    connect(&m_window->List(), &QTreeWidget::itemSelectionChanged, this,
            [this] { UpdateCommands(); });
    connect(m_window->List().header(), &QHeaderView::sectionResized, this, [this](int column) {
        const auto index = static_cast<std::size_t>(column);
        if (!m_fittingColumns && column > 0 && index < m_columnsChosen.size()) {
            m_columnsChosen[index] = true;
        }
    });
    connect(&m_window->List(), &FileList::previewRequested, this,
            [this] { UserCommand(res::kPreviewCommand); });
    connect(&m_window->CopyButton(), &QPushButton::clicked, this, [this] { CopyFileClicked(); });
    AddCommands();
    m_pumpClock.start();

    const QSettings settings = RememberedSettings();
    m_lastSaveFolder = RememberedFolder(settings, kSaveFolderKey);
    m_lastImageFolder = RememberedFolder(settings, kImageFolderKey);
    for (const QVariant& width : settings.value(kColumnWidthsKey).toList()) {
        bool number = false;
        const int pixels = width.toInt(&number);
        m_savedColumnWidths.push_back(number && pixels > 0 ? pixels : 0);
    }
    RestoreWindow(settings);
}

// The window has no system menu of the program's own on Linux: its commands
// are offered in a context menu instead, each with an access key of its own.
void QtFrontend::AddCommands() {
    std::map<unsigned, std::string> texts{{res::kCopyFileCommand, "&Copy File..."},
                                          {res::kPreviewCommand, "&Preview..."}};
    for (const auto& [command, text] : MainDialog::WindowCommands()) {
        texts.emplace(command, text);
    }
    for (const std::vector<unsigned>& group : CommandGroups()) {
        if (!m_window->Commands().isEmpty()) {
            m_window->AddCommandSeparator();
        }
        for (const unsigned command : group) {
            if (const auto text = texts.find(command); text != texts.end()) {
                AppendSystemMenuItem(command, text->second);
                texts.erase(text);
            }
        }
    }
    for (const auto& [command, text] : texts) {
        AppendSystemMenuItem(command, text);
    }
}

void QtFrontend::CopyFileClicked() {
    Guarded([this] {
        if (m_dialog != nullptr) {
            m_dialog->OnCopyFile();
        }
    });
    UpdateCommands();  // the copy, if one ran, has ended
}

// A window maximised when it closed opens maximised, at the size it had before.
void QtFrontend::RestoreWindow(const QSettings& settings) {
    m_window->restoreGeometry(settings.value(kGeometryKey).toByteArray());
    m_window->Splitter().restoreState(settings.value(kSplitterKey).toByteArray());
    bool number = false;
    const int column = settings.value(kSortColumnKey).toInt(&number);
    m_savedSortColumn = number && column >= 0 ? column : 0;
    m_savedSortOrder = settings.value(kSortOrderKey).toInt() == Qt::DescendingOrder
                           ? Qt::DescendingOrder
                           : Qt::AscendingOrder;
}

void QtFrontend::RememberWindow() {
    QSettings settings = RememberedSettings();
    settings.setValue(kGeometryKey, m_window->saveGeometry());
    settings.setValue(kSplitterKey, m_window->Splitter().saveState());
    const FileList& list = m_window->List();
    settings.setValue(kSortColumnKey, list.sortColumn());
    settings.setValue(kSortOrderKey, static_cast<int>(list.header()->sortIndicatorOrder()));
    RememberColumnWidths(settings);
}

// Only the widths the user chose: 0 for a column that follows its contents.
void QtFrontend::RememberColumnWidths(QSettings& settings) {
    const QHeaderView& header = *m_window->List().header();
    QVariantList widths;
    for (int column = 0; column < header.count(); ++column) {
        const auto index = static_cast<std::size_t>(column);
        const bool chosen = index < m_columnsChosen.size() && m_columnsChosen[index];
        widths.push_back(chosen ? header.sectionSize(column) : 0);
    }
    if (!widths.isEmpty()) {
        settings.setValue(kColumnWidthsKey, widths);
    }
}

QtFrontend::~QtFrontend() {
    // The dialog may be gone already: what the widgets still say as they go
    // reaches no handler.
    m_dialog = nullptr;
}

template <class Action>
void QtFrontend::Guarded(Action&& action) {
    try {
        action();
    } catch (const std::bad_alloc&) {
        ShowOwnFailure("There is not enough memory for this.");
    } catch (const std::exception& failure) {
        ShowOwnFailure("This could not be done: ", failure.what());
    } catch (...) {
        ShowOwnFailure("This could not be done: an unknown failure.");
    }
}

void QtFrontend::ShowOwnFailure(const char* text, const char* detail) noexcept {
    try {
        QMessageBox box(QMessageBox::Critical, QString::fromStdString(ApplicationTitle()),
                        QString::fromLatin1(text) + FromCore(detail), QMessageBox::Ok,
                        DialogParent());
        box.setTextFormat(Qt::PlainText);
        box.exec();
    } catch (...) {
        // Not even the message box could be shown: the window goes on regardless.
    }
}

QWidget* QtFrontend::DialogParent() const {
    return m_window->isVisible() ? m_window.get() : nullptr;
}

// --- CoreFrontend

MessageAnswer QtFrontend::ShowMessage(const std::string& text, const std::string& caption,
                                      MessageButtons buttons, MessageIcon icon) {
    // A box without a caption of its own carries the window's.
    QMessageBox box(IconOf(icon), FromCore(caption.empty() ? ApplicationTitle() : caption),
                    FromCore(text),
                    buttons == MessageButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                        : QMessageBox::Ok,
                    DialogParent());
    box.setObjectName(QStringLiteral("messageBox"));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

std::size_t QtFrontend::Ask(const std::string& text, const std::vector<std::string>& verbs,
                            MessageIcon icon) {
    QMessageBox box(IconOf(icon), FromCore(ApplicationTitle()), FromCore(text),
                    QMessageBox::NoButton, DialogParent());
    box.setObjectName(QStringLiteral("messageBox"));
    box.setTextFormat(Qt::PlainText);
    std::vector<QPushButton*> buttons;
    for (std::size_t i = 0; i < verbs.size(); ++i) {
        const QMessageBox::ButtonRole role = i == 0                  ? QMessageBox::AcceptRole
                                             : i + 1 == verbs.size() ? QMessageBox::RejectRole
                                                                     : QMessageBox::ActionRole;
        buttons.push_back(box.addButton(FromCore(verbs[i]), role));
    }
    if (buttons.empty()) {
        return 0;
    }
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons.back());
    box.exec();
    const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return chosen == buttons.end() ? buttons.size() - 1
                                   : static_cast<std::size_t>(chosen - buttons.begin());
}

void QtFrontend::PostScanProgress() {
    // At most one notice waits: its handler reads the newest percentage anyway.
    if (m_progressPending) {
        return;
    }
    m_progressPending = true;
    QCoreApplication::postEvent(m_window.get(), new QEvent(MainWindow::ScanProgressEventType()));
}

// Copy File is there to be pressed only with rows selected (the keyboard never
// meets the box that asks for a selection), and always while it says Stop.
void QtFrontend::UpdateCommands() {
    Guarded([this] {
        for (QAction* action : m_window->Commands()) {
            action->setEnabled(m_dialog == nullptr ||
                               m_dialog->CommandEnabled(action->data().toUInt()));
        }
        m_window->CopyButton().setEnabled(m_dialog == nullptr || m_dialog->CopyRunning() ||
                                          m_dialog->CommandEnabled(res::kCopyFileCommand));
    });
}

void QtFrontend::ScanProgressDue() {
    m_progressPending = false;
    ++m_progressNotices;
    Guarded([this] {
        if (m_dialog != nullptr) {
            m_dialog->OnScanProgress();
        }
    });
}

// Long work calls this after every unit (a folder entry, a cluster): most calls
// only read the clock. Events are dispatched once the slice has passed, so the
// window repaints and takes input many times a second while the work costs
// next to nothing more.
void QtFrontend::PumpMessages() {
    ++m_pumpSteps;
    if (m_pumpClock.nsecsElapsed() < m_pumpSlice) {
        return;
    }
    ++m_eventPumps;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_pumpClock.restart();
}

// --- CopyFrontend

int QtFrontend::SelectedListRow() {
    const std::vector<int> rows = SelectedListRows();
    return rows.empty() ? -1 : rows.front();
}

// The dialog's numbers of the selected rows, whatever order the view shows.
std::vector<int> QtFrontend::SelectedListRows() {
    const QList<QTreeWidgetItem*> selected = m_window->List().selectedItems();
    std::vector<int> rows;
    if (selected.isEmpty()) {
        return rows;
    }
    std::map<const QTreeWidgetItem*, int> rowOf;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        rowOf.emplace(m_rows[row].item, static_cast<int>(row));
    }
    for (const QTreeWidgetItem* item : selected) {
        if (const auto found = rowOf.find(item); found != rowOf.end()) {
            rows.push_back(found->second);
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QTreeWidgetItem* QtFrontend::ListItem(int row) const {
    return m_rows.at(static_cast<std::size_t>(row)).item;
}

DriveItem* QtFrontend::ListRowData(int row) {
    return m_rows.at(static_cast<std::size_t>(row)).data;
}

std::optional<SaveChoice> QtFrontend::AskSaveFileName(const std::string& initialName) {
    QFileDialog dialog(DialogParent(), QStringLiteral("Save As"));
    dialog.setObjectName(QStringLiteral("saveDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (!m_lastSaveFolder.isEmpty()) {
        dialog.setDirectory(m_lastSaveFolder);
    }
    dialog.selectFile(FromCore(initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString path = dialog.selectedFiles().front();
    const QFileInfo info(path);
    m_lastSaveFolder = info.absolutePath();
    RememberedSettings().setValue(kSaveFolderKey, m_lastSaveFolder);
    return SaveChoice{ToLocalPath(path), ToLocalPath(info.fileName())};
}

std::optional<std::string> QtFrontend::AskFolder(const std::string& title) {
    QFileDialog dialog(DialogParent(), FromCore(title));
    dialog.setObjectName(QStringLiteral("folderDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (!m_lastSaveFolder.isEmpty()) {
        dialog.setDirectory(m_lastSaveFolder);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    m_lastSaveFolder = QFileInfo(dialog.selectedFiles().front()).absoluteFilePath();
    RememberedSettings().setValue(kSaveFolderKey, m_lastSaveFolder);
    return ToLocalPath(m_lastSaveFolder);
}

void QtFrontend::SetStatusText(const std::string& text) {
    m_window->Status().SetFullText(FromCore(text));
}

void QtFrontend::ShowControl(int id, bool show) {
    if (QWidget* control = m_window->Control(id); control != nullptr) {
        control->setVisible(show);
    }
}

// A control disabled while it has the focus (the list, while a copy runs) gets
// it back when it is enabled again.
void QtFrontend::EnableControl(int id, bool enable) {
    if (QWidget* control = m_window->Control(id); control != nullptr) {
        if (!enable && m_window->focusWidget() == control) {
            m_focusToRestore = control;
        }
        control->setEnabled(enable);
        if (enable && m_focusToRestore == control) {
            m_focusToRestore = nullptr;
            control->setFocus();
        }
    }
    UpdateCommands();  // a copy began or ended
}

void QtFrontend::SetControlText(int id, const std::string& text) {
    if (auto* button = qobject_cast<QAbstractButton*>(m_window->Control(id)); button != nullptr) {
        button->setText(FromCore(text));
    }
}

void QtFrontend::SetProgressPosition(int position) {
    // A position outside the range shows as the nearer end.
    const int shown = std::clamp(position, m_progressRange.first, m_progressRange.second);
    QProgressBar& bar = m_window->Progress();
    if (bar.value() == shown) {
        return;
    }
    bar.setValue(shown);
    // Qt repaints a bar at once only when its chunk would visibly grow (every 3 % or
    // so); every step shows, at the next dispatch of the queue.
    bar.update();
}

void QtFrontend::ShowNote(const std::string& text) {
    SetStatusText(text);
    ShowControl(res::kStatusLine, true);
}

// --- Frontend

void QtFrontend::SetCaption(const std::string& text) {
    m_window->setWindowTitle(FromCore(text));
}

bool QtFrontend::AppendSystemMenuSeparator() {
    return false;  // no system menu of the program's own on X11 or Wayland
}

void QtFrontend::AppendSystemMenuItem(unsigned command, const std::string& text) {
    for (const QAction* action : m_window->Commands()) {
        if (action->data().toUInt() == command) {
            return;
        }
    }
    auto* action = new QAction(QString::fromStdString(text), m_window.get());
    action->setData(command);
    action->setShortcut(ShortcutOf(command));
    connect(action, &QAction::triggered, this, [this, command] { UserCommand(command); });
    m_window->AddCommand(action);
}

void QtFrontend::SetProgressRange(int low, int high) {
    m_progressRange = {low, std::max(low, high)};
    m_window->Progress().setRange(m_progressRange.first, m_progressRange.second);
}

QtFrontend::TreeNode& QtFrontend::Node(TreeItemHandle item) {
    if (item == kTreeTop || item > m_tree.size()) {
        throw std::out_of_range("no tree item " + std::to_string(item));
    }
    return m_tree[item - 1];
}

const QtFrontend::TreeNode& QtFrontend::Node(TreeItemHandle item) const {
    if (item == kTreeTop || item > m_tree.size()) {
        throw std::out_of_range("no tree item " + std::to_string(item));
    }
    return m_tree[item - 1];
}

QTreeWidgetItem* QtFrontend::TreeItem(TreeItemHandle item) const {
    return item == kTreeTop ? nullptr : Node(item).item;
}

TreeItemHandle QtFrontend::HandleOf(const QTreeWidgetItem* item) const {
    return item == nullptr ? kTreeTop
                           : static_cast<TreeItemHandle>(item->data(0, Qt::UserRole).toULongLong());
}

bool QtFrontend::WasExpandedOnce(TreeItemHandle item) const {
    return Node(item).expandedOnce;
}

TreeItemHandle QtFrontend::InsertTreeItem(TreeItemHandle parent, const std::string& text,
                                          int childCount, DriveItem* data) {
    QTreeWidgetItem* parentItem = parent == kTreeTop ? nullptr : Node(parent).item;
    const TreeItemHandle handle = m_tree.size() + 1;
    auto* item = new QTreeWidgetItem(QStringList{FromCore(text)});
    item->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(handle));
    // A button before the children are known; without children and without the
    // promise of any, none (and one as soon as a child comes after all).
    item->setChildIndicatorPolicy(childCount > 0 ? QTreeWidgetItem::ShowIndicator
                                                 : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    m_tree.push_back({item, data, false});
    if (parentItem == nullptr) {
        m_window->Tree().addTopLevelItem(item);
    } else {
        parentItem->addChild(item);
    }
    return handle;
}

void QtFrontend::SetTreeChildCount(TreeItemHandle item, int childCount) {
    QTreeWidgetItem* treeItem = Node(item).item;
    if (childCount > 0) {
        treeItem->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        return;
    }
    treeItem->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    // Only an open item is closed: the view moves the current item to the nearest
    // shown one when it is told to close an item it does not show.
    if (treeItem->childCount() == 0 && treeItem->isExpanded()) {
        treeItem->setExpanded(false);
    }
}

void QtFrontend::SetTreeItemText(TreeItemHandle item, const std::string& text) {
    Node(item).item->setText(0, FromCore(text));
}

void QtFrontend::DeleteAllTreeItems() {
    FolderTree& tree = m_window->Tree();
    // The selection handler learns of the top level before the items go.
    tree.setCurrentItem(nullptr);
    tree.clear();
    m_tree.clear();
}

void QtFrontend::SetTreeItemTip(TreeItemHandle item, const std::string& text) {
    Node(item).item->setToolTip(0, FromCore(text));
}

void QtFrontend::SelectTreeItem(TreeItemHandle item) {
    QTreeWidgetItem* treeItem = TreeItem(item);
    FolderTree& tree = m_window->Tree();
    if (tree.currentItem() == treeItem) {
        return;
    }
    // The current-item signal is delivered directly: the selection handler has
    // run to its end when this returns.
    tree.setCurrentItem(treeItem);
}

void QtFrontend::CurrentItemChanged(QTreeWidgetItem* current) {
    Guarded([&] {
        m_window->Tree().ScrollToIfShown(current);
        if (m_dialog == nullptr) {
            return;
        }
        const TreeItemHandle handle = HandleOf(current);
        TreeNotification notification{handle, 0, nullptr};
        if (handle != kTreeTop) {
            const TreeNode& node = Node(handle);
            notification.state = node.expandedOnce ? kTreeExpandedOnce : 0;
            notification.data = node.data;
        }
        m_dialog->OnTreeSelectionChanged(notification);
    });
}

void QtFrontend::ExpandingNotice(TreeItemHandle handle) {
    if (m_dialog == nullptr) {
        return;
    }
    const TreeNode& node = Node(handle);
    m_dialog->OnTreeItemExpanding({handle, node.expandedOnce ? kTreeExpandedOnce : 0, node.data});
}

// After the expanding notice: the item opens when it has children to show, and
// is marked as opened once; otherwise it stays closed and loses its button.
void QtFrontend::FinishExpanding(TreeItemHandle handle) {
    TreeNode& node = Node(handle);
    if (node.item->childCount() > 0) {
        m_expandingQuietly = true;
        node.item->setExpanded(true);
        m_expandingQuietly = false;
        node.expandedOnce = true;
        return;
    }
    if (node.item->isExpanded()) {
        m_expandingQuietly = true;
        node.item->setExpanded(false);
        m_expandingQuietly = false;
    }
    node.item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void QtFrontend::UserExpand(TreeItemHandle item) {
    Guarded([&] {
        ExpandingNotice(item);
        FinishExpanding(item);
    });
}

void QtFrontend::ExpandRequested(QTreeWidgetItem* item) {
    UserExpand(HandleOf(item));
}

// An item the view opened by a way of its own (scrolling to an item opens its
// parents): the notice comes late, but it comes.
void QtFrontend::ItemExpanded(QTreeWidgetItem* item) {
    if (m_expandingQuietly) {
        return;
    }
    Guarded([&] {
        const TreeItemHandle handle = HandleOf(item);
        if (Node(handle).expandedOnce) {
            return;
        }
        ExpandingNotice(handle);
        FinishExpanding(handle);
    });
}

// The width the dialog gives is in pixels of its layout's font: it grows with
// the window's font, and is at least what the header's text needs. Beyond that
// the columns follow their contents.
void QtFrontend::InsertListColumn(const std::string& title, ColumnAlignment alignment, int width) {
    FileList& list = m_window->List();
    const auto column = static_cast<int>(m_columns.size());
    m_columns.push_back(alignment);
    list.setColumnCount(column + 1);
    list.headerItem()->setText(column, FromCore(title));
    list.headerItem()->setTextAlignment(column, AlignmentOf(alignment));
    // The names take the width the other columns leave. The others are as wide
    // as the user left them last time, or else as wide as said (growing as rows
    // come).
    const auto saved = static_cast<std::size_t>(column);
    const bool remembered = saved < m_savedColumnWidths.size() && m_savedColumnWidths[saved] > 0;
    if (column == 0) {
        list.header()->setSectionResizeMode(0, QHeaderView::Stretch);
    } else {
        const QScopedValueRollback<bool> quietly(m_fittingColumns, true);
        const int fitting = std::max(LayoutPixelsX(width, BaseUnitsOf(list.font())),
                                     list.header()->sectionSizeHint(column));
        list.header()->resizeSection(column, remembered ? m_savedColumnWidths[saved] : fitting);
    }
    m_columnsChosen.push_back(remembered);
    if (column == m_savedSortColumn) {
        list.sortByColumn(column, m_savedSortOrder);
    }
}

void QtFrontend::DeleteAllListRows() {
    m_window->List().clear();
    m_rows.clear();
}

// The view places the row in its own order; the dialog numbers it in its own.
int QtFrontend::InsertListRow(const std::string& text, DriveItem* data) {
    const auto at = std::upper_bound(m_rows.begin(), m_rows.end(), text,
                                     [](const std::string& value, const ListRow& row) {
                                         return ListSortsBefore(value, row.text);
                                     });
    const auto index = static_cast<int>(at - m_rows.begin());
    auto* item = new FileRow;
    item->setText(0, FromCore(text));
    for (std::size_t column = 0; column < m_columns.size(); ++column) {
        item->setTextAlignment(static_cast<int>(column), AlignmentOf(m_columns[column]));
    }
    m_rows.insert(at, ListRow{text, data, item});
    m_window->List().AddRow(item);
    return index;
}

void QtFrontend::SetListItemText(int row, int column, const std::string& text) {
    const bool known = row >= 0 && static_cast<std::size_t>(row) < m_rows.size();
    if (!known || column < 0 || column >= m_window->List().columnCount()) {
        throw std::out_of_range("no list cell " + std::to_string(row) + ", " +
                                std::to_string(column));
    }
    FileRow& item = *m_rows[static_cast<std::size_t>(row)].item;
    SetSortKey(row, column);  // before the text, whose change sorts the row anew
    item.setText(column, FromCore(text));
    FitColumn(item, column);
}

// The sizes and dates sort by the file's own, which the row's text only shows.
void QtFrontend::SetSortKey(int row, int column) {
    const ListRow& shown = m_rows[static_cast<std::size_t>(row)];
    if (shown.data == nullptr) {
        return;
    }
    if (column == 1 || column == 2) {
        shown.item->SetBytes(shown.data->m_sizePending
                                 ? FileRow::kUnknown
                                 : static_cast<qint64>(shown.data->m_fileSize));
    } else if (column == 3) {
        shown.item->SetMoment(MomentOf(*shown.data));
    }
}

// A column other than the names' widens to a cell that needs more room, until
// the user sets its width.
void QtFrontend::FitColumn(const QTreeWidgetItem& item, int column) {
    const auto index = static_cast<std::size_t>(column);
    if (column == 0 || index >= m_columnsChosen.size() || m_columnsChosen[index]) {
        return;
    }
    FileList& list = m_window->List();
    if (list.FitsWithRoom(item, column)) {
        return;
    }
    const int needed = list.CellWidth(item, column);
    if (needed > list.header()->sectionSize(column)) {
        const QScopedValueRollback<bool> quietly(m_fittingColumns, true);
        list.header()->resizeSection(column, needed);
    }
}

void QtFrontend::OpenMainDialog(MainDialog& dialog) {
    m_dialog = &dialog;
    m_closed = false;
    m_window->AllowClose(false);
    // The caption and everything else are in place before the first paint.
    dialog.InitializeDialog();
    UpdateCommands();
    if (!m_closed) {
        m_window->show();
    }
    FollowDisks();
}

void QtFrontend::FollowDisks() {
    if (m_refreshRetry != nullptr) {
        return;
    }
    m_refreshRetry = new QTimer(this);
    m_refreshRetry->setSingleShot(true);
    m_refreshRetry->setInterval(300);
    connect(m_refreshRetry, &QTimer::timeout, this, [this] { UserRefresh(); });
    m_diskWatch = udisks::Watch::Start();
    if (m_diskWatch == nullptr) {
        return;
    }
    m_diskNotifier = new QSocketNotifier(m_diskWatch->Descriptor(), QSocketNotifier::Read, this);
    connect(m_diskNotifier, &QSocketNotifier::activated, this, [this] { DisksChanged(); });
}

void QtFrontend::DisksChanged() {
    Guarded([this] {
        if (m_diskWatch->TakeChanges() && m_dialog != nullptr && !m_closed) {
            m_dialog->OnDisksChanged();
            RetryRefreshLater();
        }
    });
}

void QtFrontend::UserRefresh() {
    Guarded([this] {
        if (m_dialog != nullptr && !m_closed) {
            m_dialog->OnRefresh();
            RetryRefreshLater();
        }
    });
}

void QtFrontend::RetryRefreshLater() {
    if (m_refreshRetry != nullptr && m_dialog != nullptr && m_dialog->RefreshPending()) {
        m_refreshRetry->start();
    }
}

void QtFrontend::RunMainDialog(MainDialog& dialog) {
    OpenMainDialog(dialog);
    if (!m_closed) {
        QEventLoop loop;
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
    }
    m_dialog = nullptr;
}

void QtFrontend::CloseMainDialog() {
    if (!m_closed) {
        RememberWindow();
    }
    m_closed = true;
    m_window->AllowClose(true);
    // Asked from the window's own close event, closing again does nothing: that
    // event closes it; from anywhere else this does.
    m_window->close();
    m_window->hide();
    // A loop further out ends once the handlers nested in it have returned.
    if (m_loop != nullptr) {
        m_loop->exit(0);
    }
}

void QtFrontend::UserClose() {
    Guarded([this] {
        if (m_closed) {
            return;
        }
        if (m_dialog == nullptr || m_dialog->OnClose()) {
            CloseMainDialog();
        }
    });
}

void QtFrontend::UserCommand(unsigned command) {
    if (command == res::kCopyFileCommand) {
        CopyFileClicked();
        return;
    }
    Guarded([&] {
        if (m_dialog != nullptr && command == res::kPreviewCommand) {
            OpenPreview();
        } else if (m_dialog != nullptr) {
            m_dialog->OnSystemCommand(command);
            RetryRefreshLater();  // Refresh, put off while a copy runs
        }
    });
    UpdateCommands();  // a copy, if one ran, has ended
}

// The preview reads on a thread of its own: the window goes on meanwhile, and
// several previews may be open at once.
void QtFrontend::OpenPreview() {
    std::optional<MainDialog::FileAside> file = m_dialog->OpenSelectedFileAside();
    if (file) {
        auto* preview =
            new PreviewWindow(std::move(file->reader), FromCore(file->name), m_window.get());
        preview->show();
    }
}

void QtFrontend::UserDropFiles(const std::vector<std::string>& paths) {
    Guarded([&] {
        if (m_dialog != nullptr) {
            m_dialog->OnDropFiles(paths);
        }
    });
}

void QtFrontend::UserDropUrls(const QList<QUrl>& files) {
    Guarded([&] {
        std::vector<std::string> paths;
        for (const QUrl& url : files) {
            paths.push_back(ToLocalPath(url.toLocalFile()));
        }
        UserDropFiles(paths);
    });
}

void QtFrontend::RunAboutDialog(const res::DialogTemplate& about) {
    AboutBox box(about, DialogParent());
    box.exec();
}

std::vector<std::string> QtFrontend::AskDiskImages() {
    QFileDialog dialog(DialogParent(), QStringLiteral("Open Disk Image"));
    dialog.setObjectName(QStringLiteral("openImageDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(
        QStringLiteral("Disk images (*.img *.ima *.bin *.raw *.dd *.iso);;All files (*)"));
    if (!m_lastImageFolder.isEmpty()) {
        dialog.setDirectory(m_lastImageFolder);
    }
    std::vector<std::string> paths;
    if (dialog.exec() != QDialog::Accepted) {
        return paths;
    }
    for (const QString& path : dialog.selectedFiles()) {
        paths.push_back(ToLocalPath(path));
        m_lastImageFolder = QFileInfo(path).absolutePath();
    }
    if (!paths.empty()) {
        RememberedSettings().setValue(kImageFolderKey, m_lastImageFolder);
    }
    return paths;
}

}  // namespace moravel::qt
