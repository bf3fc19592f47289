#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "disk/Disk32Api.h"
#include "disk/DriveAccess.h"
#include "disk32/Disk32Testing.h"
#include "support/ServiceLibrary.h"
#include "support/TempDir.h"
#include "support/TestSources.h"
#include "ui/headless/HeadlessFrontend.h"

namespace moravel {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::ImageFile;
using testing::Reasons;
namespace d32 = disk32;

std::uint8_t Pattern(std::uint64_t sector) {
    return static_cast<std::uint8_t>(sector * 7 + 1);
}

bool SectorIs(const Bytes& buffer, std::size_t index, std::uint8_t value) {
    return std::all_of(buffer.begin() + static_cast<long>(index * 512),
                       buffer.begin() + static_cast<long>((index + 1) * 512),
                       [value](std::uint8_t b) { return b == value; });
}

class BiosServicesTest : public ::testing::Test {
protected:
    BiosServicesTest() : m_disk(m_dir.File("disk.img"), 20'000 * 512) {
        Bytes data;
        for (std::uint64_t s = 0; s < 600; ++s) {
            data.insert(data.end(), 512, Pattern(s));
        }
        m_disk.WriteSector(0, data);
    }

    DriveAccessOptions Options(std::string library = DISK32_LIBRARY) {
        DriveAccessOptions options;
        options.platform = DiskPlatform::BiosServices;
        options.biosLibrary = std::move(library);
        options.sources.hardDisks = {m_disk.Path()};
        return options;
    }

    // An item inside a partition at cylinder 0, head 1, sector 1 of a 255/63 disk.
    static DriveItem Run(std::uint32_t relative, std::uint32_t count) {
        DriveItem item;
        item.m_drive = 128;
        item.m_startHead = 1;
        item.m_startSector = 1;
        item.m_partitionStart = 63;
        item.m_heads = 255;
        item.m_sectorsPerTrack = 63;
        item.m_useExtensions = 1;
        item.m_relativeSector = relative;
        item.m_sectorCount = count;
        return item;
    }

    testing::TempDir m_dir;
    ImageFile m_disk;
    testing::ServiceLibrary m_library{DISK32_LIBRARY};
    HeadlessFrontend m_frontend;
};

TEST_F(BiosServicesTest, EnumeratesThroughTheLibrary) {
    ImageFile second(m_dir.File("second.img"), 1 << 20);
    ImageFile floppy(m_dir.File("floppy.img"), 1'474'560);
    auto options = Options();
    options.sources.hardDisks.push_back(second.Path());
    options.sources.floppies = {floppy.Path()};
    DriveAccess access(m_frontend, options);
    ASSERT_TRUE(access.Open().empty());
    EXPECT_TRUE(access.IsBiosServices());
    EXPECT_EQ(access.GetFloppyCount(), 1u);  // answered by the driver
    ASSERT_EQ(access.GetHardDiskCount(), 2);
    const DriveItem* disks = access.GetDisks();
    EXPECT_EQ(disks[0].DisplayName(), "Floppy Disk 1");
    EXPECT_EQ(disks[0].m_useExtensions, 0u);
    EXPECT_EQ(disks[1].DisplayName(), "Hard Disk 1");
    EXPECT_EQ(disks[1].m_useExtensions, 1u);  // from CheckInt13Extension32
    EXPECT_EQ(disks[2].m_drive, 129);

    // Each hard disk was probed at cylinder 0, head 0, sector 1, one sector, LBA 0,
    // without extensions; the third probe found nothing and ended the list.
    const auto requests = m_library.TakeRequests();
    ASSERT_EQ(requests.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(requests[i].drive, 128 + i);
        EXPECT_EQ(requests[i].cylinder, 0u);
        EXPECT_EQ(requests[i].head, 0u);
        EXPECT_EQ(requests[i].sector, 1u);
        EXPECT_EQ(requests[i].count, 1u);
        EXPECT_EQ(requests[i].lba, 0u);
        EXPECT_EQ(requests[i].useExtensions, 0u);
    }
    EXPECT_EQ(requests[2].result, 0);
}

TEST_F(BiosServicesTest, AHardDiskTheServicesCannotReadEndsTheList) {
    auto options = Options();
    options.sources.hardDisks = {m_disk.Path(), m_dir.File("gone.img"), m_disk.Path()};
    DriveAccess access(m_frontend, options);
    ASSERT_TRUE(access.Open().empty());
    EXPECT_EQ(access.GetHardDiskCount(), 1);
    ASSERT_EQ(access.OpenProblems().size(), 1u);
    EXPECT_EQ(access.OpenProblems()[0].path, m_dir.File("gone.img"));
    EXPECT_EQ(access.OpenProblems()[0].reason, "No such file or directory");
    // The services were handed every path (the repeated one once), and know no
    // disk added later.
    EXPECT_THAT(access.SourcePaths(), ElementsAre(m_disk.Path(), m_dir.File("gone.img")));
    const Result<DriveItem*> added = access.AddDisk(m_disk.Path(), false);
    ASSERT_FALSE(added);
    EXPECT_THAT(added.error().reason, ::testing::HasSubstr("not through the BIOS disk services"));
}

TEST_F(BiosServicesTest, AMissingLibraryIsReported) {
    DriveAccess access(m_frontend, Options(m_dir.File("libDisk32.so")));
    EXPECT_THAT(Reasons(access.Open()), ElementsAre("internal error 00003"));
    EXPECT_EQ(access.GetHardDiskCount(), 0);
    EXPECT_EQ(access.GetFloppyCount(), 0u);
}

TEST_F(BiosServicesTest, EachMissingEntryPointIsReported) {
    const std::pair<const char*, const char*> cases[] = {
        {DISK32_WITHOUT_READ_LIBRARY, "internal error 00004"},
        {DISK32_WITHOUT_CHECK_LIBRARY, "internal error 00006"},
    };
    for (const auto& [library, text] : cases) {
        DriveAccess access(m_frontend, Options(library));
        EXPECT_THAT(Reasons(access.Open()), ElementsAre(text)) << library;
        EXPECT_EQ(access.GetHardDiskCount(), 0);
    }
    // The program never writes: a library without the write service serves it.
    DriveAccess access(m_frontend, Options(DISK32_WITHOUT_WRITE_LIBRARY));
    EXPECT_TRUE(access.Open().empty());
}

TEST_F(BiosServicesTest, ADriverThatIsNotSupportedGivesInternalError7) {
    m_library.setDriverError(d32::kErrorNotSupported);
    DriveAccess access(m_frontend, Options());
    EXPECT_THAT(Reasons(access.Open()),
                ElementsAre("Unable to open DISK.VXD", "internal error 00007"));
    EXPECT_EQ(access.GetFloppyCount(), 0u);
    EXPECT_EQ(access.GetHardDiskCount(), 0);
}

TEST_F(BiosServicesTest, ADriverMissingForAnyOtherReasonIsReportedTwice) {
    m_library.setDriverError(5);  // access denied
    DriveAccess access(m_frontend, Options());
    EXPECT_THAT(Reasons(access.Open()),
                ElementsAre("Unable to open DISK.VXD", "Unable to open DISK.VXD"));
    EXPECT_EQ(access.GetHardDiskCount(), 0);
}

TEST_F(BiosServicesTest, ARunIsRequestedTrackByTrack) {
    DriveAccess access(m_frontend, Options());
    ASSERT_TRUE(access.Open().empty());
    m_library.TakeRequests();
    // Absolute sector 122 (63 + 59) is sector 60 of its track: 4, 63 and 33 sectors.
    DriveItem item = Run(59, 100);
    Bytes buffer(100 * 512);
    ChsAddress chs;
    EXPECT_TRUE(access.ReadSectors(item, &chs, buffer));
    const auto requests = m_library.TakeRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].count, 4u);
    EXPECT_EQ(requests[1].count, 63u);
    EXPECT_EQ(requests[2].count, 33u);
    EXPECT_EQ(requests[0].sector, 60u);
    EXPECT_EQ(requests[0].head, 1u);
    EXPECT_EQ(requests[1].sector, 1u);
    EXPECT_EQ(requests[1].head, 2u);
    EXPECT_EQ(requests[0].lba, 122u);
    EXPECT_EQ(requests[1].lba, 126u);
    EXPECT_EQ(requests[2].lba, 189u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.useExtensions, 0u);  // below cylinder 1024
    }
    for (std::size_t i = 0; i < 100; ++i) {
        ASSERT_TRUE(SectorIs(buffer, i, Pattern(122 + i))) << i;
    }
}

TEST_F(BiosServicesTest, APartitionStartingAtHead1ReadsAtCylinder0Head1Sector1) {
    DriveAccess access(m_frontend, Options());
    ASSERT_TRUE(access.Open().empty());
    m_library.TakeRequests();
    Bytes buffer(512);
    EXPECT_TRUE(access.ReadSectors(Run(0, 1), nullptr, buffer));
    const auto requests = m_library.TakeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].cylinder, 0u);
    EXPECT_EQ(requests[0].head, 1u);
    EXPECT_EQ(requests[0].sector, 1u);
    EXPECT_EQ(requests[0].useExtensions, 0u);
    EXPECT_TRUE(SectorIs(buffer, 0, Pattern(63)));
}

TEST_F(BiosServicesTest, AFailedTrackIsRetriedSectorBySectorAndTheRunGoesOn) {
    m_library.failSector(128, 130);
    DriveAccess access(m_frontend, Options());
    ASSERT_TRUE(access.Open().empty());
    Bytes buffer(100 * 512, 0x55);
    EXPECT_FALSE(access.ReadSectors(Run(59, 100), nullptr, buffer));
    for (std::size_t i = 0; i < 100; ++i) {
        ASSERT_TRUE(SectorIs(buffer, i, 122 + i == 130 ? 0xE5 : Pattern(122 + i))) << i;
    }
}

TEST_F(BiosServicesTest, AnUnreadableOneSectorChunkOfALongerRunIsFilled) {
    m_library.failSector(128, 125);  // the last sector of its track
    DriveAccess access(m_frontend, Options());
    ASSERT_TRUE(access.Open().empty());
    Bytes buffer(2 * 512, 0x55);
    EXPECT_FALSE(access.ReadSectors(Run(62, 2), nullptr, buffer));
    EXPECT_TRUE(SectorIs(buffer, 0, 0xE5));
    EXPECT_TRUE(SectorIs(buffer, 1, Pattern(126)));

    Bytes single(512, 0x55);
    EXPECT_FALSE(access.ReadSectors(Run(62, 1), nullptr, single));
    EXPECT_TRUE(SectorIs(single, 0, 0x55));  // a one-sector read writes no fill
}

TEST_F(BiosServicesTest, BeyondCylinder1023OnlyAnLbaRequestReachesTheSector) {
    ImageFile big(m_dir.File("big.img"), 9ull << 30);
    const std::uint32_t lba = 1024u * 255 * 63 + 5;
    Bytes data(512, Pattern(lba));
    big.WriteSector(lba, data);
    auto options = Options();
    options.sources.hardDisks = {big.Path()};
    DriveAccess access(m_frontend, options);
    ASSERT_TRUE(access.Open().empty());
    DriveItem item = Run(lba - 63, 1);

    m_library.TakeRequests();
    Bytes buffer(512);
    EXPECT_TRUE(access.ReadSectors(item, nullptr, buffer));
    auto requests = m_library.TakeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].useExtensions, 1u);
    EXPECT_EQ(requests[0].lba, lba);
    EXPECT_TRUE(SectorIs(buffer, 0, Pattern(lba)));

    // Without the extended services (bit 0 clear) the sector cannot be addressed.
    item.m_useExtensions = 2;
    EXPECT_FALSE(access.ReadSectors(item, nullptr, buffer));
    requests = m_library.TakeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].useExtensions, 0u);
    EXPECT_EQ(requests[0].result, 0);
}

TEST_F(BiosServicesTest, AnItemWithoutGeometryIsNotRequested) {
    DriveAccess access(m_frontend, Options());
    ASSERT_TRUE(access.Open().empty());
    m_library.TakeRequests();
    DriveItem item = Run(0, 1);
    item.m_heads = 0;
    Bytes buffer(512);
    EXPECT_FALSE(access.ReadSectors(item, nullptr, buffer));
    EXPECT_TRUE(m_library.TakeRequests().empty());
}

TEST_F(BiosServicesTest, ARawReadPassesTheItemsOwnAddress) {
    DriveAccess access(m_frontend, Options());
    ASSERT_TRUE(access.Open().empty());
    m_library.TakeRequests();
    DriveItem partition;
    partition.m_drive = 128;
    partition.m_startCylinder = 0;
    partition.m_startHead = 1;
    partition.m_startSector = 1;
    partition.m_sectorCount = 1;
    partition.m_partitionStart = 63;
    partition.m_useExtensions = 1;
    Bytes buffer(512);
    EXPECT_EQ(access.RawReadItem(partition, buffer), RawRead::Ok);
    const auto requests = m_library.TakeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].head, 1u);
    EXPECT_EQ(requests[0].sector, 1u);
    EXPECT_EQ(requests[0].lba, 63u);
    EXPECT_EQ(requests[0].useExtensions, 1u);  // passed unmasked
    EXPECT_TRUE(SectorIs(buffer, 0, Pattern(63)));

    partition.m_partitionStart = 40'000;  // beyond the image
    EXPECT_EQ(access.RawReadItem(partition, buffer), RawRead::BiosServiceFailed);
}

TEST(ChsOfTest, ConvertsThroughTheGeometry) {
    DriveItem place;
    place.m_heads = 255;
    place.m_sectorsPerTrack = 63;
    place.m_startHead = 1;
    place.m_startSector = 1;
    ChsAddress chs;
    EXPECT_TRUE(ChsOf(place, 0, chs));
    EXPECT_EQ(chs.m_cylinder, 0);
    EXPECT_EQ(chs.m_head, 1);
    EXPECT_EQ(chs.m_sector, 1);

    // Cylinder 700 = 0x2BC: low byte 0xBC, bits 8-9 (0b10) into sector bits 6-7.
    place.m_startHead = 0;
    EXPECT_TRUE(ChsOf(place, 700u * 255 * 63 + 3 * 63 + 9, chs));
    EXPECT_EQ(chs.m_cylinder, 0xBC);
    EXPECT_EQ(chs.m_head, 3);
    EXPECT_EQ(chs.m_sector, 10 | 0x80);

    // The partition's own start comes from its CHS fields, cylinder bits included.
    DriveItem inner;
    inner.m_heads = 16;
    inner.m_sectorsPerTrack = 63;
    inner.m_startCylinder = 0x01;
    inner.m_startSector = 0x40 | 2;  // cylinder 0x101, sector 2
    inner.m_startHead = 4;
    EXPECT_TRUE(ChsOf(inner, 0, chs));
    EXPECT_EQ(chs.m_cylinder, 0x01);
    EXPECT_EQ(chs.m_head, 4);
    EXPECT_EQ(chs.m_sector, 0x40 | 2);
}

TEST(ChsOfTest, ReportsCylindersBeyond1023) {
    DriveItem place;
    place.m_heads = 255;
    place.m_sectorsPerTrack = 63;
    place.m_startSector = 1;
    ChsAddress chs;
    chs.m_head = 77;
    EXPECT_FALSE(ChsOf(place, 1024u * 255 * 63, chs));
    EXPECT_EQ(chs.m_cylinder, 1024);
    EXPECT_EQ(chs.m_head, 77);  // left as it was

    // A cylinder past 65535 must not pass for a small one.
    place.m_heads = 1;
    place.m_sectorsPerTrack = 1;
    EXPECT_FALSE(ChsOf(place, 65536 + 5, chs));
}

}  // namespace
}  // namespace moravel
