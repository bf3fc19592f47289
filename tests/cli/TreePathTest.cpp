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
    DriveItem* Add(const std::string& name, ItemKind kind, std::uint16_t attributes = 0) {
        auto item = std::make_unique<DriveItem>();
        item->SetDisplayName(name);
        item->m_kind = kind;
        item->m_attributes = attributes;
        m_items.push_back(std::move(item));
        return m_items.back().get();
    }
    // A directory entry: shown by its long name or padded short name, copied
    // under entryName, and known by its unpadded short name as well.
    DriveItem* AddEntry(const std::string& shown, const std::string& entryName,
                        const std::string& shortName, std::uint16_t attributes = 0x20) {
        DriveItem* item = Add(shown, ItemKind::Entry, attributes);
        item->SetEntryName(entryName);
        item->SetShortName(shortName);
        return item;
    }
    // An entry without a long name.
    DriveItem* AddShort(const std::string& padded, const std::string& unpadded,
                        std::uint16_t attributes = 0x20) {
        return AddEntry(padded, unpadded, unpadded, attributes);
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

TEST(TreePathTest, ComponentsFindExactThenUnpaddedThenWithoutCaseThenByNumber) {
    Items items;
    items.AddShort("VIDEO   .MPG", "VIDEO.MPG");                      // 0
    items.AddEntry("Movie.ts", "Movie.ts", "MOVIE.TS");               // 1
    items.AddShort("#1      .   ", "#1");                             // 2
    items.AddShort("RECORDS .   ", "RECORDS", 0x10);                  // 3
    items.AddEntry("movie.TS", "movie.TS", "MOVIE~1.TS");             // 4
    items.AddEntry("Film Night.ts", "Film Night.ts", "FILMNI~1.TS");  // 5
    const Siblings siblings = items.All();
    EXPECT_EQ(siblings.Find("VIDEO   .MPG"), 0u);
    EXPECT_EQ(siblings.Find("VIDEO.MPG"), 0u);
    EXPECT_EQ(siblings.Find("RECORDS"), 3u);
    EXPECT_EQ(siblings.Find("Movie.ts"), 1u);
    EXPECT_EQ(siblings.Find("movie.TS"), 4u);  // an exact name before one without case
    EXPECT_EQ(siblings.Find("MOVIE.TS"), 1u);  // the 8.3 alias of a long name
    EXPECT_EQ(siblings.Find("FILMNI~1.TS"), 5u);
    // Without regard to case: the names, then the unpadded and short names.
    EXPECT_EQ(siblings.Find("video.mpg"), 0u);
    EXPECT_EQ(siblings.Find("records"), 3u);
    EXPECT_EQ(siblings.Find("MOVIE.ts"), 1u);
    EXPECT_EQ(siblings.Find("film night.TS"), 5u);
    EXPECT_EQ(siblings.Find("filmni~1.ts"), 5u);
    EXPECT_EQ(siblings.Find("#2"), 1u);
    EXPECT_EQ(siblings.Find("#4"), 3u);
    // A child named "#1" wins over the first child.
    EXPECT_EQ(siblings.Find("#1"), 2u);
    EXPECT_EQ(siblings.Find("#7"), std::nullopt);
    EXPECT_EQ(siblings.Find("#0"), std::nullopt);
    EXPECT_EQ(siblings.Find("#x"), std::nullopt);
    EXPECT_EQ(siblings.Find("#"), std::nullopt);
    EXPECT_EQ(siblings.Find("#99999999999999999999"), std::nullopt);
    EXPECT_EQ(siblings.Find("VIDEO"), std::nullopt);
    EXPECT_EQ(siblings.Find("Film Night"), std::nullopt);
}

// A component that finds nothing may have meant a name written with other
// blanks or dots, or a letter or two off; nothing that differs more.
TEST(TreePathTest, ANearNameIsOneThatDiffersInBlanksDotsOrALetterOrTwo) {
    Items items;
    items.AddShort("RECORDS .   ", "RECORDS", 0x10);                  // 0
    items.AddEntry("Film Night.ts", "Film Night.ts", "FILMNI~1.TS");  // 1
    items.AddShort("NEWS0518.TS ", "NEWS0518.TS");                    // 2
    items.Add("Root Directory", ItemKind::RootDirectory);             // 3
    const Siblings siblings = items.All();
    const std::pair<const char*, std::optional<std::size_t>> cases[] = {
        {"RECORDS .", 0},   {"record", 0},        {"filmnight.ts", 1}, {"Flim Night.ts", 1},
        {"NEWS0518 TS", 2}, {"rootdirectory", 3}, {"Root Dir", {}},    {"NEWS0618.TS", {}},
        {"RECS", {}},       {" . ", {}},
    };
    for (const auto& [asked, near] : cases) {
        EXPECT_EQ(siblings.Near(asked), near) << asked;
    }
}

// Names are UTF-8, and case goes for the letters of other alphabets too.
TEST(TreePathTest, ComponentsMatchUtf8NamesWithoutRegardToCase) {
    Items items;
    items.AddEntry("Caf\u00E9 \u20AC.ts", "Caf\u00E9 \u20AC.ts", "CAF~1.TS");
    items.AddEntry("\u0424\u0438\u043B\u044C\u043C.ts", "\u0424\u0438\u043B\u044C\u043C.ts",
                   "~1.TS");
    items.AddShort("R\u00C9SUM\u00C9  .TXT", "R\u00C9SUM\u00C9.TXT");
    items.AddEntry("\u65E5\u672C.ts", "\u65E5\u672C.ts", "~2.TS");
    const Siblings siblings = items.All();
    EXPECT_EQ(siblings.Find("Caf\u00E9 \u20AC.ts"), 0u);
    EXPECT_EQ(siblings.Find("CAF\u00C9 \u20AC.TS"), 0u);
    EXPECT_EQ(siblings.Find("\u0444\u0418\u041B\u042C\u041C.TS"), 1u);
    EXPECT_EQ(siblings.Find("r\u00E9sum\u00E9.txt"), 2u);
    EXPECT_EQ(siblings.Find("\u65E5\u672C.TS"), 3u);
    EXPECT_EQ(siblings.Find("Cafe \u20AC.ts"), std::nullopt);
    EXPECT_EQ(siblings.PathComponent(0), "Caf\u00E9 \u20AC.ts");
    EXPECT_EQ(siblings.PathComponent(2), "R\u00C9SUM\u00C9.TXT");
}

TEST(TreePathTest, PathComponentsNameEachChildUniquely) {
    Items items;
    items.AddEntry("VIDEO.MPG", "VIDEO.MPG", "VIDEO.MPG");  // 0: a long name
    items.AddShort("VIDEO   .MPG", "VIDEO.MPG");            // 1: its unpadded name finds child 0
    items.AddEntry("Same", "Same", "SAME");                 // 2
    items.AddEntry("Same", "Same", "SAME~1");               // 3
    items.AddEntry("a/b", "a/b", "A_B");                    // 4
    items.Add("", ItemKind::Unknown);                       // 5
    items.AddShort("RECORDS .   ", "RECORDS", 0x10);        // 6
    items.Add("FAT 1", ItemKind::Fat32Table);               // 7
    items.AddEntry("Twin", "Twin", "TWIN");                 // 8
    items.AddEntry("TWIN", "TWIN", "TWIN~1");               // 9
    const Siblings siblings = items.All();
    EXPECT_EQ(siblings.PathComponent(0), "VIDEO.MPG");
    EXPECT_EQ(siblings.PathComponent(1), "VIDEO   .MPG");
    EXPECT_EQ(siblings.PathComponent(2), "Same");  // the name finds the first twin
    EXPECT_EQ(siblings.PathComponent(3), "#4");
    EXPECT_EQ(siblings.PathComponent(4), "#5");
    EXPECT_EQ(siblings.PathComponent(5), "#6");
    EXPECT_EQ(siblings.PathComponent(6), "RECORDS");
    EXPECT_EQ(siblings.PathComponent(7), "FAT 1");
    EXPECT_EQ(siblings.PathComponent(8), "Twin");
    EXPECT_EQ(siblings.PathComponent(9), "TWIN");  // exact before without case
    for (std::size_t i = 0; i < siblings.Size(); ++i) {
        EXPECT_EQ(siblings.Find(siblings.PathComponent(i)), i) << i;
    }
}

TEST(TreePathTest, TwoShortNamesWithTheSameUnpaddedForm) {
    // "AB      .C  " and "AB.C" as a long name, and an exact duplicate pair of
    // short names: every child still gets a component of its own.
    Items items;
    items.AddShort("AB      .C  ", "AB.C");    // 0
    items.AddEntry("AB.C", "AB.C", "AB~1.C");  // 1
    items.AddShort("XY      .Z  ", "XY.Z");    // 2
    items.AddShort("XY      .Z  ", "XY.Z");    // 3
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
    DriveItem* disk = items.Add("Hard Disk 1", ItemKind::Disk, 0);
    DriveItem* volume = items.Add("32-Bit FAT Disk", ItemKind::Volume, 0);
    DriveItem* fat32Root = items.Add("Root Directory", ItemKind::Entry, 0x10);
    DriveItem* fixedRoot = items.Add("Root Directory", ItemKind::RootDirectory, 0);
    DriveItem* folder = items.Add("RECORDS .   ", ItemKind::Entry, 0x10);
    DriveItem* file = items.Add("VIDEO   .MPG", ItemKind::Entry, 0x20);
    DriveItem* hiddenFolder = items.Add("H       .   ", ItemKind::Entry, 0x12);
    EXPECT_EQ(KindName(*disk, nullptr), "disk");
    EXPECT_EQ(KindName(*volume, nullptr), "volume");  // a floppy
    EXPECT_EQ(KindName(*volume, disk), "volume");
    EXPECT_EQ(KindName(*items.Add("Extended DOS Partition", ItemKind::Extended, 0), disk),
              "extended");
    EXPECT_EQ(KindName(*items.Add("Unknown", ItemKind::Unknown, 0), disk), "unknown");
    EXPECT_EQ(KindName(*items.Add("FAT 1", ItemKind::Fat12Table, 0), volume), "fat");
    EXPECT_EQ(KindName(*items.Add("FAT 1", ItemKind::Fat16Table, 0), volume), "fat");
    EXPECT_EQ(KindName(*items.Add("FAT 2", ItemKind::Fat32Table, 0), volume), "fat");
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
