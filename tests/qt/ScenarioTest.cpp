// One walk through the window, run on the headless front end (the dialog's
// reference) and on the Qt window: both must show the same tree, list, status
// line and progress bar after every step.

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QTest>
#include <algorithm>
#include <optional>

#include "QtTestSupport.h"
#include "Scenario.h"
#include "ui/SourceOptions.h"
#include "ui/headless/HeadlessFrontend.h"
#include "ui/qt/Controls.h"

namespace moravel::testing {
namespace {

DriveAccessOptions OptionsFor(const std::vector<std::string>& hardDisks) {
    SourceOptions sources;
    sources.sources.hardDisks = hardDisks;
    sources.sources.detect = false;
    return AccessOptionsFor(sources);
}

class HeadlessDriver : public WindowDriver {
public:
    void Start(const std::vector<std::string>& hardDisks) override {
        m_dialog.emplace(m_frontend, OptionsFor(hardDisks));
        m_frontend.Attach(&*m_dialog);
        m_dialog->InitializeDialog();
    }
    TreeItemHandle Find(TreeItemHandle parent, const std::string& text) override {
        for (const TreeItemHandle child : m_frontend.Node(parent).children) {
            if (NamedAs(Text(child), text)) {
                return child;
            }
        }
        return kTreeTop;
    }
    void ClickItem(TreeItemHandle item) override { m_frontend.UserSelectTreeItem(item); }
    void ClickButton(TreeItemHandle item) override { m_frontend.UserExpandTreeItem(item); }
    void DoubleClickList() override { m_frontend.UserDoubleClickList(); }
    std::vector<TreeItemHandle> Children(TreeItemHandle item) override {
        return m_frontend.Node(item).children;
    }
    std::string Text(TreeItemHandle item) override { return m_frontend.Node(item).text; }
    bool HasButton(TreeItemHandle item) override {
        const auto& node = m_frontend.Node(item);
        return node.childCount > 0 || !node.children.empty();
    }
    TreeItemHandle Selection() override { return m_frontend.Selection(); }
    std::vector<std::array<std::string, 3>> Rows() override {
        std::vector<std::array<std::string, 3>> rows;
        for (const auto& row : m_frontend.Rows()) {
            rows.push_back({row.texts[0], row.texts[1], row.texts[2]});
        }
        return rows;
    }
    bool StatusShown() override { return m_frontend.IsVisible(res::kStatusLine); }
    std::string StatusText() override { return m_frontend.StatusText(); }
    bool ProgressShown() override { return m_frontend.IsVisible(res::kProgressBar); }

private:
    HeadlessFrontend m_frontend;
    std::optional<MainDialog> m_dialog;
};

// The Qt window, driven with the mouse as a user drives it.
class QtDriver : public WindowDriver {
public:
    void Start(const std::vector<std::string>& hardDisks) override { m_window.Open(hardDisks); }
    TreeItemHandle Find(TreeItemHandle parent, const std::string& text) override {
        for (const TreeItemHandle child : Children(parent)) {
            if (NamedAs(Text(child), text)) {
                return child;
            }
        }
        return kTreeTop;
    }
    void ClickItem(TreeItemHandle item) override { m_window.Click(Item(item)); }
    void ClickButton(TreeItemHandle item) override { m_window.ClickButton(Item(item)); }
    void DoubleClickList() override {
        qt::FileList& list = m_window.Window().List();
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                           list.viewport()->rect().bottomRight() - QPoint(5, 5));
    }
    std::vector<TreeItemHandle> Children(TreeItemHandle item) override {
        std::vector<TreeItemHandle> children;
        QTreeWidget& tree = m_window.Window().Tree();
        QTreeWidgetItem* parent = Item(item);
        const int count = parent == nullptr ? tree.topLevelItemCount() : parent->childCount();
        for (int i = 0; i < count; ++i) {
            children.push_back(m_window.Frontend().HandleOf(parent == nullptr ? tree.topLevelItem(i)
                                                                              : parent->child(i)));
        }
        return children;
    }
    std::string Text(TreeItemHandle item) override { return Item(item)->text(0).toStdString(); }
    bool HasButton(TreeItemHandle item) override {
        const QTreeWidgetItem* treeItem = Item(item);
        return treeItem->childCount() > 0 ||
               treeItem->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
    }
    TreeItemHandle Selection() override {
        return m_window.Frontend().HandleOf(m_window.Window().Tree().currentItem());
    }
    std::vector<std::array<std::string, 3>> Rows() override {
        std::vector<std::array<std::string, 3>> rows;
        for (const auto& row : m_window.Rows()) {
            rows.push_back(
                {row.at(0).toStdString(), row.at(1).toStdString(), row.at(2).toStdString()});
        }
        return rows;
    }
    bool StatusShown() override {
        return m_window.Window().Status().isVisibleTo(&m_window.Window());
    }
    std::string StatusText() override {
        return m_window.Window().Status().FullText().toStdString();
    }
    bool ProgressShown() override {
        return m_window.Window().Progress().isVisibleTo(&m_window.Window());
    }

private:
    QTreeWidgetItem* Item(TreeItemHandle item) { return m_window.Frontend().TreeItem(item); }

    WindowFixture m_window;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(ScenarioTest, TheWindowShowsWhatTheHeadlessFrontEndShowsAfterEveryStep) {
    TempDir dir;
    ScenarioDisks disks{MakeRecorderDisk(dir), MakeLinkingBackDisk(dir), dir.File("missing.img")};
    HeadlessDriver headless;
    const std::vector<std::string> expected = RunScenario(headless, disks);
    QtDriver window;
    const std::vector<std::string> shown = RunScenario(window, disks);

    ASSERT_EQ(shown.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(shown[i], expected[i]) << "step " << i;
    }

    // The walk reached what it was meant to.
    ASSERT_EQ(expected.size(), 17u);
    EXPECT_TRUE(Contains(expected[0], "status shown: " + disks.missing +
                                          " could not be opened: No such file or directory"))
        << expected[0];
    EXPECT_TRUE(Contains(expected[1], "status hidden")) << expected[1];
    const std::string& records = expected[6];
    const std::vector<std::string> order = {"row A.ts | 1.3 KB | 1280",
                                            "row apple.TS |",
                                            "row b.ts | 5.0 GB | 5368709120",
                                            "row c.ts | 0 B | 0",
                                            "row NEWS0518.TS |",
                                            "row zebra.ts |",
                                            "row Überraschung.ts |",
                                            "row €uro Cup.ts | 999 B | 999"};
    std::size_t at = 0;
    for (const std::string& row : order) {
        const std::size_t found = records.find(row, at);
        EXPECT_NE(found, std::string::npos) << row << " in order in\n" << records;
        at = found == std::string::npos ? at : found;
    }
    EXPECT_TRUE(Contains(records, "\n      RECORDS\n")) << records;  // its button is gone
    EXPECT_TRUE(Contains(expected[7], "selection /Hard Disk 1 \xE2\x80\x94 ") &&
                Contains(expected[7], "/32-Bit FAT Disk/Root Directory/NESTED"))
        << expected[7];
    EXPECT_TRUE(Contains(expected[7], "\n        INNER [+]\n")) << expected[7];
    EXPECT_TRUE(Contains(expected[14],
                         "status shown: The boot record of this extended partition "
                         "(sector 2048) was read before"))
        << expected[14];
    EXPECT_TRUE(Contains(expected[15], "status hidden")) << expected[15];
    EXPECT_TRUE(Contains(expected[16], "row README.TXT | 700 B | 700")) << expected[16];
}

}  // namespace
}  // namespace moravel::testing
