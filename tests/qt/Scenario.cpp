#include "Scenario.h"

#include <gtest/gtest.h>

namespace moravel::testing {

namespace {

void DumpTree(WindowDriver& driver, TreeItemHandle item, int depth, std::string& out) {
    for (const TreeItemHandle child : driver.Children(item)) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + driver.Text(child) +
               (driver.HasButton(child) ? " [+]" : "") + "\n";
        DumpTree(driver, child, depth + 1, out);
    }
}

std::string PathOf(WindowDriver& driver, TreeItemHandle item) {
    // The path of the selection: found by walking the tree from the top.
    std::string path;
    std::function<bool(TreeItemHandle, const std::string&)> search =
        [&](TreeItemHandle parent, const std::string& prefix) {
            for (const TreeItemHandle child : driver.Children(parent)) {
                const std::string here = prefix + "/" + driver.Text(child);
                if (child == item) {
                    path = here;
                    return true;
                }
                if (search(child, here)) {
                    return true;
                }
            }
            return false;
        };
    search(kTreeTop, "");
    return item == kTreeTop ? "(none)" : path;
}

std::string Snapshot(WindowDriver& driver, const std::string& step) {
    std::string out = "== " + step + "\nselection " + PathOf(driver, driver.Selection()) + "\n";
    DumpTree(driver, kTreeTop, 0, out);
    for (const auto& row : driver.Rows()) {
        out += "row " + row[0] + " | " + row[1] + " | " + row[2] + "\n";
    }
    out += std::string("status ") + (driver.StatusShown() ? "shown: " : "hidden: ") +
           (driver.StatusShown() ? driver.StatusText() : "") + "\n";
    out += std::string("progress ") + (driver.ProgressShown() ? "shown" : "hidden") + "\n";
    return out;
}

TreeItemHandle At(WindowDriver& driver, std::initializer_list<std::string> path) {
    TreeItemHandle item = kTreeTop;
    for (const std::string& text : path) {
        item = driver.Find(item, text);
        EXPECT_NE(item, kTreeTop) << "no item " << text;
        if (item == kTreeTop) {
            break;
        }
    }
    return item;
}

}  // namespace

std::vector<std::string> RunScenario(WindowDriver& driver, const ScenarioDisks& disks) {
    std::vector<std::string> transcript;
    const auto step = [&](const std::string& name) {
        transcript.push_back(Snapshot(driver, name));
    };
    const std::string disk1 = "Hard Disk 1";
    const std::string disk2 = "Hard Disk 2";
    const std::string fat = "32-Bit FAT Disk";
    const std::string root = "Root Directory";

    driver.Start({disks.recorder, disks.linkingBack, disks.missing});
    step("start");
    driver.DoubleClickList();
    step("double click on the list");
    driver.ClickButton(At(driver, {disk1}));
    step("open disk 1");
    driver.ClickButton(At(driver, {disk1, fat}));
    step("open its FAT32 volume");
    driver.ClickItem(At(driver, {disk1, fat, root}));
    step("select the root");
    driver.ClickButton(At(driver, {disk1, fat, root}));
    step("open the root");
    driver.ClickItem(At(driver, {disk1, fat, root, "RECORDS"}));
    step("select RECORDS");
    driver.ClickButton(At(driver, {disk1, fat, root, "NESTED"}));
    step("open NESTED, never selected");
    driver.ClickItem(At(driver, {disk1, fat, root, "NESTED", "INNER"}));
    step("select INNER");
    driver.ClickItem(At(driver, {disk1, fat, root, "EMPTY"}));
    step("select EMPTY");
    driver.ClickButton(At(driver, {disk1, fat, root, "MANY"}));
    step("open MANY, empty and never selected");
    driver.ClickItem(At(driver, {disk1, "Unknown"}));
    step("select the unknown partition");
    driver.ClickButton(At(driver, {disk2}));
    step("open disk 2");
    driver.ClickButton(At(driver, {disk2, "Extended DOS Partition"}));
    step("open its extended partition");
    driver.ClickItem(At(driver, {disk2, "Extended DOS Partition", "Extended DOS Partition"}));
    step("select the partition that links back");
    driver.ClickItem(At(driver, {disk1, fat, root, "RECORDS"}));
    step("select RECORDS again");
    driver.ClickItem(At(driver, {disk1, fat, root}));
    step("select the root again");
    return transcript;
}

}  // namespace moravel::testing
