// The desktop window on its own: how it starts, its layout (also on a screen too
// small for it), the tree's and the list's behaviour under the mouse and the
// keyboard, the status line, closing, what it remembers for the next run, the
// context menu with the About box and Open Disk Image, dropped files, message
// boxes, the pump, and a screenshot.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QSplitter>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>

#include "QtTestSupport.h"
#include "ui/headless/HeadlessFrontend.h"
#include "ui/qt/Controls.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/PreviewWindow.h"

namespace moravel::testing {
namespace {

const QString kDisk1 = QStringLiteral("Hard Disk 1");
const QString kDisk2 = QStringLiteral("Hard Disk 2");
const QString kFat = QStringLiteral("32-Bit FAT Disk");
const QString kRoot = QStringLiteral("Root Directory");
const QString kRecords = QStringLiteral("RECORDS");
const QString kNested = QStringLiteral("NESTED");
const QString kMany = QStringLiteral("MANY");

const std::vector<QString> kRecordNames = {"A.ts",
                                           "apple.TS",
                                           "b.ts",
                                           "c.ts",
                                           "NEWS0518.TS",
                                           "zebra.ts",
                                           "\u00DCberraschung.ts",
                                           "\u20ACuro Cup.ts"};

class QtWindowTest : public ::testing::Test {
protected:
    TempDir m_dir;
    WindowFixture m_window;

    qt::FolderTree& Tree() { return m_window.Window().Tree(); }
    qt::FileList& List() { return m_window.Window().List(); }
    QTreeWidgetItem* Item(const std::vector<QString>& path) { return m_window.Item(path); }
    bool Shown(QWidget& widget) { return widget.isVisibleTo(&m_window.Window()); }
};

// --- Start and layout

TEST_F(QtWindowTest, StartsWithCaptionOneItemPerDiskColumnsAndNoBarOrStatus) {
    m_window.Open({MakeRecorderDisk(m_dir), MakeLinkingBackDisk(m_dir)});
    qt::MainWindow& window = m_window.Window();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Veltrano Harddisk Recorder Utility"));
    EXPECT_FALSE(window.windowIcon().isNull());

    EXPECT_EQ(m_window.DiskNames(), (std::vector<QString>{kDisk1, kDisk2}));
    for (int i = 0; i < 2; ++i) {
        const QTreeWidgetItem* disk = Tree().topLevelItem(i);
        EXPECT_EQ(disk->childCount(), 0);  // not read yet
        EXPECT_EQ(disk->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        EXPECT_FALSE(disk->isExpanded());
    }
    EXPECT_EQ(Tree().currentItem(), nullptr);
    EXPECT_TRUE(Tree().isHeaderHidden());

    // The layout's size is the smallest; minimise, maximise and close; a window
    // of the task bar.
    EXPECT_EQ(window.minimumSize(), window.size());
    EXPECT_GT(window.maximumSize().width(), 10000);
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Window);
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));

    ASSERT_EQ(List().columnCount(), 4);
    const QTreeWidgetItem* header = List().headerItem();
    // The others as wide as the layout's pixels in this font, and their titles,
    // until rows come; the names take the width they leave.
    QHeaderView& sections = *List().header();
    const std::vector<QString> titles = {"File Name", "Size", "Size (bytes)", "Modified"};
    const qt::BaseUnits units = qt::BaseUnitsOf(List().font());
    int others = 0;
    for (int i = 1; i < 4; ++i) {
        const int layout = qt::LayoutPixelsX(std::vector{0, 70, 80, 105}[std::size_t(i)], units);
        EXPECT_EQ(sections.sectionSize(i), std::max(layout, sections.sectionSizeHint(i)));
        others += sections.sectionSize(i);
    }
    EXPECT_EQ(sections.sectionSize(0), List().viewport()->width() - others);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(header->text(i), titles[static_cast<std::size_t>(i)]);
        EXPECT_EQ(header->textAlignment(i) & Qt::AlignHorizontal_Mask,
                  i == 0 || i == 3 ? Qt::AlignLeft : Qt::AlignRight);
    }
    EXPECT_TRUE(List().header()->sectionsClickable());
    EXPECT_EQ(List().sortColumn(), 0);
    EXPECT_EQ(List().header()->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_EQ(List().selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(List().topLevelItemCount(), 0);

    EXPECT_FALSE(Shown(window.Progress()));
    EXPECT_FALSE(Shown(window.Status()));
    EXPECT_EQ(window.Progress().minimum(), 0);
    EXPECT_EQ(window.Progress().maximum(), 100);
    EXPECT_EQ(window.Progress().value(), 0);
    QPushButton& copy = window.CopyButton();
    EXPECT_TRUE(Shown(copy));
    EXPECT_FALSE(copy.isEnabled());  // nothing to copy yet
    EXPECT_EQ(copy.text(), QStringLiteral("Copy File"));
    EXPECT_FALSE(copy.isDefault());
    EXPECT_FALSE(copy.autoDefault());
}

TEST_F(QtWindowTest, TheLayoutFollowsTheDialogUnitsOfTheFontAndEveryTextFits) {
    m_window.Open({});
    qt::MainWindow& window = m_window.Window();
    const qt::BaseUnits units = qt::BaseUnitsOf(window.font());
    EXPECT_EQ(window.size(), qt::DluToPixels(388, 265, units));
    const QRect inside = window.rect();
    for (const res::ControlTemplate& control : res::MainDialogTemplate().controls) {
        if (control.id == res::kNoId) {
            continue;
        }
        QWidget* widget = window.Control(control.id);
        ASSERT_NE(widget, nullptr) << control.id;
        const QRect laidOut =
            qt::DluToPixels(control.x, control.y, control.width, control.height, units);
        const QRect place = m_window.Place(*widget);
        if (control.id == res::kStatusLine) {
            // It takes the height between the list and the bar, for two lines.
            EXPECT_EQ(widget->x(), laidOut.x());
            EXPECT_EQ(widget->width(), laidOut.width());
            EXPECT_GT(widget->y(), m_window.Place(List()).bottom());
            EXPECT_LT(widget->geometry().bottom(), window.Progress().y());
            EXPECT_EQ(window.Status().Lines(), 2);
        } else {
            EXPECT_EQ(place, laidOut) << control.id;
        }
        EXPECT_TRUE(inside.contains(place)) << control.id;
    }
    // Side by side, the labels above what they name, the bar and the button below.
    const QRect tree = m_window.Place(Tree());
    const QRect list = m_window.Place(List());
    EXPECT_LT(tree.right(), list.left());
    EXPECT_LT(window.CopyButton().geometry().top(), inside.bottom());
    EXPECT_GT(window.CopyButton().geometry().top(), list.bottom());
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->text().isEmpty() && label != &window.Status()) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << label->text().toStdString();
            EXPECT_LT(label->geometry().bottom(), tree.top());
        }
    }
    QPushButton& copy = window.CopyButton();
    EXPECT_LT(copy.fontMetrics().horizontalAdvance(copy.text()), copy.width());
    EXPECT_GE(copy.height(), copy.fontMetrics().height());
    // The Menu button above the list's right end, beside its title.
    const QRect menu = window.MenuButton().geometry();
    EXPECT_EQ(menu.right(), list.right());
    EXPECT_LT(menu.bottom(), list.top());
    EXPECT_GE(menu.top(), 0);
    // Tab order as laid out: Copy File, the tree, the list, the menu, and round again.
    std::vector<QWidget*> stops;
    QWidget* widget = &copy;
    do {
        if (widget->focusPolicy() & Qt::TabFocus) {
            stops.push_back(widget);
        }
        widget = widget->nextInFocusChain();
    } while (widget != &copy && stops.size() < 10);
    EXPECT_EQ(stops, (std::vector<QWidget*>{&copy, &Tree(), &List(), &window.MenuButton()}));
}

// A desktop font so large that the window would not fit the screen (800 x 600
// on the offscreen platform): the window is laid out smaller, all of it there.
TEST(QtScreenTest, AWindowTooLargeForTheScreenIsMadeSmallerWithEveryControlOnIt) {
    struct RestoreFont {
        QFont font = QApplication::font();
        ~RestoreFont() { QApplication::setFont(font); }
    } desktop;
    QFont large = desktop.font;
    large.setPointSizeF(desktop.font.pointSizeF() * 2);
    QApplication::setFont(large);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_GT(qt::DluToPixels(388, 265, qt::BaseUnitsOf(large)).width(), screen.width());

    TempDir dir;
    WindowFixture fixture;
    fixture.Open({MakeRecorderDisk(dir)});
    qt::MainWindow& window = fixture.Window();
    EXPECT_LE(window.width() + qt::kWindowFrameRoom.width(), screen.width());
    EXPECT_LE(window.height() + qt::kWindowFrameRoom.height(), screen.height());
    EXPECT_EQ(window.minimumSize(), window.size());
    EXPECT_LT(window.font().pointSizeF(), large.pointSizeF());
    for (const res::ControlTemplate& control : res::MainDialogTemplate().controls) {
        if (control.id != res::kNoId) {
            EXPECT_TRUE(window.rect().contains(fixture.Place(*window.Control(control.id))))
                << control.id;
        }
    }
    // Every column's title whole, the right-aligned ones above all.
    const QHeaderView& header = *window.List().header();
    for (int column = 1; column < header.count(); ++column) {
        EXPECT_GE(header.sectionSize(column), header.sectionSizeHint(column)) << column;
    }
    QPushButton& copy = window.CopyButton();
    EXPECT_LT(copy.fontMetrics().horizontalAdvance(copy.text()), copy.width());
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->text().isEmpty() && label != &window.Status()) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << label->text().toStdString();
        }
    }
}

// The folder a copy went to and the widths the user gave the list's columns
// are there again the next time the window opens.
TEST(QtRememberTest, TheLastSaveFolderAndTheColumnWidthsComeBackInTheNextRun) {
    TempDir dir;
    const std::string disk = MakeRecorderDisk(dir);
    const QString copies = QString::fromStdString(dir.File("copies"));
    ASSERT_TRUE(QDir().mkpath(copies));
    const std::vector<QString> records = {kDisk1, kFat, kRoot, kRecords};
    {
        WindowFixture first;
        first.Open({disk});
        QHeaderView& header = *first.Window().List().header();
        first.Walk(records);
        first.ClickRow(0);
        ModalAnswer<QFileDialog> save([&](QFileDialog& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(copies + QStringLiteral("/A.ts"));
            static_cast<QDialog&>(dialog).accept();
        });
        QTest::mouseClick(&first.Window().CopyButton(), Qt::LeftButton);
        ASSERT_TRUE(save.Answered());
        header.resizeSection(2, 40);  // narrower than "5368709120"
        first.Frontend().UserClose();
        ASSERT_TRUE(first.Frontend().IsClosed());
    }
    WindowFixture second;
    second.Open({disk});
    const QHeaderView& header = *second.Window().List().header();
    const int sizeTitle = header.sectionSize(1);
    EXPECT_EQ(header.sectionSize(2), 40);
    second.Walk(records);
    // The chosen width stays; a column left alone follows its contents.
    EXPECT_EQ(header.sectionSize(2), 40);
    EXPECT_GE(header.sectionSize(1), sizeTitle);
    for (int row = 0; row < second.Window().List().topLevelItemCount(); ++row) {
        const QTreeWidgetItem& item = *second.Window().List().topLevelItem(row);
        EXPECT_LE(second.Window().List().CellWidth(item, 1), header.sectionSize(1));
    }
    second.ClickRow(0);
    QString offered;
    ModalAnswer<QFileDialog> save([&](QFileDialog& dialog) {
        offered = dialog.directory().absolutePath();
        dialog.reject();
    });
    QTest::mouseClick(&second.Window().CopyButton(), Qt::LeftButton);
    ASSERT_TRUE(save.Answered());
    EXPECT_EQ(offered, QDir(copies).absolutePath());
}

// A larger window gives the list the room: the tree grows in height only, the
// buttons, the bar and the status line keep to the edges they lie at, and the
// list's title follows the list's edge when the splitter moves.
TEST_F(QtWindowTest, ALargerWindowGivesTheListTheRoomAndTheSplitterMovesItsEdge) {
    m_window.Open({});
    qt::MainWindow& window = m_window.Window();
    QWidget* title = nullptr;
    for (QLabel* label : window.findChildren<QLabel*>()) {
        title = label->text() == QStringLiteral("Select file to copy") ? label : title;
    }
    ASSERT_NE(title, nullptr);
    const auto places = [&] {
        return std::vector<QRect>{m_window.Place(Tree()),         m_window.Place(List()),
                                  window.CopyButton().geometry(), window.Progress().geometry(),
                                  window.Status().geometry(),     window.MenuButton().geometry()};
    };
    const std::vector<QRect> before = places();
    window.resize(window.size() + QSize(300, 200));
    const std::vector<QRect> after = places();
    EXPECT_EQ(after[0], before[0].adjusted(0, 0, 0, 200));
    EXPECT_EQ(after[1], before[1].adjusted(0, 0, 300, 200));
    EXPECT_EQ(after[2], before[2].translated(300, 200));
    EXPECT_EQ(after[3], before[3].translated(0, 200).adjusted(0, 0, 300, 0));
    EXPECT_EQ(after[4], before[4].translated(0, 200).adjusted(0, 0, 300, 0));
    EXPECT_EQ(after[5], before[5].translated(300, 0));
    EXPECT_EQ(title->x(), after[1].x());

    QSplitter& splitter = window.Splitter();
    splitter.setSizes({after[0].width() + 80, after[1].width() - 80});
    emit splitter.splitterMoved(after[0].width() + 80, 1);
    EXPECT_EQ(m_window.Place(List()).x(), after[1].x() + 80);
    EXPECT_EQ(title->x(), after[1].x() + 80);
    EXPECT_EQ(m_window.Place(List()).right(), after[1].right());
}

// The size and place, the splitter and the list's order are there again the
// next time the window opens.
TEST(QtRememberTest, TheWindowsSizeSplitterAndOrderComeBackInTheNextRun) {
    QSize size;
    QList<int> sizes;
    {
        WindowFixture first;
        first.Open({});
        qt::MainWindow& window = first.Window();
        window.resize(window.size() + QSize(120, 80));
        size = window.size();
        sizes = {window.Splitter().sizes()[0] + 40, window.Splitter().sizes()[1] - 40};
        window.Splitter().setSizes(sizes);
        window.List().sortByColumn(3, Qt::DescendingOrder);
        first.Frontend().UserClose();
        ASSERT_TRUE(first.Frontend().IsClosed());
    }
    WindowFixture second;
    second.Open({});
    EXPECT_EQ(second.Window().size(), size);
    EXPECT_EQ(second.Window().Splitter().sizes(), sizes);
    EXPECT_EQ(second.Window().List().sortColumn(), 3);
    EXPECT_EQ(second.Window().List().header()->sortIndicatorOrder(), Qt::DescendingOrder);
}

// --- The tree

TEST_F(QtWindowTest, AClickedItemHasItsChildrenWhenTheClickReturns) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    m_window.Click(Item({kDisk1}));
    EXPECT_EQ(Tree().currentItem(), Item({kDisk1}));
    EXPECT_EQ(m_window.Children(Item({kDisk1})), (std::vector<QString>{kFat, "Unknown"}));
    EXPECT_FALSE(Item({kDisk1})->isExpanded());  // a click selects; it does not open
    EXPECT_TRUE(m_window.Rows().empty());
}

TEST_F(QtWindowTest, SelectTreeItemRunsTheSelectionHandlerToItsEndBeforeItReturns) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    m_window.Walk({kDisk1, kFat, kRoot});
    qt::QtFrontend& frontend = m_window.Frontend();
    frontend.SelectTreeItem(m_window.Handle({kDisk1, kFat, kRoot, kRecords}));
    EXPECT_EQ(m_window.RowNames(), kRecordNames);
    EXPECT_FALSE(Shown(m_window.Window().Status()));
    // The item selected already: no handler runs, so what is shown stays.
    EXPECT_EQ(Tree().currentItem(), Item({kDisk1, kFat, kRoot, kRecords}));
    frontend.DeleteAllListRows();
    frontend.SelectTreeItem(m_window.Handle({kDisk1, kFat, kRoot, kRecords}));
    EXPECT_TRUE(m_window.Rows().empty());
}

TEST_F(QtWindowTest, TheButtonOfAFolderNeverSelectedSelectsItAndOpensIt) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    QTreeWidgetItem* root = m_window.Walk({kDisk1, kFat, kRoot});
    m_window.ClickButton(root);
    QTreeWidgetItem* nested = Item({kDisk1, kFat, kRoot, kNested});
    ASSERT_NE(nested, nullptr);
    m_window.ClickButton(nested);
    EXPECT_EQ(Tree().currentItem(), nested);
    EXPECT_TRUE(nested->isExpanded());
    EXPECT_EQ(m_window.Children(nested), (std::vector<QString>{"INNER"}));
    EXPECT_EQ(m_window.RowNames(), (std::vector<QString>{"CLIP.TS"}));
    EXPECT_TRUE(m_window.Frontend().WasExpandedOnce(m_window.Frontend().HandleOf(nested)));

    // Closed, the root selected, and opened again: opened before, it opens
    // without being selected.
    m_window.ClickButton(nested);
    EXPECT_FALSE(nested->isExpanded());
    m_window.Click(root);
    m_window.ClickButton(nested);
    EXPECT_TRUE(nested->isExpanded());
    EXPECT_EQ(Tree().currentItem(), root);
    EXPECT_EQ(m_window.RowNames(), (std::vector<QString>{"README.TXT"}));
    EXPECT_EQ(m_window.Children(nested), (std::vector<QString>{"INNER"}));
}

TEST_F(QtWindowTest, AFolderWithoutSubFoldersLosesItsButtonWhenOpened) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    QTreeWidgetItem* root = m_window.Walk({kDisk1, kFat, kRoot});
    m_window.ClickButton(root);
    QTreeWidgetItem* records = Item({kDisk1, kFat, kRoot, kRecords});
    ASSERT_NE(records, nullptr);
    ASSERT_TRUE(qt::FolderTree::IsClosedWithButton(*records));
    m_window.ClickButton(records);
    EXPECT_EQ(Tree().currentItem(), records);
    EXPECT_EQ(m_window.RowNames(), kRecordNames);
    EXPECT_FALSE(records->isExpanded());
    EXPECT_EQ(records->childCount(), 0);
    EXPECT_NE(records->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_FALSE(qt::FolderTree::IsClosedWithButton(*records));
}

TEST_F(QtWindowTest, ArrowKeysMoveTheSelectionAndRightOpens) {
    m_window.Open({MakeRecorderDisk(m_dir), MakeLinkingBackDisk(m_dir)});
    m_window.Click(Item({kDisk1}));
    Tree().setFocus();
    QTest::keyClick(&Tree(), Qt::Key_Down);
    EXPECT_EQ(Tree().currentItem(), Item({kDisk2}));
    EXPECT_EQ(m_window.Children(Item({kDisk2})),
              (std::vector<QString>{"Extended DOS Partition"}));  // its handler ran
    QTest::keyClick(&Tree(), Qt::Key_Up);
    EXPECT_EQ(Tree().currentItem(), Item({kDisk1}));
    QTest::keyClick(&Tree(), Qt::Key_Right);
    EXPECT_TRUE(Item({kDisk1})->isExpanded());
    QTest::keyClick(&Tree(), Qt::Key_Down);
    EXPECT_EQ(Tree().currentItem(), Item({kDisk1, kFat}));
    EXPECT_EQ(m_window.Children(Item({kDisk1, kFat})), (std::vector<QString>{kRoot}));
    QTest::keyClick(&Tree(), Qt::Key_Plus);
    EXPECT_TRUE(Item({kDisk1, kFat})->isExpanded());
    QTest::keyClick(&Tree(), Qt::Key_Left);
    EXPECT_FALSE(Item({kDisk1, kFat})->isExpanded());
}

TEST_F(QtWindowTest, ADoubleClickOnANameOpensAndClosesItsItem) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    QTreeWidgetItem* disk = Item({kDisk1});
    QTest::mouseDClick(Tree().viewport(), Qt::LeftButton, Qt::NoModifier,
                       Tree().visualItemRect(disk).center());
    EXPECT_EQ(Tree().currentItem(), disk);
    EXPECT_TRUE(disk->isExpanded());
    QTest::mouseDClick(Tree().viewport(), Qt::LeftButton, Qt::NoModifier,
                       Tree().visualItemRect(disk).center());
    EXPECT_FALSE(disk->isExpanded());
}

// --- The list

// The same rows inserted into the window and into the headless front end land
// at the same places: ascending, letters without regard to case, other
// characters by their code point.
TEST_F(QtWindowTest, ListRowsLandWhereTheHeadlessFrontEndPutsThem) {
    m_window.Open({});
    HeadlessFrontend headless;
    for (const char* title : {"File Name", "Size", "Size (bytes)"}) {
        headless.InsertListColumn(title, ColumnAlignment::Left, 100);
    }
    const std::vector<std::string> letters = {
        "a",      "A",      "b",      "B",      "z",      "Z",      "0",      "9",
        ".",      "_",      " ",      "-",      "~",      "\u20AC", "\u00C4", "\u00E4",
        "\u00DC", "\u00FC", "\u0153", "\u0152", "\u0416", "\u0436", "\u65E5", "\xFF"};
    std::mt19937 random(20040515);
    std::uniform_int_distribution<std::size_t> pick(0, letters.size() - 1);
    std::uniform_int_distribution<int> length(0, 4);
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) {
        std::string name;
        for (int n = length(random); n > 0; --n) {
            name += letters[pick(random)];
        }
        names.push_back(name);
    }
    names.push_back(names[17]);  // a name twice
    qt::QtFrontend& frontend = m_window.Frontend();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int place = frontend.InsertListRow(names[i], nullptr);
        ASSERT_EQ(place, headless.InsertListRow(names[i], nullptr)) << i;
        frontend.SetListItemText(place, 2, std::to_string(i));
        headless.SetListItemText(place, 2, std::to_string(i));
        if (i == 200) {  // a selected row keeps its selection as rows come before it
            m_window.ClickRow(place);
            headless.UserSelectListRow(place);
        }
    }
    // The dialog's row numbers, whatever order the view shows the rows in.
    ASSERT_EQ(List().topLevelItemCount(), static_cast<int>(headless.Rows().size()));
    for (std::size_t i = 0; i < headless.Rows().size(); ++i) {
        const QTreeWidgetItem* row = frontend.ListItem(static_cast<int>(i));
        EXPECT_EQ(row->text(0), QString::fromUtf8(headless.Rows()[i].texts[0])) << i;
        EXPECT_EQ(row->text(2).toStdString(), headless.Rows()[i].texts[2]) << i;
    }
    EXPECT_EQ(frontend.SelectedListRow(), headless.SelectedListRow());
    EXPECT_EQ(frontend.ListItem(frontend.SelectedListRow())->text(2), QStringLiteral("200"));
}

// A click on a header sorts by that column, a second one the other way: names
// in natural order, sizes by their bytes (one still measured as unknown), dates
// by the entry's moment, never by the texts (made here to sort otherwise). The
// dialog's row numbers keep meaning the same rows.
TEST_F(QtWindowTest, AHeaderClickSortsNamesNaturallySizesByBytesAndDatesByMoment) {
    m_window.Open({});
    qt::QtFrontend& frontend = m_window.Frontend();
    struct File {
        std::string name;
        std::uint64_t bytes;
        bool pending;
        std::uint16_t date;  // FAT: years since 1980, month, day
        std::string dateText;
    };
    const std::vector<File> files = {
        {"Folge 10.ts", 9, false, (41 << 9) | (1 << 5) | 1, "01.01.2021"},
        {"folge 2.ts", 10'000'000'000, false, (40 << 9) | (12 << 5) | 31, "31.12.2020"},
        {"Folge 1.ts", 0, true, (42 << 9) | (6 << 5) | 1, "01.06.2022"},
        {"Anfang.ts", 100, false, 0, ""}};
    std::vector<DriveItem> items(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        items[i].m_fileSize = files[i].bytes;
        items[i].m_sizePending = files[i].pending;
        items[i].m_writeDate = files[i].date;
        frontend.InsertListRow(files[i].name, &items[i]);
    }
    const auto rowOf = [&](const std::string& name) {
        for (int row = 0; row < 4; ++row) {
            if (frontend.ListItem(row)->text(0).toStdString() == name) {
                return row;
            }
        }
        return -1;
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        const int row = rowOf(files[i].name);
        const std::string bytes = files[i].pending ? "" : std::to_string(files[i].bytes);
        frontend.SetListItemText(row, 1, bytes);
        frontend.SetListItemText(row, 2, bytes);
        frontend.SetListItemText(row, 3, files[i].dateText);
    }
    const auto shown = [&] {
        QStringList names;
        const QAbstractItemModel& model = *List().model();
        for (int row = 0; row < model.rowCount(); ++row) {
            names << model.index(row, 0).data().toString();
        }
        return names;
    };
    const auto clickHeader = [&](int section) {
        QTest::mouseClick(List().header()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(List().header()->sectionViewportPosition(section) + 5, 5));
    };
    EXPECT_TRUE(WaitUntil([&] {
        return shown() == QStringList{"Anfang.ts", "Folge 1.ts", "folge 2.ts", "Folge 10.ts"};
    })) << shown().join(", ").toStdString();
    clickHeader(2);
    EXPECT_EQ(shown(), (QStringList{"Folge 1.ts", "Folge 10.ts", "Anfang.ts", "folge 2.ts"}));
    EXPECT_TRUE(List().header()->isSortIndicatorShown());
    clickHeader(2);
    EXPECT_EQ(shown(), (QStringList{"folge 2.ts", "Anfang.ts", "Folge 10.ts", "Folge 1.ts"}));
    clickHeader(1);
    clickHeader(1);  // the other size column: the same order
    EXPECT_EQ(shown(), (QStringList{"folge 2.ts", "Anfang.ts", "Folge 10.ts", "Folge 1.ts"}));
    clickHeader(3);
    EXPECT_EQ(shown(), (QStringList{"Anfang.ts", "folge 2.ts", "Folge 10.ts", "Folge 1.ts"}));

    // A row clicked is the dialog's row of its file; a size that comes moves it.
    m_window.ClickRow(1);
    ASSERT_EQ(frontend.SelectedListRows().size(), 1u);
    EXPECT_EQ(frontend.ListRowData(frontend.SelectedListRow())->m_fileSize, 10'000'000'000u);
    clickHeader(2);
    items[2].m_sizePending = false;
    items[2].m_fileSize = 50;
    frontend.SetListItemText(rowOf("Folge 1.ts"), 2, "50");
    EXPECT_TRUE(WaitUntil([&] {
        return shown() == QStringList{"Folge 10.ts", "Folge 1.ts", "Anfang.ts", "folge 2.ts"};
    })) << shown().join(", ").toStdString();
    EXPECT_EQ(List().topLevelItem(1)->text(2), QStringLiteral("50"));
}

TEST_F(QtWindowTest, RowsAlignTheirSizesRightAndCarryTheirItems) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    m_window.Walk({kDisk1, kFat, kRoot, kRecords});
    const auto rows = m_window.Rows();
    ASSERT_EQ(rows.size(), kRecordNames.size());
    EXPECT_EQ(rows[2], (std::vector<QString>{"b.ts", "5.0 GB", "5368709120", ""}));
    QTreeWidgetItem* row = List().topLevelItem(2);
    EXPECT_EQ(row->textAlignment(0) & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_EQ(row->textAlignment(1) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(row->textAlignment(2) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    qt::QtFrontend& frontend = m_window.Frontend();
    EXPECT_EQ(frontend.SelectedListRow(), -1);
    m_window.ClickRow(2);
    EXPECT_EQ(frontend.SelectedListRow(), 2);
    ASSERT_NE(frontend.ListRowData(2), nullptr);
    EXPECT_EQ(frontend.ListRowData(2)->DisplayName(), "b.ts");
    EXPECT_EQ(frontend.ListRowData(2)->m_fileSize, 5ull << 30);

    // Sizes and dates are whole; a name too long for its column is its cell's tip.
    for (int r = 0; r < List().topLevelItemCount(); ++r) {
        for (int c = 1; c < 4; ++c) {
            const QTreeWidgetItem& cell = *List().topLevelItem(r);
            EXPECT_LE(List().CellWidth(cell, c), List().header()->sectionSize(c))
                << cell.text(c).toStdString();
        }
    }
    const std::string longName(200, 'n');
    const int at = frontend.InsertListRow(longName, nullptr);
    const QPoint cell(10, List().visualItemRect(frontend.ListItem(at)).center().y());
    EXPECT_EQ(qt::FolderTree::CutCellText(List(), cell).toStdString(), longName);
    EXPECT_EQ(
        qt::FolderTree::CutCellText(List(), QPoint(10, List().visualItemRect(row).center().y())),
        QString());
}

TEST_F(QtWindowTest, ADoubleClickOnTheListHidesTheStatusLine) {
    m_window.Open({m_dir.File("missing.img")});
    ASSERT_TRUE(Shown(m_window.Window().Status()));
    QTest::mouseDClick(List().viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 40));
    EXPECT_FALSE(Shown(m_window.Window().Status()));
}

// --- Texts and the status line

// The core's texts are UTF-8; a byte that is no part of it shows as U+FFFD.
TEST_F(QtWindowTest, TextsOfTheCoreAreShownAsUtf8) {
    m_window.Open({});
    qt::QtFrontend& frontend = m_window.Frontend();
    frontend.InsertListColumn("Gr\u00F6\u00DFe", ColumnAlignment::Left, 80);
    const TreeItemHandle item =
        frontend.InsertTreeItem(kTreeTop, "\u20AC \u00E9t\u00E9 \U0001F3AC \xE9!", 1, nullptr);
    EXPECT_EQ(frontend.TreeItem(item)->text(0),
              QString::fromUtf8("\u20AC \u00E9t\u00E9 \U0001F3AC \uFFFD!"));
    frontend.InsertListRow("\u65E5\u672C\u8A9E.ts", nullptr);
    EXPECT_EQ(List().topLevelItem(0)->text(0), QString::fromUtf8("\u65E5\u672C\u8A9E.ts"));
    EXPECT_EQ(List().headerItem()->text(4), QString::fromUtf8("Gr\u00F6\u00DFe"));
    frontend.SetStatusText("<b>\u00C4rger</b>");
    EXPECT_EQ(m_window.Window().Status().text(), QString::fromUtf8("<b>\u00C4rger</b>"));
    EXPECT_EQ(m_window.Window().Status().textFormat(), Qt::PlainText);
    frontend.SetCaption("Aufnahmen \u00FC");
    EXPECT_EQ(m_window.Window().windowTitle(), QString::fromUtf8("Aufnahmen \u00FC"));
}

TEST_F(QtWindowTest, AStatusTextLongerThanTwoLinesIsCutAndWhollyInTheToolTip) {
    m_window.Open({});
    qt::QtFrontend& frontend = m_window.Frontend();
    qt::StatusLine& status = m_window.Window().Status();
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text +=
            "/dev/sd" + std::string(1, static_cast<char>('a' + i % 26)) + " (Permission denied) ";
    }
    text += "<end>";
    frontend.SetStatusText(text);
    frontend.ShowControl(res::kStatusLine, true);
    EXPECT_EQ(status.FullText().toStdString(), text);
    // Two lines, broken between words, the second cut.
    const QStringList lines = status.text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(QString::fromStdString(text).startsWith(lines[0])) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QChar(0x2026))) << lines[1].toStdString();
    for (const QString& line : lines) {
        EXPECT_LE(status.fontMetrics().horizontalAdvance(line), status.contentsRect().width());
    }
    EXPECT_TRUE(status.toolTip().contains(QStringLiteral("&lt;end&gt;")));
    EXPECT_TRUE(status.toolTip().contains(QStringLiteral("/dev/sdn (Permission denied)")));

    frontend.SetStatusText("short");
    EXPECT_EQ(status.text(), QStringLiteral("short"));
    EXPECT_TRUE(status.toolTip().contains(QStringLiteral("short")));
    // A line break of a message is a space: the lines are the label's.
    frontend.SetStatusText("one\ntwo");
    EXPECT_EQ(status.text(), QStringLiteral("one two"));
}

TEST_F(QtWindowTest, ControlsAreShownAndEnabledByTheirIds) {
    m_window.Open({});
    qt::QtFrontend& frontend = m_window.Frontend();
    qt::MainWindow& window = m_window.Window();
    frontend.ShowControl(res::kProgressBar, true);
    EXPECT_TRUE(Shown(window.Progress()));
    frontend.SetProgressRange(0, 50);
    frontend.SetProgressPosition(20);
    EXPECT_EQ(window.Progress().value(), 20);
    frontend.SetProgressPosition(70);  // past the end: shown full
    EXPECT_EQ(window.Progress().value(), 50);
    frontend.SetProgressPosition(-5);
    EXPECT_EQ(window.Progress().value(), 0);
    frontend.EnableControl(res::kFolderTree, false);
    frontend.EnableControl(res::kFileList, false);
    EXPECT_FALSE(Tree().isEnabled());
    EXPECT_FALSE(List().isEnabled());
    frontend.EnableControl(res::kFolderTree, true);
    EXPECT_TRUE(Tree().isEnabled());
    frontend.ShowControl(res::kCopyFileButton, false);
    EXPECT_FALSE(Shown(window.CopyButton()));
    frontend.ShowControl(12345, true);  // no such control: nothing happens
}

// Every step of the bar is drawn, at the next dispatch of the queue (Qt itself
// repaints a bar only when it grows by a chunk, a few steps at a time).
TEST_F(QtWindowTest, EveryStepOfTheBarIsPainted) {
    m_window.Open({});
    qt::QtFrontend& frontend = m_window.Frontend();
    QProgressBar& bar = m_window.Window().Progress();
    frontend.ShowControl(res::kProgressBar, true);
    ASSERT_TRUE(WaitUntil([&] { return bar.isVisible(); }));
    QCoreApplication::processEvents();
    struct Counter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            paints += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    bar.installEventFilter(&counter);
    frontend.SetPumpSlice(0);
    for (int position = 1; position <= 10; ++position) {
        const int before = counter.paints;
        frontend.SetProgressPosition(position);
        frontend.PumpMessages();
        EXPECT_GT(counter.paints, before) << position;
    }
    // The same position again draws nothing.
    const int before = counter.paints;
    frontend.SetProgressPosition(10);
    frontend.PumpMessages();
    EXPECT_EQ(counter.paints, before);
    bar.removeEventFilter(&counter);
}

// --- Closing

// A desktop's main window: Escape (also one that dismisses the menu) leaves it
// open; Ctrl+W and Ctrl+Q end it as the close box does.
TEST_F(QtWindowTest, EscapeLeavesTheWindowOpenAndCtrlWOrCtrlQCloseIt) {
    for (const Qt::Key key : {Qt::Key_W, Qt::Key_Q}) {
        WindowFixture window;
        window.Open({});
        window.Window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window.Window()));
        qt::FolderTree& tree = window.Window().Tree();
        tree.setFocus();
        ModalAnswer<QMenu> menu([](QMenu& shown) { QTest::keyClick(&shown, Qt::Key_Escape); });
        QTest::keyClick(&tree, Qt::Key_F10, Qt::ShiftModifier);
        ASSERT_TRUE(menu.Answered());
        QTest::keyClick(&tree, Qt::Key_Escape);
        QTest::keyClick(&window.Window().CopyButton(), Qt::Key_Escape);
        EXPECT_FALSE(window.Frontend().IsClosed());
        EXPECT_TRUE(window.Window().isVisible());
        // The window's shortcuts work once it is active again after the menu.
        window.Window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window.Window()));
        QTest::keyClick(&tree, key, Qt::ControlModifier);
        EXPECT_TRUE(window.Frontend().IsClosed()) << key;
        EXPECT_FALSE(window.Window().isVisible());
    }
}

// Enter never ends the window: on a tree item it opens or closes the item, on
// the list and on the focused Copy File button it is Copy File, which waits for
// a selection (no box asks for one).
TEST_F(QtWindowTest, EnterActsOnWhatHasTheFocusAndNeverCloses) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    QTreeWidgetItem* disk = m_window.Item({"Hard Disk 1"});
    Tree().setCurrentItem(disk);
    Tree().setFocus();
    QTest::keyClick(&Tree(), Qt::Key_Return);
    EXPECT_TRUE(disk->isExpanded());
    EXPECT_EQ(m_window.Children(disk), (std::vector<QString>{"32-Bit FAT Disk", "Unknown"}));
    QTest::keyClick(&Tree(), Qt::Key_Enter);
    EXPECT_FALSE(disk->isExpanded());
    for (QWidget* focus : {static_cast<QWidget*>(&m_window.Window().List()),
                           static_cast<QWidget*>(&m_window.Window().CopyButton())}) {
        QString said;
        ModalAnswer<QMessageBox> box([&](QMessageBox& shown) {
            said = shown.text();
            shown.accept();
        });
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Return);
        EXPECT_EQ(said, QString()) << focus->objectName().toStdString();
        EXPECT_FALSE(m_window.Window().CopyButton().isEnabled());
    }
    EXPECT_FALSE(m_window.Frontend().IsClosed());
    EXPECT_TRUE(m_window.Window().isVisible());
}

TEST(QtRunTest, RunMainDialogShowsTheWindowAndReturnsWhenTheCloseBoxIsClicked) {
    qt::QtFrontend frontend;
    MainDialog dialog(frontend, DriveAccessOptions{});
    qt::MainWindow& window = frontend.Window();
    bool shownWithCaption = false;
    QTimer::singleShot(50, &window, [&] {
        shownWithCaption =
            window.isVisible() && window.windowTitle() == "Veltrano Harddisk Recorder Utility";
        window.close();
    });
    frontend.RunMainDialog(dialog);
    EXPECT_TRUE(shownWithCaption);
    EXPECT_TRUE(frontend.IsClosed());
    EXPECT_FALSE(window.isVisible());
}

// The keyboard as in a file manager: Tab into the list selects its first row
// (Copy File waits for one), Shift+F10 opens the menu at it with Copy File and
// Preview first, each entry with a key of its own, and Space opens its preview.
TEST_F(QtWindowTest, TabIntoTheListSelectsARowWhoseMenuAndPreviewTheKeysOpen) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    m_window.Walk({kDisk1, kFat, kRoot, kRecords});
    QPushButton& copy = m_window.Window().CopyButton();
    EXPECT_FALSE(copy.isEnabled());
    Tree().setFocus();
    QTest::keyClick(&Tree(), Qt::Key_Tab);
    ASSERT_TRUE(List().hasFocus());
    ASSERT_EQ(List().selectedItems().size(), 1);
    EXPECT_EQ(List().selectedItems()[0], List().topLevelItem(0));
    EXPECT_TRUE(copy.isEnabled());

    QStringList entries;
    QPoint menuAt;
    ModalAnswer<QMenu> menu([&](QMenu& shown) {
        menuAt = shown.pos();
        for (const QAction* action : shown.actions()) {
            entries << action->text();
        }
        shown.close();
    });
    QTest::keyClick(&List(), Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(menu.Answered());
    const QRect row = List().visualItemRect(List().topLevelItem(0));
    const QRect rowOnScreen(List().viewport()->mapToGlobal(row.topLeft()), row.size());
    EXPECT_LE(std::abs(menuAt.y() - rowOnScreen.bottom()), row.height()) << menuAt.y();
    EXPECT_TRUE(rowOnScreen.adjusted(0, -row.height(), 0, row.height()).contains(menuAt));
    ASSERT_GE(entries.size(), 2);
    EXPECT_EQ(entries.mid(0, 2), (QStringList{"&Copy File...", "&Preview..."}));
    QSet<QChar> keys;
    for (const QString& entry : entries) {
        if (entry.isEmpty()) {
            continue;  // a separator
        }
        const qsizetype mark = entry.indexOf(QLatin1Char('&'));
        ASSERT_TRUE(mark >= 0 && mark + 1 < entry.size()) << entry.toStdString();
        EXPECT_TRUE(!keys.contains(entry[mark + 1].toLower())) << entry.toStdString();
        keys.insert(entry[mark + 1].toLower());
    }

    QTest::keyClick(&List(), Qt::Key_Space);
    QList<qt::PreviewWindow*> previews;
    EXPECT_TRUE(WaitUntil([&] {
        previews = m_window.Window().findChildren<qt::PreviewWindow*>();
        return previews.size() == 1;
    }));
    ASSERT_EQ(previews.size(), 1);
    EXPECT_EQ(previews[0]->windowTitle(), QStringLiteral("A.ts - Preview"));
    previews[0]->close();
}

// --- The context menu, the About box, Open Disk Image, dropped files

// Opens the window's context menu over a point of a widget and clicks the
// command with that text.
void ChooseFromContextMenu(QWidget& widget, const QPoint& at, const QString& command,
                           QStringList* offered = nullptr) {
    ModalAnswer<QMenu> choose([&](QMenu& menu) {
        for (QAction* action : menu.actions()) {
            if (offered != nullptr) {
                offered->push_back(action->text());
            }
        }
        for (QAction* action : menu.actions()) {
            if (action->text() == command) {
                QTest::mouseClick(&menu, Qt::LeftButton, Qt::NoModifier,
                                  menu.actionGeometry(action).center());
                return;
            }
        }
        ADD_FAILURE() << "no command " << command.toStdString();
        menu.close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget.mapToGlobal(at));
    QApplication::sendEvent(&widget, &event);
    EXPECT_TRUE(choose.Answered());
}

TEST_F(QtWindowTest, TheContextMenuOfTheTreeOpensTheAboutBoxWhichOkCloses) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    QStringList offered;
    QString caption;
    std::vector<QString> texts;
    bool okIsDefault = false;
    bool iconShown = false;
    ModalAnswer<QDialog> about([&](QDialog& box) {
        caption = box.windowTitle();
        for (QLabel* label : box.findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) {
                texts.push_back(label->text());
            }
            iconShown = iconShown || !label->pixmap().isNull();
        }
        QPushButton* ok = box.findChild<QPushButton*>();
        ASSERT_NE(ok, nullptr);
        okIsDefault = ok->isDefault();
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    // On the empty part of the tree.
    ChooseFromContextMenu(*Tree().viewport(),
                          Tree().viewport()->rect().bottomLeft() + QPoint(20, -20),
                          QStringLiteral("&About Moravel..."), &offered);
    EXPECT_EQ(offered,
              (QStringList{"&Copy File...", "&Preview...", "&Rescue Copy...", "Copy &Folder...", "",
                           "&Open Disk Image...", "R&efresh", "", "&About Moravel..."}));
    ASSERT_TRUE(about.Answered());
    EXPECT_EQ(caption, QStringLiteral("About Moravel"));
    // The layout's texts, then the licence, the home page and the libraries.
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], QStringLiteral("Moravel Version 1.0.3"));
    EXPECT_EQ(texts[1], QStringLiteral("Created for Veltrano Harddisk recorders."));
    const QStringList details = texts[2].split(QLatin1Char('\n'));
    EXPECT_EQ(details.mid(0, 2), (QStringList{"Licence: MIT", "Home page: https://moravel.org/"}));
    const QString version = QStringLiteral("\\d+\\.\\d+\\.\\d+");
    const QStringList libraries = details.mid(3);
    const QStringList patterns = {
        QStringLiteral("Libraries used:"),
        QStringLiteral("Qt %1 \\(LGPL-3\\.0\\)").arg(QRegularExpression::escape(qVersion())),
        QStringLiteral("FFmpeg: libavformat V, libavcodec V, libswscale V, libavutil V "
                       "\\(LGPL-2\\.1\\+\\)"),
        QStringLiteral("libfuse V \\(LGPL-2\\.1\\)"),
        QStringLiteral("libblkid V \\(LGPL-2\\.1\\+\\)")};
    ASSERT_EQ(libraries.size(), patterns.size());
    for (qsizetype i = 0; i < patterns.size(); ++i) {
        QString pattern = patterns[i];
        const QRegularExpression line(QStringLiteral("^") + pattern.replace("V", version) + "$");
        EXPECT_TRUE(line.match(libraries[i]).hasMatch()) << libraries[i].toStdString();
    }
    EXPECT_TRUE(okIsDefault);
    EXPECT_TRUE(iconShown);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(m_window.Window().isVisible());
}

TEST_F(QtWindowTest, TheAboutBoxEndsWithEscapeToo) {
    m_window.Open({});
    ModalAnswer<QDialog> about([](QDialog& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    m_window.Frontend().UserCommand(res::kAboutCommand);
    EXPECT_TRUE(about.Answered());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(QtWindowTest, TheWindowsCommandsHaveShortcuts) {
    m_window.Open({});
    std::map<QString, QKeySequence> shortcuts;
    for (const QAction* action : m_window.Window().Commands()) {
        shortcuts[action->text()] = action->shortcut();
    }
    EXPECT_EQ(shortcuts[QStringLiteral("&Open Disk Image...")], QKeySequence(QKeySequence::Open));
    EXPECT_EQ(shortcuts[QStringLiteral("&About Moravel...")],
              QKeySequence(QKeySequence::HelpContents));
    EXPECT_EQ(shortcuts[QStringLiteral("R&efresh")], QKeySequence(Qt::Key_F5));
}

// Shift+F10 opens the window's menu, as the Menu key does.
TEST_F(QtWindowTest, ShiftF10OpensTheMenu) {
    m_window.Open({});
    QStringList offered;
    ModalAnswer<QMenu> menu([&](QMenu& shown) {
        for (const QAction* action : shown.actions()) {
            offered << action->text();
        }
        shown.close();
    });
    Tree().setFocus();
    QTest::keyClick(&Tree(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(menu.Answered());
    EXPECT_TRUE(offered.contains(QStringLiteral("R&efresh")));
}

// The Menu button shows the commands; Rescue Copy and Copy Folder can be
// chosen only when there is a file, or a folder, to copy.
TEST_F(QtWindowTest, TheMenuButtonOffersTheCommandsThatCanActNow) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    const auto enabled = [&] {
        std::map<QString, bool> states;
        ModalAnswer<QMenu> menu([&](QMenu& shown) {
            for (const QAction* action : shown.actions()) {
                states[action->text()] = action->isEnabled();
            }
            shown.close();
        });
        QTest::mouseClick(&m_window.Window().MenuButton(), Qt::LeftButton);
        EXPECT_TRUE(menu.Answered());
        return states;
    };
    auto states = enabled();
    EXPECT_EQ(states.size(), 8u);  // with the separators' empty text
    EXPECT_FALSE(states["&Copy File..."]);
    EXPECT_FALSE(states["&Rescue Copy..."]);
    EXPECT_FALSE(states["&Preview..."]);
    EXPECT_FALSE(states["Copy &Folder..."]);
    EXPECT_TRUE(states["R&efresh"]);
    m_window.Walk({kDisk1, kFat, kRoot, kRecords});
    m_window.ClickRow(0);
    states = enabled();
    EXPECT_TRUE(states["&Copy File..."]);
    EXPECT_TRUE(states["&Rescue Copy..."]);
    EXPECT_TRUE(states["&Preview..."]);
    EXPECT_TRUE(states["Copy &Folder..."]);
}

// Ctrl-clicked rows go into the folder chosen in the folder dialog.
TEST_F(QtWindowTest, CtrlClickedRowsAreCopiedIntoTheChosenFolder) {
    m_window.Open({MakeRecorderDisk(m_dir)});
    m_window.Walk({kDisk1, kFat, kRoot, kRecords});
    const auto rowOf = [&](const QString& name) {
        const auto names = m_window.RowNames();
        return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
    };
    m_window.ClickRow(rowOf("A.ts"));
    QTreeWidgetItem* other = List().topLevelItem(rowOf("c.ts"));
    QTest::mouseClick(List().viewport(), Qt::LeftButton, Qt::ControlModifier,
                      List().visualItemRect(other).center());
    ASSERT_EQ(List().selectedItems().size(), 2);
    const QString folder = QString::fromStdString(m_dir.File("out"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    ModalAnswer<QFileDialog> choose([&](QFileDialog& dialog) {
        mode = dialog.fileMode();
        dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(folder);
        static_cast<QDialog&>(dialog).accept();
    });
    QTest::mouseClick(&m_window.Window().CopyButton(), Qt::LeftButton);
    ASSERT_TRUE(choose.Answered());
    EXPECT_EQ(mode, QFileDialog::Directory);
    EXPECT_EQ(std::filesystem::file_size(m_dir.File("out/A.ts")), 1280u);
    EXPECT_EQ(std::filesystem::file_size(m_dir.File("out/c.ts")), 0u);
    EXPECT_EQ(m_window.Window().Status().FullText(),
              QStringLiteral("Copied 2 of 2 files. The copies are in ") + folder + ".");
}

// Answers the Open Disk Image dialog with the files, typed into its name field.
void AnswerOpenDialog(QFileDialog& dialog, const QStringList& files) {
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog.nameFilters(),
              (QStringList{"Disk images (*.img *.ima *.bin *.raw *.dd *.iso)", "All files (*)"}));
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    QStringList quoted;
    for (const QString& file : files) {
        quoted.push_back(QLatin1Char('"') + file + QLatin1Char('"'));
    }
    dialog.setDirectory(QFileInfo(files.front()).absolutePath());
    name->setText(files.size() == 1 ? QFileInfo(files.front()).fileName() : quoted.join(' '));
    static_cast<QDialog&>(dialog).accept();  // Open, as the button does
}

TEST_F(QtWindowTest, AnImageOpenedFromTheContextMenuBecomesADiskToBrowse) {
    const std::string first = MakeRecorderDisk(m_dir);
    m_window.Open({first});
    TempDir other;
    const std::string image = MakeRecorderDisk(other, "second.img");
    ModalAnswer<QFileDialog> open(
        [&](QFileDialog& dialog) { AnswerOpenDialog(dialog, {QString::fromStdString(image)}); });
    ChooseFromContextMenu(m_window.Window(), QPoint(10, m_window.Window().height() - 5),
                          QStringLiteral("&Open Disk Image..."));
    ASSERT_TRUE(open.Answered());
    EXPECT_EQ(m_window.DiskNames(), (std::vector<QString>{kDisk1, kDisk2}));
    m_window.Walk({kDisk2, kFat, kRoot, kRecords});
    EXPECT_EQ(m_window.RowNames(), kRecordNames);
    const auto sources = m_window.Dialog().Drives().SourcePaths();
    EXPECT_NE(std::find(sources.begin(), sources.end(), image), sources.end());

    // Cancel adds nothing.
    ModalAnswer<QFileDialog> cancel([](QFileDialog& dialog) { dialog.reject(); });
    m_window.Frontend().UserCommand(res::kOpenImageCommand);
    EXPECT_TRUE(cancel.Answered());
    EXPECT_EQ(m_window.Children(nullptr).size(), 2u);
}

TEST_F(QtWindowTest, DroppedFilesBecomeDisks) {
    m_window.Open({});
    const std::string image = MakeRecorderDisk(m_dir);
    qt::MainWindow& window = m_window.Window();

    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("https://example.org/disk.img"))});
    QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, &remote, Qt::LeftButton,
                            Qt::NoModifier);
    refused.setAccepted(false);
    QApplication::sendEvent(&window, &refused);
    EXPECT_FALSE(refused.isAccepted());

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(image))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    EXPECT_EQ(m_window.DiskNames(), (std::vector<QString>{kDisk1}));
    m_window.Walk({kDisk1, kFat, kRoot});
    EXPECT_EQ(m_window.RowNames(), (std::vector<QString>{"README.TXT"}));
}

// --- Message boxes

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format = Qt::AutoText;
};

TEST_F(QtWindowTest, MessageBoxesHaveTheirTextCaptionButtonsAndIcon) {
    m_window.Open({});
    qt::QtFrontend& frontend = m_window.Frontend();
    SeenBox seen;
    const auto record = [&seen](QMessageBox& box) {
        seen = {box.windowTitle(), box.text(), box.icon(), box.standardButtons(), box.textFormat()};
    };

    ModalAnswer<QMessageBox> cancel([&](QMessageBox& box) {
        record(box);
        QTest::mouseClick(box.button(QMessageBox::Cancel), Qt::LeftButton);
    });
    EXPECT_EQ(frontend.ShowMessage("The file will be copied in <multiple> parts.\nM\u00FCde",
                                   "moravel", MessageButtons::OkCancel, MessageIcon::Exclamation),
              MessageAnswer::Cancel);
    EXPECT_EQ(seen.title, QStringLiteral("moravel"));
    EXPECT_EQ(seen.text,
              QString::fromUtf8("The file will be copied in <multiple> parts.\nM\u00FCde"));
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(seen.format, Qt::PlainText);

    ModalAnswer<QMessageBox> ok([&](QMessageBox& box) {
        record(box);
        QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton);
    });
    EXPECT_EQ(frontend.ShowMessage("x", "t", MessageButtons::OkCancel, MessageIcon::Hand),
              MessageAnswer::Ok);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);

    ModalAnswer<QMessageBox> escape([&](QMessageBox& box) {
        record(box);
        QTest::keyClick(&box, Qt::Key_Escape);
    });
    EXPECT_EQ(frontend.ShowMessage("y", "", MessageButtons::Ok, MessageIcon::None),
              MessageAnswer::Ok);
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Without a caption of its own, a box carries the window's.
    EXPECT_EQ(seen.title, QStringLiteral("Veltrano Harddisk Recorder Utility"));

    // A question's buttons say what they do; Escape answers with the last.
    QStringList verbs;
    ModalAnswer<QMessageBox> skip([&](QMessageBox& box) {
        QAbstractButton* skipButton = nullptr;
        for (QAbstractButton* button : box.buttons()) {
            verbs.append(button->text() + (button == box.defaultButton() ? "*" : ""));
            skipButton = button->text() == QStringLiteral("Skip") ? button : skipButton;
        }
        QTest::mouseClick(skipButton, Qt::LeftButton);
    });
    const std::vector<std::string> three{"Replace", "Skip", "Cancel"};
    EXPECT_EQ(frontend.Ask("z", three, MessageIcon::Exclamation), 1u);
    verbs.sort();
    EXPECT_EQ(verbs, (QStringList{"Cancel", "Replace*", "Skip"}));
    ModalAnswer<QMessageBox> leave([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_EQ(frontend.Ask("z", three, MessageIcon::Exclamation), 2u);
}

TEST_F(QtWindowTest, AFailureOfTheWindowsOwnCodeBecomesAMessageBox) {
    m_window.Open({});
    QString text;
    ModalAnswer<QMessageBox> box([&](QMessageBox& shown) {
        text = shown.text();
        shown.accept();
    });
    EXPECT_NO_THROW(m_window.Frontend().UserExpand(4711));  // no such item
    EXPECT_TRUE(box.Answered());
    EXPECT_EQ(text, QStringLiteral("This could not be done: no tree item 4711"));
    EXPECT_TRUE(m_window.Window().isVisible());
}

// --- The pump

TEST_F(QtWindowTest, ThePumpDispatchesOnlyOnceItsSliceHasPassed) {
    m_window.Open({});
    qt::QtFrontend& frontend = m_window.Frontend();
    bool delivered = false;
    QTimer::singleShot(0, &m_window.Window(), [&] { delivered = true; });
    frontend.SetPumpSlice(1'000'000'000'000);  // far longer than the case runs
    const std::uint64_t pumps = frontend.EventPumps();
    for (int i = 0; i < 1000; ++i) {
        frontend.PumpMessages();
    }
    EXPECT_FALSE(delivered);
    EXPECT_EQ(frontend.EventPumps(), pumps);
    frontend.SetPumpSlice(0);
    frontend.PumpMessages();
    EXPECT_TRUE(delivered);
    EXPECT_EQ(frontend.EventPumps(), pumps + 1);
    EXPECT_GE(frontend.PumpSteps(), 1001u);
}

TEST_F(QtWindowTest, ScanProgressNoticesWaitOneAtATime) {
    m_window.Open({});
    qt::QtFrontend& frontend = m_window.Frontend();
    frontend.SetPumpSlice(0);
    frontend.PumpMessages();
    const std::uint64_t before = frontend.ScanProgressNotices();
    for (int i = 0; i < 50; ++i) {
        frontend.PostScanProgress();
    }
    frontend.PumpMessages();
    EXPECT_EQ(frontend.ScanProgressNotices(), before + 1);
    frontend.PumpMessages();
    EXPECT_EQ(frontend.ScanProgressNotices(), before + 1);
    frontend.PostScanProgress();
    frontend.PumpMessages();
    EXPECT_EQ(frontend.ScanProgressNotices(), before + 2);
}

TEST_F(QtWindowTest, TheBarShowsAScansProgressWhileItRuns) {
    m_window.Open({MakeRecorderDisk(m_dir, "disk.img", 600)});
    m_window.ClickButton(m_window.Walk({kDisk1, kFat, kRoot}));
    qt::QtFrontend& frontend = m_window.Frontend();
    frontend.SetPumpSlice(0);
    std::vector<int> positions;
    bool barShown = true;
    QTimer sample;
    sample.setInterval(0);
    QObject::connect(&sample, &QTimer::timeout, [&] {
        if (m_window.Window().Status().FullText().startsWith(QStringLiteral("Scanning"))) {
            positions.push_back(m_window.Window().Progress().value());
            barShown = barShown && Shown(m_window.Window().Progress()) &&
                       Shown(m_window.Window().Status());
        }
    });
    sample.start();
    m_window.Click(Item({kDisk1, kFat, kRoot, kMany}));
    sample.stop();
    ASSERT_GT(positions.size(), 100u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_GT(positions.back(), 50);
    EXPECT_TRUE(barShown);
    EXPECT_FALSE(Shown(m_window.Window().Progress()));
    EXPECT_FALSE(Shown(m_window.Window().Status()));
    EXPECT_EQ(m_window.Rows().size(), 600u);
    EXPECT_GT(frontend.ScanProgressNotices(), 100u);
}

// --- What it looks like

TEST_F(QtWindowTest, AScreenshotOfTheSampleDiskShowsTheWindowDrawn) {
    const std::string sample = m_dir.File("sample.img");
    ASSERT_EQ(
        QProcess::execute(QStringLiteral(MORAVEL_SAMPLE_MAKER), {QString::fromStdString(sample)}),
        0);
    m_window.Open({sample});
    // The disk's node tells its image and size; the volume's its label from
    // the boot sector, as it is opened.
    EXPECT_EQ(m_window.Item({kDisk1})->text(0),
              QString::fromUtf8("Hard Disk 1 \u2014 sample.img, 40.1 GB"));
    m_window.Walk({kDisk1, QStringLiteral("16-Bit FAT Disk")});
    EXPECT_EQ(m_window.Item({kDisk1, QStringLiteral("16-Bit FAT Disk")})->text(0),
              QString::fromUtf8("16-Bit FAT Disk \u2014 SETTINGS"));
    QTreeWidgetItem* records = m_window.Walk({kDisk1, kFat, kRoot, kRecords});
    ASSERT_EQ(Tree().currentItem(), records);
    ASSERT_FALSE(m_window.Rows().empty());
    m_window.ClickRow(0);

    const QImage shot = m_window.Window().grab().toImage();
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(MORAVEL_TEST_OUTPUT)));
    const QString path = QStringLiteral(MORAVEL_TEST_OUTPUT "/moravel-window.png");
    EXPECT_TRUE(shot.save(path));
    std::cout << "screenshot: " << path.toStdString() << "\n";

    // Not blank: many colours (text is smoothed), none of them almost everywhere.
    std::map<QRgb, int> colours;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            ++colours[shot.pixel(x, y)];
        }
    }
    int most = 0;
    for (const auto& [colour, count] : colours) {
        most = std::max(most, count);
    }
    EXPECT_GT(colours.size(), 30u);
    EXPECT_LT(most, shot.width() * shot.height() * 9 / 10);
    // Dark pixels (text, lines) inside the tree's and the list's rectangles.
    const auto dark = [&shot](const QRect& area) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                count += qGray(shot.pixel(x, y)) < 96 ? 1 : 0;
            }
        }
        return count;
    };
    const qreal ratio = shot.devicePixelRatio();
    const auto scaled = [ratio](const QRect& r) {
        return QRect((r.topLeft().toPointF() * ratio).toPoint(), r.size() * ratio);
    };
    EXPECT_GT(dark(scaled(m_window.Place(Tree()))), 100);
    EXPECT_GT(dark(scaled(m_window.Place(List()))), 100);
}

}  // namespace
}  // namespace moravel::testing
