#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/Listing.h"
#include "cli/TreePath.h"

namespace moravel::cli {
namespace {

using ::testing::ElementsAre;

// Items as the drive tree makes them, for the path rules alone.
class Items {
public:
    DriveItem* Add(const std::string& name, std::uint16_t kind = KindEntry,
                   std::uint16_t attributes = 0x20) {
        auto item = std::make_unique<DriveItem>();
        item->SetDisplayName(name);
        item->m_kind = kind;
        item->m_attributes = attributes;
        m_items.push_back(std::move(item));
        return m_items.back().get();
    }
    Siblings All() const {
        std::vector<DriveItem*> pointers;
        for (const auto& item : m_items) {
            pointers.push_back(item.get());
        }
        return Siblings(pointers);
    }

private:
    std::vector<std::unique_ptr<DriveItem>> m_items;
};

TEST(TreePathTest, SplitsAtSlashes) {
    EXPECT_THAT(SplitTreePath("Hard Disk 1/32-Bit FAT Disk/Root Directory"),
                ElementsAre("Hard Disk 1", "32-Bit FAT Disk", "Root Directory"));
    EXPECT_THAT(SplitTreePath("/Hard Disk 1/"), ElementsAre("Hard Disk 1"));
    EXPECT_THAT(SplitTreePath(""), ElementsAre());
    EXPECT_THAT(SplitTreePath("/"), ElementsAre());
    EXPECT_THAT(SplitTreePath("a//b"), ElementsAre("a", "", "b"));
}

TEST(TreePathTest, ShortNamesLoseTheirPadding) {
    Items items;
    EXPECT_EQ(UnpaddedText(*items.Add("VIDEO   .MPG")), "VIDEO.MPG");
    EXPECT_EQ(UnpaddedText(*items.Add("RECORDS .   ")), "RECORDS");
    EXPECT_EQ(UnpaddedText(*items.Add("A       .B  ")), "A.B");
    EXPECT_EQ(UnpaddedText(*items.Add("ABCDEFGH.TXT")), "ABCDEFGH.TXT");
    EXPECT_EQ(UnpaddedText(*items.Add("R\xC9SUM\xC9  .TXT")), "R\u00C9SUM\u00C9.TXT");
    // Not the shape of a short name: kept as it is.
    EXPECT_EQ(UnpaddedText(*items.Add("Movie  .ts")), "Movie  .ts");
    EXPECT_EQ(UnpaddedText(*items.Add("Movie file  ")), "Movie file  ");
    // Only directory entries carry short names.
    EXPECT_EQ(UnpaddedText(*items.Add("ABC     .   ", KindVolume)), "ABC     .   ");
}

TEST(TreePathTest, ComponentsFindExactThenUnpaddedThenByNumber) {
    Items items;
    items.Add("VIDEO   .MPG");
    items.Add("Movie.ts");
    items.Add("#1");
    items.Add("RECORDS .   ", KindEntry, 0x10);
    const Siblings siblings = items.All();
    EXPECT_EQ(siblings.Find("VIDEO   .MPG"), 0u);
    EXPECT_EQ(siblings.Find("VIDEO.MPG"), 0u);
    EXPECT_EQ(siblings.Find("RECORDS"), 3u);
    EXPECT_EQ(siblings.Find("Movie.ts"), 1u);
    EXPECT_EQ(siblings.Find("#2"), 1u);
    EXPECT_EQ(siblings.Find("#4"), 3u);
    // A child named "#1" wins over the first child.
    EXPECT_EQ(siblings.Find("#1"), 2u);
    EXPECT_EQ(siblings.Find("#5"), std::nullopt);
    EXPECT_EQ(siblings.Find("#0"), std::nullopt);
    EXPECT_EQ(siblings.Find("#x"), std::nullopt);
    EXPECT_EQ(siblings.Find("#"), std::nullopt);
    EXPECT_EQ(siblings.Find("#99999999999999999999"), std::nullopt);
    EXPECT_EQ(siblings.Find("movie.ts"), std::nullopt);  // names are compared exactly
    EXPECT_EQ(siblings.Find("VIDEO"), std::nullopt);
}

TEST(TreePathTest, ComponentsMatchTheUtf8FormOfNames) {
    Items items;
    items.Add("Caf\xE9 \x80.ts");
    const Siblings siblings = items.All();
    EXPECT_EQ(siblings.Find("Caf\u00E9 \u20AC.ts"), 0u);
    EXPECT_EQ(siblings.Find("Caf\xE9 \x80.ts"), std::nullopt);
    EXPECT_EQ(siblings.PathComponent(0), "Caf\u00E9 \u20AC.ts");
}

TEST(TreePathTest, PathComponentsNameEachChildUniquely) {
    Items items;
    items.Add("VIDEO.MPG");                      // 0: a long name
    items.Add("VIDEO   .MPG");                   // 1: its unpadded name finds child 0
    items.Add("Same");                           // 2
    items.Add("Same");                           // 3
    items.Add("a/b");                            // 4
    items.Add("");                               // 5
    items.Add("RECORDS .   ", KindEntry, 0x10);  // 6
    items.Add("FAT 1", KindFat32Table);          // 7
    const Siblings siblings = items.All();
    EXPECT_EQ(siblings.PathComponent(0), "VIDEO.MPG");
    EXPECT_EQ(siblings.PathComponent(1), "VIDEO   .MPG");
    EXPECT_EQ(siblings.PathComponent(2), "Same");  // the name finds the first twin
    EXPECT_EQ(siblings.PathComponent(3), "#4");
    EXPECT_EQ(siblings.PathComponent(4), "#5");
    EXPECT_EQ(siblings.PathComponent(5), "#6");
    EXPECT_EQ(siblings.PathComponent(6), "RECORDS");
    EXPECT_EQ(siblings.PathComponent(7), "FAT 1");
    for (std::size_t i = 0; i < siblings.Size(); ++i) {
        EXPECT_EQ(siblings.Find(siblings.PathComponent(i)), i) << i;
    }
}

TEST(TreePathTest, TwoShortNamesWithTheSameUnpaddedForm) {
    // "AB      .C  " and "AB.C" as a long name, and an exact duplicate pair of
    // short names: every child still gets a component of its own.
    Items items;
    items.Add("AB      .C  ");  // 0
    items.Add("AB.C");          // 1
    items.Add("XY      .Z  ");  // 2
    items.Add("XY      .Z  ");  // 3
    const Siblings siblings = items.All();
    EXPECT_EQ(siblings.PathComponent(0), "AB      .C  ");
    EXPECT_EQ(siblings.PathComponent(1), "AB.C");
    EXPECT_EQ(siblings.PathComponent(2), "XY.Z");
    EXPECT_EQ(siblings.PathComponent(3), "#4");
    for (std::size_t i = 0; i < siblings.Size(); ++i) {
        EXPECT_EQ(siblings.Find(siblings.PathComponent(i)), i) << i;
    }
}

TEST(TreePathTest, KindsOfItems) {
    Items items;
    DriveItem* disk = items.Add("Hard Disk 1", KindDisk, 0);
    DriveItem* volume = items.Add("32-Bit FAT Disk", KindVolume, 0);
    DriveItem* fat32Root = items.Add("Root Directory", KindEntry, 0x10);
    DriveItem* fixedRoot = items.Add("Root Directory", KindRootDirectory, 0);
    DriveItem* folder = items.Add("RECORDS .   ", KindEntry, 0x10);
    DriveItem* file = items.Add("VIDEO   .MPG", KindEntry, 0x20);
    DriveItem* hiddenFolder = items.Add("H       .   ", KindEntry, 0x12);
    EXPECT_EQ(KindName(*disk, nullptr), "disk");
    EXPECT_EQ(KindName(*volume, nullptr), "volume");  // a floppy
    EXPECT_EQ(KindName(*volume, disk), "volume");
    EXPECT_EQ(KindName(*items.Add("Extended DOS Partition", KindExtended, 0), disk), "extended");
    EXPECT_EQ(KindName(*items.Add("Unknown", KindUnknown, 0), disk), "unknown");
    EXPECT_EQ(KindName(*items.Add("FAT 1", KindFat12Table, 0), volume), "fat");
    EXPECT_EQ(KindName(*items.Add("FAT 1", KindFat16Table, 0), volume), "fat");
    EXPECT_EQ(KindName(*items.Add("FAT 2", KindFat32Table, 0), volume), "fat");
    EXPECT_EQ(KindName(*fat32Root, volume), "root");
    EXPECT_EQ(KindName(*fixedRoot, volume), "root");
    EXPECT_EQ(KindName(*folder, fat32Root), "directory");
    EXPECT_EQ(KindName(*folder, fixedRoot), "directory");
    EXPECT_EQ(KindName(*hiddenFolder, folder), "directory");
    EXPECT_EQ(KindName(*file, fat32Root), "file");
    EXPECT_EQ(KindName(*file, volume), "file");  // only a folder under a volume is a root
}

}  // namespace
}  // namespace moravel::cli
