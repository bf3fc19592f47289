#include "disk/failing/FailingSource.h"

#include <gtest/gtest.h>

#include "disk/DriveAccess.h"
#include "support/TempDir.h"
#include "ui/headless/HeadlessFrontend.h"

namespace moravel::failing {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using testing::Bytes;
using testing::ImageFile;

// Every sector of the image holds its own byte, so that misplaced bytes show.
std::uint8_t Pattern(std::uint64_t sector) {
    return static_cast<std::uint8_t>(sector * 7 + 1);
}

bool SectorIs(const Bytes& buffer, std::size_t index, std::uint8_t value) {
    for (std::size_t i = index * 512; i < (index + 1) * 512; ++i) {
        if (buffer[i] != value) {
            return false;
        }
    }
    return true;
}

class FailingSourceTest : public ::testing::Test {
protected:
    FailingSourceTest() : m_image(m_dir.File("disk.img"), 256 * 512) {
        Bytes data;
        for (std::uint64_t s = 0; s < 256; ++s) {
            data.insert(data.end(), 512, Pattern(s));
        }
        m_image.Write(0, data);
    }

    Sleep Recorder() {
        return [this](microseconds time) { m_slept.push_back(time); };
    }

    testing::TempDir m_dir;
    ImageFile m_image;
    std::vector<microseconds> m_slept;
};

TEST_F(FailingSourceTest, ReadsTheImageUpToTheFirstBadSector) {
    FaultPlan plan;
    plan.bad = {{102, 102}};
    plan.failedSectorCost = milliseconds(5);
    auto opened = OpenFailingImage(m_image.Path(), plan, Recorder());
    ASSERT_TRUE(opened) << opened.error().reason;
    FailingSource* source = opened->get();
    EXPECT_EQ(source->Size(), 256u * 512);

    Bytes buffer(8 * 512, 0);
    EXPECT_EQ(source->ReadAt(98 * 512, buffer), 4u * 512);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(SectorIs(buffer, i, Pattern(98 + i))) << i;
    }
    EXPECT_TRUE(SectorIs(buffer, 4, 0));
    EXPECT_EQ(source->ReadAt(102 * 512, buffer), 0u);
    EXPECT_TRUE(source->Read(102 * 512, buffer).error);
    EXPECT_EQ(m_slept,
              (std::vector<microseconds>{milliseconds(5), milliseconds(5), milliseconds(5)}));
}

TEST_F(FailingSourceTest, AnImageThatCannotBeOpenedGivesTheReason) {
    const auto opened = OpenFailingImage(m_dir.File("missing.img"), {}, Recorder());
    ASSERT_FALSE(opened);
    EXPECT_FALSE(opened.error().reason.empty());
}

TEST_F(FailingSourceTest, DriveAccessFillsTheBadSectorsOfARunWithE5) {
    FaultPlan plan;
    plan.bad = {{102, 102}};
    plan.weak = {{105, 2}};
    plan.failedSectorCost = milliseconds(20);
    FailingImages images(Recorder());
    images.Fail(m_image.Path(), plan);
    HeadlessFrontend frontend;
    DriveAccessOptions options;
    options.sources.hardDisks = {m_image.Path()};
    options.opener = images.Opener();
    DriveAccess access(frontend, options);
    ASSERT_TRUE(access.Open().empty());
    const std::shared_ptr<FailingDisk> disk = images.Disk(m_image.Path());
    ASSERT_NE(disk, nullptr);
    disk->ClearLog();
    m_slept.clear();

    DriveItem run;
    run.m_drive = kFirstHardDisk;
    run.m_partitionStart = 100;
    run.m_sectorCount = 8;
    Bytes buffer(8 * 512);
    UnreadableSectors unreadable;
    EXPECT_FALSE(access.ReadSectors(run, nullptr, buffer, &unreadable));
    // The run stopped at 102 before the weak sector was reached; sector by
    // sector, 105 failed its first try.
    EXPECT_EQ(std::vector<std::uint32_t>(unreadable), (std::vector<std::uint32_t>{2, 5}));
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_TRUE(SectorIs(buffer, i, i == 2 || i == 5 ? 0xE5 : Pattern(100 + i))) << i;
    }
    // The run, each sector, and after each of the three failed reads one read
    // elsewhere that tells the disk still answers.
    EXPECT_EQ(disk->Log().size(), 12u);
    EXPECT_EQ(disk->TimesRead(102), 2u);
    EXPECT_EQ(disk->TimesRead(103), 1u);
    EXPECT_EQ(m_slept, (std::vector<microseconds>(3, milliseconds(20))));

    unreadable.clear();
    EXPECT_FALSE(access.ReadSectors(run, nullptr, buffer, &unreadable));
    EXPECT_EQ(std::vector<std::uint32_t>(unreadable), (std::vector<std::uint32_t>{2}));
    EXPECT_TRUE(SectorIs(buffer, 5, Pattern(105)));
}

TEST_F(FailingSourceTest, OtherPathsOpenAsThemselves) {
    ImageFile other(m_dir.File("other.img"), 4 * 512);
    FailingImages images(Recorder());
    FaultPlan plan;
    plan.bad = {{0, 3}};
    images.Fail(m_image.Path(), plan);
    OpenedSource opened = images.Opener()(other.Path());
    ASSERT_TRUE(opened);
    SectorSource* source = opened->get();
    Bytes buffer(4 * 512);
    EXPECT_EQ(source->ReadAt(0, buffer), 4u * 512);
    EXPECT_EQ(images.Disk(other.Path()), nullptr);
}

}  // namespace
}  // namespace moravel::failing
