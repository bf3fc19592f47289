#include <gmock/gmock.h>

#include "TreeFixture.h"
#include "tree/FatChain.h"

namespace moravel {
namespace {

using testing::BootParameters;
using testing::BootSectorBytes;
using ::testing::ElementsAre;
using testing::PartitionSector;

class VolumeTest : public testing::TreeFixture {
protected:
    // A floppy image whose first sector is the given boot sector.
    DriveItem& Floppy(const BootParameters& boot) {
        const auto image = NewImage("floppy.img", 2880 * 512);
        image.WriteSector(0, BootSectorBytes(boot));
        Open({}, {image.Path()});
        return Disk(0);
    }
};

TEST_F(VolumeTest, AFloppyExpandsIntoItsFatCopiesAndTheRootDirectory) {
    DriveItem& floppy = Floppy(BootParameters{});  // 2 FATs of 9 sectors, 224 root entries
    const auto children = Expand(floppy);
    ASSERT_THAT(Names(children), ElementsAre("FAT 1", "FAT 2", "Root Directory"));

    for (int i = 0; i < 2; ++i) {
        const DriveItem& fat = *children[static_cast<std::size_t>(i)];
        EXPECT_EQ(fat.m_kind, ItemKind::Fat12Table);
        EXPECT_EQ(fat.m_fatKind, FatKind::Fat12);
        EXPECT_EQ(fat.m_sectorCount, 9u);
        EXPECT_EQ(fat.m_relativeSector, i == 0 ? 1u : 10u);
        EXPECT_EQ(fat.m_sectorsPerTrack, 18);
        EXPECT_EQ(fat.m_heads, 2);
        EXPECT_EQ(fat.m_totalSectors, 2880u);
        EXPECT_EQ(fat.m_bytesPerSector, 512);
        EXPECT_EQ(fat.m_sectorsPerCluster, 1);
        EXPECT_EQ(fat.m_reservedSectors, 0);
        EXPECT_EQ(fat.m_sectorsPerFat, 0u);
        EXPECT_EQ(fat.m_dataStart, 0u);
    }
    const DriveItem& root = *children[2];
    EXPECT_EQ(root.m_kind, ItemKind::RootDirectory);
    EXPECT_EQ(root.m_fatKind, FatKind::Fat12);
    EXPECT_EQ(root.m_relativeSector, 19u);
    EXPECT_EQ(root.m_sectorCount, 14u);
    EXPECT_EQ(root.m_dataStart, 33u);
    EXPECT_EQ(root.m_sectorsPerFat, 9u);
    EXPECT_EQ(root.m_reservedSectors, 1);
    EXPECT_EQ(root.m_firstCluster, 0u);
    EXPECT_EQ(root.m_attributes, 0);
    EXPECT_EQ(root.m_drive, 0);
    EXPECT_EQ(root.m_startSector, 1);
}

TEST_F(VolumeTest, AFat32PartitionHasAClusterChainRoot) {
    const auto image = NewImage("disk.img", 4ull << 30);
    image.WriteSector(0, PartitionSector({{0x0C, 2048, 0, 0, 33, 0}}));
    BootParameters boot;
    boot.fat32 = true;
    boot.totalSectors = 8'000'000;
    boot.sectorsPerFat = 7800;
    boot.sectorsPerCluster = 8;
    boot.reservedSectors = 32;
    boot.rootCluster = 5;
    boot.heads = 255;
    boot.sectorsPerTrack = 63;
    image.WriteSector(2048, BootSectorBytes(boot));
    Open({image.Path()});
    DriveItem& volume = *Expand(Disk(0)).at(0);
    const auto children = Expand(volume);
    ASSERT_THAT(Names(children), ElementsAre("FAT 1", "FAT 2", "Root Directory"));
    EXPECT_EQ(children[1]->m_kind, ItemKind::Fat32Table);
    EXPECT_EQ(children[1]->m_relativeSector, 32u + 7800);
    EXPECT_EQ(children[1]->m_partitionStart, 2048u);
    EXPECT_EQ(children[1]->m_startSector, 33);
    const DriveItem& root = *children[2];
    EXPECT_EQ(root.m_kind, ItemKind::Entry);
    EXPECT_EQ(root.m_attributes, layout::entry::kAttributeDirectory);
    EXPECT_EQ(root.m_firstCluster, 5u);
    EXPECT_EQ(root.m_sectorCount, 0u);
    EXPECT_EQ(root.m_relativeSector, 32u + 2 * 7800);
    EXPECT_EQ(root.m_dataStart, root.m_relativeSector);
    EXPECT_EQ(root.m_sectorsPerFat, 7800u);
    EXPECT_EQ(root.m_totalSectors, 8'000'000u);
    EXPECT_EQ(root.m_partitionStart, 2048u);
}

// 255 FAT copies of 17,000,000 sectors: the root directory would begin past
// sector 2^32 of the volume, which no sector number of it reaches. Counted in 32
// bits, its start wrapped round to a sector inside the FAT copies, and what lay
// there was listed as the root's entries.
TEST_F(VolumeTest, FatCopiesReachingPastTheLastSectorNumberGiveNoChildren) {
    constexpr std::uint32_t kFatSectors = 17'000'000;
    constexpr std::uint64_t kWrapped = (std::uint64_t{kFatSectors} * 255 + 32) % (1ull << 32);
    const auto image = NewImage("disk.img", (2048 + kWrapped + 8) * 512);
    image.WriteSector(0, PartitionSector({{0x0C, 2048, 0xFFFFFFFF}}));
    BootParameters boot;
    boot.fat32 = true;
    boot.totalSectors = 0xFFFFFFFF;
    boot.sectorsPerFat = kFatSectors;
    boot.fatCount = 255;
    boot.sectorsPerCluster = 1;
    boot.reservedSectors = 32;
    boot.rootCluster = 2;
    image.WriteSector(2048, BootSectorBytes(boot));
    image.WriteSector(2048 + kWrapped, testing::ShortEntry("GHOST   TS ", 0x20, 0, 100));
    Open({image.Path()});
    DriveItem& volume = *Expand(Disk(0)).at(0);
    EXPECT_THAT(Expand(volume), ::testing::IsEmpty());
    EXPECT_THAT(testing::Reasons(m_errors),
                ElementsAre("The volume's FATs reach past the last sector a volume can have: "
                            "it is not read."));
}

TEST_F(VolumeTest, TheClusterCountDecidesBetweenFat12AndFat16) {
    const auto image = NewImage("disk.img", 200ull << 20);
    image.WriteSector(0, PartitionSector({{0x06, 100}, {0x01, 70'000}}));
    BootParameters fat16;
    fat16.totalSectors = 65536;
    fat16.sectorsPerCluster = 4;  // 16,384 clusters
    fat16.sectorsPerFat = 64;
    image.WriteSector(100, BootSectorBytes(fat16));
    BootParameters fat12 = fat16;
    fat12.totalSectors = 4095 * 8;
    fat12.sectorsPerCluster = 8;  // 4,095 clusters
    image.WriteSector(70'000, BootSectorBytes(fat12));
    Open({image.Path()});
    const auto partitions = Expand(Disk(0));
    EXPECT_EQ(Expand(*partitions[0]).back()->m_fatKind, FatKind::Fat16);
    EXPECT_EQ(Expand(*partitions[0]).front()->m_kind, ItemKind::Fat16Table);
    EXPECT_EQ(Expand(*partitions[1]).back()->m_fatKind, FatKind::Fat12);
}

TEST_F(VolumeTest, AVolumeWithoutFatsHasOnlyItsRoot) {
    BootParameters boot;
    boot.fatCount = 0;
    EXPECT_THAT(Names(Expand(Floppy(boot))), ElementsAre("Root Directory"));
}

TEST_F(VolumeTest, AnUndecodableBootSectorGivesNoChildren) {
    BootParameters boot;
    boot.sectorsPerCluster = 0;
    EXPECT_TRUE(Expand(Floppy(boot)).empty());
    EXPECT_TRUE(m_errors.empty());

    BootParameters noSectorSize;
    noSectorSize.bytesPerSector = 0;
    EXPECT_TRUE(Expand(Floppy(noSectorSize)).empty());
    EXPECT_TRUE(m_errors.empty());
}

// Every read counts 512-byte sectors, and a cluster is read as sectors of 512
// bytes: a volume that says otherwise is not shown (a copy would take more bytes
// per cluster than it read).
TEST_F(VolumeTest, AVolumeWithoutSectorsOf512BytesGivesNoChildren) {
    for (const int bytes : {256, 1024, 2048, 4096, 513}) {
        BootParameters boot;
        boot.bytesPerSector = static_cast<std::uint16_t>(bytes);
        EXPECT_TRUE(Expand(Floppy(boot)).empty()) << bytes;
    }
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(VolumeTest, AnUnreadableBootSectorGivesNoChildrenAndNoMessage) {
    const auto image = NewImage("disk.img", 1 << 20);
    image.WriteSector(0, PartitionSector({{0x06, 63}}));
    m_opener.MarkBad(image.Path(), 63);
    Open({image.Path()});
    DriveItem& volume = *Expand(Disk(0)).at(0);
    EXPECT_TRUE(Expand(volume).empty());
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(volume.m_expanded, 1);
}

TEST_F(VolumeTest, AFloppyIsOpenedAfreshAndAMissingOneIsReported) {
    DriveItem& floppy = Floppy(BootParameters{});
    m_opener.Log().opens.clear();
    EXPECT_EQ(Expand(floppy).size(), 3u);
    EXPECT_EQ(m_opener.Log().opens.size(), 1u);

    const auto gone = NewImage("gone.img", 2880 * 512);
    Open({}, {gone.Path()});
    std::filesystem::remove(gone.Path());
    EXPECT_TRUE(Expand(Disk(0)).empty());
    EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("Drive is inaccessible!"));
}

TEST_F(VolumeTest, OutOfMemoryForTheBootSector) {
    DriveItem& floppy = Floppy(BootParameters{});
    FailNthAllocation(1);
    EXPECT_TRUE(Expand(floppy).empty());
    EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("internal error 00015"));
}

TEST_F(VolumeTest, TheFatLoadFallsBackToTheSecondCopy) {
    const auto image = NewImage("floppy.img", 2880 * 512);
    image.WriteSector(0, BootSectorBytes(BootParameters{}));
    testing::FatTable first(12, 9 * 512 * 2 / 3);
    first.Chain({2, 3, 4});
    testing::FatTable second(12, 9 * 512 * 2 / 3);
    second.Chain({2, 5});
    image.WriteSector(1, first.Data());
    image.WriteSector(10, second.Data());
    m_opener.MarkBad(image.Path(), 1);
    Open({}, {image.Path()});
    const DriveItem& root = *Expand(Disk(0)).back();

    EXPECT_EQ(m_access->CountFatEntries(2, FatKind::Fat12, FatImage(m_access->VolumeFat(root))),
              2u);

    // Lost in both copies: the chain ends where its entry was, and says so.
    m_opener.MarkBad(image.Path(), 10);
    Open({}, {image.Path()});
    const FatImage fat(m_access->VolumeFat(*Expand(Disk(0)).back()));
    EXPECT_EQ(m_access->CountFatEntries(2, FatKind::Fat12, fat), 1u);
    EXPECT_THAT(fat.LostSectors(), ElementsAre(0u));
    EXPECT_TRUE(ChainRunsIntoLostSector(2, FatKind::Fat12, 1, fat));
}

// A large FAT is read in pieces, and each sector that does not read from the
// first copy comes from the second. One that reads from neither is listed and
// its entries read as free.
TEST_F(VolumeTest, EachFatSectorFallsBackOnItsOwn) {
    constexpr std::uint32_t kFatSectors = 20'000;  // more than two pieces
    constexpr std::uint32_t kFirst = 2048 + 32;
    constexpr std::uint32_t kSecond = kFirst + kFatSectors;
    const auto image = NewImage("disk.img", (2048 + 3'000'000ull) * 512);
    image.WriteSector(0, PartitionSector({{0x0C, 2048, 3'000'000}}));
    BootParameters boot;
    boot.fat32 = true;
    boot.totalSectors = 3'000'000;
    boot.sectorsPerFat = kFatSectors;
    boot.reservedSectors = 32;
    image.WriteSector(2048, BootSectorBytes(boot));
    // Each FAT sector says which copy it was read from, and where.
    const auto mark = [&](std::uint32_t start, std::uint32_t at, std::uint8_t copy) {
        std::vector<std::uint8_t> bytes(512, copy);
        bytes[1] = static_cast<std::uint8_t>(at);
        bytes[2] = static_cast<std::uint8_t>(at >> 8);
        image.WriteSector(start + at, bytes);
    };
    const std::uint32_t probes[] = {0, 10, 11, 8191, 8192, 12'000, 16'384, kFatSectors - 1};
    for (const std::uint32_t at : probes) {
        mark(kFirst, at, 1);
        mark(kSecond, at, 2);
    }
    m_opener.MarkBad(image.Path(), kFirst + 10);
    m_opener.MarkBad(image.Path(), kSecond + 12'000);
    m_opener.MarkBad(image.Path(), kFirst + 19'999);
    Open({image.Path()});
    const DriveItem& root = *Expand(*Expand(Disk(0)).at(0)).back();

    std::shared_ptr<FatPages> fat = m_access->VolumeFat(root);
    for (const std::uint32_t at : probes) {
        const bool fromSecond = at == 10 || at == kFatSectors - 1;
        EXPECT_EQ(fat->Read(std::uint64_t{at} * 512, 1), fromSecond ? 2u : 1u)
            << "FAT sector " << at;
        EXPECT_EQ(fat->Read(std::uint64_t{at} * 512 + 1, 2), at) << "FAT sector " << at;
    }
    EXPECT_THAT(fat->LostSectors(), ::testing::IsEmpty());

    m_opener.MarkBad(image.Path(), kSecond + 10);
    m_opener.MarkBad(image.Path(), kSecond + 11);
    m_opener.MarkBad(image.Path(), kFirst + 11);
    Open({image.Path()});
    fat = m_access->VolumeFat(*Expand(*Expand(Disk(0)).at(0)).back());
    EXPECT_EQ(fat->Read(10 * 512, 1), 0u);
    EXPECT_EQ(fat->Read(12 * 512 - 4, 4), 0u);
    EXPECT_EQ(fat->Read(8191 * 512, 1), 1u);
    EXPECT_THAT(fat->LostSectors(), ElementsAre(10u, 11u));
}

TEST_F(VolumeTest, ChainsThroughTheAccessObject) {
    Open({});
    testing::FatTable table(16, 64);
    table.Chain({2, 9, 3});
    const FatImage fat{table.Data(), 63};
    EXPECT_EQ(m_access->CountFatEntries(2, FatKind::Fat16, fat), 3u);
    std::uint32_t chain[3] = {};
    EXPECT_EQ(m_access->StoreFatEntries(2, FatKind::Fat16, chain, 3, fat), 0xFFFFu);
    EXPECT_THAT(chain, ElementsAre(2u, 9u, 3u));
}

}  // namespace
}  // namespace moravel
