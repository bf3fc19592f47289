// The window on the machine's disks follows udisks2: run by the qt_udisks_window
// test inside tests/udisks/udisks-session.sh, as root (it attaches and detaches
// loop devices); skipped elsewhere.

#include <gtest/gtest.h>

#include <QTest>
#include <QTreeWidgetItem>
#include <cstdlib>
#include <string>

#include "QtTestSupport.h"
#include "support/Tools.h"

namespace moravel::testing {
namespace {

// What a command printed, without its last newline.
std::string Output(const std::string& command) {
    int status = 0;
    std::string text = RunCommand(command, status);
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

TEST(UdisksWindowTest, TheTreeFollowsALoopDeviceAttachedAndDetached) {
    const char* first = std::getenv("MORAVEL_TEST_LOOP");
    if (first == nullptr) {
        GTEST_SKIP() << "runs inside a udisks test session only";
    }
    TempDir dir;
    const std::string image = MakeRecorderDisk(dir);
    WindowFixture window;
    window.OpenOnMachineDisks();
    ASSERT_EQ(window.Children(nullptr).size(), 1u);
    // A loop device names no model: its node shows its size.
    EXPECT_TRUE(window.Children(nullptr)[0].startsWith(QString::fromUtf8("Hard Disk 1 \u2014 ")));
    EXPECT_TRUE(window.Item({"Hard Disk 1"})->toolTip(0).endsWith(QString(", ") + first));

    const std::string second = Output("loop-add " + image);
    ASSERT_EQ(second.rfind("/dev/loop", 0), 0u) << second;
    ASSERT_TRUE(WaitUntil([&] { return window.Children(nullptr).size() == 2; }));
    EXPECT_TRUE(window.Item({"Hard Disk 2"})
                    ->toolTip(0)
                    .endsWith(QString::fromStdString(", loop, " + second)));
    window.Walk({"Hard Disk 2", "32-Bit FAT Disk", "Root Directory", "RECORDS"});
    EXPECT_FALSE(window.RowNames().empty());

    // A loop device detached goes once nobody holds it open: F5 lets go of it,
    // and udisks2 then reports it gone.
    ASSERT_EQ(std::system(("losetup -d " + second).c_str()), 0);
    QTest::keyClick(&window.Window(), Qt::Key_F5);
    EXPECT_TRUE(WaitUntil([&] { return window.Children(nullptr).size() == 1; }));
    EXPECT_TRUE(window.Item({"Hard Disk 1"})->toolTip(0).endsWith(QString(", ") + first));
}

}  // namespace
}  // namespace moravel::testing
