#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/Tools.h"
#include "tree/DriveTree.h"
#include "ui/headless/HeadlessFrontend.h"

#ifndef MORAVEL_SAMPLE_DISK_TOOL
#error "MORAVEL_SAMPLE_DISK_TOOL must name the moravel-make-sample-disk program"
#endif

namespace moravel {
namespace {

using testing::Quoted;
using testing::RunCommand;

// The sample disk as its maker lays it out: where each volume begins (absolute
// sectors) and how long the long recordings are. The disk uses 255 heads and 63
// sectors per track; the FAT32 volume spans 5222 cylinders, the FAT16 one 8, the
// extended partition 6 with its logical volume one track in.
constexpr std::uint32_t kRecordingsStart = 2048;
constexpr std::uint32_t kSettingsStart = 2048 + 5222 * 16065;         // 83,893,478
constexpr std::uint32_t kExtendedStart = kSettingsStart + 8 * 16065;  // 84,021,998
constexpr std::uint32_t kSpareStart = kExtendedStart + 63;
constexpr std::uint64_t kFilmNightBytes = 5'000'000'000;  // one wrap of the 32-bit size
constexpr std::uint64_t kMarathonBytes = 9'000'000'000;   // two wraps
constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;

// A folder listing: name -> size, no size for a folder.
using Listing = std::map<std::string, std::optional<std::uint64_t>>;

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The program shows a short name as stored ("TIMERS  .DAT"); tools show it
// without the padding ("TIMERS.DAT").
std::string PlainName(const std::string& name) {
    if (name.size() != 12 || name[8] != '.') {
        return name;
    }
    const std::string base = Trim(name.substr(0, 8));
    const std::string extension = Trim(name.substr(9, 3));
    return extension.empty() ? base : base + "." + extension;
}

// What mdir (mtools) lists in a folder of the volume at the given sector: long
// names where there are any, else the short name; "." and ".." left out.
Listing MdirListing(const std::string& image, std::uint64_t startSector,
                    const std::string& folder) {
    int status = 0;
    const std::string output = RunCommand(
        Quoted(testing::FindTool("mdir")) + " -i " +
            Quoted(image + "@@" + std::to_string(startSector * 512)) + " " + Quoted("::" + folder),
        status);
    EXPECT_EQ(status, 0) << output;
    // "NAME     EXT      SIZE DATE       TIME  LONG NAME", size <DIR> for a folder.
    Listing listing;
    std::stringstream lines(output);
    std::string text;
    while (std::getline(lines, text)) {
        if (text.size() < 13 || text[8] != ' ') {
            continue;  // headings and totals
        }
        const std::string base = Trim(text.substr(0, 8));
        const std::string extension = Trim(text.substr(9, 3));
        std::istringstream rest(text.substr(12));
        std::string size;
        std::string date;
        std::string time;
        if (base.empty() || base == "." || base == ".." || !(rest >> size >> date >> time) ||
            date.size() != 10 || date[4] != '-' ||
            (size != "<DIR>" && size.find_first_not_of("0123456789") != std::string::npos)) {
            continue;
        }
        std::string name;
        std::getline(rest, name);
        name = Trim(name);
        if (name.empty()) {
            name = extension.empty() ? base : base + "." + extension;
        }
        listing[name] =
            size == "<DIR>" ? std::nullopt : std::optional<std::uint64_t>(std::stoull(size));
    }
    return listing;
}

// The children of an item as the program lists them, volume labels left out.
Listing ProgramListing(const std::vector<DriveItem*>& children) {
    Listing listing;
    for (const DriveItem* child : children) {
        if ((child->m_attributes & layout::entry::kAttributeVolumeLabel) != 0) {
            continue;
        }
        listing[PlainName(std::string(child->DisplayName()))] =
            child->IsDirectory() ? std::nullopt : std::optional<std::uint64_t>(child->m_fileSize);
    }
    return listing;
}

class SampleDiskTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<testing::TempDir>();
        s_image = s_dir->File("sample.img");
        int status = 0;
        s_makerOutput =
            RunCommand(Quoted(MORAVEL_SAMPLE_DISK_TOOL) + " " + Quoted(s_image), status);
        s_makerStatus = status;
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override {
        ASSERT_EQ(s_makerStatus, 0) << s_makerOutput;
        DriveAccessOptions options;
        options.sources.hardDisks = {s_image};
        m_access = std::make_unique<DriveTree>(m_frontend, options);
        ASSERT_TRUE(m_access->Open().empty());
        ASSERT_EQ(m_access->GetHardDiskCount(), 1);
    }

    void TearDown() override { EXPECT_TRUE(m_errors.empty()); }

    DriveItem& Disk() const { return m_access->GetDisks()[m_access->GetFloppyCount()]; }

    std::vector<DriveItem*> Expand(DriveItem& item) {
        std::int32_t progress = 0;
        Expansion expansion = m_access->ExpandItem(item, progress);
        m_errors.insert(m_errors.end(), expansion.errors.begin(), expansion.errors.end());
        return std::move(expansion.children);
    }

    // The child of item with the given name (as the program shows it), or null.
    DriveItem* Child(DriveItem& item, const std::string& name) {
        for (DriveItem* child : Expand(item)) {
            if (child->DisplayName() == name) {
                return child;
            }
        }
        return nullptr;
    }

    // The item at a path of names from the disk down, or null.
    DriveItem* Find(const std::vector<std::string>& path) {
        DriveItem* item = &Disk();
        for (const std::string& name : path) {
            item = item == nullptr ? nullptr : Child(*item, name);
        }
        return item;
    }

    static std::unique_ptr<testing::TempDir> s_dir;
    static std::string s_image;
    static std::string s_makerOutput;
    static int s_makerStatus;

    HeadlessFrontend m_frontend;
    std::unique_ptr<DriveTree> m_access;
    Errors m_errors;
};

std::unique_ptr<testing::TempDir> SampleDiskTest::s_dir;
std::string SampleDiskTest::s_image;
std::string SampleDiskTest::s_makerOutput;
int SampleDiskTest::s_makerStatus = -1;

TEST_F(SampleDiskTest, DiskHoldsTwoPrimaryVolumesAndALogicalOne) {
    const auto partitions = Expand(Disk());
    ASSERT_EQ(partitions.size(), 3u);
    EXPECT_EQ(partitions[0]->DisplayName(), "32-Bit FAT Disk");
    EXPECT_EQ(partitions[0]->m_partitionStart, kRecordingsStart);
    EXPECT_EQ(partitions[1]->DisplayName(), "16-Bit FAT Disk");
    EXPECT_EQ(partitions[1]->m_partitionStart, kSettingsStart);
    EXPECT_EQ(partitions[2]->DisplayName(), "Extended DOS Partition");
    EXPECT_EQ(partitions[2]->m_kind, ItemKind::Extended);
    EXPECT_EQ(partitions[2]->m_partitionStart, kExtendedStart);

    const auto logical = Expand(*partitions[2]);
    ASSERT_EQ(logical.size(), 1u);
    EXPECT_EQ(logical[0]->DisplayName(), "16-Bit FAT Disk");
    EXPECT_EQ(logical[0]->m_partitionStart, kSpareStart);

    std::vector<std::string> recordings;
    for (const DriveItem* part : Expand(*partitions[0])) {
        recordings.emplace_back(part->DisplayName());
    }
    EXPECT_EQ(recordings, (std::vector<std::string>{"FAT 1", "FAT 2", "Root Directory"}));
}

TEST_F(SampleDiskTest, RecordingsRootHoldsTheLabelAndBothFolders) {
    DriveItem* root = Find({"32-Bit FAT Disk", "Root Directory"});
    ASSERT_NE(root, nullptr);
    std::vector<std::string> labels;
    std::vector<std::string> folders;
    for (const DriveItem* child : Expand(*root)) {
        if ((child->m_attributes & layout::entry::kAttributeVolumeLabel) != 0) {
            labels.emplace_back(child->DisplayName());
        } else if (child->IsDirectory()) {
            folders.emplace_back(child->DisplayName());
        }
    }
    // The label's 11 bytes, shown as a short name.
    EXPECT_EQ(labels, std::vector<std::string>{"RECORDIN.GS "});
    EXPECT_EQ(folders, (std::vector<std::string>{"RECORDS .   ", "Archive 2003"}));
}

TEST_F(SampleDiskTest, RecordingsLongerThanFourGiBShowTheirLengthFromTheChain) {
    DriveItem* records = Find({"32-Bit FAT Disk", "Root Directory", "RECORDS .   "});
    DriveItem* archive = Find({"32-Bit FAT Disk", "Root Directory", "Archive 2003"});
    ASSERT_NE(records, nullptr);
    ASSERT_NE(archive, nullptr);
    const Listing inRecords = ProgramListing(Expand(*records));
    const Listing inArchive = ProgramListing(Expand(*archive));

    ASSERT_EQ(inRecords.count("Film Night 2004-05-15.ts"), 1u);
    EXPECT_EQ(inRecords.at("Film Night 2004-05-15.ts"), kFilmNightBytes);
    ASSERT_EQ(inArchive.count("Marathon 2003-10-12.ts"), 1u);
    EXPECT_EQ(inArchive.at("Marathon 2003-10-12.ts"), kMarathonBytes);

    // The directory entries hold only the low 32 bits, as mtools reads them; every
    // other recording is listed alike by both.
    ASSERT_FALSE(testing::FindTool("mdir").empty()) << "mdir (mtools) is not installed";
    Listing mdirRecords = MdirListing(s_image, kRecordingsStart, "/RECORDS");
    Listing mdirArchive = MdirListing(s_image, kRecordingsStart, "/Archive 2003");
    EXPECT_EQ(mdirRecords["Film Night 2004-05-15.ts"], kFilmNightBytes % kFourGiB);
    EXPECT_EQ(mdirArchive["Marathon 2003-10-12.ts"], kMarathonBytes % kFourGiB);
    mdirRecords["Film Night 2004-05-15.ts"] = kFilmNightBytes;
    mdirArchive["Marathon 2003-10-12.ts"] = kMarathonBytes;
    EXPECT_EQ(inRecords, mdirRecords);
    EXPECT_EQ(inArchive, mdirArchive);
    EXPECT_EQ(inRecords.size(), 4u);
    EXPECT_EQ(inArchive.size(), 2u);
}

TEST_F(SampleDiskTest, RecordingWithALongNameKeepsIt) {
    DriveItem* recording =
        Find({"32-Bit FAT Disk", "Root Directory", "RECORDS .   ", "Evening News 2004-05-17.ts"});
    ASSERT_NE(recording, nullptr);
    EXPECT_TRUE(recording->IsFile());
    EXPECT_EQ(recording->EntryName(), "Evening News 2004-05-17.ts");
    EXPECT_NE(Find({"32-Bit FAT Disk", "Root Directory", "RECORDS .   ", "NEWS0518.TS "}), nullptr);
}

TEST_F(SampleDiskTest, SettingsVolumeListsWhatMdirLists) {
    ASSERT_FALSE(testing::FindTool("mdir").empty()) << "mdir (mtools) is not installed";
    DriveItem* root = Find({"16-Bit FAT Disk", "Root Directory"});
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->m_kind, ItemKind::RootDirectory);
    const Listing inRoot = ProgramListing(Expand(*root));
    EXPECT_EQ(inRoot, MdirListing(s_image, kSettingsStart, "/"));
    EXPECT_EQ(inRoot.size(), 2u);

    DriveItem* system = Child(*root, "SYSTEM  .   ");
    ASSERT_NE(system, nullptr);
    const Listing inSystem = ProgramListing(Expand(*system));
    EXPECT_EQ(inSystem, MdirListing(s_image, kSettingsStart, "/SYSTEM"));
    EXPECT_EQ(inSystem.size(), 3u);
    EXPECT_EQ(inSystem.count("Favourite channels.dat"), 1u);
}

TEST_F(SampleDiskTest, LogicalVolumeListsWhatMdirLists) {
    ASSERT_FALSE(testing::FindTool("mdir").empty()) << "mdir (mtools) is not installed";
    DriveItem* root = Find({"Extended DOS Partition", "16-Bit FAT Disk", "Root Directory"});
    ASSERT_NE(root, nullptr);
    const Listing inRoot = ProgramListing(Expand(*root));
    EXPECT_EQ(inRoot, MdirListing(s_image, kSpareStart, "/"));
    EXPECT_EQ(inRoot.size(), 1u);

    DriveItem* backup = Child(*root, "BACKUP  .   ");
    ASSERT_NE(backup, nullptr);
    const Listing inBackup = ProgramListing(Expand(*backup));
    EXPECT_EQ(inBackup, MdirListing(s_image, kSpareStart, "/BACKUP"));
    EXPECT_EQ(inBackup.size(), 2u);
}

// fsck.fat checks a volume in a file of its own: each FAT16 volume is copied out.
TEST_F(SampleDiskTest, Fat16VolumesPassFsckFat) {
    const std::string fsck = testing::FindTool("fsck.fat");
    ASSERT_FALSE(fsck.empty()) << "fsck.fat (dosfstools) is not installed";
    const auto partitions = Expand(Disk());
    ASSERT_EQ(partitions.size(), 3u);
    const auto logical = Expand(*partitions[2]);
    ASSERT_EQ(logical.size(), 1u);
    for (const DriveItem* volume : {partitions[1], logical[0]}) {
        // The volume's length from its boot sector (the 32-bit total at 0x20).
        std::vector<std::uint8_t> boot(512);
        ASSERT_EQ(volume->m_sectorCount, 1u);
        ASSERT_TRUE(m_access->ReadSectors(*volume, nullptr, boot));
        const std::uint32_t sectors = ReadLe32(boot, 0x20);
        ASSERT_GT(sectors, 0u);

        const std::string copy = s_dir->File("volume.img");
        int status = 0;
        RunCommand("dd if=" + Quoted(s_image) + " of=" + Quoted(copy) +
                       " bs=1M iflag=skip_bytes,count_bytes status=none skip=" +
                       std::to_string(std::uint64_t{volume->m_partitionStart} * 512) +
                       " count=" + std::to_string(std::uint64_t{sectors} * 512),
                   status);
        ASSERT_EQ(status, 0);
        const std::string report = RunCommand(Quoted(fsck) + " -n " + Quoted(copy), status);
        EXPECT_EQ(status, 0) << "volume at sector " << volume->m_partitionStart << ":\n" << report;
    }
}

}  // namespace
}  // namespace moravel
