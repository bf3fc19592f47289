#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

#include "disk/ByteOrder.h"
#include "ui/SourceOptions.h"

#include "support/TempDir.h"
#include "support/Tools.h"
#include "ui/MainDialog.h"
#include "ui/UtilityApp.h"
#include "ui/headless/HeadlessFrontend.h"

namespace moravel {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using testing::FatVolumeBuilder;
using testing::FileLayout;
using ::testing::HasSubstr;
using testing::ImageFile;
using ::testing::IsEmpty;
using testing::PartitionSector;
using ::testing::StartsWith;

constexpr std::uint32_t kFat32Start = 2048;
constexpr std::uint32_t kFat32Sectors = 16'000'000;
constexpr std::uint32_t kUnknownStart = kFat32Start + kFat32Sectors;

// Files whose first and last clusters hold their pattern: quick to build.
FileLayout File(const std::string& shortName, std::uint64_t size,
                const std::string& longName = "") {
    return testing::FileEntry(shortName, size, longName, testing::Content::Ends);
}

// A recorder disk: a FAT32 volume with folders, then a partition of a type the
// program does not know.
std::string MakeDisk(const testing::TempDir& dir, int recordsInLongFolder = 0) {
    ImageFile image(dir.File("disk.img"), (kUnknownStart + 1000ull) * 512);
    image.WriteSector(
        0, PartitionSector({{0x0C, kFat32Start, kFat32Sectors}, {0x83, kUnknownStart, 1000}}));
    testing::VolumeLayout layout;
    layout.fatBits = 32;
    layout.totalSectors = kFat32Sectors;
    layout.sectorsPerCluster = 8;
    FatVolumeBuilder volume(layout);
    const auto records = volume.AddDirectory(volume.Root(), "RECORDS    ");
    volume.AddFile(records, File("B       TS ", 5ull << 30, "b.ts"));
    volume.AddFile(records, File("A       TS ", 1280, "A.ts"));
    volume.AddFile(records, File("C       TS ", 0, "c.ts"));
    volume.AddDirectory(volume.Root(), "EMPTY      ");
    const auto nested = volume.AddDirectory(volume.Root(), "NESTED     ");
    volume.AddDirectory(nested, "INNER      ");
    volume.AddFile(nested, File("CLIP    TS ", 4096));
    const auto many = volume.AddDirectory(volume.Root(), "MANY       ");
    if (recordsInLongFolder > 0) {
        volume.AddDirectory(many, "FIRST      ");
    }
    for (int i = 0; i < recordsInLongFolder; ++i) {
        volume.AddFile(many, File("R" + std::to_string(1000 + i) + "   TS ", 100));
    }
    if (recordsInLongFolder > 0) {
        volume.AddDirectory(many, "LAST       ");
    }
    volume.Write(image, kFat32Start);
    return image.Path();
}

class MainDialogTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> hardDisks, std::vector<std::string> floppies = {}) {
        DriveAccessOptions options;
        options.sources.hardDisks = std::move(hardDisks);
        options.sources.floppies = std::move(floppies);
        m_dialog.emplace(m_frontend, options);
        m_frontend.Attach(&*m_dialog);
        m_dialog->InitializeDialog();
    }

    // The disks' names, without the model and size their nodes show.
    std::vector<std::string> DiskNames() const {
        std::vector<std::string> names = m_frontend.TreeTexts(kTreeTop);
        for (std::string& name : names) {
            name = name.substr(0, name.find(" \xE2\x80\x94 "));
        }
        return names;
    }

    TreeItemHandle Item(std::initializer_list<std::string> path) {
        TreeItemHandle item = kTreeTop;
        for (const auto& text : path) {
            item = m_frontend.FindTreeItem(item, text);
            EXPECT_NE(item, kTreeTop) << text;
        }
        return item;
    }

    // Selects each item along the path, as a user clicking down the tree does.
    TreeItemHandle SelectPath(std::initializer_list<std::string> path) {
        TreeItemHandle item = kTreeTop;
        for (const auto& text : path) {
            item = m_frontend.FindTreeItem(item, text);
            EXPECT_NE(item, kTreeTop) << text;
            m_frontend.UserSelectTreeItem(item);
        }
        return item;
    }

    testing::TempDir m_dir;
    HeadlessFrontend m_frontend;
    std::optional<MainDialog> m_dialog;
};

TEST_F(MainDialogTest, StartsWithCaptionMenuColumnsAndNoDisks) {
    Start({});
    EXPECT_EQ(m_frontend.Caption(), "Veltrano Harddisk Recorder Utility");
    ASSERT_EQ(m_frontend.SystemMenu().size(), 2u);
    EXPECT_EQ(m_frontend.SystemMenu()[0].second, "");  // the separator
    EXPECT_EQ(m_frontend.SystemMenu()[1], std::make_pair(16u, std::string("&About Moravel...")));
    EXPECT_EQ(m_frontend.ProgressRange(), std::make_pair(0, 100));
    EXPECT_EQ(m_frontend.ProgressPosition(), 0);
    EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));

    const auto& columns = m_frontend.Columns();
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[0].title, "File Name");
    EXPECT_EQ(columns[0].alignment, ColumnAlignment::Left);
    EXPECT_EQ(columns[0].width, 150);
    EXPECT_EQ(columns[1].title, "Size");
    EXPECT_EQ(columns[1].alignment, ColumnAlignment::Right);
    EXPECT_EQ(columns[1].width, 70);
    EXPECT_EQ(columns[2].title, "Size (bytes)");
    EXPECT_EQ(columns[2].alignment, ColumnAlignment::Right);
    EXPECT_EQ(columns[2].width, 80);
    EXPECT_EQ(columns[3].title, "Modified");
    EXPECT_EQ(columns[3].alignment, ColumnAlignment::Left);

    EXPECT_THAT(m_frontend.TreeTexts(kTreeTop), IsEmpty());
    EXPECT_THAT(m_frontend.Rows(), IsEmpty());
    EXPECT_EQ(m_frontend.Selection(), kTreeTop);
}

TEST_F(MainDialogTest, InitialisesInOrder) {
    Start({});
    EXPECT_THAT(
        m_frontend.Calls(),
        ElementsAre("AppendSystemMenuSeparator", "AppendSystemMenuItem(16, &About Moravel...)",
                    "SetCaption(Veltrano Harddisk Recorder Utility)", "SetProgressRange(0, 100)",
                    "SetProgressPosition(0)", "InsertListColumn(File Name)",
                    "InsertListColumn(Size)", "InsertListColumn(Size (bytes))",
                    "InsertListColumn(Modified)"));
}

TEST_F(MainDialogTest, AWindowWithoutSystemMenuGetsNoAboutItem) {
    m_frontend.RemoveSystemMenu();
    Start({});
    EXPECT_THAT(m_frontend.SystemMenu(), IsEmpty());
    EXPECT_EQ(m_frontend.Caption(), "Veltrano Harddisk Recorder Utility");
}

// Each node shows the disk's image file and size after its name; the name
// alone finds it.
TEST_F(MainDialogTest, OneTreeItemPerDiskFloppiesFirst) {
    const ImageFile floppy(m_dir.File("floppy.img"), 1'474'560);
    const ImageFile second(m_dir.File("second.img"), 1 << 20);
    Start({MakeDisk(m_dir), second.Path()}, {floppy.Path()});
    EXPECT_THAT(
        m_frontend.TreeTexts(kTreeTop),
        ElementsAre("Floppy Disk 1 \u2014 floppy.img", "Hard Disk 1 \u2014 disk.img, 7.6 GB",
                    "Hard Disk 2 \u2014 second.img, 1.0 MB"));
    const auto& node = m_frontend.Node(Item({"Hard Disk 2"}));
    EXPECT_EQ(node.childCount, 1);
    ASSERT_NE(node.data, nullptr);
    EXPECT_EQ(node.data->m_drive, 129);
    EXPECT_EQ(m_frontend.Selection(), kTreeTop);  // nothing selected yet
}

TEST_F(MainDialogTest, ADiskThatCannotBeOpenedIsNamedInTheStatusLine) {
    Start({m_dir.File("missing.img")});
    EXPECT_THAT(m_frontend.TreeTexts(kTreeTop), IsEmpty());
    EXPECT_TRUE(m_frontend.IsVisible(res::kStatusLine));
    EXPECT_EQ(m_frontend.StatusText(),
              m_dir.File("missing.img") + " could not be opened: No such file or directory");
}

TEST_F(MainDialogTest, SystemCommands16To31OpenTheAboutBox) {
    Start({});
    for (unsigned command = 16; command <= 31; ++command) {
        EXPECT_TRUE(m_frontend.UserSystemCommand(command)) << command;
    }
    EXPECT_EQ(m_frontend.AboutBoxes(), 16);
    for (unsigned command : {0u, 15u, 48u, 0xF060u}) {
        EXPECT_FALSE(m_frontend.UserSystemCommand(command)) << command;
    }
    EXPECT_EQ(m_frontend.AboutBoxes(), 16);
    EXPECT_EQ(m_frontend.Calls().back(), "RunAboutDialog(About Moravel)");
}

// A disk selected shows its partitions, and the status line and its tip say
// which disk it is: its size and where it is read from.
TEST_F(MainDialogTest, SelectingADiskShowsItsPartitionsNoFilesAndWhichDiskItIs) {
    const std::string image = MakeDisk(m_dir);
    Start({image});
    const TreeItemHandle disk = SelectPath({"Hard Disk 1"});
    EXPECT_THAT(m_frontend.TreeTexts(disk), ElementsAre("32-Bit FAT Disk", "Unknown"));
    EXPECT_THAT(m_frontend.Rows(), IsEmpty());
    EXPECT_EQ(m_frontend.Node(disk).childCount, 1);
    EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));
    EXPECT_TRUE(m_frontend.IsVisible(res::kStatusLine));
    EXPECT_THAT(m_frontend.StatusText(),
                AllOf(StartsWith("Hard Disk 1: "), HasSubstr("B, "), EndsWith(", " + image)));
    EXPECT_EQ(m_frontend.Node(disk).tip, m_frontend.StatusText());
}

TEST_F(MainDialogTest, ADiskWithoutPartitionsLosesItsExpandButton) {
    const ImageFile blank(m_dir.File("blank.img"), 1 << 20);
    Start({blank.Path()});
    const TreeItemHandle disk = SelectPath({"Hard Disk 1"});
    EXPECT_EQ(m_frontend.Node(disk).childCount, 0);
    EXPECT_THAT(m_frontend.TreeTexts(disk), IsEmpty());
}

// A partition chain that links back to a boot record it came from ends there,
// and the status line says why the partition shows nothing.
TEST_F(MainDialogTest, APartitionChainThatLinksBackIsCutAndSaysSo) {
    const ImageFile disk(m_dir.File("links-back.img"), 8 << 20);
    disk.WriteSector(0, PartitionSector({{0x05, 2048, 8192}}));
    disk.WriteSector(2048, PartitionSector({{0x05, 0, 100}}));
    Start({disk.Path()});
    const TreeItemHandle link =
        SelectPath({"Hard Disk 1", "Extended DOS Partition", "Extended DOS Partition"});
    EXPECT_EQ(m_frontend.Node(link).childCount, 0);
    EXPECT_TRUE(m_frontend.IsVisible(res::kStatusLine));
    EXPECT_EQ(m_frontend.StatusText(),
              "The boot record of this extended partition (sector 2048) was read before: the "
              "disk's partition chain links back to it, and is not followed again.");
    // Another selection puts the status line away again.
    SelectPath({"Hard Disk 1", "Extended DOS Partition"});
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
}

TEST_F(MainDialogTest, AVolumeShowsOnlyItsRootDirectory) {
    Start({MakeDisk(m_dir)});
    const TreeItemHandle volume = SelectPath({"Hard Disk 1", "32-Bit FAT Disk"});
    EXPECT_THAT(m_frontend.TreeTexts(volume), ElementsAre("Root Directory"));  // no FAT copies
    EXPECT_THAT(m_frontend.Rows(), IsEmpty());
    EXPECT_EQ(m_frontend.Node(volume).childCount, 1);
}

TEST_F(MainDialogTest, AnUnknownPartitionLosesItsExpandButton) {
    Start({MakeDisk(m_dir)});
    SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"});
    ASSERT_EQ(m_frontend.Rows().size(), 3u);
    const TreeItemHandle unknown = SelectPath({"Hard Disk 1", "Unknown"});
    EXPECT_EQ(m_frontend.Node(unknown).childCount, 0);
    EXPECT_THAT(m_frontend.Rows(), IsEmpty());  // emptied by the selection change
}

TEST_F(MainDialogTest, AFolderOfFilesFillsTheSortedList) {
    Start({MakeDisk(m_dir)});
    const TreeItemHandle records =
        SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"});
    // Found on disk as b, A, c; listed in ascending order.
    EXPECT_THAT(m_frontend.RowNames(), ElementsAre("A.ts", "b.ts", "c.ts"));
    const auto& rows = m_frontend.Rows();
    EXPECT_EQ(rows[0].texts[1], "1.3 KB");
    EXPECT_EQ(rows[0].texts[2], "1280");
    EXPECT_EQ(rows[1].texts[1], "5.0 GB");
    EXPECT_EQ(rows[1].texts[2], "5368709120");
    EXPECT_EQ(rows[2].texts[1], "0 B");
    ASSERT_NE(rows[1].data, nullptr);
    EXPECT_EQ(rows[1].data->DisplayName(), "b.ts");
    EXPECT_EQ(m_frontend.Node(records).childCount, 0);  // nothing in it belongs in the tree
    EXPECT_THAT(m_frontend.TreeTexts(records), IsEmpty());
}

// A volume as mkfs.fat and mcopy leave it: the window shows names as a file
// manager does, the label on the volume's node (from the boot sector as soon
// as the volume is opened, FAT16 as FAT32), and when each file changed.
TEST_F(MainDialogTest, AFormattedVolumeShowsNamesLabelAndDatesAsAFileManagerDoes) {
    const std::string mkfs = testing::FindTool("mkfs.fat");
    const std::string mcopy = testing::FindTool("mcopy");
    ASSERT_FALSE(mkfs.empty() || mcopy.empty()) << "dosfstools and mtools are needed";
    const std::string image = m_dir.File("stick.img");
    const std::string folder = m_dir.File("files/");
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "TRAILER.TS") << "trailer";
    std::ofstream(folder + "readme.txt") << "text";
    int status = 0;
    testing::RunCommand(
        mkfs + " -C -F 32 -s 1 -n RECORDINGS " + testing::Quoted(image) + " 40000 >/dev/null && " +
            "touch -d '2004-05-18 20:14' " + testing::Quoted(folder) + "* && " + mcopy + " -m -i " +
            testing::Quoted(image) + " " + testing::Quoted(folder + "TRAILER.TS") + " " +
            testing::Quoted(folder + "readme.txt") + " ::/ && " + mkfs + " -C -F 16 -n SHOWS " +
            testing::Quoted(m_dir.File("fat16.img")) + " 20000 >/dev/null",
        status);
    ASSERT_EQ(status, 0);

    Start({image, m_dir.File("fat16.img")});
    const TreeItemHandle fat16 = SelectPath({"Hard Disk 2", "16-Bit FAT Disk"});
    EXPECT_EQ(m_frontend.Node(fat16).text, "16-Bit FAT Disk \xE2\x80\x94 SHOWS");
    const TreeItemHandle volume = SelectPath({"Hard Disk 1", "32-Bit FAT Disk"});
    EXPECT_EQ(m_frontend.Node(volume).text, "32-Bit FAT Disk \xE2\x80\x94 RECORDINGS");
    m_frontend.UserSelectTreeItem(m_frontend.FindTreeItem(volume, "Root Directory"));
    EXPECT_EQ(m_frontend.Node(volume).text, "32-Bit FAT Disk \xE2\x80\x94 RECORDINGS");
    ASSERT_THAT(m_frontend.RowNames(), ElementsAre("readme.txt", "TRAILER.TS"));  // no label row
    EXPECT_EQ(m_frontend.Rows()[1].texts[3], "2004-05-18 20:14");
}

TEST_F(MainDialogTest, AnEmptyFolderEmptiesTheListAndLosesItsButton) {
    Start({MakeDisk(m_dir)});
    SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"});
    const TreeItemHandle empty =
        SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "EMPTY"});
    EXPECT_THAT(m_frontend.Rows(), IsEmpty());
    EXPECT_EQ(m_frontend.Node(empty).childCount, 0);
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
}

TEST_F(MainDialogTest, ExpandingANeverSelectedFolderSelectsItAndShowsEverything) {
    Start({MakeDisk(m_dir)});
    const TreeItemHandle root = SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"});
    const TreeItemHandle nested =
        Item({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "NESTED"});
    m_frontend.UserExpandTreeItem(nested);
    EXPECT_EQ(m_frontend.Selection(), nested);
    EXPECT_THAT(m_frontend.TreeTexts(nested), ElementsAre("INNER"));
    EXPECT_THAT(m_frontend.RowNames(), ElementsAre("CLIP.TS"));
    EXPECT_TRUE(m_frontend.Node(nested).expandedOnce);

    // Collapsing and expanding again changes nothing.
    const std::size_t calls = m_frontend.Calls().size();
    m_frontend.UserExpandTreeItem(nested);
    EXPECT_EQ(m_frontend.Calls().size(), calls);
    EXPECT_NE(root, kTreeTop);
}

TEST_F(MainDialogTest, ExpandingTheSelectedItemInsertsNothingMore) {
    Start({MakeDisk(m_dir)});
    const TreeItemHandle disk = SelectPath({"Hard Disk 1"});
    m_frontend.UserExpandTreeItem(disk);
    EXPECT_THAT(m_frontend.TreeTexts(disk), ElementsAre("32-Bit FAT Disk", "Unknown"));
}

TEST_F(MainDialogTest, SelectingAgainRefillsTheListAndAddsNoTreeItems) {
    Start({MakeDisk(m_dir)});
    const TreeItemHandle nested =
        SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "NESTED"});
    m_frontend.UserExpandTreeItem(nested);
    SelectPath({"Hard Disk 1"});
    EXPECT_THAT(m_frontend.Rows(), IsEmpty());
    m_frontend.UserSelectTreeItem(nested);
    EXPECT_THAT(m_frontend.RowNames(), ElementsAre("CLIP.TS"));
    EXPECT_THAT(m_frontend.TreeTexts(nested), ElementsAre("INNER"));
}

TEST_F(MainDialogTest, SelectingAgainBeforeTheFirstExpansionAddsNoTreeItems) {
    Start({MakeDisk(m_dir)});
    const TreeItemHandle root = SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"});
    SelectPath({"Hard Disk 1"});
    m_frontend.UserSelectTreeItem(root);  // never expanded in the view
    EXPECT_THAT(m_frontend.TreeTexts(root), ElementsAre("RECORDS", "EMPTY", "NESTED", "MANY"));
    SelectPath({"Hard Disk 1"});
    EXPECT_THAT(m_frontend.TreeTexts(Item({"Hard Disk 1"})),
                ElementsAre("32-Bit FAT Disk", "Unknown"));
}

TEST_F(MainDialogTest, AScanShowsStatusAndProgressThenHidesThem) {
    Start({MakeDisk(m_dir, 200)});
    const TreeItemHandle root = SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"});
    const TreeItemHandle many = m_frontend.FindTreeItem(root, "MANY");

    std::vector<int> positions;
    bool statusShown = true;
    m_frontend.OnScanProgress([&] {
        positions.push_back(m_frontend.ProgressPosition());
        statusShown = statusShown && m_frontend.IsVisible(res::kStatusLine) &&
                      m_frontend.IsVisible(res::kProgressBar) &&
                      m_frontend.StatusText() == "Scanning file structure ... Please wait.";
    });
    m_frontend.UserSelectTreeItem(many);
    EXPECT_EQ(m_frontend.Rows().size(), 200u);
    ASSERT_GT(positions.size(), 200u);
    EXPECT_TRUE(statusShown);
    EXPECT_EQ(positions.front(), 0);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    // ".", "..", two folders and 200 files in two clusters of 128 entries: the
    // entry after the last one ends the scan at 204 of 256.
    EXPECT_EQ(positions.back(), 204 * 100 / 256);
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
    EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));
    // The bar keeps its last position; it is not reset when the scan ends.
    EXPECT_EQ(m_frontend.ProgressPosition(), positions.back());
}

TEST_F(MainDialogTest, ScanProgressReadsTheStoredValueWhenHandled) {
    Start({});
    m_frontend.PostScanProgress();
    m_frontend.PostScanProgress();
    m_frontend.PumpMessages();
    EXPECT_EQ(m_frontend.ProgressPosition(), 0);
    EXPECT_EQ(m_dialog->OnScanProgress(), 0);
}

TEST_F(MainDialogTest, ASelectionChangeDuringAScanLeavesTheListToTheItemSelectedLast) {
    Start({MakeDisk(m_dir, 100)});
    const TreeItemHandle root = SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"});
    const TreeItemHandle many = m_frontend.FindTreeItem(root, "MANY");
    const TreeItemHandle records = m_frontend.FindTreeItem(root, "RECORDS");

    // While MANY is scanned, the user selects RECORDS: that selection is handled
    // completely inside the scan's pump step, and the scan then goes on.
    std::vector<std::string> rowsSeenInside;
    bool stillScanning = false;
    m_frontend.Post([&] {
        m_frontend.UserSelectTreeItem(records);
        rowsSeenInside = m_frontend.RowNames();
        stillScanning = m_frontend.IsVisible(res::kStatusLine) &&
                        m_frontend.StatusText() == "Scanning file structure ... Please wait.";
    });
    m_frontend.UserSelectTreeItem(many);
    EXPECT_THAT(rowsSeenInside, ElementsAre("A.ts", "b.ts", "c.ts"));
    EXPECT_TRUE(stillScanning);
    // The list is RECORDS' alone; MANY's sub-folders went into the tree all the same.
    EXPECT_THAT(m_frontend.RowNames(), ElementsAre("A.ts", "b.ts", "c.ts"));
    EXPECT_EQ(m_frontend.Selection(), records);
    EXPECT_THAT(m_frontend.TreeTexts(many), ElementsAre("FIRST", "LAST"));
    EXPECT_EQ(m_frontend.Node(many).childCount, 1);
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
    EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));
}

// Away from the scanning folder and back to it, all inside its scan: every
// sub-folder reaches the tree once, and the list shows the folder's files once.
TEST_F(MainDialogTest, TheScanningFolderSelectedAgainDuringItsScanGetsEverythingOnce) {
    Start({MakeDisk(m_dir, 100)});
    const TreeItemHandle root = SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"});
    const TreeItemHandle many = m_frontend.FindTreeItem(root, "MANY");
    const TreeItemHandle records = m_frontend.FindTreeItem(root, "RECORDS");
    m_frontend.Post([&] {
        m_frontend.UserSelectTreeItem(records);
        m_frontend.Post([&] { m_frontend.UserSelectTreeItem(many); });
    });
    m_frontend.UserSelectTreeItem(many);

    EXPECT_EQ(m_frontend.Selection(), many);
    EXPECT_THAT(m_frontend.TreeTexts(many), ElementsAre("FIRST", "LAST"));
    EXPECT_EQ(m_frontend.Node(many).childCount, 1);
    const std::vector<std::string> rows = m_frontend.RowNames();
    ASSERT_EQ(rows.size(), 100u);
    EXPECT_EQ(std::adjacent_find(rows.begin(), rows.end()), rows.end());  // no name twice
    EXPECT_EQ(rows.front(), "R1000.TS");
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));

    // Selected once more, the folder refills the list from what is stored.
    SelectPath({"Hard Disk 1"});
    m_frontend.UserSelectTreeItem(many);
    EXPECT_EQ(m_frontend.RowNames(), rows);
    EXPECT_THAT(m_frontend.TreeTexts(many), ElementsAre("FIRST", "LAST"));
}

TEST_F(MainDialogTest, ClosingTheWindowDuringAScanEndsTheScanAtItsNextEntry) {
    Start({MakeDisk(m_dir, 100)});
    const TreeItemHandle root = SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"});
    const TreeItemHandle many = m_frontend.FindTreeItem(root, "MANY");
    int pumpsAtClose = 0;
    m_frontend.Post([&] {
        m_frontend.UserClose();
        pumpsAtClose = m_frontend.PumpSteps();
    });
    m_frontend.UserSelectTreeItem(many);
    EXPECT_TRUE(m_frontend.Closed());
    EXPECT_EQ(m_frontend.PumpSteps(), pumpsAtClose);
    EXPECT_LT(m_frontend.Rows().size(), 100u);
}

TEST_F(MainDialogTest, AFailureInsideAScanBecomesAMessageAndTheWindowGoesOn) {
    Start({MakeDisk(m_dir, 100)});
    const TreeItemHandle root = SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"});
    const TreeItemHandle many = m_frontend.FindTreeItem(root, "MANY");
    m_frontend.Post([] { throw std::bad_alloc(); });
    EXPECT_NO_THROW(m_frontend.UserSelectTreeItem(many));
    ASSERT_EQ(m_frontend.Messages().size(), 1u);
    EXPECT_EQ(m_frontend.Messages()[0].text,
              "There is not enough memory for this. What was read before is still shown.");
    EXPECT_EQ(m_frontend.Messages()[0].icon, MessageIcon::Exclamation);
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
    EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));

    m_frontend.UserSelectTreeItem(m_frontend.FindTreeItem(root, "RECORDS"));
    EXPECT_THAT(m_frontend.RowNames(), ElementsAre("A.ts", "b.ts", "c.ts"));
}

TEST_F(MainDialogTest, OpenDiskImageAddsHardDisksAndFloppiesByTheirSize) {
    const std::string disk = MakeDisk(m_dir);
    Start({});
    ImageFile floppy(m_dir.File("floppy.img"), 1'474'560);
    FatVolumeBuilder volume(testing::FloppyLayout());
    volume.AddFile(volume.Root(), File("NOTE    TXT", 300));
    volume.Write(floppy, 0);
    const std::string missing = m_dir.File("missing.img");

    m_frontend.QueueDiskImages({disk, floppy.Path(), missing});
    for (const auto& [command, text] : MainDialog::WindowCommands()) {
        if (text == "&Open Disk Image...") {
            EXPECT_TRUE(m_frontend.UserSystemCommand(command + 3));  // low bits are free
        }
    }
    EXPECT_EQ(m_frontend.DiskImageDialogs(), 1);
    EXPECT_THAT(DiskNames(), ElementsAre("Hard Disk 1", "Floppy Disk 1"));
    EXPECT_TRUE(m_frontend.IsVisible(res::kStatusLine));
    EXPECT_EQ(m_frontend.StatusText(), missing + " could not be opened: No such file or directory");

    SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"});
    EXPECT_THAT(m_frontend.RowNames(), ElementsAre("A.ts", "b.ts", "c.ts"));
    SelectPath({"Floppy Disk 1", "Root Directory"});
    EXPECT_THAT(m_frontend.RowNames(), ElementsAre("NOTE.TXT"));
    // An added image is a disk being read: no copy may write onto it.
    const auto sources = m_dialog->Drives().SourcePaths();
    EXPECT_THAT(sources, ::testing::UnorderedElementsAre(disk, floppy.Path()));

    // Cancel adds nothing.
    EXPECT_TRUE(m_frontend.UserSystemCommand(res::kOpenImageCommand));
    EXPECT_EQ(m_frontend.TreeTexts(kTreeTop).size(), 2u);
}

TEST_F(MainDialogTest, ImagesFromTheCommandLineAndDroppedFilesFollowTheDisks) {
    const testing::TempDir others[2];
    const std::string disk = MakeDisk(m_dir);
    const std::string second = MakeDisk(others[0]);
    const std::string third = MakeDisk(others[1]);
    DriveAccessOptions options;
    options.sources.hardDisks = {disk};
    m_dialog.emplace(m_frontend, options, nullptr, std::vector<std::string>{second});
    m_frontend.Attach(&*m_dialog);
    m_dialog->InitializeDialog();
    // A disk that is open already is not added again: one disk, one item.
    const std::string again = others[0].Path().string() + "/./disk.img";
    m_dialog->OnDropFiles({third, again});
    EXPECT_THAT(DiskNames(), ElementsAre("Hard Disk 1", "Hard Disk 2", "Hard Disk 3"));
    EXPECT_EQ(m_frontend.StatusText(), again + " could not be opened: it is the same disk as " +
                                           second + ", which is open already");
    SelectPath({"Hard Disk 3", "32-Bit FAT Disk", "Root Directory"});
    EXPECT_THAT(m_frontend.TreeTexts(Item({"Hard Disk 3", "32-Bit FAT Disk", "Root Directory"})),
                ElementsAre("RECORDS", "EMPTY", "NESTED", "MANY"));
}

// No disk named, and none of the machine's disks can be read: the status line
// says which, why, and how to get in; through udisks2, that the rights were refused.
TEST_F(MainDialogTest, WithoutRightsToTheDisksTheStatusLineSaysHowToGetThem) {
    const std::string device = m_dir.File("sda");
    { std::ofstream(device) << "x"; }
    const bool grouped = ::chown(device.c_str(), static_cast<uid_t>(-1), 6) == 0;
    DriveAccessOptions options;
    options.sources.detect = true;
    options.findDisks = [&] { return DriveSources{{device, "/dev/missing-sdb"}, {}, true}; };
    options.opener = [](const std::string&) -> OpenedSource { return Error{"Permission denied"}; };
    m_dialog.emplace(m_frontend, options);
    m_frontend.Attach(&*m_dialog);
    m_dialog->InitializeDialog();
    EXPECT_THAT(m_frontend.TreeTexts(kTreeTop), IsEmpty());
    ASSERT_TRUE(m_frontend.IsVisible(res::kStatusLine));
    std::string text = m_frontend.StatusText();
    EXPECT_EQ(text.rfind("No disk could be opened: " + device +
                             " (Permission denied) /dev/missing-sdb (Permission denied). ",
                         0),
              0u)
        << text;
    const ::group* owner = ::getgrgid(6);
    if (grouped && owner != nullptr) {
        const std::string name = owner->gr_name;
        EXPECT_NE(text.find("Join the group \"" + name + "\" (sudo adduser $USER " + name),
                  std::string::npos)
            << text;
    }
    EXPECT_NE(text.find("pen a disk image from the window's menu."), std::string::npos) << text;

    options.findDisks = [&] { return DriveSources{{device}, {}, true, true}; };
    options.opener = [](const std::string& path) -> OpenedSource {
        return Error{"Not authorized to read " + path};
    };
    m_dialog.emplace(m_frontend, options);
    m_frontend.Attach(&*m_dialog);
    m_dialog->InitializeDialog();
    text = m_frontend.StatusText();
    EXPECT_EQ(text.rfind("No disk could be opened: Not authorized to read " + device + ". ", 0), 0u)
        << text;
    EXPECT_EQ(text.find("group"), std::string::npos) << text;
}

// Disks plugged in appear, pulled out go (the tree starts over, the images
// opened stay); disks named on the command line stay as they are.
TEST_F(MainDialogTest, TheTreeFollowsTheMachinesDisksAndRefreshReadsThemAgain) {
    std::vector<std::string> machine{MakeDisk(m_dir)};
    DriveAccessOptions options;
    options.sources.detect = true;
    options.findDisks = [&] { return DriveSources{machine, {}, true}; };
    m_dialog.emplace(m_frontend, options);
    m_frontend.Attach(&*m_dialog);
    m_dialog->InitializeDialog();
    const ImageFile image(m_dir.File("dropped.img"), 1 << 20);
    m_dialog->OnDropFiles({image.Path()});
    SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"});
    ASSERT_FALSE(m_frontend.Rows().empty());

    const ImageFile plugged(m_dir.File("plugged.img"), 1 << 20);
    machine.push_back(plugged.Path());
    m_dialog->OnDisksChanged();
    EXPECT_THAT(DiskNames(), ElementsAre("Hard Disk 1", "Hard Disk 2", "Hard Disk 3"));
    EXPECT_EQ(m_frontend.Node(Item({"Hard Disk 3"})).tip.find("Hard Disk 3: "), 0u);
    EXPECT_THAT(m_frontend.Rows(), IsEmpty());
    EXPECT_EQ(m_frontend.Selection(), kTreeTop);
    SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"});
    EXPECT_FALSE(m_frontend.Rows().empty());

    machine.erase(machine.begin());
    m_dialog->OnDisksChanged();
    EXPECT_THAT(DiskNames(), ElementsAre("Hard Disk 1", "Hard Disk 2"));
    EXPECT_THAT(m_frontend.Node(Item({"Hard Disk 1"})).tip, EndsWith(plugged.Path()));
    EXPECT_THAT(m_frontend.Node(Item({"Hard Disk 2"})).tip, EndsWith(image.Path()));
    EXPECT_FALSE(m_dialog->RefreshPending());

    const std::size_t calls = m_frontend.Calls().size();
    m_dialog->OnDisksChanged();  // nothing changed: nothing is read again
    EXPECT_EQ(m_frontend.Calls().size(), calls);
    m_dialog->OnRefresh();
    EXPECT_THAT(DiskNames(), ElementsAre("Hard Disk 1", "Hard Disk 2"));
}

TEST_F(MainDialogTest, ANotificationWithoutItemDataReadsNothing) {
    Start({MakeDisk(m_dir)});
    SelectPath({"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"});
    ASSERT_FALSE(m_frontend.Rows().empty());
    m_dialog->OnTreeSelectionChanged({kTreeTop, 0, nullptr});
    EXPECT_THAT(m_frontend.Rows(), IsEmpty());
    m_dialog->OnTreeSelectionChanged({Item({"Hard Disk 1"}), 0, nullptr});
    EXPECT_THAT(m_frontend.Rows(), IsEmpty());
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
}

TEST_F(MainDialogTest, ADoubleClickHidesTheStatusLine) {
    Start({m_dir.File("missing.img")});
    ASSERT_TRUE(m_frontend.IsVisible(res::kStatusLine));
    m_frontend.UserDoubleClickList();
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
}

TEST_F(MainDialogTest, FailureMessagesOfTheTreeReachTheWindow) {
    ImageFile image(m_dir.File("cut.img"), 600ull << 20);
    image.WriteSector(0, PartitionSector({{0x05, 1'000'000}}));
    image.Truncate(1'000'000ull * 512);  // the extended boot record is missing
    Start({image.Path()});
    const TreeItemHandle extended = SelectPath({"Hard Disk 1", "Extended DOS Partition"});
    ASSERT_THAT(m_frontend.MessageTexts(), ElementsAre("internal error 00014"));
    const auto& message = m_frontend.Messages()[0];
    EXPECT_EQ(message.buttons, MessageButtons::Ok);
    EXPECT_EQ(message.icon, MessageIcon::Exclamation);
    // The caption is the window's own.
    EXPECT_EQ(message.caption, "Veltrano Harddisk Recorder Utility");
    EXPECT_EQ(m_frontend.Node(extended).childCount, 0);
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
}

TEST(UtilityAppTest, RunsTheMainDialogAndEnds) {
    HeadlessFrontend frontend;
    UtilityApp app;
    DriveAccessOptions options;
    EXPECT_EQ(app.Run(frontend, options), 0);
    EXPECT_EQ(frontend.Calls().front(), "RunMainDialog");
    EXPECT_EQ(frontend.Caption(), "Veltrano Harddisk Recorder Utility");
}

TEST(ResourcesTest, TheWindowLayoutsAreComplete) {
    const res::DialogTemplate& main = res::MainDialogTemplate();
    EXPECT_EQ(main.width, 388);
    EXPECT_EQ(main.height, 265);
    ASSERT_EQ(main.controls.size(), 8u);
    EXPECT_EQ(main.controls[0].id, res::kCopyFileButton);
    EXPECT_EQ(main.controls[0].text, "Copy File");
    EXPECT_FALSE(main.controls[5].visible);  // the progress bar
    EXPECT_FALSE(main.controls[6].visible);  // the status line
    const res::DialogTemplate& about = res::AboutDialogTemplate();
    EXPECT_EQ(about.caption, "About Moravel");
    EXPECT_EQ(about.controls[1].text, "Moravel Version 1.0.3");  // as --version says
    EXPECT_EQ(about.controls[2].text, "Created for Veltrano Harddisk recorders.");
    EXPECT_EQ(about.controls[3].text, "OK");
    EXPECT_EQ(res::LoadString(res::kAboutMenuText), "&About Moravel...");
    EXPECT_EQ(res::LoadString(999), "");
}

std::vector<std::uint8_t> ResourceFile(const std::string& name) {
    std::ifstream in(std::string(MORAVEL_RES_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ResourcesTest, TheIconAndTheLogoHaveTheirSizesAndColours) {
    const auto icon = ResourceFile("moravel.ico");
    ASSERT_GE(icon.size(), 22u + 40);
    EXPECT_EQ(ReadLe16(icon, 2), 1);  // an icon, not a cursor
    EXPECT_EQ(ReadLe16(icon, 4), 1);  // one image
    EXPECT_EQ(icon[6], 32);
    EXPECT_EQ(icon[7], 32);
    EXPECT_EQ(icon[8], 16);
    const std::size_t image = ReadLe32(icon, 18);
    EXPECT_EQ(ReadLe16(icon, image + 14), 4);  // bits per pixel
    EXPECT_EQ(image + ReadLe32(icon, 14), icon.size());

    const auto logo = ResourceFile("logo.bmp");
    ASSERT_GE(logo.size(), 54u);
    EXPECT_EQ(logo[0], 'B');
    EXPECT_EQ(logo[1], 'M');
    EXPECT_EQ(ReadLe32(logo, 18), 76u);
    EXPECT_EQ(ReadLe32(logo, 22), 29u);
    EXPECT_EQ(ReadLe16(logo, 28), 4);
    EXPECT_EQ(ReadLe32(logo, 2), logo.size());
}

}  // namespace
}  // namespace moravel
