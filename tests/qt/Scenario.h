#pragma once

#include <array>
#include <string>
#include <vector>

#include "ui/Frontend.h"

namespace moravel::testing {

// What a user does with the window and what the window shows, in terms any
// front end can be driven in: items by the texts the tree shows, all texts as
// shown (UTF-8).
class WindowDriver {
public:
    virtual ~WindowDriver() = default;
    virtual void Start(const std::vector<std::string>& hardDisks) = 0;
    // The child of an item (kTreeTop: the top level) with that text, or that name
    // before the details a disk's or volume's node shows after " — "; kTreeTop
    // when none.
    virtual TreeItemHandle Find(TreeItemHandle parent, const std::string& text) = 0;
    virtual void ClickItem(TreeItemHandle item) = 0;
    virtual void ClickButton(TreeItemHandle item) = 0;
    virtual void DoubleClickList() = 0;

    virtual std::vector<TreeItemHandle> Children(TreeItemHandle item) = 0;
    virtual std::string Text(TreeItemHandle item) = 0;
    virtual bool HasButton(TreeItemHandle item) = 0;
    virtual TreeItemHandle Selection() = 0;
    virtual std::vector<std::array<std::string, 3>> Rows() = 0;
    virtual bool StatusShown() = 0;
    virtual std::string StatusText() = 0;
    virtual bool ProgressShown() = 0;
};

// Whether a node's text shows that name: it is the name, or the name with
// details after " — " (a disk's model and size, a volume's label).
inline bool NamedAs(const std::string& text, const std::string& name) {
    return text == name || text.starts_with(name + " \xE2\x80\x94 ");
}

// The disks of the scenario: a recorder disk (MakeRecorderDisk), one whose
// partition chain links back (MakeLinkingBackDisk) and a path that cannot be
// opened.
struct ScenarioDisks {
    std::string recorder;
    std::string linkingBack;
    std::string missing;
};

// One walk through the window: disks, partitions, volumes and folders opened
// with their buttons and selected by name, in an order that reaches every kind
// of item (a folder of files only, an empty one, one never selected before it is
// opened, an unknown partition, a partition chain that links back) and comes
// back to a folder seen before. After every step the whole tree (texts and
// buttons), the selection, the list's rows and the status line are written
// down: the transcript, one line per step.
std::vector<std::string> RunScenario(WindowDriver& driver, const ScenarioDisks& disks);

}  // namespace moravel::testing
