#include "MainWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSplitter>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <stdexcept>

#include "Artwork.h"
#include "Controls.h"
#include "DialogBuilder.h"
#include "DialogUnits.h"
#include "QtText.h"

namespace moravel::qt {

namespace {

template <class Widget>
Widget* Take(const std::map<int, QWidget*>& controls, int id) {
    const auto found = controls.find(id);
    auto* widget = found == controls.end() ? nullptr : qobject_cast<Widget*>(found->second);
    if (widget == nullptr) {
        throw std::logic_error("the window's layout lacks control " + std::to_string(id));
    }
    return widget;
}

// The local files among the dropped URLs.
QList<QUrl> LocalFiles(const QMimeData* data) {
    QList<QUrl> files;
    if (data == nullptr || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            files.push_back(url);
        }
    }
    return files;
}

}  // namespace

MainWindow::MainWindow(const res::DialogTemplate& layout, WindowEvents& events)
    : QDialog(nullptr), m_events(events) {
    setObjectName(QStringLiteral("mainWindow"));
    // A window of its own in the task bar (a parentless dialog would be taken for
    // a transient one): title, system menu, minimise, maximise and close.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    setWindowTitle(FromCore(layout.caption));
    setSizeGripEnabled(false);
    setAcceptDrops(true);

    const DialogControls built = BuildDialogControls(*this, layout);
    m_controls = built.byId;
    m_tree = Take<FolderTree>(m_controls, res::kFolderTree);
    m_list = Take<FileList>(m_controls, res::kFileList);
    m_copyButton = Take<QPushButton>(m_controls, res::kCopyFileButton);
    m_progress = Take<QProgressBar>(m_controls, res::kProgressBar);
    m_status = Take<StatusLine>(m_controls, res::kStatusLine);
    PlaceStatusLine();
    AddMenuButton();
    AnchorControls(built.inOrder);
    AddSplitter(built.inOrder);
    AddCloseKeys();
    // The layout's size is the smallest: the builder made it the only one.
    m_layoutSize = size();
    setMinimumSize(m_layoutSize);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

// The tree and the list side by side in a splitter where the layout has them,
// its handle the gap between them; the list takes a wider window's width.
void MainWindow::AddSplitter(const std::vector<QWidget*>& tabOrder) {
    const QRect tree = m_tree->geometry();
    const QRect list = m_list->geometry();
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(std::max(1, list.left() - tree.right() - 1));
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_list);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setGeometry(tree.united(list));
    m_splitter->setSizes({tree.width(), list.width()});
    m_splitter->lower();
    m_anchored.push_back({m_splitter, m_splitter->geometry(), kWidens | kHeightens});
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] { PlaceListLabel(); });
    // Moved into the splitter, the two left the window's tab order: it is the
    // layout's again.
    QWidget* previous = nullptr;
    for (QWidget* widget : tabOrder) {
        if (widget->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, widget);
        }
        previous = widget;
    }
}

// The controls below the tree and the list keep to the bottom edge; those at
// the list's right edge (Copy File, the Menu button) to the right one; the
// progress bar and the status line, which span the bottom, widen.
void MainWindow::AnchorControls(const std::vector<QWidget*>& controls) {
    const QRect list = m_list->geometry();
    for (QWidget* widget : controls) {
        if (widget == m_tree || widget == m_list) {
            continue;
        }
        const QRect place = widget->geometry();
        unsigned anchor = 0;
        if (place.top() > list.bottom()) {
            anchor |= kFollowsBottom;
        }
        if (widget == m_progress || widget == m_status) {
            anchor |= kWidens;
        } else if (place.left() >= list.center().x()) {
            anchor |= kFollowsRight;
        }
        if (place.bottom() < list.top() && place.left() == list.left()) {
            m_listLabel = widget;
        }
        m_anchored.push_back({widget, place, anchor});
    }
    m_anchored.push_back({m_menuButton, m_menuButton->geometry(), kFollowsRight});
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (m_layoutSize.isEmpty()) {
        return;  // still being built
    }
    const int wider = std::max(0, width() - m_layoutSize.width());
    const int taller = std::max(0, height() - m_layoutSize.height());
    for (const Anchored& control : m_anchored) {
        QRect place = control.place;
        place.translate((control.anchor & kFollowsRight) != 0 ? wider : 0,
                        (control.anchor & kFollowsBottom) != 0 ? taller : 0);
        place.setWidth(place.width() + ((control.anchor & kWidens) != 0 ? wider : 0));
        place.setHeight(place.height() + ((control.anchor & kHeightens) != 0 ? taller : 0));
        control.widget->setGeometry(place);
    }
    PlaceListLabel();
}

// "Select file to copy" stays over the list's left edge wherever the splitter puts it.
void MainWindow::PlaceListLabel() {
    if (m_listLabel == nullptr || m_splitter == nullptr) {
        return;
    }
    const int left = m_list->mapTo(this, QPoint(0, 0)).x();
    m_listLabel->move(left, m_listLabel->y());
}

// The keys that end a desktop's main window.
void MainWindow::AddCloseKeys() {
    auto* close = new QAction(this);
    close->setObjectName(QStringLiteral("closeWindow"));
    close->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence(Qt::CTRL | Qt::Key_W)});
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, this, [this] { m_events.UserClose(); });
    addAction(close);
}

// The status line takes the height between the list and the progress bar, for
// two lines: an outcome names where the copy went, a rescue says how it goes.
void MainWindow::PlaceStatusLine() {
    const QRect line = m_status->geometry();
    const int top = m_list->geometry().bottom() + 1;
    const int bottom = std::max(line.bottom(), m_progress->geometry().top() - 1);
    m_status->setGeometry(line.left(), top, line.width(), bottom - top + 1);
}

// The commands in sight: a Menu button where the list's title row leaves room,
// its right edge on the list's.
void MainWindow::AddMenuButton() {
    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("windowMenu"));
    connect(m_menu, &QMenu::aboutToShow, this, [this] { m_events.CommandsAboutToShow(); });
    m_menuButton = new QToolButton(this);
    m_menuButton->setObjectName(QStringLiteral("menuButton"));
    m_menuButton->setText(tr("&Menu"));
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setMenu(m_menu);
    const QRect list = m_list->geometry();
    const int height = std::max(list.top() - 4, m_menuButton->sizeHint().height() * 3 / 4);
    const int width = m_menuButton->sizeHint().width() + height / 2;
    m_menuButton->setGeometry(list.right() + 1 - width, list.top() - 2 - height, width, height);
}

QWidget* MainWindow::Control(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

void MainWindow::AddCommandSeparator() {
    m_menu->addSeparator();
}

void MainWindow::AddCommand(QAction* action) {
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
    m_menu->addAction(action);
    m_commands.push_back(action);
}

QEvent::Type MainWindow::ScanProgressEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == ScanProgressEventType()) {
        m_events.ScanProgressDue();
        return true;
    }
    return QDialog::event(event);
}

void MainWindow::setVisible(bool visible) {
    if (visible && !isVisible() && !testAttribute(Qt::WA_Moved)) {
        PlaceOnScreen();
    }
    QDialog::setVisible(visible);
}

// Qt's own placement of a dialog reckons with a title bar above the middle and
// moves a window that barely fits to the screen's top edge, its title bar above
// it. Here the frame (as kWindowFrameRoom reckons it) is centred instead.
void MainWindow::PlaceOnScreen() {
    const QScreen* where = screen();
    if (where == nullptr) {
        return;
    }
    const QRect available = where->availableGeometry();
    const QSize frame = size() + kWindowFrameRoom;
    move(available.x() + std::max(0, (available.width() - frame.width()) / 2),
         available.y() + std::max(0, (available.height() - frame.height()) / 2));
}

// A dialog's own ending (accept, reject) ends the window as the close box does.
void MainWindow::done(int result) {
    if (m_mayClose) {
        QDialog::done(result);
        return;
    }
    m_events.UserClose();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_mayClose) {
        m_events.UserClose();  // which allows closing when the dialog lets it
    }
    event->setAccepted(m_mayClose);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        modifiers == Qt::NoModifier) {
        event->accept();
        ActivateFocus();
        return;
    }
    if (event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier) {
        event->accept();
        OpenMenuAtFocus();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        // A main window stays: Escape that a dialog would take as Cancel, or
        // one more after a menu was dismissed, must not end the program.
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// As the Menu key: the menu at the selected row of the list, at the current
// item of the tree, else beside whatever has the focus.
void MainWindow::OpenMenuAtFocus() {
    QWidget* focus = focusWidget() != nullptr ? focusWidget() : this;
    QPoint at = focus->mapToGlobal(focus->rect().center());
    if (focus == m_list) {
        at = m_list->MenuPosition();
    } else if (QTreeWidgetItem* item = m_tree->currentItem(); focus == m_tree && item != nullptr) {
        const QRect row = m_tree->visualItemRect(item);
        if (m_tree->viewport()->rect().intersects(row)) {
            at = m_tree->viewport()->mapToGlobal(QPoint(row.left() + row.height(), row.bottom()));
        }
    }
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, mapFromGlobal(at), at);
    contextMenuEvent(&menu);
}

// Enter acts on what has the focus, and never ends the window: a folder in the
// tree opens or closes, a row of the list is copied, a button is pressed.
void MainWindow::ActivateFocus() {
    QWidget* focus = focusWidget();
    if (focus == m_tree) {
        if (QTreeWidgetItem* item = m_tree->currentItem()) {
            item->setExpanded(!item->isExpanded());
        }
    } else if (focus == m_list) {
        m_copyButton->click();
    } else if (auto* button = qobject_cast<QAbstractButton*>(focus)) {
        button->click();
    }
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (m_commands.isEmpty()) {
        event->ignore();
        return;
    }
    event->accept();
    m_menu->exec(event->globalPos());
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> files = LocalFiles(event->mimeData());
    if (files.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    m_events.UserDropUrls(files);
}

}  // namespace moravel::qt
