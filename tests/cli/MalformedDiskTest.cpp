#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CliTestImages.h"
#include "disk/ByteOrder.h"

// Damaged and crafted recorder disks, each named after the defect it carries, as
// a new user would meet them: every listing and copy ends, says what it cut, and
// never reports more than the disk holds.
namespace moravel::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::SizeIs;

constexpr std::uint32_t kStart = 2048;
constexpr std::uint32_t kSectors = 70'000;
constexpr char kRoot[] = "Hard Disk 1/32-Bit FAT Disk/Root Directory";

// One FAT32 partition at sector 2048, laid out by the builder and then damaged
// byte by byte where a test says.
struct Fat32Disk {
    Fat32Disk(const TempDir& dir, const std::string& defect, std::uint8_t sectorsPerCluster = 1,
              std::uint32_t sectors = kSectors)
        : image(dir.File(defect + ".img"), (kStart + std::uint64_t{sectors}) * 512), volume([&] {
              VolumeLayout layout;
              layout.fatBits = 32;
              layout.totalSectors = sectors;
              layout.sectorsPerCluster = sectorsPerCluster;
              return layout;
          }()) {
        image.WriteSector(0, PartitionSector({{0x0C, kStart, sectors}}));
    }

    void Write() { volume.Write(image, kStart); }

    // Sets a cluster's entry in both FAT copies.
    void SetFatEntry(std::uint32_t cluster, std::uint32_t value) const {
        Bytes entry(4);
        WriteLe32(entry, 0, value);
        for (std::uint32_t copy = 0; copy < 2; ++copy) {
            image.Write(
                (kStart + 32 + std::uint64_t{copy} * volume.SectorsPerFat()) * 512 + 4ull * cluster,
                entry);
        }
    }

    // Puts a 32-byte entry into a cluster's slot.
    void WriteEntry(std::uint32_t cluster, std::size_t slot, const Bytes& entry) const {
        image.Write((kStart + std::uint64_t{volume.DataStart()}) * 512 +
                        std::uint64_t{cluster - 2} * volume.ClusterBytes() + slot * 32,
                    entry);
    }

    ImageFile image;
    FatVolumeBuilder volume;
};

// A file of one 32 KiB cluster whose chain leads back to it, on a volume whose FAT
// has entries for more than 4 GiB of clusters: a walk cut only after as many
// steps as the FAT has entries made it 4,294,977,296 bytes.
TEST(MalformedDiskTest, ChainLoopsBackToFirstCluster) {
    TempDir dir;
    Fat32Disk disk(dir, "chain-loops-back-to-first-cluster", 64, 10'000'000);
    const auto seed = disk.volume.AddFile(disk.volume.Root(), FileEntry("LOOP    TS ", 10'000));
    disk.Write();
    ASSERT_GT(std::uint64_t{disk.volume.SectorsPerFat()} * 128 * 32768, 1ull << 32);
    const auto clusters = disk.volume.FileClusters(seed);
    ASSERT_THAT(clusters, SizeIs(1));
    disk.SetFatEntry(clusters.back(), clusters.front());

    // The chain ends at its first repeated cluster: one cluster holds the 10,000
    // bytes, and the size is the directory's.
    const CliRun list = RunList({"--disk", disk.image.Path(), "list", kRoot});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_THAT(Lines(list.out), ElementsAre(HasSubstr("\t10000")));

    const std::string out = dir.File("Loop.ts");
    const CliRun copy =
        RunList({"--disk", disk.image.Path(), "copy", std::string(kRoot) + "/LOOP.TS", out});
    EXPECT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(copy.out, "The file was succesfully copied\n");
    EXPECT_EQ(ReadBytes(out), ExpectedContent(seed, 10'000, Content::Full, 32768));
}

TEST(MalformedDiskTest, Fat32RootDirectoryChainLoops) {
    TempDir dir;
    Fat32Disk disk(dir, "fat32-root-directory-chain-loops");
    for (int i = 0; i < 32; ++i) {  // two 512-byte clusters full of entries: no end mark
        disk.volume.AddFile(disk.volume.Root(),
                            FileEntry("FILE" + std::to_string(10 + i) + "  TS ", 100));
    }
    disk.Write();
    const auto root = disk.volume.DirectoryClusters(disk.volume.Root());
    ASSERT_THAT(root, SizeIs(2));
    disk.SetFatEntry(root.back(), root.front());

    const CliRun list = RunList({"--disk", disk.image.Path(), "list", "-r", kRoot});
    EXPECT_EQ(list.status, 0) << list.err;
    // Every file once: the root's two clusters are read once each.
    EXPECT_THAT(Lines(list.out), SizeIs(32));
}

// An extended boot record whose two links lead back to itself: without a stop
// the tree doubles at every level.
TEST(MalformedDiskTest, ExtendedRecordLinksToItselfTwice) {
    TempDir dir;
    const ImageFile image(dir.File("extended-record-links-to-itself-twice.img"), 8 << 20);
    image.WriteSector(0, PartitionSector({{0x05, 2048, 8192}}));
    image.WriteSector(2048, PartitionSector({{0x83, 63, 100}, {0x05, 0, 100}, {0x0F, 0, 100}}));
    const CliRun list = RunList({"--disk", image.Path(), "list", "-r"});
    EXPECT_EQ(list.status, 1);
    EXPECT_THAT(Lines(list.out),
                ElementsAre("Hard Disk 1\tdisk", "  Extended DOS Partition\textended",
                            "    Unknown\tunknown", "    Extended DOS Partition\textended",
                            "    Extended 32-bit Partition\textended"));
    EXPECT_EQ(list.err,
              "moravel-cli: not following \"Hard Disk 1/Extended DOS Partition/Extended DOS "
              "Partition\": its extended boot record (sector 2048) was read before; the "
              "partition chain links back\n"
              "moravel-cli: not following \"Hard Disk 1/Extended DOS Partition/Extended 32-bit "
              "Partition\": its extended boot record (sector 2048) was read before; the "
              "partition chain links back\n");
}

// An extended partition that starts at sector 0: the master boot record read again
// as an extended one, whose own entry leads back to it.
TEST(MalformedDiskTest, ExtendedPartitionStartsAtTheMasterBootRecord) {
    TempDir dir;
    const ImageFile image(dir.File("extended-partition-starts-at-the-mbr.img"), 8 << 20);
    image.WriteSector(0, PartitionSector({{0x83, 2048, 8192}, {0x05, 0, 16384}}));
    const CliRun list = RunList({"--disk", image.Path(), "list", "-r", "--json"});
    EXPECT_EQ(list.status, 1);
    const auto tree = nlohmann::json::parse(list.out);
    ASSERT_EQ(tree[0]["children"].size(), 2u);
    const auto& extended = tree[0]["children"][1];
    EXPECT_EQ(extended["kind"], "extended");
    EXPECT_EQ(extended["children"], nlohmann::json::array());
    EXPECT_EQ(list.err,
              "moravel-cli: not following \"Hard Disk 1/Extended DOS Partition\": its extended "
              "boot record (sector 0) was read before; the partition chain links back\n");
}

// Each folder of a chain 40 deep is reached twice from the one above it: a
// listing that opened every path would open 2^40 folders.
TEST(MalformedDiskTest, FoldersShareSubfolders40Levels) {
    TempDir dir;
    Fat32Disk disk(dir, "folders-share-subfolders-40-levels");
    std::vector<FatVolumeBuilder::Directory> folders;
    FatVolumeBuilder::Directory parent = disk.volume.Root();
    for (int level = 0; level < 40; ++level) {
        parent = disk.volume.AddDirectory(parent, "LEVEL" + std::to_string(10 + level) + "    ");
        folders.push_back(parent);
    }
    disk.Write();
    // Slots 0 and 1 hold "." and "..", slot 2 the next level: slot 3 links it again.
    for (std::size_t level = 0; level + 1 < folders.size(); ++level) {
        disk.WriteEntry(disk.volume.DirectoryClusters(folders[level]).front(), 3,
                        ShortEntry("TWIN       ", 0x10,
                                   disk.volume.DirectoryClusters(folders[level + 1]).front(), 0));
    }
    const CliRun list = RunList({"--disk", disk.image.Path(), "list", "-r", kRoot});
    EXPECT_EQ(list.status, 1);
    // The 40 folders and the 39 second links, each once.
    EXPECT_THAT(Lines(list.out), SizeIs(79));
    const std::vector<std::string> notes = Lines(list.err);
    ASSERT_THAT(notes, SizeIs(39));
    // Depth first: the first level's second link is reported last.
    EXPECT_THAT(notes.back(),
                AllOf(HasSubstr("/LEVEL10/TWIN\": the same folder"),
                      HasSubstr("was listed at \"" + std::string(kRoot) + "/LEVEL10/LEVEL11\"")));
}

// A boot sector that asks for a FAT of 4 GiB on a partition of 34 MiB.
TEST(MalformedDiskTest, Fat32FatLargerThanThePartition) {
    TempDir dir;
    Fat32Disk disk(dir, "fat32-fat-larger-than-the-partition");
    disk.volume.AddFile(disk.volume.Root(), FileEntry("KEPT    TS ", 700));
    disk.Write();
    Bytes sectorsPerFat(4);
    WriteLe32(sectorsPerFat, 0, 0x00800000);
    disk.image.Write(kStart * 512ull + 36, sectorsPerFat);

    const CliRun list = RunList({"--disk", disk.image.Path(), "list", "-r"});
    EXPECT_EQ(list.status, 1);
    // The number comes with the item that was being read.
    EXPECT_EQ(list.err, "\"Hard Disk 1/32-Bit FAT Disk/Root Directory\": internal error 00028\n");
    EXPECT_THAT(Lines(list.out),
                ElementsAre("Hard Disk 1\tdisk", "  32-Bit FAT Disk\tvolume", "    FAT 1\tfat",
                            "    FAT 2\tfat", "    Root Directory\troot"));
}

// A disk image that was cut short: the end of the recording lies beyond it. The
// copy goes on to the end, fills what it could not read, and says so.
TEST(MalformedDiskTest, ImageEndsBeforeTheVolume) {
    TempDir dir;
    Fat32Disk disk(dir, "image-ends-before-the-volume");
    FileLayout movie = FileEntry("MOVIE   TS ", 100'000);
    movie.content = Content::Full;
    const auto seed = disk.volume.AddFile(disk.volume.Root(), movie);
    disk.Write();
    const auto clusters = disk.volume.FileClusters(seed);
    // The image ends 10 clusters (of one sector) before the file does.
    const std::uint64_t cut =
        (kStart + std::uint64_t{disk.volume.DataStart()} + clusters[clusters.size() - 10] - 2) *
        512;
    disk.image.Truncate(cut);

    const std::string out = dir.File("Movie.ts");
    const CliRun copy =
        RunList({"--disk", disk.image.Path(), "copy", std::string(kRoot) + "/MOVIE.TS", out});
    EXPECT_EQ(copy.status, 1);
    EXPECT_EQ(copy.out, "The file was copied incompletely.\n");
    // Ten sectors: the last one holds the file's last 160 bytes only.
    const std::uint64_t first = 100'000 - 9 * 512 - 160;
    EXPECT_EQ(copy.err,
              "moravel-cli: 10 sectors could not be read and were filled with 0xE5 "
              "bytes: bytes " +
                  std::to_string(first) + "-99999.\n");
    Bytes expected = ExpectedContent(seed, 100'000, Content::Full, 512);
    std::fill(expected.begin() + static_cast<std::ptrdiff_t>(first), expected.end(), 0xE5);
    EXPECT_EQ(ReadBytes(out), expected);
}

// check reads what copy would, writes nothing, and names the same bytes; a
// folder's files are each checked, the readable ones said to be so.
TEST(MalformedDiskTest, CheckNamesTheBytesACopyCouldNotRead) {
    TempDir dir;
    Fat32Disk disk(dir, "image-ends-before-the-volume");
    disk.volume.AddFile(disk.volume.Root(), FileEntry("SMALL   TS ", 700));  // before the cut
    const auto seed = disk.volume.AddFile(disk.volume.Root(), FileEntry("MOVIE   TS ", 100'000));
    disk.Write();
    const auto clusters = disk.volume.FileClusters(seed);
    const std::uint64_t cut =
        (kStart + std::uint64_t{disk.volume.DataStart()} + clusters[clusters.size() - 10] - 2) *
        512;
    disk.image.Truncate(cut);
    const std::uintmax_t before = std::filesystem::file_size(disk.image.Path());

    const std::uint64_t first = 100'000 - 9 * 512 - 160;
    const std::string unreadable =
        "unreadable\t10 sectors could not be read: bytes " + std::to_string(first) + "-99999";
    const CliRun file =
        RunList({"--disk", disk.image.Path(), "check", std::string(kRoot) + "/MOVIE.TS"});
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(file.out, std::string(kRoot) + "/MOVIE.TS\t" + unreadable +
                            "\nChecked 1 file: 1 with unreadable sectors, 0 not checked.\n");

    const CliRun folder = RunList({"--disk", disk.image.Path(), "check", kRoot});
    EXPECT_EQ(folder.status, 1);
    EXPECT_THAT(Lines(folder.out),
                ElementsAre(std::string(kRoot) + "/SMALL.TS\treadable",
                            std::string(kRoot) + "/MOVIE.TS\t" + unreadable,
                            "Checked 2 files: 1 with unreadable sectors, 0 not checked."));
    EXPECT_EQ(std::filesystem::file_size(disk.image.Path()), before);

    const CliRun small =
        RunList({"--disk", disk.image.Path(), "check", std::string(kRoot) + "/SMALL.TS"});
    EXPECT_EQ(small.status, 0) << small.err;
    EXPECT_EQ(small.err, "");
}

// A chain that ends before the size: check says so in its own words (it copied
// nothing that could still be used).
TEST(MalformedDiskTest, CheckSaysWhereAChainEndsInItsOwnWords) {
    TempDir dir;
    Fat32Disk disk(dir, "chain-ends-before-the-size");
    const auto seed = disk.volume.AddFile(disk.volume.Root(), FileEntry("SHORT   TS ", 5000));
    disk.Write();
    disk.SetFatEntry(disk.volume.FileClusters(seed)[1], 0x0FFFFFFF);
    const CliRun check =
        RunList({"--disk", disk.image.Path(), "check", std::string(kRoot) + "/SHORT.TS"});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out, std::string(kRoot) +
                             "/SHORT.TS\tnot checked\nChecked 1 file: 0 with unreadable sectors, 1 "
                             "not checked.\n");
    EXPECT_EQ(check.err,
              "Error: The file's cluster chain on the recorder's disk ends before the end of the "
              "file.\nThe file was checked as far as its chain goes.\n");
}

// Names are untrusted bytes: a long name with a terminal escape sequence, a tab
// and a name that is ".." when used as a file name.
TEST(MalformedDiskTest, NamesHoldControlCharacters) {
    TempDir dir;
    Fat32Disk disk(dir, "names-hold-control-characters");
    disk.volume.AddFile(disk.volume.Root(),
                        FileEntry("EVIL    TS ", 300, "Evil\x1b]0;owned\x07\t.ts"));
    disk.volume.AddFile(disk.volume.Root(), FileEntry("DOTDOT     ", 200, ".."));
    disk.Write();

    const CliRun list = RunList({"--disk", disk.image.Path(), "list", kRoot});
    EXPECT_EQ(list.status, 0);
    EXPECT_THAT(Lines(list.out), ElementsAre("Evil\\x1b]0;owned\\x07\\x09.ts\tfile\t300 B\t300",
                                             "..\tfile\t200 B\t200"));
    EXPECT_EQ(list.out.find('\x1b'), std::string::npos);
    // JSON keeps the name and escapes it its own way.
    const CliRun json = RunList({"--disk", disk.image.Path(), "list", "--json", kRoot});
    EXPECT_EQ(nlohmann::json::parse(json.out)[0]["name"], "Evil\x1b]0;owned\x07\t.ts");
    EXPECT_EQ(json.out.find('\x1b'), std::string::npos);

    // A path that names nothing quotes the names on the way: escaped too.
    const CliRun missing =
        RunList({"--disk", disk.image.Path(), "list", std::string(kRoot) + "/#1/x"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err.find('\x1b'), std::string::npos);
    EXPECT_THAT(missing.err, HasSubstr("Evil\\x1b]0;owned"));

    const fs::path folder = dir.Path() / "out";
    fs::create_directory(folder);
    for (const char* name : {"#1", "#2"}) {
        const CliRun copy = RunList({"--disk", disk.image.Path(), "copy",
                                     std::string(kRoot) + "/" + name, folder.string()});
        EXPECT_EQ(copy.status, 0) << copy.err;
    }
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(folder)) {
        written.push_back(entry.path().filename().string());
    }
    std::sort(written.begin(), written.end());
    EXPECT_THAT(written, ElementsAre("Evil_]0;owned__.ts", "__"));
    EXPECT_EQ(fs::file_size(folder / "__"), 200u);
}

}  // namespace
}  // namespace moravel::testing
