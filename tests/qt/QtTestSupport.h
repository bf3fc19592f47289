#pragma once

#include <QApplication>
#include <QMenu>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "support/TempDir.h"
#include "ui/MainDialog.h"
#include "ui/qt/QtFrontend.h"

class QTreeWidgetItem;

namespace moravel::testing {

// Answers the next modal dialog of type Dialog that comes up (a message box, a
// file dialog, the About box; or a popup menu): a timer looks for it every few milliseconds,
// also inside the nested event loop the dialog runs, and hands it to answer.
// The timer gives up after a while so that a dialog that never comes fails the
// case instead of hanging it.
template <class Dialog>
class ModalAnswer {
public:
    explicit ModalAnswer(std::function<void(Dialog&)> answer) : m_answer(std::move(answer)) {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Look(); });
        m_timer.start();
    }
    bool Answered() const { return m_answered; }

private:
    void Look() {
        if (++m_looks > 4000) {
            m_timer.stop();
            return;
        }
        QWidget* active = std::is_same_v<Dialog, QMenu> ? QApplication::activePopupWidget()
                                                        : QApplication::activeModalWidget();
        auto* dialog = qobject_cast<Dialog*>(active);
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        m_timer.stop();
        m_answered = true;
        m_answer(*dialog);
    }

    std::function<void(Dialog&)> m_answer;
    QTimer m_timer;
    int m_looks = 0;
    bool m_answered = false;
};

// Processes events until the condition holds or about ten seconds passed.
bool WaitUntil(const std::function<bool()>& condition);

// A recorder disk: a FAT32 volume, then a partition of a type the program does
// not know. Its root holds README.TXT and the folders RECORDS (recordings found
// on the disk out of order, names of mixed case and Windows-1252 letters, one of
// 5 GiB), EMPTY, NESTED (INNER and CLIP.TS) and MANY (the sub-folders FIRST,
// MIDDLE and LAST among recordsInMany recordings, when there are any).
std::string MakeRecorderDisk(const TempDir& dir, const std::string& name = "disk.img",
                             int recordsInMany = 0);
// A disk whose extended partition's boot record links back to itself.
std::string MakeLinkingBackDisk(const TempDir& dir);
// A disk with RECORDS/MOVIE.TS ("Movie 2004.ts") of the given size, every byte
// written; the builder's seed of its content in seed.
// firstSector, when given, learns where the movie's first cluster lies on the
// disk (its clusters follow one another).
std::string MakeCopyDisk(const TempDir& dir, std::uint64_t size, std::uint32_t& seed,
                         std::uint64_t* firstSector = nullptr);

// The main window on a dialog, for the cases to drive.
class WindowFixture {
public:
    WindowFixture() = default;
    ~WindowFixture();
    WindowFixture(const WindowFixture&) = delete;
    WindowFixture& operator=(const WindowFixture&) = delete;

    // Makes the dialog on the disks (and images; never the machine's own disks)
    // and opens the window.
    void Open(const std::vector<std::string>& hardDisks,
              const std::vector<std::string>& images = {});
    // Open in two halves: the dialog, then the front end's own run of the window
    // (RunMainDialog), which returns when the window is closed.
    void Create(const std::vector<std::string>& hardDisks,
                const std::vector<std::string>& images = {});
    void Run();
    // The window on the machine's own disks, as the program starts without --disk.
    void OpenOnMachineDisks();

    qt::QtFrontend& Frontend() { return m_frontend; }
    qt::MainWindow& Window() { return m_frontend.Window(); }
    MainDialog& Dialog() { return *m_dialog; }

    // The tree item along a path of texts as shown; null when there is none.
    QTreeWidgetItem* Item(const std::vector<QString>& path);
    TreeItemHandle Handle(const std::vector<QString>& path);
    // The texts of an item's children (the top level for null).
    std::vector<QString> Children(const QTreeWidgetItem* item);
    // The disks' names, without the model and size their nodes show after them.
    std::vector<QString> DiskNames();
    // The list's rows, each with its three columns.
    std::vector<std::vector<QString>> Rows();
    std::vector<QString> RowNames();

    // What the user does with the mouse: clicks an item's name or its button
    // (the item must be shown: its parents open).
    void Click(QTreeWidgetItem* item);
    void ClickButton(QTreeWidgetItem* item);
    // Clicks each item along the path, opening each with its button first
    // when it is closed, as a user walks down the tree; returns the last one.
    QTreeWidgetItem* Walk(const std::vector<QString>& path);
    void ClickRow(int row);
    // A control's place in the main window (the tree and the list lie in a splitter).
    QRect Place(const QWidget& control);

private:
    qt::QtFrontend m_frontend;
    std::optional<MainDialog> m_dialog;
};

}  // namespace moravel::testing
