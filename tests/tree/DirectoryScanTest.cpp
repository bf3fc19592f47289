#include <gmock/gmock.h>

#include <fstream>
#include <string>

#include "TreeFixture.h"

namespace moravel {
namespace {

using testing::Content;
using ::testing::ElementsAre;
using testing::FatVolumeBuilder;
using testing::FileLayout;
using testing::PartitionSector;
using testing::ShortEntry;
using testing::VolumeLayout;

constexpr std::uint32_t kPartitionStart = 2048;
constexpr std::uint64_t kGiB = 1ull << 30;

// Files whose first and last clusters hold their pattern: quick to build.
FileLayout File(const std::string& shortName, std::uint64_t size,
                const std::string& longName = "") {
    return testing::FileEntry(shortName, size, longName, Content::Ends);
}

VolumeLayout Fat32Layout(std::uint32_t totalSectors = 40'000'000,
                         std::uint8_t sectorsPerCluster = 64) {
    VolumeLayout layout;
    layout.fatBits = 32;
    layout.totalSectors = totalSectors;
    layout.sectorsPerCluster = sectorsPerCluster;
    return layout;
}

VolumeLayout Fat16Layout() {
    VolumeLayout layout;
    layout.fatBits = 16;
    layout.totalSectors = 200'000;
    layout.sectorsPerCluster = 8;
    layout.reservedSectors = 4;
    layout.rootEntries = 64;
    return layout;
}

class DirectoryScanTest : public testing::TreeFixture {
protected:
    // Writes the volume into a disk image as its one partition and opens it.
    DriveItem& Volume(FatVolumeBuilder& builder, std::uint8_t type, std::uint32_t totalSectors) {
        m_image.emplace(
            NewImage("disk.img", (kPartitionStart + std::uint64_t{totalSectors}) * 512));
        m_image->WriteSector(0, PartitionSector({{type, kPartitionStart, totalSectors}}));
        builder.Write(*m_image, kPartitionStart);
        Open({m_image->Path()});
        return *Expand(Disk(0)).at(0);
    }
    DriveItem& Root(DriveItem& volume) { return Child(volume, "Root Directory"); }

    // Sector of a cluster from the start of the disk.
    std::uint64_t ClusterSector(const FatVolumeBuilder& builder, std::uint32_t cluster,
                                std::uint32_t sectorsPerCluster) const {
        return kPartitionStart + builder.DataStart() +
               std::uint64_t{cluster - 2} * sectorsPerCluster;
    }

    std::optional<testing::ImageFile> m_image;
};

TEST_F(DirectoryScanTest, AFat32RootListsFoldersFilesAndTheLabel) {
    FatVolumeBuilder builder(Fat32Layout());
    builder.AddVolumeLabel("RECORDER   ");
    const auto records = builder.AddDirectory(builder.Root(), "RECORDS    ");
    builder.AddFile(builder.Root(), File("README  TXT", 1234));
    builder.AddFile(records, File("MOVIE   TS ", 6 * kGiB + 12345, "Movie.ts"));
    DriveItem& volume = Volume(builder, 0x0C, 40'000'000);
    DriveItem& root = Root(volume);

    const auto children = Expand(root);
    ASSERT_THAT(Names(children), ElementsAre("RECORDER.   ", "RECORDS .   ", "README  .TXT"));
    const DriveItem& label = *children[0];
    EXPECT_EQ(label.m_attributes, 0x08);
    EXPECT_EQ(label.m_fileSize, 0u);
    EXPECT_EQ(label.m_firstCluster, 0u);
    EXPECT_TRUE(label.IsFile());

    const DriveItem& folder = *children[1];
    EXPECT_TRUE(folder.IsDirectory());
    EXPECT_EQ(folder.m_kind, ItemKind::Entry);
    EXPECT_EQ(folder.m_firstCluster, builder.DirectoryClusters(records).front());
    EXPECT_EQ(folder.m_relativeSector, root.m_relativeSector);
    EXPECT_EQ(folder.m_dataStart, builder.DataStart());
    EXPECT_EQ(folder.m_sectorCount, 0u);
    EXPECT_EQ(folder.m_fileSize, 0u);
    EXPECT_EQ(folder.m_partitionStart, kPartitionStart);
    EXPECT_EQ(folder.m_sectorsPerFat, builder.SectorsPerFat());
    EXPECT_EQ(folder.m_fatKind, FatKind::Fat32);
    EXPECT_EQ(folder.DisplayName(), "RECORDS .   ");
    EXPECT_EQ(folder.EntryName(), "RECORDS");
    EXPECT_EQ(children[2]->m_fileSize, 1234u);

    // Dot entries are no children; the recording's size comes from its chain.
    const auto recordings = Expand(*children[1]);
    ASSERT_THAT(Names(recordings), ElementsAre("Movie.ts"));
    EXPECT_EQ(recordings[0]->m_fileSize, 6 * kGiB + 12345);
    EXPECT_EQ(recordings[0]->FileSizeHigh(), 1u);
    EXPECT_EQ(recordings[0]->EntryName(), "Movie.ts");
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(DirectoryScanTest, SizesAroundTheFourGiBBoundary) {
    FatVolumeBuilder builder(Fat32Layout(80'000'000, 64));  // 32 KiB clusters
    const std::uint64_t sizes[] = {3'000'000'000u,
                                   4'294'966'296u,
                                   4'294'967'295u,
                                   4'294'967'296u,
                                   4'294'967'297u,
                                   4'295'967'296u,
                                   0,
                                   1};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        builder.AddFile(builder.Root(), File("FILE" + std::to_string(i) + "   TS ", sizes[i]));
    }
    const auto children = Expand(Root(Volume(builder, 0x0C, 80'000'000)));
    ASSERT_EQ(children.size(), std::size(sizes));
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        EXPECT_EQ(children[i]->m_fileSize, sizes[i]) << i;
    }
}

TEST_F(DirectoryScanTest, TheFixedRootKeepsDirectorySizesAndSkipsTheLabel) {
    FatVolumeBuilder builder(Fat16Layout());
    builder.AddVolumeLabel("RECORDER   ");
    FileLayout odd = File("ODD     TS ", 100'000);
    odd.directorySize = 5;  // the entry says 5 bytes, the chain holds 100,000
    builder.AddFile(builder.Root(), odd);
    builder.AddDirectory(builder.Root(), "CLIPS      ", "Clips");
    const auto children = Expand(Root(Volume(builder, 0x06, 200'000)));
    ASSERT_THAT(Names(children), ElementsAre("ODD     .TS ", "Clips"));
    EXPECT_EQ(children[0]->m_fileSize, 5u);
    EXPECT_EQ(children[1]->m_relativeSector, children[1]->m_dataStart);
    EXPECT_EQ(m_frontend.ScanProgressPosts(), 0);  // the fixed root reports no progress
}

TEST_F(DirectoryScanTest, AnEntryStartingWithZeroEndsTheDirectory) {
    FatVolumeBuilder builder(Fat16Layout());
    builder.AddFile(builder.Root(), File("FIRST   TS ", 10));
    testing::Bytes end = ShortEntry("HIDDEN  TS ", 0x20, 0, 10);
    end[0] = 0x00;
    builder.AddRawEntry(builder.Root(), end);
    builder.AddFile(builder.Root(), File("LATER   TS ", 10));
    EXPECT_THAT(Names(Expand(Root(Volume(builder, 0x06, 200'000)))), ElementsAre("FIRST   .TS "));
}

TEST_F(DirectoryScanTest, ProgressIsPublishedBeforeEveryEntryAndStaysBelow100) {
    FatVolumeBuilder builder(Fat32Layout(4'000'000, 1));
    for (int i = 0; i < 40; ++i) {
        builder.AddFile(builder.Root(), File("F" + std::to_string(100 + i) + "    TS ", 100));
    }
    DriveItem& root = Root(Volume(builder, 0x0C, 4'000'000));
    std::vector<std::int32_t> seen;
    m_frontend.OnScanProgress([&] { seen.push_back(m_progress); });
    EXPECT_EQ(Expand(root).size(), 40u);

    // 40 entries fill 3 sectors of one-sector clusters: 48 slots, the 41st ends the scan.
    ASSERT_EQ(seen.size(), 41u);
    EXPECT_EQ(m_frontend.ScanProgressPosts(), 41);
    // Of the FAT (over 15 MiB here) only the piece that holds these chains is
    // read, with a pump step after it, and there is one more after the last entry.
    EXPECT_EQ(m_frontend.PumpSteps(), 43);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], static_cast<std::int32_t>(i * 100 / 48)) << i;
    }
    EXPECT_LT(seen.back(), 100);
}

TEST_F(DirectoryScanTest, ANestedRequestDuringAScanGetsWhatWasFoundSoFar) {
    FatVolumeBuilder builder(Fat32Layout(4'000'000, 1));
    const auto other = builder.AddDirectory(builder.Root(), "OTHER      ");
    builder.AddFile(other, File("INSIDE  TS ", 10));
    for (int i = 0; i < 5; ++i) {
        builder.AddFile(builder.Root(), File("F" + std::to_string(i) + "      TS ", 100));
    }
    DriveItem& root = Root(Volume(builder, 0x0C, 4'000'000));

    std::vector<std::size_t> nestedCounts;
    std::vector<std::string> otherChildren;
    bool nestedOnce = false;
    bool inHandler = false;
    m_frontend.OnScanProgress([&] {
        if (inHandler) {
            return;  // the nested folder scan pumps too
        }
        inHandler = true;
        std::int32_t progress = 0;
        nestedCounts.push_back(m_access->ExpandItem(root, progress).children.size());
        if (!nestedOnce && !root.m_children.Empty()) {
            nestedOnce = true;  // the folder was found: scan it right away, to its end
            otherChildren = Names(m_access->ExpandItem(root.m_children[0], progress).children);
        }
        inHandler = false;
    });
    EXPECT_EQ(Expand(root).size(), 6u);
    ASSERT_GE(nestedCounts.size(), 7u);
    EXPECT_EQ(nestedCounts[0], 0u);
    EXPECT_EQ(nestedCounts[1], 1u);
    EXPECT_EQ(nestedCounts[6], 6u);
    EXPECT_THAT(otherChildren, ElementsAre("INSIDE  .TS "));
}

// The FAT is read where the chains lead, each piece once, in disk order and in
// requests that grow as a walk runs on; a folder listed again reads no FAT.
TEST_F(DirectoryScanTest, TheFatIsReadWhereChainsLeadAndOnlyOnce) {
    FatVolumeBuilder builder(Fat32Layout(4'000'000, 8));
    const auto folder = builder.AddDirectory(builder.Root(), "RECORDS    ");
    for (int i = 0; i < 50; ++i) {
        builder.AddFile(folder, File("R" + std::to_string(100 + i) + "    TS ", 5000));
    }
    // Its chain's entries run through the first seven pieces of 4 KiB.
    builder.AddFile(folder, File("LONG    TS ", 7000 * 4096));
    DriveItem& volume = Volume(builder, 0x0C, 4'000'000);
    DriveItem& records = Child(Root(volume), "RECORDS .   ");
    const std::uint64_t fatStart = (kPartitionStart + 32ull) * 512;
    const std::uint64_t fatEnd = fatStart + std::uint64_t{builder.SectorsPerFat()} * 512;
    const auto fatReads = [&] {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> reads;
        for (const auto& read : m_opener.Log().reads) {
            if (read.offset >= fatStart && read.offset < fatEnd) {
                reads.emplace_back(read.offset - fatStart, read.bytes);
            }
        }
        m_opener.Log().reads.clear();
        return reads;
    };
    const auto root = fatReads();
    ASSERT_EQ(root.size(), 1u);  // the root's own chain
    const auto files = Expand(records);
    ASSERT_EQ(files.size(), 51u);
    EXPECT_EQ(files.back()->m_fileSize, 7000 * 4096u);
    const auto walk = fatReads();
    ASSERT_FALSE(walk.empty());
    std::uint64_t next = root[0].first + root[0].second;
    for (const auto& [offset, bytes] : walk) {
        EXPECT_EQ(offset, next);  // after what was read before, nothing twice
        EXPECT_GE(bytes, 4096u);
        next = offset + bytes;
    }
    EXPECT_GE(walk.back().second, 2 * walk.front().second);
    EXPECT_GE(next, 7000 * 4u + 50 * 2 * 4u);
    EXPECT_LE(next, 64 * 1024u);

    records.m_expanded = 0;
    records.m_children = ChildList{};
    EXPECT_EQ(Expand(records).size(), 51u);
    EXPECT_THAT(fatReads(), ::testing::IsEmpty());
}

// Formatters leave a FAT larger than its clusters need (they align the data
// region; the sizing formula rounds up). Such a volume opens, and what is read of
// its FAT is the part that holds the clusters' entries.
TEST_F(DirectoryScanTest, AFatLargerThanItsClustersNeedOpensAndOnlyTheirEntriesAreRead) {
    for (const int bits : {12, 16, 32}) {
        VolumeLayout layout = bits == 32 ? Fat32Layout(2'000'000, 8) : Fat16Layout();
        layout.fatBits = bits;
        layout.totalSectors = bits == 12 ? 30'000 : layout.totalSectors;
        layout.spareFatSectors = 64;
        FatVolumeBuilder builder(layout);
        const std::uint64_t size = 5ull * builder.ClusterBytes() + 7;
        builder.AddFile(builder.Root(), File("MOVIE   TS ", size));
        DriveItem& root = Root(Volume(builder, bits == 32 ? 0x0C : 0x06, layout.totalSectors));
        m_opener.Log().reads.clear();
        const auto files = Expand(root);
        ASSERT_EQ(files.size(), 1u) << bits;
        EXPECT_EQ(files[0]->m_fileSize, size) << bits;
        EXPECT_EQ(files[0]->m_fatKind, bits == 12   ? FatKind::Fat12
                                       : bits == 16 ? FatKind::Fat16
                                                    : FatKind::Fat32);
        EXPECT_THAT(testing::Reasons(m_errors), ::testing::IsEmpty()) << bits;

        const std::uint64_t entryBytes =
            (builder.ClusterCount() + 2ull) * static_cast<unsigned>(bits) / 8;
        const std::uint64_t unused = kPartitionStart + layout.reservedSectors +
                                     (entryBytes + 511) / 512;  // first unused FAT sector
        const std::uint64_t fatEnd =
            kPartitionStart + layout.reservedSectors + builder.SectorsPerFat();
        ASSERT_EQ(builder.SectorsPerFat(), (entryBytes + 511) / 512 + 64);
        for (const auto& read : m_opener.Log().reads) {
            const std::uint64_t first = read.offset / 512;
            const std::uint64_t end = (read.offset + read.bytes + 511) / 512;
            EXPECT_FALSE(first < fatEnd && end > unused)
                << bits << ": sectors " << first << "-" << end << " of the unused FAT were read";
        }
    }
}

// The peak of the program's address space so far, in KiB (0 where it cannot be told).
std::uint64_t PeakAddressSpaceKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmPeak:", 0) == 0) {
            return std::stoull(line.substr(7));
        }
    }
    return 0;
}

// A FAT32 boot sector whose sectors-per-FAT field says 8 Mi sectors (4 GiB per
// copy), for a volume of 100,000 clusters: their entries take 782 sectors. Only
// those are read, and the FAT the field claims is never held: the address space
// grows by far less than it.
TEST_F(DirectoryScanTest, AFatFieldOfFourGiBForFewClustersReadsAndHoldsOnlyTheirEntries) {
    constexpr std::uint32_t kPerFat = 8u << 20;
    constexpr std::uint32_t kDataStart = 32 + 2 * kPerFat;
    constexpr std::uint32_t kTotal = kDataStart + 64 * 100'000;
    m_image.emplace(
        NewImage("huge-fat-field.img", (kPartitionStart + std::uint64_t{kTotal}) * 512));
    m_image->WriteSector(0, PartitionSector({{0x0C, kPartitionStart, kTotal}}));
    testing::BootParameters boot;
    boot.fat32 = true;
    boot.sectorsPerCluster = 64;
    boot.reservedSectors = 32;
    boot.totalSectors = kTotal;
    boot.sectorsPerFat = kPerFat;
    boot.hiddenSectors = kPartitionStart;
    m_image->WriteSector(kPartitionStart, testing::BootSectorBytes(boot));
    testing::FatTable table(32, 128);
    table.Chain({2});
    table.Chain({3, 4, 5});
    m_image->WriteSector(kPartitionStart + 32, table.Data());
    m_image->WriteSector(kPartitionStart + 32 + kPerFat, table.Data());
    m_image->WriteSector(kPartitionStart + kDataStart,
                         testing::DirectorySectors({ShortEntry("MOVIE   TS ", 0x20, 3, 90'000)}));
    Open({m_image->Path()});
    DriveItem& root = Root(*Expand(Disk(0)).at(0));
    m_opener.Log().reads.clear();
    const std::uint64_t peak = PeakAddressSpaceKiB();
    const auto files = Expand(root);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]->m_fileSize, 90'000u);
    EXPECT_THAT(testing::Reasons(m_errors), ::testing::IsEmpty());
    EXPECT_LT(PeakAddressSpaceKiB(), peak + 64 * 1024);
    std::uint64_t fatBytes = 0;
    const std::uint64_t fatStart = (kPartitionStart + 32ull) * 512;
    for (const auto& read : m_opener.Log().reads) {
        if (read.offset < fatStart + 2ull * kPerFat * 512 && read.offset + read.bytes > fatStart) {
            fatBytes += read.bytes;
        }
    }
    EXPECT_EQ(fatBytes, 4096u);  // the piece that holds the chains' entries
}

TEST_F(DirectoryScanTest, AFat12FloppyWithAFolder) {
    FatVolumeBuilder builder(testing::FloppyLayout());
    const auto folder = builder.AddDirectory(builder.Root(), "DOCS       ");
    for (int i = 0; i < 20; ++i) {
        FileLayout file = File("D" + std::to_string(10 + i) + "     TXT", 700);
        builder.AddFile(folder, file);
    }
    const auto image = NewImage("floppy.img", 2880 * 512);
    builder.Write(image, 0);
    Open({}, {image.Path()});
    DriveItem& root = *Expand(Disk(0)).back();
    DriveItem& docs = Child(root, "DOCS    .   ");
    const auto files = Expand(docs);
    ASSERT_EQ(files.size(), 20u);  // the folder spans several one-sector clusters
    EXPECT_EQ(files[19]->DisplayName(), "D29     .TXT");
    EXPECT_EQ(files[19]->m_fileSize, 700u);
    EXPECT_EQ(builder.DirectoryClusters(folder).size(), 2u);
}

// A folder whose chain ends in an end mark other than the usual one must not run
// into clusters that are not its own.
TEST_F(DirectoryScanTest, AFolderChainEndingInAnyEndMarkStopsThere) {
    FatVolumeBuilder builder(Fat16Layout());
    const auto folder = builder.AddDirectory(builder.Root(), "RECORDS    ");
    builder.AddFile(folder, File("ONE     TS ", 10));
    builder.AddFile(builder.Root(), File("NEXT    TS ", 4096));  // the cluster after the folder
    DriveItem& volume = Volume(builder, 0x06, 200'000);
    const std::uint32_t folderCluster = builder.DirectoryClusters(folder).front();
    // The next cluster holds what would look like entries, were it read as the folder.
    testing::Bytes foreign = testing::DirectorySectors({ShortEntry("FOREIGN TS ", 0x20, 9, 1)});
    m_image->WriteSector(ClusterSector(builder, folderCluster + 1, 8), foreign);
    testing::Bytes mark(2);
    mark[0] = 0xF8;
    mark[1] = 0xFF;  // 0xFFF8
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        m_image->Write(
            (kPartitionStart + 4 + copy * builder.SectorsPerFat()) * 512ull + 2 * folderCluster,
            mark);
    }
    EXPECT_THAT(Names(Expand(Child(Root(volume), "RECORDS .   "))), ElementsAre("ONE     .TS "));
}

TEST_F(DirectoryScanTest, AFolderWithoutClustersIsEmpty) {
    FatVolumeBuilder builder(Fat32Layout(4'000'000, 8));
    builder.AddRawEntry(builder.Root(), ShortEntry("EMPTY      ", 0x10, 0, 0));
    DriveItem& empty = Child(Root(Volume(builder, 0x0C, 4'000'000)), "EMPTY   .   ");
    EXPECT_TRUE(Expand(empty).empty());
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(DirectoryScanTest, UnreadableRootSectorsReadAsDeletedEntries) {
    FatVolumeBuilder builder(Fat16Layout());
    for (int i = 0; i < 20; ++i) {
        builder.AddFile(builder.Root(), File("F" + std::to_string(10 + i) + "     TS ", 10));
    }
    const auto image = NewImage("disk.img", (kPartitionStart + 200'000ull) * 512);
    image.WriteSector(0, PartitionSector({{0x06, kPartitionStart, 200'000}}));
    builder.Write(image, kPartitionStart);
    const std::uint64_t rootStart = kPartitionStart + builder.DataStart() - 4;
    m_opener.MarkBad(image.Path(), rootStart);  // entries 0..15
    Open({image.Path()});
    DriveItem& root = Child(*Expand(Disk(0)).at(0), "Root Directory");
    const auto children = Expand(root);
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[0]->DisplayName(), "F26     .TS ");
    EXPECT_THAT(testing::Reasons(m_errors),
                ElementsAre("Bytes 0-511 of the root directory could not be read (disk sector " +
                            std::to_string(rootStart) + "): the entries there are not listed."));
}

TEST_F(DirectoryScanTest, ADamagedFirstFatIsReplacedByTheSecondWithoutAMessage) {
    FatVolumeBuilder builder(Fat32Layout(4'000'000, 8));
    builder.AddFile(builder.Root(), File("BIG     TS ", 5 * kGiB / 1024));
    const auto image = NewImage("disk.img", (kPartitionStart + 4'000'000ull) * 512);
    image.WriteSector(0, PartitionSector({{0x0C, kPartitionStart, 4'000'000}}));
    builder.Write(image, kPartitionStart);
    m_opener.MarkBad(image.Path(), kPartitionStart + 32 + 1);
    Open({image.Path()});
    const auto children = Expand(Child(*Expand(Disk(0)).at(0), "Root Directory"));
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0]->m_fileSize, 5 * kGiB / 1024);
    EXPECT_TRUE(m_errors.empty());
}

class DirectoryFailureTest : public DirectoryScanTest {
protected:
    // A FAT32 volume with a folder of files; returns the folder, unexpanded.
    DriveItem& Folder(int files = 1, const std::vector<std::uint64_t>& badSectors = {}) {
        FatVolumeBuilder builder(Fat32Layout(4'000'000, 8));
        const auto folder = builder.AddDirectory(builder.Root(), "RECORDS    ");
        for (int i = 0; i < files; ++i) {
            builder.AddFile(
                folder,
                File(files == 1 ? "ONE     TS " : "F" + std::to_string(10 + i) + "     TS ", 10));
        }
        const auto image = NewImage("disk.img", (kPartitionStart + 4'000'000ull) * 512);
        image.WriteSector(0, PartitionSector({{0x0C, kPartitionStart, 4'000'000}}));
        builder.Write(image, kPartitionStart);
        m_folderSector = ClusterSector(builder, builder.DirectoryClusters(folder).front(), 8);
        m_opener = testing::TestOpener();  // no sector of a disk made before stays bad
        for (const std::uint64_t sector : badSectors) {
            m_opener.MarkBad(image.Path(), sector);
        }
        Open({image.Path()});
        return Child(Child(*Expand(Disk(0)).at(0), "Root Directory"), "RECORDS .   ");
    }
    std::uint64_t m_folderSector = 0;
};

TEST_F(DirectoryFailureTest, OutOfMemoryAtEachStep) {
    const std::pair<unsigned, const char*> cases[] = {{1, "internal error 00021"},
                                                      {2, "internal error 00022"}};
    for (const auto& [allocation, text] : cases) {
        DriveItem& folder = Folder();
        const std::size_t before = m_errors.size();
        FailNthAllocation(allocation);
        EXPECT_TRUE(Expand(folder).empty()) << text;
        ASSERT_EQ(m_errors.size(), before + 1);
        EXPECT_EQ(m_errors.back().reason, text);
        EXPECT_TRUE(Expand(folder).empty());  // expanded for good
        EXPECT_EQ(m_errors.size(), before + 1);
    }
}

// A FAT sector that reads from neither copy cuts only the chains that run
// through it: every other file keeps its true size; a file whose chain it cuts
// is listed with its entry's size, marked, and named in a message. A FAT of
// which nothing can be read gives no folder.
TEST_F(DirectoryScanTest, AFatSectorLostInBothCopiesCutsOnlyTheChainsThroughIt) {
    FatVolumeBuilder builder(Fat32Layout(12'000'000, 64));
    builder.AddFile(builder.Root(), File("FIRST   TS ", 3 * 32768 + 5));
    const auto cut = builder.AddFile(builder.Root(), File("CROSS   TS ", 1000 * 32768));
    builder.AddFile(builder.Root(), File("BIG     TS ", 5 * kGiB + 3));
    DriveItem& volume = Volume(builder, 0x0C, 12'000'000);
    // The FAT sector that holds the entries of clusters 512-639: CROSS.TS's only.
    const std::uint32_t lostSector = 4;
    ASSERT_LT(builder.FileClusters(cut).front(), 512u);
    ASSERT_GT(builder.FileClusters(cut).back(), 639u);
    const std::uint64_t fat1 = kPartitionStart + 32 + lostSector;
    m_opener.MarkBad(m_image->Path(), fat1);
    m_opener.MarkBad(m_image->Path(), fat1 + builder.SectorsPerFat());
    const auto files = Expand(Root(volume));
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0]->m_fileSize, 3 * 32768 + 5u);
    EXPECT_FALSE(files[0]->m_chainCut);
    EXPECT_EQ(files[1]->m_fileSize, 1000 * 32768u);
    EXPECT_TRUE(files[1]->m_chainCut);
    EXPECT_EQ(files[2]->m_fileSize, 5 * kGiB + 3);
    EXPECT_FALSE(files[2]->m_chainCut);
    EXPECT_THAT(
        testing::Reasons(m_errors),
        ElementsAre("Sector 4 of the FAT (disk sector " + std::to_string(fat1) +
                    " of the first copy, " + std::to_string(fat1 + builder.SectorsPerFat()) +
                    " of the second) could not be read from either copy; the cluster "
                    "chains that run into it end there: the file \"CROSS.TS\" in the "
                    "root directory is listed with its directory entry's size and "
                    "cannot be copied whole."));

    FatVolumeBuilder small(Fat16Layout());
    const auto folder = small.AddDirectory(small.Root(), "RECORDS    ");
    small.AddFile(folder, File("ONE     TS ", 10));
    DriveItem& records = Child(Root(Volume(small, 0x06, 200'000)), "RECORDS .   ");
    for (std::uint32_t sector = 0; sector < 2 * small.SectorsPerFat(); ++sector) {
        m_opener.MarkBad(m_image->Path(), kPartitionStart + 4 + sector);
    }
    m_errors.clear();
    EXPECT_TRUE(Expand(records).empty());
    EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("internal error 00020"));
}

// Sectors of a folder that cannot be read are passed over: the entries of the
// others are all listed, and the lost bytes are named. Only a folder of which
// nothing reads is not listed at all.
TEST_F(DirectoryFailureTest, UnreadableSectorsOfAFolder) {
    // 40 files after the dot entries: sectors 0-2 of the folder's first cluster.
    const auto names = [](const std::vector<DriveItem*>& items) {
        std::vector<std::string> listed;
        for (const DriveItem* item : items) {
            listed.emplace_back(item->EntryName());
        }
        return listed;
    };
    std::vector<std::string> all;
    for (int i = 0; i < 40; ++i) {
        all.push_back("F" + std::to_string(10 + i) + ".TS");
    }
    const auto text = [&](const std::string& bytes, std::uint64_t sector, const char* end) {
        return "Bytes " + bytes + " of the folder \"RECORDS\" could not be read (disk sector " +
               std::to_string(sector) + ")" + end;
    };
    Folder(40);
    DriveItem& tail = Folder(40, {m_folderSector + 3});
    EXPECT_EQ(names(Expand(tail)), all);
    EXPECT_THAT(testing::Reasons(m_errors),
                ElementsAre(text("1536-2047", m_folderSector + 3,
                                 "; they lie after the entry that ends it.")));

    m_errors.clear();
    DriveItem& middle = Folder(40, {m_folderSector + 1});
    std::vector<std::string> outside(all.begin(), all.begin() + 14);
    outside.insert(outside.end(), all.begin() + 30, all.end());
    EXPECT_EQ(names(Expand(middle)), outside);
    EXPECT_THAT(
        testing::Reasons(m_errors),
        ElementsAre(text("512-1023", m_folderSector + 1, ": the entries there are not listed.")));

    m_errors.clear();
    std::vector<std::uint64_t> every;
    for (std::uint64_t i = 0; i < 8; ++i) {
        every.push_back(m_folderSector + i);
    }
    EXPECT_TRUE(Expand(Folder(40, every)).empty());
    EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("Failed to access the sub directory"));
}

// A boot sector that asks for a FAT of 4 GiB on a 34 MiB partition, and one whose
// FAT runs past the end of the disk: neither is allocated or read.
TEST_F(DirectoryScanTest, AFatThatCannotBeTheVolumesIsNeitherAllocatedNorRead) {
    for (const bool pastTheDisk : {false, true}) {
        FatVolumeBuilder builder(Fat32Layout(70'000, 1));
        builder.AddFile(builder.Root(), File("KEPT    TS ", 700));
        m_image.emplace(NewImage(pastTheDisk ? "short.img" : "huge-fat.img",
                                 (kPartitionStart + 70'000ull) * 512));
        m_image->WriteSector(0, PartitionSector({{0x0C, kPartitionStart, 70'000}}));
        builder.Write(*m_image, kPartitionStart);
        if (pastTheDisk) {
            m_image->Truncate((kPartitionStart + 32 + builder.SectorsPerFat() / 2) * 512ull);
        } else {
            testing::Bytes sectorsPerFat(4);
            WriteLe32(sectorsPerFat, 0, 0x00800000);
            m_image->Write(kPartitionStart * 512ull + 36, sectorsPerFat);
        }
        Open({m_image->Path()});
        m_errors.clear();
        DriveItem& root = Root(*Expand(Disk(0)).at(0));
        const std::size_t reads = ReadCount();
        FailNthAllocation(1);  // an allocation would say so with another message
        EXPECT_TRUE(Expand(root).empty());
        EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("internal error 00028")) << pastTheDisk;
        EXPECT_EQ(ReadCount(), reads);
        FailNthAllocation(0);
    }
}

// A folder whose chain runs on into a recording's clusters (a damaged FAT): a
// folder holds at most 65,536 entries, and no more is read as one.
TEST_F(DirectoryScanTest, AFolderChainLongerThanAFolderCanBeIsReadToItsLimit) {
    FatVolumeBuilder builder(Fat32Layout(70'000, 1));
    const auto folder = builder.AddDirectory(builder.Root(), "RECORDS    ");
    builder.AddFile(folder, File("ONE     TS ", 10));
    const auto big = builder.AddFile(builder.Root(), File("BIG     TS ", 3'000'000));
    DriveItem& volume = Volume(builder, 0x0C, 70'000);
    const std::uint32_t last = builder.DirectoryClusters(folder).back();
    testing::Bytes link(4);
    WriteLe32(link, 0, builder.FileClusters(big).front());
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        m_image->Write((kPartitionStart + 32 + copy * builder.SectorsPerFat()) * 512ull + 4 * last,
                       link);
    }
    DriveItem& records = Child(Root(volume), "RECORDS .   ");
    m_opener.Log().reads.clear();
    const auto children = Expand(records);
    ASSERT_FALSE(children.empty());
    EXPECT_EQ(children[0]->DisplayName(), "ONE     .TS ");
    EXPECT_THAT(testing::Reasons(m_errors),
                ElementsAre("The folder's cluster chain is longer than a folder can be: only its "
                            "first 65,536 entries are read."));
    std::uint64_t readBytes = 0;
    for (const auto& read : m_opener.Log().reads) {
        readBytes += read.bytes;
    }
    EXPECT_LE(readBytes, 2 * 1024 * 1024 + std::uint64_t{builder.SectorsPerFat()} * 512);
}

// A folder whose entries all lead into one long chain, as when a folder cluster
// is overwritten with other data: each file still gets its own chain's size,
// more than 4 GiB for those that start early enough in a 5 GiB chain.
TEST_F(DirectoryScanTest, ManyFilesWhoseChainsRunIntoEachOtherAreEachMeasured) {
    FatVolumeBuilder builder(Fat32Layout(12'000'000, 64));
    const auto folder = builder.AddDirectory(builder.Root(), "SHARED     ");
    const auto big = builder.AddFile(builder.Root(), File("BIG     TS ", 5 * kGiB));
    constexpr std::uint32_t kFiles = 300;
    for (std::uint32_t i = 0; i < kFiles; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "F%07u   ", i);
        builder.AddRawEntry(folder, ShortEntry(name, 0x20, 0, 512));
    }
    DriveItem& volume = Volume(builder, 0x0C, 12'000'000);
    const auto chain = builder.FileClusters(big);
    ASSERT_EQ(chain.size(), 163'840u);
    // Entry i starts 200 * i clusters into BIG's chain (written into the image).
    const std::uint32_t folderCluster = builder.DirectoryClusters(folder).front();
    const auto startOf = [&](std::uint32_t i) { return chain[200 * i]; };
    for (std::uint32_t i = 0; i < kFiles; ++i) {
        testing::Bytes low(2);
        testing::Bytes high(2);
        WriteLe16(low, 0, static_cast<std::uint16_t>(startOf(i)));
        WriteLe16(high, 0, static_cast<std::uint16_t>(startOf(i) >> 16));
        const std::uint64_t entry =
            (kPartitionStart + builder.DataStart() + std::uint64_t{folderCluster - 2} * 64) * 512 +
            (2 + i) * 32ull;
        m_image->Write(entry + 20, high);
        m_image->Write(entry + 26, low);
    }
    const auto children = Expand(Child(Root(volume), "SHARED  .   "));
    ASSERT_EQ(children.size(), kFiles);
    for (std::uint32_t i = 0; i < kFiles; ++i) {
        const std::uint64_t allocated = (chain.size() - 200ull * i) * 32768;
        EXPECT_EQ(children[i]->m_fileSize, allocated - 512 >= 4 * kGiB ? 4 * kGiB + 512 : 512) << i;
    }
    EXPECT_TRUE(m_errors.empty());
}

// The process's resident memory (VmRSS) or its peak since the last reset (VmHWM),
// in bytes, from /proc/self/status.
std::uint64_t ResidentBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stoull(line.substr(field.size() + 1)) * 1024;
        }
    }
    ADD_FAILURE() << "no " << field << " in /proc/self/status";
    return 0;
}

// A folder whose chain runs on into the chain of a recording of 16 million
// clusters: only as much of the chain as a folder can be is kept, so the scan
// needs the FAT and the folder's 2 MiB, not 4 bytes more for every cluster of
// the recording (64 MiB here, and more than the FAT's size on larger disks).
TEST_F(DirectoryScanTest, AFolderChainIntoALongRecordingKeepsOnlyAFoldersWorth) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed blocks resident: the peak says nothing";
#endif
    constexpr std::uint32_t kClusters = 16'000'000;
    constexpr std::uint32_t kSectors = kClusters + 300'000;
    FatVolumeBuilder builder(Fat32Layout(kSectors, 1));
    const auto folder = builder.AddDirectory(builder.Root(), "RECORDS    ");
    builder.AddFile(folder, File("ONE     TS ", 10));
    const auto big = builder.AddFile(builder.Root(), File("BIG     TS ", kClusters * 512ull));
    DriveItem& volume = Volume(builder, 0x0C, kSectors);
    const std::uint32_t last = builder.DirectoryClusters(folder).back();
    testing::Bytes link(4);
    WriteLe32(link, 0, builder.FileClusters(big).front());
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        m_image->Write((kPartitionStart + 32 + copy * builder.SectorsPerFat()) * 512ull + 4 * last,
                       link);
    }
    DriveItem& records = Child(Root(volume), "RECORDS .   ");
    // Writing 5 to clear_refs starts the peak afresh from what is resident now.
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
        ASSERT_TRUE(clear.flush()) << "the peak of resident memory cannot be reset";
    }
    const std::uint64_t before = ResidentBytes("VmRSS");
    const auto children = Expand(records);
    const std::uint64_t peak = ResidentBytes("VmHWM");
    ASSERT_FALSE(children.empty());
    EXPECT_EQ(children[0]->DisplayName(), "ONE     .TS ");
    const std::uint64_t fat = builder.SectorsPerFat() * 512ull;
    EXPECT_LE(peak - before, fat + (16ull << 20))
        << "the scan needed " << (peak - before) / 1024 / 1024 << " MiB with a FAT of "
        << fat / 1024 / 1024 << " MiB";
}

TEST_F(DirectoryFailureTest, OutOfMemoryForTheFixedRoot) {
    FatVolumeBuilder builder(Fat16Layout());
    builder.AddFile(builder.Root(), File("ONE     TS ", 10));
    DriveItem& volume = Volume(builder, 0x06, 200'000);
    DriveItem& root = Root(volume);
    FailNthAllocation(1);
    EXPECT_TRUE(Expand(root).empty());
    EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("internal error 00017"));
}

}  // namespace
}  // namespace moravel
