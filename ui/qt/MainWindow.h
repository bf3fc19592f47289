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
class QToolButton;

namespace moravel::qt {

class FileList;
class FolderTree;
class StatusLine;

// What the window's own events ask of its owner.
class WindowEvents {
public:
    // The close box or Escape.
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

// The program's window, laid out from the main dialog's layout: a fixed size,
// a minimise but no maximise button, in the task bar. Closing it in any way (the
// close box, Escape) asks the owner, which lets it close with AllowClose.
// The commands added with AddCommand are in the menu of the Menu button above
// the list's right end, and in a context menu anywhere on the window; files
// dropped on it go to the owner.
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

    // A command of the context menu, its shortcut working in the whole window.
    void AddCommand(QAction* action);
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
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void ActivateFocus();
    void PlaceStatusLine();
    void AddMenuButton();
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
    QList<QAction*> m_commands;
    bool m_mayClose = false;
};

}  // namespace moravel::qt
