// Handlers that run inside a scan's pump step in the window: selections of
// other folders and of the folder being scanned, and closing the window.

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <set>

#include "QtTestSupport.h"
#include "ui/qt/Controls.h"

namespace moravel::testing {
namespace {

const QString kDisk1 = QStringLiteral("Hard Disk 1");
const QString kFat = QStringLiteral("32-Bit FAT Disk");
const QString kRoot = QStringLiteral("Root Directory");
const QString kRecords = QStringLiteral("RECORDS");
const QString kMany = QStringLiteral("MANY");
constexpr int kRecordings = 2000;

// Every item below an item, by text, each as often as it is there.
std::multiset<QString> Subtree(const QTreeWidgetItem* item) {
    std::multiset<QString> texts;
    for (int i = 0; i < item->childCount(); ++i) {
        texts.insert(item->child(i)->text(0));
        const auto below = Subtree(item->child(i));
        texts.insert(below.begin(), below.end());
    }
    return texts;
}

class QtReentrancyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window.Open({MakeRecorderDisk(m_dir, "disk.img", kRecordings)});
        QTreeWidgetItem* root = m_window.Walk({kDisk1, kFat, kRoot});
        m_window.ClickButton(root);
        m_many = m_window.Item({kDisk1, kFat, kRoot, kMany});
        m_records = m_window.Item({kDisk1, kFat, kRoot, kRecords});
        ASSERT_NE(m_many, nullptr);
        ASSERT_NE(m_records, nullptr);
        // Every pump step dispatches: the nested clicks come at known steps.
        m_window.Frontend().SetPumpSlice(0);
    }

    TempDir m_dir;
    WindowFixture m_window;
    QTreeWidgetItem* m_many = nullptr;
    QTreeWidgetItem* m_records = nullptr;
};

// Away from the scanning folder and back to it, both clicks inside its scan:
// every sub-folder reaches the tree once, and the list shows its files once.
TEST_F(QtReentrancyTest, TheScanningFolderClickedAgainDuringItsScanGetsEverythingOnce) {
    qt::QtFrontend& frontend = m_window.Frontend();
    bool outerRunning = false;
    int step = 0;
    std::vector<bool> insideTheScan;
    std::vector<QString> rowsAfterRecords;
    QTimer user;
    user.setInterval(0);
    QObject::connect(&user, &QTimer::timeout, [&] {
        const std::uint64_t pumps = frontend.PumpSteps();
        if (step == 0 && pumps > 300) {
            step = 1;
            insideTheScan.push_back(outerRunning);
            m_window.Click(m_records);
            rowsAfterRecords = m_window.RowNames();
        } else if (step == 1 && pumps > 700) {
            step = 2;
            insideTheScan.push_back(outerRunning);
            m_window.Click(m_many);
            user.stop();
        }
    });
    const std::uint64_t pumpsBefore = frontend.PumpSteps();
    user.start();
    outerRunning = true;
    m_window.Click(m_many);
    outerRunning = false;
    user.stop();

    ASSERT_EQ(insideTheScan, (std::vector<bool>{true, true}));
    EXPECT_EQ(rowsAfterRecords.size(), 8u);  // the nested selection got its list
    EXPECT_GT(frontend.PumpSteps() - pumpsBefore, 1000u);
    EXPECT_EQ(m_window.Window().Tree().currentItem(), m_many);
    EXPECT_EQ(m_window.Children(m_many), (std::vector<QString>{"FIRST", "MIDDLE", "LAST"}));
    const std::vector<QString> rows = m_window.RowNames();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRecordings));
    EXPECT_EQ(std::set<QString>(rows.begin(), rows.end()).size(), rows.size());  // none twice
    EXPECT_EQ(rows.front(), QStringLiteral("R10000.TS"));
    EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end()));
    EXPECT_FALSE(m_window.Window().Status().isVisibleTo(&m_window.Window()));
    EXPECT_FALSE(m_window.Window().Progress().isVisibleTo(&m_window.Window()));

    // The whole tree holds each of MANY's sub-folders once.
    const auto all = Subtree(m_window.Item({kDisk1}));
    for (const char* folder : {"FIRST", "MIDDLE", "LAST"}) {
        EXPECT_EQ(all.count(QString::fromLatin1(folder)), 1u) << folder;
    }

    // Selected once more, the folder lists the same from what was read.
    m_window.Click(m_records);
    m_window.Click(m_many);
    EXPECT_EQ(m_window.RowNames(), rows);
    EXPECT_EQ(m_window.Children(m_many).size(), 3u);
}

// The close box during a scan, in the window's own run: the scan ends at its
// next entry, its handler returns, and then the window's event loop ends.
TEST(QtCloseDuringScanTest, TheScanEndsAtItsNextEntryAndTheWindowsRunEnds) {
    TempDir dir;
    WindowFixture window;
    window.Create({MakeRecorderDisk(dir, "disk.img", kRecordings)});
    qt::QtFrontend& frontend = window.Frontend();
    bool clickReturned = false;
    bool closedInside = false;
    std::uint64_t pumpsAtClose = 0;
    std::uint64_t pumpsAfterClick = 0;
    std::size_t rowsAfterClick = 0;
    QTimer closer;
    closer.setInterval(0);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (pumpsAtClose == 0 && frontend.PumpSteps() > 300) {
            pumpsAtClose = frontend.PumpSteps();
            window.Window().close();
            closedInside = frontend.IsClosed() && !window.Window().isVisible();
        }
    });
    QTimer::singleShot(0, &window.Window(), [&] {
        QTreeWidgetItem* root = window.Walk({kDisk1, kFat, kRoot});
        window.ClickButton(root);
        frontend.SetPumpSlice(0);
        closer.start();
        window.Click(window.Item({kDisk1, kFat, kRoot, kMany}));
        closer.stop();
        clickReturned = true;
        pumpsAfterClick = frontend.PumpSteps();
        rowsAfterClick = window.Rows().size();
    });
    window.Run();

    EXPECT_TRUE(clickReturned);  // the run ended after the scan's handler returned
    ASSERT_GT(pumpsAtClose, 0u);
    EXPECT_TRUE(closedInside);
    EXPECT_EQ(pumpsAfterClick, pumpsAtClose);  // not one entry more
    EXPECT_LT(rowsAfterClick, static_cast<std::size_t>(kRecordings));
    EXPECT_TRUE(frontend.IsClosed());
    EXPECT_FALSE(window.Window().isVisible());
}

}  // namespace
}  // namespace moravel::testing
