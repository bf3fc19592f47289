#pragma once

#include <QDialog>
#include <QEvent>
#include <QList>
#include <QUrl>
#include <map>
#include <string>
#include <vector>

#include "res/Resources.h"

class QAction;
class QProgressBar;
class QMenu;
class QPushButton;
class QSplitter;
class QToolButton;

namespace moravel::qt {

class FileList;
class FolderTree;
class StatusLine;

// What the window's own events ask of its owner.
class WindowEvents {
public:
    // The close box, Ctrl+Q or Ctrl+W.
    virtual void UserClose() = 0;
    // Local files dropped onto the window.
    virtual void UserDropUrls(const QList<QUrl>& files) = 0;
    // The scan-progress notice posted to the window has come.
    virtual void ScanProgressDue() = 0;
    // A menu of the window's commands is about to show: their states are brought
    // up to date.
    virtual void CommandsAboutToShow() = 0;

protected:
    ~WindowEvents() = default;
};

// The program's window, laid out from the main dialog's layout, which gives its
// first and smallest size: it can be made larger and maximised, the list taking
// the room (the tree grows in height, the list in both ways; the buttons, the
// progress bar and the status line keep to the window's bottom and right
// edges), and a splitter between tree and list moves the room between them. In
// the task bar. Closing it (the close box, Ctrl+Q, Ctrl+W; Escape does not, as
// in a desktop's main windows) asks the owner, which lets it close with
// AllowClose. The commands added with AddCommand are in the menu of the Menu
// button above the list's right end, and in a context menu anywhere on the
// window; files dropped on it go to the owner.
class MainWindow : public QDialog {
    Q_OBJECT
public:
    MainWindow(const res::DialogTemplate& layout, WindowEvents& events);

    // The control with that id of the layout; null when there is none.
    QWidget* Control(int id) const;
    FolderTree& Tree() const { return *m_tree; }
    FileList& List() const { return *m_list; }
    QPushButton& CopyButton() const { return *m_copyButton; }
    QProgressBar& Progress() const { return *m_progress; }
    StatusLine& Status() const { return *m_status; }
    QToolButton& MenuButton() const { return *m_menuButton; }
    QSplitter& Splitter() const { return *m_splitter; }
    QMenu& Menu() const { return *m_menu; }

    // A command of the context menu, its shortcut working in the whole window.
    void AddCommand(QAction* action);
    // A line between the commands added before and those after.
    void AddCommandSeparator();
    QList<QAction*> Commands() const { return m_commands; }

    // From now on closing closes (false: closing asks the owner again).
    void AllowClose(bool allow) { m_mayClose = allow; }

    // The type of the scan-progress notice posted to the window.
    static QEvent::Type ScanProgressEventType();

    // Shown the first time (not moved yet), the window goes to the middle of the
    // screen it opens on, its frame inside the screen's available area.
    void setVisible(bool visible) override;

public slots:
    void done(int result) override;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // How a control follows the window's size: its place in the layout moves
    // with the right or bottom edge, its size grows with the width or height.
    enum Anchor : unsigned { kFollowsRight = 1, kFollowsBottom = 2, kWidens = 4, kHeightens = 8 };
    struct Anchored {
        QWidget* widget;
        QRect place;  // in the layout's size
        unsigned anchor;
    };

    void ActivateFocus();
    void OpenMenuAtFocus();
    void PlaceStatusLine();
    void AddMenuButton();
    void AddSplitter(const std::vector<QWidget*>& tabOrder);
    void AnchorControls(const std::vector<QWidget*>& controls);
    void PlaceListLabel();
    void AddCloseKeys();
    void PlaceOnScreen();

    WindowEvents& m_events;
    std::map<int, QWidget*> m_controls;
    FolderTree* m_tree = nullptr;
    FileList* m_list = nullptr;
    QPushButton* m_copyButton = nullptr;
    QProgressBar* m_progress = nullptr;
    StatusLine* m_status = nullptr;
    QToolButton* m_menuButton = nullptr;
    QMenu* m_menu = nullptr;
    QSplitter* m_splitter = nullptr;
    QWidget* m_listLabel = nullptr;  // "Select file to copy", over the list's left edge
    QSize m_layoutSize;
    std::vector<Anchored> m_anchored;
    QList<QAction*> m_commands;
    bool m_mayClose = false;
};

}  // namespace moravel::qt
