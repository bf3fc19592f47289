#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "disk/DriveItem.h"
#include "support/TempDir.h"
#include "tree/FatChain.h"

namespace moravel {
namespace {

using testing::Bytes;
using testing::FatTable;

FatImage Image(const FatTable& table, std::uint32_t lastCluster = 0x0FFFFFF5) {
    return {table.Data(), lastCluster};
}

std::vector<std::uint32_t> Store(std::uint32_t first, FatKind kind, const FatImage& fat,
                                 std::uint32_t count, std::uint32_t* after = nullptr) {
    std::vector<std::uint32_t> chain(count, 0xDEAD);
    const std::uint32_t next = StoreChain(first, kind, chain, fat);
    if (after != nullptr) {
        *after = next;
    }
    return chain;
}

TEST(FatChainTest, Fat16ChainIsCountedAndStored) {
    FatTable table(16, 64);
    table.Set(2, 3);
    table.Set(3, 4);
    table.Set(4, 0xFFFF);
    EXPECT_EQ(CountChain(2, FatKind::Fat16, Image(table)), 3u);
    std::uint32_t after = 0;
    EXPECT_EQ(Store(2, FatKind::Fat16, Image(table), 3, &after),
              (std::vector<std::uint32_t>{2, 3, 4}));
    EXPECT_EQ(after, 0xFFFFu);
}

TEST(FatChainTest, Fat12EntriesShareBytes) {
    // Cluster 2's entry 0x003 and cluster 3's entry 0xFFF: bytes 03 F0 FF from offset 3.
    std::vector<std::uint8_t> bytes(16, 0);
    bytes[3] = 0x03;
    bytes[4] = 0xF0;
    bytes[5] = 0xFF;
    EXPECT_EQ(NextCluster({bytes, 4000}, FatKind::Fat12, 2), 0x003u);
    EXPECT_EQ(NextCluster({bytes, 4000}, FatKind::Fat12, 3), 0xFFFu);
    EXPECT_EQ(CountChain(2, FatKind::Fat12, {bytes, 4000}), 2u);
}

TEST(FatChainTest, Fat12OddAndEvenEntriesRoundTrip) {
    FatTable table(12, 300);
    const std::vector<std::uint32_t> chain = {2, 7, 8, 251, 100, 3, 298};
    table.Chain(chain);
    EXPECT_EQ(CountChain(2, FatKind::Fat12, Image(table)), chain.size());
    EXPECT_EQ(Store(2, FatKind::Fat12, Image(table), 7), chain);
}

TEST(FatChainTest, Fat32IgnoresTheTopFourBits) {
    FatTable table(32, 16);
    table.Set(5, 0xF0000006);
    table.Set(6, 0x0FFFFFF8);
    EXPECT_EQ(CountChain(5, FatKind::Fat32, Image(table)), 2u);
    EXPECT_EQ(Store(0xA0000005, FatKind::Fat32, Image(table), 2),
              (std::vector<std::uint32_t>{5, 6}));
}

TEST(FatChainTest, EmptyChains) {
    FatTable table(32, 16);
    EXPECT_EQ(CountChain(0, FatKind::Fat32, Image(table)), 0u);
    EXPECT_EQ(CountChain(0xF0000000, FatKind::Fat32, Image(table)), 0u);
    EXPECT_EQ(CountChain(0x0FFFFFFF, FatKind::Fat32, Image(table)), 0u);
    EXPECT_EQ(CountChain(0xFFFF, FatKind::Fat16, Image(FatTable(16, 16))), 0u);
    EXPECT_EQ(CountChain(0xFFF, FatKind::Fat12, Image(FatTable(12, 16))), 0u);
    std::uint32_t after = 0;
    EXPECT_TRUE(Store(9, FatKind::Fat32, Image(table), 0, &after).empty());
    EXPECT_EQ(after, 9u);
}

TEST(FatChainTest, AFreeEntryEndsTheChainAfterTheClusterHoldingIt) {
    FatTable table(16, 16);
    table.Set(2, 5);
    table.Set(5, 0);
    EXPECT_EQ(CountChain(2, FatKind::Fat16, Image(table)), 2u);
}

// Volumes written by other systems end chains with any mark of the reserved range.
TEST(FatChainTest, EveryEndMarkOfTheReservedRangeEndsAChain) {
    for (std::uint32_t mark = 0xFF8; mark <= 0xFFF; ++mark) {
        FatTable table(12, 16);
        table.Set(2, 3);
        table.Set(3, mark);
        EXPECT_EQ(CountChain(2, FatKind::Fat12, Image(table, 4000)), 2u) << std::hex << mark;
    }
    for (std::uint32_t mark = 0xFFF8; mark <= 0xFFFF; ++mark) {
        FatTable table(16, 16);
        table.Set(2, 3);
        table.Set(3, mark);
        EXPECT_EQ(CountChain(2, FatKind::Fat16, Image(table, 65000)), 2u) << std::hex << mark;
    }
    for (std::uint32_t mark = 0x0FFFFFF8; mark <= 0x0FFFFFFF; ++mark) {
        FatTable table(32, 16);
        table.Set(2, 3);
        table.Set(3, mark | 0xF0000000);
        EXPECT_EQ(CountChain(2, FatKind::Fat32, Image(table)), 2u) << std::hex << mark;
    }
}

TEST(FatChainTest, ANumberThatIsNoDataClusterEndsTheChain) {
    FatTable table(16, 64);
    table.Set(2, 3);
    table.Set(3, 1);  // reserved
    EXPECT_EQ(CountChain(2, FatKind::Fat16, Image(table, 40)), 2u);
    table.Set(3, 41);  // beyond the volume's last cluster
    EXPECT_EQ(CountChain(2, FatKind::Fat16, Image(table, 40)), 2u);
    table.Set(3, 40);
    table.Set(40, 0xFFF7);  // a bad-cluster mark is no data cluster of a small volume
    EXPECT_EQ(CountChain(2, FatKind::Fat16, Image(table, 40)), 3u);
    EXPECT_EQ(CountChain(41, FatKind::Fat16, Image(table, 40)), 0u);
}

TEST(FatChainTest, AChainNeverLeavesTheImage) {
    FatTable table(32, 8);  // entries 0..7
    table.Set(2, 7);
    table.Set(7, 1000);  // entry 1000 lies beyond the image
    EXPECT_EQ(CountChain(2, FatKind::Fat32, Image(table)), 3u);
    EXPECT_EQ(NextCluster(Image(table), FatKind::Fat32, 1000), 0u);
    EXPECT_EQ(NextCluster(Image(table), FatKind::Fat16, 1000), 0u);
    EXPECT_EQ(NextCluster(Image(table), FatKind::Fat12, 1000), 0u);
    EXPECT_EQ(Store(2, FatKind::Fat32, Image(table), 5),
              (std::vector<std::uint32_t>{2, 7, 1000, 0, 0}));
}

// The chain a careful reader would take: every cluster once, up to the end mark
// or the first cluster that came before.
std::vector<std::uint32_t> WalkWithMemory(std::uint32_t first, FatKind kind, const FatImage& fat) {
    std::vector<std::uint32_t> chain;
    std::set<std::uint32_t> seen;
    for (std::uint32_t c = first; !EndsChain(kind, c, fat.LastCluster()) && seen.insert(c).second;
         c = NextCluster(fat, kind, c)) {
        chain.push_back(c);
    }
    return chain;
}

TEST(FatChainTest, AChainThatLoopsEndsBeforeItsFirstRepeatedCluster) {
    FatTable table(16, 32);
    table.Chain({2, 3, 4});
    table.Set(4, 2);  // back to the first cluster
    EXPECT_EQ(CountChain(2, FatKind::Fat16, Image(table)), 3u);
    EXPECT_EQ(Store(2, FatKind::Fat16, Image(table), 3), (std::vector<std::uint32_t>{2, 3, 4}));

    FatTable self(32, 16);
    self.Set(9, 9);
    EXPECT_EQ(CountChain(9, FatKind::Fat32, Image(self)), 1u);

    // A tail of five clusters that runs into a loop of three.
    FatTable rho(12, 64);
    rho.Chain({10, 11, 30, 31, 12, 40, 41, 42});
    rho.Set(42, 40);
    EXPECT_EQ(CountChain(10, FatKind::Fat12, Image(rho)), 8u);
    EXPECT_EQ(Store(10, FatKind::Fat12, Image(rho), 8),
              (std::vector<std::uint32_t>{10, 11, 30, 31, 12, 40, 41, 42}));
}

// Random tables with chains that end, loop back, run into each other and leave
// the volume: from every start the count is that of the careful walk.
TEST(FatChainTest, CountsMatchAWalkThatRemembersEveryCluster) {
    std::mt19937 random(20041705);
    const auto below = [&random](std::uint32_t n) {
        return static_cast<std::uint32_t>(random() % n);
    };
    for (const int bits : {12, 16, 32}) {
        for (int round = 0; round < 20; ++round) {
            const std::uint32_t entries = 40 + below(400);
            FatTable table(bits, entries);
            for (std::uint32_t c = 2; c < entries; ++c) {
                const std::uint32_t pick = below(10);
                table.Set(c, pick == 0 ? table.EndMark() : pick == 1 ? 0 : 2 + below(entries));
            }
            const FatKind kind = bits == 12   ? FatKind::Fat12
                                 : bits == 16 ? FatKind::Fat16
                                              : FatKind::Fat32;
            const FatImage fat = Image(table, entries - 1);
            for (std::uint32_t first = 0; first < entries + 2; ++first) {
                const std::vector<std::uint32_t> expected = WalkWithMemory(first, kind, fat);
                const auto count = static_cast<std::uint32_t>(expected.size());
                ASSERT_EQ(CountChain(first, kind, fat), count) << bits << " from " << first;
                EXPECT_EQ(Store(first, kind, fat, count), expected);
            }
        }
    }
}

// Counting every chain at once gives what counting each gave, on random tables
// whose chains end, loop, run into each other and leave the volume or the table.
TEST(FatChainTest, CountingAllChainsAtOnceGivesEachChainsCount) {
    std::mt19937 random(7);
    const auto below = [&random](std::uint32_t n) {
        return static_cast<std::uint32_t>(random() % n);
    };
    for (const int bits : {16, 32}) {
        for (int round = 0; round < 30; ++round) {
            const std::uint32_t entries = 40 + below(600);
            FatTable table(bits, entries);
            for (std::uint32_t c = 2; c < entries; ++c) {
                const std::uint32_t pick = below(12);
                table.Set(c, pick == 0   ? table.EndMark()
                             : pick == 1 ? 0
                             : pick == 2 ? c  // a cluster that leads to itself
                                         : 2 + below(entries + entries / 4));
            }
            const FatKind kind = bits == 16 ? FatKind::Fat16 : FatKind::Fat32;
            // Some rounds claim more clusters than the table has entries for.
            const std::uint32_t last = round % 3 == 0 ? entries + 50 : entries - 1;
            // Every other round, a sector of the table could not be read.
            Bytes bytes = table.Data();
            std::vector<std::uint32_t> lost;
            if (round % 2 == 1) {
                lost.push_back(below(static_cast<std::uint32_t>((bytes.size() + 511) / 512)));
                ClearLostSector(bytes, kind, lost[0]);
            }
            const FatImage fat{bytes, last, lost};
            std::vector<std::uint32_t> expected;
            std::vector<bool> cut;
            for (std::uint32_t first = 0; first < entries + 60; ++first) {
                expected.push_back(CountChain(first, kind, fat));
                cut.push_back(ChainRunsIntoLostSector(first, kind, expected.back(), fat));
            }
            const ChainCounts counts(bytes, kind, last, lost);
            ASSERT_TRUE(counts.Ready());
            for (std::uint32_t first = 0; first < entries + 60; ++first) {
                ASSERT_EQ(counts.Count(first), expected[first]) << bits << " from " << first;
                ASSERT_EQ(counts.RunsIntoLostSector(first), cut[first])
                    << bits << " from " << first;
            }
        }
    }
    Bytes fat12 = FatTable(12, 64).Data();
    EXPECT_FALSE(ChainCounts(fat12, FatKind::Fat12, 60).Ready());
}

// A FAT sector that could not be read: a chain ends at the first cluster whose
// entry lies in it, also a FAT12 entry that has only half of its bits there;
// the other entries of the bytes it shares with its neighbours stay.
TEST(FatChainTest, AChainEndsAtAnEntryInALostSector) {
    FatTable table(12, 1024);      // three sectors
    table.Chain({340, 341, 342});  // 341 lies in bytes 511-512
    table.Chain({681, 682, 683});  // 681 in bytes 1021-1022, 682 in 1023-1024
    table.Chain({100, 101});
    Bytes bytes = table.Data();
    const std::vector<std::uint32_t> lost = {1};
    ClearLostSector(bytes, FatKind::Fat12, 1);
    const FatImage fat{bytes, 1000, lost};
    const auto runs = [&](std::uint32_t first) {
        return ChainRunsIntoLostSector(first, FatKind::Fat12,
                                       CountChain(first, FatKind::Fat12, fat), fat);
    };
    EXPECT_EQ(CountChain(340, FatKind::Fat12, fat), 2u);
    EXPECT_TRUE(runs(340));
    EXPECT_EQ(CountChain(681, FatKind::Fat12, fat), 1u);
    EXPECT_TRUE(runs(681));
    EXPECT_EQ(CountChain(682, FatKind::Fat12, fat), 1u);
    EXPECT_TRUE(EntryLost(lost, FatKind::Fat12, 682));
    EXPECT_FALSE(EntryLost(lost, FatKind::Fat12, 683));
    EXPECT_EQ(NextCluster(fat, FatKind::Fat12, 683), 0xFFFu);  // half of byte 1024 is 682's
    EXPECT_EQ(CountChain(100, FatKind::Fat12, fat), 2u);
    EXPECT_FALSE(runs(100));
    EXPECT_FALSE(runs(683));
}

TEST(FatChainTest, AnUnknownKindHasNoChains) {
    FatTable table(16, 16);
    table.Set(2, 0xFFFF);
    EXPECT_EQ(CountChain(2, FatKind::Unknown, Image(table)), 0u);
}

TEST(FatChainTest, TheLastClusterFollowsFromTheVolume) {
    DriveItem item;
    item.m_totalSectors = 2880;
    item.m_dataStart = 33;
    item.m_sectorsPerCluster = 1;
    EXPECT_EQ(LastClusterOf(item), 2848u);  // clusters 2..2848
    item.m_sectorsPerCluster = 0;
    EXPECT_EQ(LastClusterOf(item), 1u);
    item.m_sectorsPerCluster = 4;
    item.m_totalSectors = 20;
    EXPECT_EQ(LastClusterOf(item), 1u);  // no data region at all
}

// Pieces are read as walks reach them, and no more are held than the limit: the
// least recently used goes first, and a read ahead never asks for more than fits.
// A chain walked through pages counts as it does over the table held whole.
TEST(FatChainTest, FatPagesHoldTheMostRecentPiecesUnderTheirLimit) {
    FatTable table(32, 16 * 1024);  // 64 KiB: 16 pieces
    std::vector<std::uint32_t> chain;
    for (std::uint32_t c = 1000; c < 4500; ++c) {
        chain.push_back(c);
    }
    table.Chain(chain);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> reads;  // first sector, count
    const auto reader = [&](unsigned copy, std::uint32_t first, std::uint32_t count,
                            std::span<std::uint8_t> out, std::vector<std::uint32_t>&) {
        EXPECT_EQ(copy, 0u);
        reads.emplace_back(first, count);
        std::copy_n(table.Data().begin() + first * 512, count * 512, out.begin());
    };
    const auto pages =
        std::make_shared<FatPages>(FatKind::Fat32, 64 * 1024, 16'000, reader, 8 * 1024);
    for (const std::uint32_t piece : {0u, 5u, 9u, 5u, 0u, 9u}) {
        pages->Read(piece * 4096, 4);
    }
    using Read = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_EQ(reads, (std::vector<Read>{{0, 8}, {40, 8}, {72, 8}, {0, 8}, {72, 8}}));
    EXPECT_EQ(pages->HeldBytes(), 8 * 1024u);

    reads.clear();
    EXPECT_EQ(CountChain(1000, FatKind::Fat32, FatImage(pages)), 3500u);
    EXPECT_LE(pages->HeldBytes(), 8 * 1024u);
    // Ahead of the walk in disk order, two pieces at a time: all that fits.
    EXPECT_EQ(reads, (std::vector<Read>{{8, 16}, {24, 16}}));

    // While a stop is asked for, nothing more is read: the walk ends.
    const bool stop = true;
    const FatWalkStop stopping(pages, &stop);
    reads.clear();
    EXPECT_EQ(pages->Read(12 * 4096, 4), 0u);
    EXPECT_TRUE(reads.empty());
}

// A walk that streams has its next run read on a second thread while it walks
// the one before; each sector is read once, whichever thread reads it. A run the
// aside reader does not give whole is read again where the walk needs it, and
// nothing more is read aside.
TEST(FatChainTest, AStreamingWalkHasItsNextRunReadAside) {
    FatTable table(32, 1024 * 1024);  // 4 MiB
    std::vector<std::uint32_t> chain;
    for (std::uint32_t c = 2; c < 1024 * 1024; ++c) {
        chain.push_back(c);
    }
    table.Chain(chain);
    for (const std::uint32_t failing : {0u, 511u * 8}) {
        std::vector<unsigned> timesRead(8 * 1024, 0);
        std::vector<std::uint32_t> asideFirsts;
        std::mutex asideMutex;
        const auto reader = [&](unsigned, std::uint32_t first, std::uint32_t count,
                                std::span<std::uint8_t> out, std::vector<std::uint32_t>&) {
            std::for_each_n(timesRead.begin() + first, count, [](unsigned& n) { ++n; });
            std::copy_n(table.Data().begin() + first * 512, count * 512, out.begin());
        };
        const auto pages =
            std::make_shared<FatPages>(FatKind::Fat32, 4 * 1024 * 1024, 1024 * 1024, reader);
        pages->ReadAheadAside([&](std::uint32_t first, std::span<std::uint8_t> out) {
            const std::lock_guard lock(asideMutex);
            asideFirsts.push_back(first);
            if (first == failing) {
                return false;
            }
            std::for_each_n(timesRead.begin() + first, out.size() / 512, [](unsigned& n) { ++n; });
            std::copy_n(table.Data().begin() + first * 512, out.size(), out.begin());
            return true;
        });
        EXPECT_EQ(CountChain(2, FatKind::Fat32, FatImage(pages)), chain.size());
        EXPECT_EQ(std::count(timesRead.begin(), timesRead.end(), 1u), 8 * 1024);
        // The runs after the first MiB, each asked for as the walk enters the one
        // before (two may be under way at once: their threads reach the disk in
        // either order).
        const std::vector<std::uint32_t> expected =
            failing == 0 ? std::vector<std::uint32_t>{511 * 8, 767 * 8, 1023 * 8}
                         : std::vector<std::uint32_t>{511 * 8, 767 * 8};
        const std::lock_guard lock(asideMutex);
        std::sort(asideFirsts.begin(), asideFirsts.end());
        EXPECT_EQ(asideFirsts, expected);
    }
}

}  // namespace
}  // namespace moravel
