#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "FuzzHarness.h"
#include "FuzzSupport.h"
#include "tree/FatChain.h"

namespace moravel::fuzz {

namespace {

constexpr std::size_t kHeader = 9;
// A volume whose FAT kind is not known stands in the list too: its chains are empty.
constexpr FatKind kKinds[] = {FatKind::Fat12, FatKind::Fat16, FatKind::Fat32, FatKind::Unknown};

bool IsEnd(FatKind fatKind, std::uint32_t value, std::uint32_t lastCluster) {
    const std::uint32_t endMark = fatKind == FatKind::Fat12   ? 0xFF8
                                  : fatKind == FatKind::Fat16 ? 0xFFF8
                                                              : 0x0FFFFFF8;
    return value < 2 || value > lastCluster || value >= endMark;
}

}  // namespace

int FuzzChain(const std::uint8_t* data, std::size_t size) {
    if (size < kHeader) {
        return 0;
    }
    const ByteSpan input(data, size);
    const FatKind kind = kKinds[data[0] % 4];
    const std::uint32_t first = ReadLe32(input, 1);
    const std::uint32_t last = ReadLe32(input, 5);
    const ByteSpan table = input.subspan(kHeader);
    const FatImage fat{table, last};
    const FatBytes reference = FatBytes::InMemory(table);

    // The program's decoder agrees with the reference one wherever it is asked.
    const std::uint32_t probe = kind == FatKind::Fat32 ? first & 0x0FFFFFFFu : first;
    FUZZ_CHECK(NextCluster(fat, kind, probe) == ReferenceEntry(reference, kind, probe),
               "NextCluster differs from the table's entry");

    const std::uint32_t count = CountChain(first, kind, fat);
    const std::vector<std::uint32_t> expected = ReferenceChain(reference, kind, first, last);
    FUZZ_CHECK(count == expected.size(), "CountChain says " + std::to_string(count) +
                                             ", a walk that remembers every cluster " +
                                             std::to_string(expected.size()));

    std::vector<std::uint32_t> chain(count);
    const std::uint32_t after = StoreChain(first, kind, chain, fat);
    const std::set<std::uint32_t> distinct(chain.begin(), chain.end());
    FUZZ_CHECK(distinct.size() == chain.size(), "a stored chain holds a cluster twice");
    for (std::size_t i = 0; i < chain.size(); ++i) {
        FUZZ_CHECK(!IsEnd(kind, chain[i], last), "a stored cluster is no data cluster");
        FUZZ_CHECK(chain[i] == expected[i], "the stored chain leaves the table's links");
    }
    // Counting every chain of the table at once agrees with counting this one.
    if ((kind == FatKind::Fat16 || kind == FatKind::Fat32) && table.size() <= (1u << 16)) {
        std::vector<std::uint8_t> copy(table.begin(), table.end());
        const ChainCounts counts(copy, kind, last);
        FUZZ_CHECK(counts.Ready(), "the counts of every chain were not made");
        FUZZ_CHECK(counts.Count(first) == count, "ChainCounts says " +
                                                     std::to_string(counts.Count(first)) +
                                                     ", CountChain " + std::to_string(count));
    }
    // The same walks through a table read in pieces as they go, two held at a time.
    const ByteSpan whole = table.first(table.size() / 512 * 512);
    const auto read = [&](unsigned, std::uint32_t from, std::uint32_t sectors,
                          std::span<std::uint8_t> out, std::vector<std::uint32_t>&) {
        std::copy_n(whole.begin() + std::ptrdiff_t{from} * 512, std::size_t{sectors} * 512,
                    out.begin());
    };
    const FatImage paged(std::make_shared<FatPages>(kind, whole.size(), last, read, 8192));
    const FatImage held{whole, last};
    const std::uint32_t pagedCount = CountChain(first, kind, paged);
    FUZZ_CHECK(pagedCount == CountChain(first, kind, held),
               "a chain counts otherwise through pages than over the table held whole");
    std::vector<std::uint32_t> pagedChain(pagedCount);
    std::vector<std::uint32_t> heldChain(pagedCount);
    FUZZ_CHECK(
        StoreChain(first, kind, pagedChain, paged) == StoreChain(first, kind, heldChain, held) &&
            pagedChain == heldChain,
        "a chain is stored otherwise through pages than over the table held whole");

    // The chain stops where it must: at its end, or where it would come back.
    if (!chain.empty()) {
        FUZZ_CHECK(after == ReferenceEntry(reference, kind, chain.back()),
                   "StoreChain's next cluster is not the last cluster's link");
        FUZZ_CHECK(IsEnd(kind, after, last) || distinct.count(after) != 0,
                   "the count stops before the chain ends");
    }
    return 0;
}

}  // namespace moravel::fuzz
