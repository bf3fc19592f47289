#include "disk/failing/FailingDisk.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace moravel::failing {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr std::uint64_t S = kSectorBytes;

// 100 sectors; 10 to 12 never read.
FaultPlan Plan() {
    FaultPlan plan;
    plan.bad = {{10, 12}};
    plan.failedSectorCost = milliseconds(20);
    plan.goodSectorCost = microseconds(10);
    return plan;
}

TEST(FailingDiskTest, GoodSectorsReadWhole) {
    FailingDisk disk(100 * S, Plan());
    const ReadOutcome read = disk.Read(0, 5 * S);
    EXPECT_EQ(read.bytes, 5 * S);
    EXPECT_FALSE(read.error);
    EXPECT_FALSE(read.stoppedAt);
    EXPECT_EQ(read.cost, microseconds(50));
}

TEST(FailingDiskTest, AReadStopsBeforeItsFirstBadSector) {
    FailingDisk disk(100 * S, Plan());
    const ReadOutcome read = disk.Read(8 * S, 8 * S);
    EXPECT_EQ(read.bytes, 2 * S);
    EXPECT_FALSE(read.error);
    EXPECT_EQ(read.stoppedAt, 10u);
    // Three bad sectors in the request, but the drive gave up at the first.
    EXPECT_EQ(read.cost, microseconds(20) + milliseconds(20));

    EXPECT_EQ(disk.Read(9 * S + 100, 4096).bytes, S - 100);

    // Through a bridge that fails a request as a whole, none of it arrives; the
    // drive spent the same time on it.
    FaultPlan whole = Plan();
    whole.failWholeRequest = true;
    FailingDisk bridged(100 * S, whole);
    const ReadOutcome failed = bridged.Read(8 * S, 8 * S);
    EXPECT_TRUE(failed.error);
    EXPECT_EQ(failed.bytes, 0u);
    EXPECT_EQ(failed.stoppedAt, 10u);
    EXPECT_EQ(failed.cost, read.cost);
    EXPECT_EQ(bridged.Read(0, 10 * S).bytes, 10 * S);
}

TEST(FailingDiskTest, AReadThatBeginsOnABadSectorFails) {
    FailingDisk disk(100 * S, Plan());
    for (const std::uint64_t offset : {10 * S, 11 * S + 7, 12 * S + 511}) {
        const ReadOutcome read = disk.Read(offset, 4 * S);
        EXPECT_TRUE(read.error) << offset;
        EXPECT_EQ(read.bytes, 0u) << offset;
        EXPECT_EQ(read.stoppedAt, offset / S) << offset;
        EXPECT_EQ(read.cost, milliseconds(20)) << offset;
    }
    EXPECT_EQ(disk.Read(13 * S, S).bytes, S);
}

TEST(FailingDiskTest, TheEndOfTheDiskEndsAReadWithoutError) {
    FailingDisk disk(100 * S + 100, Plan());
    EXPECT_EQ(disk.Read(99 * S, 4 * S).bytes, S + 100);
    const ReadOutcome past = disk.Read(101 * S, S);
    EXPECT_EQ(past.bytes, 0u);
    EXPECT_FALSE(past.error);
    EXPECT_FALSE(past.stoppedAt);
}

TEST(FailingDiskTest, AWeakSectorReadsOnItsNthTryAndStaysGood) {
    FaultPlan plan = Plan();
    plan.weak = {{20, 3}};
    FailingDisk disk(100 * S, plan);
    EXPECT_TRUE(disk.Read(20 * S, S).error);
    EXPECT_TRUE(disk.Read(20 * S, S).error);
    EXPECT_EQ(disk.Read(20 * S, S).bytes, S);
    EXPECT_EQ(disk.Read(20 * S, S).bytes, S);
    EXPECT_EQ(disk.Tries(20), 4u);
}

TEST(FailingDiskTest, AWeakSectorInsideARunCutsItShortUntilItReads) {
    FaultPlan plan = Plan();
    plan.weak = {{30, 2}};
    FailingDisk disk(100 * S, plan);
    const ReadOutcome first = disk.Read(28 * S, 4 * S);
    EXPECT_EQ(first.bytes, 2 * S);
    EXPECT_EQ(first.stoppedAt, 30u);
    EXPECT_EQ(disk.Read(28 * S, 4 * S).bytes, 4 * S);
}

TEST(FailingDiskTest, AWeakSectorBehindABadOneIsNotTried) {
    FaultPlan plan = Plan();
    plan.weak = {{14, 2}};
    FailingDisk disk(100 * S, plan);
    EXPECT_EQ(disk.Read(8 * S, 10 * S).stoppedAt, 10u);
    EXPECT_EQ(disk.Tries(14), 0u);
    EXPECT_TRUE(disk.Read(14 * S, S).error);
    EXPECT_FALSE(disk.Read(14 * S, S).error);
}

TEST(FailingDiskTest, OverlappingBadRangesAreOneStretch) {
    FaultPlan plan;
    plan.bad = {{7, 12}, {5, 8}, {13, 13}, {40, 40}};
    FailingDisk disk(100 * S, plan);
    EXPECT_EQ(disk.Read(0, 20 * S).bytes, 5 * S);
    for (std::uint64_t sector = 5; sector <= 13; ++sector) {
        EXPECT_TRUE(disk.Read(sector * S, S).error) << sector;
    }
    EXPECT_EQ(disk.Read(14 * S, 30 * S).bytes, 26 * S);
    EXPECT_THROW(FailingDisk(S, FaultPlan{{{3, 2}}, {}, {}, {}}), std::invalid_argument);
}

TEST(FailingDiskTest, TheLogTellsWhichSectorsWereReadHowOften) {
    FailingDisk disk(100 * S, Plan());
    disk.Read(8 * S, 8 * S);
    disk.Read(11 * S, S);
    disk.Read(0, 9 * S);
    ASSERT_EQ(disk.Log().size(), 3u);
    EXPECT_EQ(disk.Log()[1].offset, 11 * S);
    EXPECT_EQ(disk.Log()[1].length, S);
    EXPECT_TRUE(disk.Log()[1].outcome.error);
    EXPECT_EQ(disk.TimesRead(8), 2u);
    EXPECT_EQ(disk.TimesRead(9), 1u);
    EXPECT_EQ(disk.TimesRead(10), 1u);
    EXPECT_EQ(disk.TimesRead(11), 1u);
    EXPECT_EQ(disk.TimesRead(12), 0u);
    EXPECT_EQ(disk.TimesRead(13), 0u);
    EXPECT_EQ(disk.TotalCost(), microseconds(20 + 90) + milliseconds(40));

    disk.ClearLog();
    disk.SetLogging(false);
    disk.Read(0, S);
    EXPECT_TRUE(disk.Log().empty());
    EXPECT_EQ(disk.TotalCost(), microseconds(20 + 90 + 10) + milliseconds(40));
}

}  // namespace
}  // namespace moravel::failing
