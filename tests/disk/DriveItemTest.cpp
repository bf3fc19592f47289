#include <gtest/gtest.h>

#include <string>

#include "disk/DriveItem.h"

namespace moravel {
namespace {

// The longest long name, 255 characters of three UTF-8 bytes each, is kept whole;
// a name cut for length is cut between characters.
TEST(DriveItemTest, NamesKeepTheLongestLongNameAndAreCutBetweenCharacters) {
    DriveItem item;
    std::string longest;
    for (int i = 0; i < 255; ++i) {
        longest += "\xE6\x97\xA5";  // U+65E5
    }
    item.SetEntryName(longest);
    EXPECT_EQ(item.EntryName(), longest);

    item.SetDisplayName(std::string(1019, 'x') + "\xF0\x9F\x8E\xAC");  // a 4-byte character last
    EXPECT_EQ(item.DisplayName(), std::string(1019, 'x'));
    item.SetDisplayName(std::string(2000, 'y'));
    EXPECT_EQ(item.DisplayName().size(), 1020u);
    item.SetDisplayName("Hard Disk 1");
    EXPECT_EQ(item.DisplayName(), "Hard Disk 1");  // nothing of the longer name remains
}

TEST(DriveItemTest, ChildrenKeepTheirOrderAndTheListCopiesAsPointers) {
    DriveItem parent;
    for (const char* name : {"FAT 1", "FAT 2", "Root Directory"}) {
        auto child = std::make_unique<DriveItem>();
        child->SetDisplayName(name);
        parent.m_children.Append(std::move(child));
    }
    const auto first = parent.m_children.Pointers();
    const auto second = parent.m_children.Pointers();
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first[2]->DisplayName(), "Root Directory");
    EXPECT_EQ(&parent.m_children[1], first[1]);
}

// Run under the leak checker: a deep tree is freed with its root.
TEST(DriveItemTest, ATreeIsFreedWithItsRoot) {
    auto root = std::make_unique<DriveItem>();
    DriveItem* level = root.get();
    for (int depth = 0; depth < 50; ++depth) {
        auto child = std::make_unique<DriveItem>();
        DriveItem* next = child.get();
        level->m_children.Append(std::move(child));
        level->m_children.Append(std::make_unique<DriveItem>());
        level = next;
    }
    EXPECT_EQ(root->m_children.Size(), 2u);
    root.reset();
}

}  // namespace
}  // namespace moravel
