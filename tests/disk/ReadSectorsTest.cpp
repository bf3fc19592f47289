#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "disk/DriveAccess.h"
#include "disk/MemoryBlock.h"
#include "support/TempDir.h"
#include "support/TestSources.h"
#include "ui/headless/HeadlessFrontend.h"

namespace moravel {
namespace {

using testing::Bytes;
using testing::ImageFile;

// Sector n of the test images holds the byte (n * 7 + 1) everywhere, so every
// sector in a buffer can be told apart.
std::uint8_t Pattern(std::uint64_t sector) {
    return static_cast<std::uint8_t>(sector * 7 + 1);
}

void FillPattern(const ImageFile& image, std::uint64_t firstSector, std::uint64_t sectors) {
    Bytes data;
    for (std::uint64_t s = firstSector; s < firstSector + sectors; ++s) {
        data.insert(data.end(), 512, Pattern(s));
    }
    image.WriteSector(firstSector, data);
}

bool SectorIs(const Bytes& buffer, std::size_t index, std::uint8_t value) {
    return std::all_of(buffer.begin() + static_cast<long>(index * 512),
                       buffer.begin() + static_cast<long>((index + 1) * 512),
                       [value](std::uint8_t b) { return b == value; });
}

class ReadSectorsTest : public ::testing::Test {
protected:
    ReadSectorsTest() : m_disk(m_dir.File("disk.img"), 4096 * 512) { FillPattern(m_disk, 0, 4096); }

    DriveAccess& Open(std::vector<std::string> floppies = {}) {
        DriveAccessOptions options;
        options.sources.hardDisks = {m_disk.Path()};
        options.sources.floppies = std::move(floppies);
        options.opener = m_opener.Opener();
        m_access = std::make_unique<DriveAccess>(m_frontend, options);
        EXPECT_TRUE(m_access->Open().empty());
        return *m_access;
    }

    static DriveItem Run(std::uint16_t drive, std::uint32_t start, std::uint32_t relative,
                         std::uint32_t count) {
        DriveItem item;
        item.m_drive = drive;
        item.m_partitionStart = start;
        item.m_relativeSector = relative;
        item.m_sectorCount = count;
        return item;
    }

    testing::TempDir m_dir;
    ImageFile m_disk;
    testing::TestOpener m_opener;
    HeadlessFrontend m_frontend;
    std::unique_ptr<DriveAccess> m_access;
};

TEST_F(ReadSectorsTest, AWholeRunComesInOneRequest) {
    DriveAccess& access = Open();
    Bytes buffer(8 * 512);
    m_opener.Log().reads.clear();
    EXPECT_TRUE(access.ReadSectors(Run(128, 63, 10, 8), nullptr, buffer));
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_TRUE(SectorIs(buffer, i, Pattern(73 + i))) << i;
    }
    ASSERT_EQ(m_opener.Log().reads.size(), 1u);
    EXPECT_EQ(m_opener.Log().reads[0].offset, 37'376u);  // (63 + 10) * 512
    EXPECT_EQ(m_opener.Log().reads[0].bytes, 4096u);
    EXPECT_TRUE(m_frontend.Messages().empty());
}

TEST_F(ReadSectorsTest, AnUnreadableSectorIsFilledWithE5AndTheRestIsRead) {
    m_opener.MarkBad(m_disk.Path(), 102);
    DriveAccess& access = Open();
    Bytes buffer(8 * 512);
    m_opener.Log().reads.clear();
    EXPECT_FALSE(access.ReadSectors(Run(128, 100, 0, 8), nullptr, buffer));
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_TRUE(SectorIs(buffer, i, i == 2 ? 0xE5 : Pattern(100 + i))) << i;
    }
    // One attempt at the run, then one per sector; after each of the two failed
    // reads a read elsewhere on the disk tells that it still answers.
    EXPECT_EQ(m_opener.Log().reads.size(), 11u);
}

TEST_F(ReadSectorsTest, ARetryThatReadsEverySectorStillReportsFailure) {
    DriveAccess& access = Open();
    // A run that ends past the disk: the sectors behind the end are unreadable.
    Bytes buffer(4 * 512);
    EXPECT_FALSE(access.ReadSectors(Run(128, 0, 4094, 4), nullptr, buffer));
    EXPECT_TRUE(SectorIs(buffer, 0, Pattern(4094)));
    EXPECT_TRUE(SectorIs(buffer, 1, Pattern(4095)));
    EXPECT_TRUE(SectorIs(buffer, 2, 0xE5));
    EXPECT_TRUE(SectorIs(buffer, 3, 0xE5));
}

TEST_F(ReadSectorsTest, AFailedOneSectorReadWritesNoFill) {
    m_opener.MarkBad(m_disk.Path(), 5);
    DriveAccess& access = Open();
    Bytes buffer(512, 0x11);
    EXPECT_FALSE(access.ReadSectors(Run(128, 0, 5, 1), nullptr, buffer));
    EXPECT_TRUE(SectorIs(buffer, 0, 0x11));
}

TEST_F(ReadSectorsTest, AnImageEndingInsideASectorReadsThatSectorAsUnreadable) {
    m_disk.Truncate(4095 * 512 + 100);
    DriveAccess& access = Open();
    Bytes buffer(2 * 512);
    EXPECT_FALSE(access.ReadSectors(Run(128, 0, 4094, 2), nullptr, buffer));
    EXPECT_TRUE(SectorIs(buffer, 0, Pattern(4094)));
    EXPECT_TRUE(SectorIs(buffer, 1, 0xE5));
}

TEST_F(ReadSectorsTest, OffsetsBeyondFourGiBAreReached) {
    ImageFile big(m_dir.File("big.img"), 6ull << 30);
    const std::uint64_t sector = (5ull << 30) / 512 + 3;
    FillPattern(big, sector, 2);
    DriveAccessOptions options;
    options.sources.hardDisks = {big.Path()};
    DriveAccess access(m_frontend, options);
    ASSERT_TRUE(access.Open().empty());
    Bytes buffer(2 * 512);
    // Partition start plus relative sector passes 2^32 bytes, not 2^32 sectors.
    EXPECT_TRUE(access.ReadSectors(Run(128, static_cast<std::uint32_t>(sector - 3), 3, 2), nullptr,
                                   buffer));
    EXPECT_TRUE(SectorIs(buffer, 0, Pattern(sector)));
    EXPECT_TRUE(SectorIs(buffer, 1, Pattern(sector + 1)));
}

TEST_F(ReadSectorsTest, AFloppyIsOpenedWhenFirstReadAndReopenedWhenItGivesNothing) {
    ImageFile floppy(m_dir.File("floppy.img"), 2880 * 512);
    FillPattern(floppy, 0, 20);
    DriveAccess& access = Open({floppy.Path()});
    m_opener.Log().opens.clear();

    Bytes buffer(512);
    EXPECT_TRUE(access.ReadSectors(Run(0, 0, 19, 1), nullptr, buffer));
    EXPECT_TRUE(SectorIs(buffer, 0, Pattern(19)));
    EXPECT_THAT(m_opener.Log().opens, ::testing::ElementsAre(floppy.Path()));

    // Open slot: no new open while reads succeed.
    EXPECT_TRUE(access.ReadSectors(Run(0, 0, 3, 1), nullptr, buffer));
    EXPECT_EQ(m_opener.Log().opens.size(), 1u);

    // A read that returns nothing opens the drive again before giving up.
    EXPECT_FALSE(access.ReadSectors(Run(0, 0, 5000, 1), nullptr, buffer));
    EXPECT_EQ(m_opener.Log().opens.size(), 2u);
}

TEST_F(ReadSectorsTest, AFloppyThatCannotBeOpenedAgainFailsWithoutRetry) {
    ImageFile floppy(m_dir.File("floppy.img"), 2880 * 512);
    DriveAccess& access = Open({floppy.Path()});
    std::filesystem::remove(floppy.Path());
    Bytes buffer(4 * 512, 0x22);
    m_opener.Log().reads.clear();
    EXPECT_FALSE(access.ReadSectors(Run(0, 0, 0, 4), nullptr, buffer));
    EXPECT_TRUE(m_opener.Log().reads.empty());
    EXPECT_TRUE(SectorIs(buffer, 3, 0x22));  // no per-sector fill either
}

TEST_F(ReadSectorsTest, ReadClustersReadsEachClusterInListOrder) {
    DriveAccess& access = Open();
    DriveItem volume = Run(128, 0, 100, 0);
    volume.m_sectorsPerCluster = 4;
    const std::uint32_t clusters[] = {5, 9};
    Bytes buffer(4096);
    m_opener.Log().reads.clear();
    EXPECT_TRUE(access.ReadClusters(clusters, volume, 2, buffer));
    ASSERT_EQ(m_opener.Log().reads.size(), 2u);
    EXPECT_EQ(m_opener.Log().reads[0].offset, 112u * 512);
    EXPECT_EQ(m_opener.Log().reads[1].offset, 128u * 512);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(SectorIs(buffer, i, Pattern(112 + i)));
        EXPECT_TRUE(SectorIs(buffer, 4 + i, Pattern(128 + i)));
    }
    m_opener.Log().reads.clear();
    EXPECT_TRUE(access.ReadClusters(clusters, volume, 0, buffer));
    EXPECT_TRUE(m_opener.Log().reads.empty());
}

TEST_F(ReadSectorsTest, ReadClustersStopsAtTheFirstDamagedCluster) {
    m_opener.MarkBad(m_disk.Path(), 113);
    DriveAccess& access = Open();
    DriveItem volume = Run(128, 0, 100, 0);
    volume.m_sectorsPerCluster = 4;
    const std::uint32_t clusters[] = {2, 5, 9};
    Bytes buffer(3 * 4 * 512, 0x33);
    EXPECT_FALSE(access.ReadClusters(clusters, volume, 3, buffer));
    EXPECT_TRUE(SectorIs(buffer, 0, Pattern(100)));  // cluster 2 in full
    EXPECT_TRUE(SectorIs(buffer, 4, Pattern(112)));  // cluster 5 as its retry left it
    EXPECT_TRUE(SectorIs(buffer, 5, 0xE5));
    EXPECT_TRUE(SectorIs(buffer, 8, 0x33));  // cluster 9 never read
}

TEST_F(ReadSectorsTest, ARawReadIsOneAttemptWithoutRetry) {
    m_opener.MarkBad(m_disk.Path(), 1);
    DriveAccess& access = Open();
    Bytes buffer(2 * 512, 0x44);
    m_opener.Log().reads.clear();
    EXPECT_EQ(access.RawReadItem(Run(128, 0, 0, 2), buffer), RawRead::DeviceReadShort);
    EXPECT_EQ(m_opener.Log().reads.size(), 1u);
    EXPECT_EQ(access.RawReadItem(Run(128, 7, 99, 1), buffer), RawRead::Ok);
    EXPECT_TRUE(SectorIs(buffer, 0, Pattern(7)));  // m_partitionStart alone places it
}

#ifndef _WIN32
// Whether the kernel takes a read past its cache of this file: the oracle.
bool TakesDirectReads(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const MemoryBlock block = MemoryBlock::Allocate(4096);
    const bool read = ::pread(fd, block.Data(), 4096, 0) == 4096;
    ::close(fd);
    return read;
}

// Where the disk takes O_DIRECT, a rescue's reads pass by the cache and say so;
// where it does not (a memory file system), they go on through it and say why.
// Aligned or not, every read gives the disk's bytes. A loop device stands for a
// block device where the machine has one.
TEST_F(ReadSectorsTest, ReadsPassByTheCacheWhereTheDiskTakesIt) {
    std::vector<std::string> paths = {m_disk.Path()};
    if (std::filesystem::is_directory("/dev/shm")) {
        std::filesystem::copy_file(m_disk.Path(), "/dev/shm/moravel-direct-test.img",
                                   std::filesystem::copy_options::overwrite_existing);
        paths.push_back("/dev/shm/moravel-direct-test.img");
    }
    std::string loop;
    if (std::FILE* pipe =
            ::popen(("losetup -r -f --show " + m_disk.Path() + " 2>/dev/null").c_str(), "r")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, pipe) != nullptr) {
            loop = std::string(line, std::strcspn(line, "\n"));
            paths.push_back(loop);
        }
        ::pclose(pipe);
    }
    for (const std::string& path : paths) {
        OpenedSource source = OpenFileSource(path);
        ASSERT_TRUE(source) << path;
        const std::string reads = (*source)->BypassCache();
        EXPECT_THAT(reads, ::testing::StartsWith(
                               TakesDirectReads(path)
                                   ? "direct from the disk (O_DIRECT), past the system's cache"
                                   : "through the system's cache: the disk refused O_DIRECT ("))
            << path;
        const MemoryBlock aligned = MemoryBlock::Allocate(8192);
        EXPECT_EQ((*source)->ReadAt(512 * 100, aligned.Bytes()), 8192u) << path;
        EXPECT_TRUE(SectorIs(Bytes(aligned.Data(), aligned.Data() + 8192), 15, Pattern(115)));
        Bytes odd(700);
        EXPECT_EQ((*source)->ReadAt(512 * 7 + 3, odd), 700u) << path;
        EXPECT_EQ(odd[0], Pattern(7));
        EXPECT_EQ(odd[699], Pattern(8));
    }
    std::filesystem::remove("/dev/shm/moravel-direct-test.img");
    if (!loop.empty()) {
        std::system(("losetup -d " + loop).c_str());
    } else {
        std::cout << "[   NOTE   ] no loop device: no block device read past the cache\n";
    }
}
#endif

}  // namespace
}  // namespace moravel
