#include <gmock/gmock.h>

#include <array>
#include <span>
#include <utility>
#include <vector>

#include "TreeFixture.h"
#include "tree/BootSector.h"
#include "tree/PartitionTable.h"

namespace moravel {
namespace {

using ::testing::ElementsAre;
using testing::PartitionEntry;
using testing::PartitionSector;

class PartitionScanTest : public testing::TreeFixture {
protected:
    // A disk whose master boot record holds the given entries.
    DriveItem& DiskWith(const std::vector<PartitionEntry>& entries) {
        const auto image = NewImage("disk.img", 2ull << 30);
        image.WriteSector(0, PartitionSector(entries));
        Open({image.Path()});
        return Disk(0);
    }
};

TEST_F(PartitionScanTest, AFat32EntryBecomesAVolume) {
    DriveItem& disk = DiskWith({{0x0C, 63, 1000, 1, 1, 0}});
    const auto children = Expand(disk);
    ASSERT_EQ(children.size(), 1u);
    const DriveItem& volume = *children[0];
    EXPECT_EQ(volume.DisplayName(), "32-Bit FAT Disk");
    EXPECT_EQ(volume.m_kind, ItemKind::Volume);
    EXPECT_EQ(volume.m_fatKind, FatKind::Fat32);
    EXPECT_EQ(volume.m_partitionStart, 63u);
    EXPECT_EQ(volume.m_sectorCount, 1u);
    EXPECT_EQ(volume.m_relativeSector, 0u);
    EXPECT_EQ(volume.m_drive, 128);
    EXPECT_EQ(volume.m_startHead, 1);
    EXPECT_EQ(volume.m_startSector, 1);
    EXPECT_EQ(volume.m_startCylinder, 0);
    EXPECT_EQ(disk.m_expanded, 1);
}

TEST_F(PartitionScanTest, EveryTypeHasItsNameAndKind) {
    struct Expected {
        std::uint8_t type;
        const char* name;
        ItemKind kind;
        FatKind fatKind;
    };
    const Expected table[] = {
        {0x01, "12-Bit FAT Disk", ItemKind::Volume, FatKind::Unknown},
        {0x04, "16-Bit FAT Disk", ItemKind::Volume, FatKind::Unknown},
        {0x05, "Extended DOS Partition", ItemKind::Extended, FatKind::Unknown},
        {0x06, "16-Bit FAT Disk", ItemKind::Volume, FatKind::Unknown},
        {0x07, "Unknown", ItemKind::Unknown, FatKind::Unknown},
        {0x0B, "32-Bit FAT Disk", ItemKind::Volume, FatKind::Fat32},
        {0x0C, "32-Bit FAT Disk", ItemKind::Volume, FatKind::Fat32},
        {0x0E, "16-Bit FAT Disk", ItemKind::Volume, FatKind::Unknown},
        {0x0F, "Extended 32-bit Partition", ItemKind::Extended, FatKind::Unknown},
        {0x83, "Unknown", ItemKind::Unknown, FatKind::Unknown},
        {0xEE, "Unknown", ItemKind::Unknown, FatKind::Unknown},
    };
    for (const auto& expected : table) {
        const PartitionType type = ClassifyPartition(expected.type);
        EXPECT_EQ(type.displayName, expected.name) << int{expected.type};
        EXPECT_EQ(type.kind, expected.kind) << int{expected.type};
        EXPECT_EQ(type.fatKind, expected.fatKind) << int{expected.type};
    }
}

TEST_F(PartitionScanTest, AnEmptyEntryEndsTheTable) {
    DriveItem& disk = DiskWith({{0x06, 63}, {0x0C, 5000}, {0x00, 0}, {0x0C, 9000}});
    EXPECT_THAT(Names(Expand(disk)), ElementsAre("16-Bit FAT Disk", "32-Bit FAT Disk"));
}

TEST_F(PartitionScanTest, AnEmptyFirstEntryMeansNoPartitions) {
    DriveItem& disk = DiskWith({{0x00, 0}, {0x0C, 63}});
    EXPECT_TRUE(Expand(disk).empty());
    EXPECT_EQ(disk.m_expanded, 1);
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(PartitionScanTest, AnUnknownPartitionExpandsToNothingWithoutReading) {
    DriveItem& disk = DiskWith({{0x07, 63}});
    DriveItem& unknown = *Expand(disk).at(0);
    EXPECT_EQ(unknown.m_kind, ItemKind::Unknown);
    const std::size_t reads = ReadCount();
    EXPECT_TRUE(Expand(unknown).empty());
    EXPECT_EQ(unknown.m_expanded, 1);
    EXPECT_EQ(ReadCount(), reads);
}

TEST_F(PartitionScanTest, LogicalPartitionsResolveAgainstTheExtendedChain) {
    const auto image = NewImage("disk.img", 600ull << 20);
    image.WriteSector(0, PartitionSector({{0x06, 63}, {0x05, 1'000'000}}));
    image.WriteSector(1'000'000, PartitionSector({{0x06, 63}, {0x05, 20'000}}));
    image.WriteSector(1'020'000, PartitionSector({{0x0B, 63}}));
    Open({image.Path()});

    const auto primary = Expand(Disk(0));
    ASSERT_EQ(primary.size(), 2u);
    EXPECT_EQ(primary[1]->m_partitionStart, 1'000'000u);
    EXPECT_EQ(primary[1]->m_kind, ItemKind::Extended);

    const auto first = Expand(*primary[1]);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0]->m_partitionStart, 1'000'063u);
    EXPECT_EQ(first[1]->m_partitionStart, 1'020'000u);
    EXPECT_EQ(first[1]->DisplayName(), "Extended DOS Partition");

    const auto second = Expand(*first[1]);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0]->m_partitionStart, 1'020'063u);
    EXPECT_EQ(second[0]->DisplayName(), "32-Bit FAT Disk");
    EXPECT_EQ(second[0]->m_fatKind, FatKind::Fat32);
}

TEST_F(PartitionScanTest, ASecondExpansionReturnsTheSameChildrenAndLeavesTheScanAlone) {
    const auto image = NewImage("disk.img", 600ull << 20);
    image.WriteSector(0, PartitionSector({{0x0F, 1'000'000}}));
    image.WriteSector(1'000'000, PartitionSector({{0x06, 63}, {0x05, 20'000}}));
    image.WriteSector(1'020'000, PartitionSector({{0x06, 63}}));
    Open({image.Path()});
    const auto children = Expand(Disk(0));
    const auto logical = Expand(*children[0]);

    const std::size_t reads = ReadCount();
    EXPECT_EQ(Expand(Disk(0)), children);
    EXPECT_EQ(Expand(*children[0]), logical);
    EXPECT_EQ(ReadCount(), reads);
    // The link still resolves against the extended partition's base and its own offset.
    const auto next = Expand(*logical[1]);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0]->m_partitionStart, 1'020'063u);
}

// Another disk's table scan in between must not move this disk's logical partitions.
TEST_F(PartitionScanTest, DisksExpandedAlternatelyKeepTheirOwnExtendedChains) {
    const auto first = NewImage("first.img", 600ull << 20);
    first.WriteSector(0, PartitionSector({{0x05, 1'000'000}}));
    first.WriteSector(1'000'000, PartitionSector({{0x06, 63}, {0x05, 20'000}}));
    first.WriteSector(1'020'000, PartitionSector({{0x06, 63}}));
    const auto second = NewImage("second.img", 600ull << 20);
    second.WriteSector(0, PartitionSector({{0x05, 500'000}}));
    second.WriteSector(500'000, PartitionSector({{0x06, 2048}, {0x05, 7'000}}));
    Open({first.Path(), second.Path()});

    DriveItem& extended = *Expand(Disk(0)).at(0);
    DriveItem& link = *Expand(extended).at(1);
    DriveItem& otherExtended = *Expand(Disk(1)).at(0);
    EXPECT_EQ(Expand(otherExtended).at(0)->m_partitionStart, 502'048u);
    EXPECT_EQ(Expand(link).at(0)->m_partitionStart, 1'020'063u);
}

TEST_F(PartitionScanTest, AMissingBootRecordIsReported) {
    const auto image = NewImage("disk.img", 600ull << 20);
    image.WriteSector(0, PartitionSector({{0x05, 1'000'000}}));
    image.Truncate(1'000'000ull * 512 + 100);  // the extended boot record is cut off
    Open({image.Path()});
    DriveItem& extended = *Expand(Disk(0)).at(0);
    EXPECT_TRUE(Expand(extended).empty());
    EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("internal error 00014"));
    EXPECT_EQ(extended.m_expanded, 1);
    EXPECT_TRUE(Expand(extended).empty());  // not tried again
    EXPECT_EQ(m_errors.size(), 1u);
}

TEST_F(PartitionScanTest, AnUnreadableMasterBootRecordIsReported) {
    const auto image = NewImage("disk.img", 1 << 20);
    m_opener.MarkBad(image.Path(), 0);
    Open({image.Path()});
    EXPECT_TRUE(Expand(Disk(0)).empty());
    EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("internal error 00011"));
}

TEST_F(PartitionScanTest, OutOfMemoryForTheBootRecord) {
    const auto image = NewImage("disk.img", 600ull << 20);
    image.WriteSector(0, PartitionSector({{0x05, 1'000'000}}));
    Open({image.Path()});
    FailNthAllocation(1);
    EXPECT_TRUE(Expand(Disk(0)).empty());
    EXPECT_THAT(testing::Reasons(m_errors), ElementsAre("internal error 00009"));

    Open({image.Path()});
    DriveItem& extended = *Expand(Disk(0)).at(0);
    FailNthAllocation(1);
    EXPECT_TRUE(Expand(extended).empty());
    EXPECT_EQ(testing::Reasons(m_errors).back(), "internal error 00012");
}

TEST_F(PartitionScanTest, ExpandingAFileReadsNothing) {
    DriveItem file;
    file.m_kind = ItemKind::Entry;
    file.m_attributes = 0x20;
    Open({});
    EXPECT_TRUE(Expand(file).empty());
    EXPECT_EQ(ReadCount(), 0u);
    EXPECT_EQ(m_progress, 0);
}

}  // namespace
}  // namespace moravel

namespace moravel {
namespace {

// A FAT boot sector at a disk's first sector, as mkfs.fat writes it on a whole
// device: 512-byte sectors, 4 per cluster, 1 reserved, 2 FATs, media 0xF8.
std::array<std::uint8_t, 512> WholeDiskBootSector() {
    std::array<std::uint8_t, 512> sector{};
    sector[0] = 0xEB;
    sector[1] = 0x3C;
    sector[2] = 0x90;
    sector[0x0C] = 0x02;  // 512 bytes per sector
    sector[0x0D] = 4;
    sector[0x0E] = 1;
    sector[0x10] = 2;
    sector[0x13] = 0xE8;  // 1000 sectors
    sector[0x14] = 0x03;
    sector[0x15] = 0xF8;
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return sector;
}

TEST(WholeDiskVolumeTest, ABootSectorWithoutPartitionEntriesIsAWholeDiskVolume) {
    auto sector = WholeDiskBootSector();
    EXPECT_TRUE(IsWholeDiskVolume(sector));
    // Boot code or a message where the partition table would be is no entry.
    sector[446] = 'T';
    sector[446 + 4] = 'h';
    EXPECT_TRUE(IsWholeDiskVolume(sector));
}

TEST(WholeDiskVolumeTest, AnythingThatIsNoSuchBootSectorIsAPartitionTable) {
    const auto good = WholeDiskBootSector();
    auto withEntry = good;
    withEntry[446] = 0x80;
    withEntry[446 + 4] = 0x06;
    EXPECT_FALSE(IsWholeDiskVolume(withEntry));
    auto inactiveEntry = good;
    inactiveEntry[462 + 4] = 0x0C;
    EXPECT_FALSE(IsWholeDiskVolume(inactiveEntry));

    const std::vector<std::pair<std::size_t, std::uint8_t>> breaks = {
        {0, 0xFA},     // boot code of a master boot record, no jump
        {2, 0x00},     // a short jump without its NOP
        {0x0C, 0x04},  // 1024-byte sectors
        {0x0D, 3},     // sectors per cluster not a power of two
        {0x0E, 0},     // no reserved sector
        {0x10, 3},     // three FATs
        {0x15, 0x00},  // no media byte
        {0x14, 0x00},  // with 0x13: no sectors at all
    };
    for (const auto& [at, value] : breaks) {
        auto sector = good;
        sector[at] = value;
        if (at == 0x14) {
            sector[0x13] = 0;
        }
        EXPECT_FALSE(IsWholeDiskVolume(sector)) << "byte " << at;
    }
    EXPECT_FALSE(IsWholeDiskVolume(std::span<const std::uint8_t>(good.data(), 511)));
    // The image builder's master boot record.
    const auto mbr = testing::PartitionSector({{0x0C, 2048, 100'000}});
    EXPECT_FALSE(IsWholeDiskVolume(mbr));
}

}  // namespace
}  // namespace moravel
