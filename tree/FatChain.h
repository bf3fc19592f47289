#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "FatPages.h"
#include "disk/ByteOrder.h"
#include "disk/ItemKinds.h"
#include "disk/MemoryBlock.h"

namespace moravel {

struct DriveItem;

// A volume's allocation table, with the highest cluster number that the volume's
// data region holds: a chain never leaves the image or the volume. The table is
// either held whole in memory or read in pieces as it is walked (FatPages).
// LostSectors lists, in order, the sectors of the table (by their number in it)
// that could not be read from any FAT copy: their entries read as free, so a
// chain ends at the first cluster whose entry lies in one of them.
class FatImage {
public:
    FatImage() = default;
    // A table held whole.
    FatImage(ByteSpan table, std::uint32_t lastCluster = 0x0FFFFFFF,
             std::span<const std::uint32_t> lostSectors = {})
        : m_table(table), m_lastCluster(lastCluster), m_lost(lostSectors) {}
    // A table read as it is walked; the walk keeps it alive.
    explicit FatImage(std::shared_ptr<FatPages> pages)
        : m_lastCluster(pages->LastCluster()), m_pages(std::move(pages)) {}

    // The table's bytes: what lies past them reads as 0.
    std::uint64_t Size() const { return m_pages ? m_pages->TableBytes() : m_table.size(); }
    std::uint32_t LastCluster() const { return m_lastCluster; }
    // The pages the table is read through; nullptr for a table held whole.
    FatPages* Pages() const { return m_pages.get(); }
    std::span<const std::uint32_t> LostSectors() const {
        return m_pages ? m_pages->LostSectors() : m_lost;
    }
    // The table held whole; empty for one read through pages.
    ByteSpan Held() const { return m_table; }
    // The little-endian value of the 2 or 4 bytes at `at`; 0 past the table.
    std::uint32_t Read(std::uint64_t at, unsigned count) const {
        if (m_pages) {
            return m_pages->Read(at, count);
        }
        if (at + count > m_table.size()) {
            return 0;
        }
        const auto from = static_cast<std::size_t>(at);
        return count == 2 ? ReadLe16(m_table, from) : ReadLe32(m_table, from);
    }

private:
    ByteSpan m_table;
    std::uint32_t m_lastCluster = 0x0FFFFFFF;
    std::span<const std::uint32_t> m_lost;
    std::shared_ptr<FatPages> m_pages;
};

// The highest data cluster of the volume that the item lies in (1 when it has none).
std::uint32_t LastClusterOf(const DriveItem& item);

// The bytes of a FAT that hold the entries of the volume's clusters (the two
// reserved entries and one for each data cluster), in whole sectors, and no more
// than the FAT's own size (m_sectorsPerFat sectors). Formatters leave the rest of
// a FAT unused (they align the data region; the sizing formula rounds up): it is
// neither read nor held.
std::uint64_t FatBytesUsed(const DriveItem& item);

// The sector of the table (by its number in it) that holds the first byte of
// the cluster's entry.
std::uint32_t EntrySector(FatKind fatKind, std::uint32_t cluster);

// Numbers in order as runs, for a message: "8-9, 20"; after eight runs, "...".
std::string RunsText(std::span<const std::uint64_t> numbers);
// The same, each run written by run(first, last) ("bytes 512-1023", say).
std::string RunsText(std::span<const std::uint64_t> numbers,
                     const std::function<std::string(std::uint64_t, std::uint64_t)>& run);

// Sectors of the FAT of the item's volume, numbered in the FAT, for a message:
// "sectors 8-9 of the FAT (disk sectors 2088-2089 of the first copy, 3088-3089
// of the second)"; long lists end in "...".
std::string FatSectorsText(const DriveItem& item, std::span<const std::uint32_t> sectors);

// Whether the entry of the cluster lies, whole or in part (a FAT12 entry may
// span two sectors), in one of the lost sectors (sorted).
bool EntryLost(std::span<const std::uint32_t> lostSectors, FatKind fatKind, std::uint32_t cluster);

// Makes every entry that lies, whole or in part, in sector `sector` of the table
// free: the sector could not be read, and no chain may go on from its bytes.
void ClearLostSector(std::span<std::uint8_t> table, FatKind fatKind, std::uint32_t sector);

// Whether the chain of count clusters (as CountChain counted it) ends at a
// cluster whose entry was lost: where it goes on is not known.
bool ChainRunsIntoLostSector(std::uint32_t firstCluster, FatKind fatKind, std::uint32_t count,
                             const FatImage& fat);

// The table entry of cluster c; 0 (free, so a chain ends) when it lies outside the image.
std::uint32_t NextCluster(const FatImage& fat, FatKind fatKind, std::uint32_t cluster);

// Follows entries as NextCluster does, for a walk of many: it keeps the bytes of
// the piece it is in at hand, so that a step within a piece is a load and a mask.
// A scan follows tens of millions of entries.
class FatCursor {
public:
    FatCursor(const FatImage& fat, FatKind fatKind);
    std::uint32_t Next(std::uint32_t cluster) {
        const std::uint64_t at = EntryAt(cluster);
        const std::uint64_t offset = at - m_begins;
        const std::uint32_t raw = offset < m_usable ? Load(m_window + offset) : Refill(at);
        switch (m_kind) {
            case FatKind::Fat32:
                return raw & 0x0FFFFFFFu;
            case FatKind::Fat12:
                return (cluster & 1) != 0 ? raw >> 4 : raw & 0xFFFu;
            default:
                return raw;
        }
    }

private:
    std::uint64_t EntryAt(std::uint32_t cluster) const {
        switch (m_kind) {
            case FatKind::Fat32:
                return 4 * std::uint64_t{cluster & 0x0FFFFFFFu};
            case FatKind::Fat16:
                return 2 * std::uint64_t{cluster};
            default:
                return 3 * std::uint64_t{cluster} / 2;
        }
    }
    std::uint32_t Load(const std::uint8_t* bytes) const {
        const std::uint32_t low = bytes[0] | std::uint32_t{bytes[1]} << 8;
        return m_kind == FatKind::Fat32
                   ? low | std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24
                   : low;
    }
    std::uint32_t Refill(std::uint64_t at);
    void Window(const std::uint8_t* bytes, std::uint64_t begins, std::uint64_t size);

    const FatImage& m_fat;
    FatKind m_kind;
    bool m_known;  // a kind other than FAT12, FAT16 or FAT32 has no entries
    unsigned m_entryBytes;
    const std::uint8_t* m_window = nullptr;
    std::uint64_t m_begins = 0;
    std::uint64_t m_usable = 0;  // offsets in the window at which a whole entry lies
};

// True when a chain ends at this value: 0, an end mark of the kind (FAT12 from
// 0xFF8, FAT16 from 0xFFF8, FAT32 from 0x0FFFFFF8 after masking), or any number
// that is no data cluster of the volume.
inline bool EndsChain(FatKind fatKind, std::uint32_t value, std::uint32_t lastCluster) {
    const std::uint32_t endMarks = fatKind == FatKind::Fat12   ? 0xFF8
                                   : fatKind == FatKind::Fat16 ? 0xFFF8
                                                               : 0x0FFFFFF8;
    if (fatKind == FatKind::Fat32) {
        value &= 0x0FFFFFFFu;
    }
    return value >= endMarks || value < 2 || value > lastCluster;
}

// The number of clusters in the chain that starts at firstCluster; 0 for an empty
// chain or a kind other than FAT12, FAT16 or FAT32. A chain that runs in a cycle
// ends before its first repeated cluster: every cluster it counts is a different
// one. Linear time in the chain's length, no memory.
std::uint32_t CountChain(std::uint32_t firstCluster, FatKind fatKind, const FatImage& fat);

// Stores the first chain.size() cluster numbers of the chain into chain; returns
// the cluster number that follows the last one stored. No end test: the caller's
// count decides.
std::uint32_t StoreChain(std::uint32_t firstCluster, FatKind fatKind,
                         std::span<std::uint32_t> chain, const FatImage& fat);

// The chain counts of every cluster of a FAT16 or FAT32 table at once, for a scan
// that measures many files whose chains run into one another: a folder cluster
// overwritten with a recording's bytes reads as thousands of "entries" that lead
// into the same long chains, and counting each afresh would take their number
// times the chains' length. Linear time; besides the table, whose entries it
// overwrites with the counts, it needs two bits per cluster.
class ChainCounts {
public:
    // Counts every chain of the table; false from Ready() when the kind is not
    // FAT16 or FAT32 or memory is short (the table is then untouched). The lost
    // sectors are those of the FatImage the table came with.
    ChainCounts(std::span<std::uint8_t> table, FatKind fatKind, std::uint32_t lastCluster,
                std::span<const std::uint32_t> lostSectors = {});
    bool Ready() const { return m_ready; }
    // What CountChain gave for this first cluster on the table as it was.
    std::uint32_t Count(std::uint32_t firstCluster) const;
    // What ChainRunsIntoLostSector gave for the chain.
    bool RunsIntoLostSector(std::uint32_t firstCluster) const;

private:
    // kDoneCut: done, and the chain ends at a cluster whose entry was lost.
    enum State : std::uint8_t { kNew = 0, kOnWalk = 1, kDone = 2, kDoneCut = 3 };
    State StateOf(std::uint32_t cluster) const;
    void SetState(std::uint32_t cluster, State state);
    std::uint32_t Entry(std::uint32_t cluster) const;
    void SetEntry(std::uint32_t cluster, std::uint32_t value);
    void Resolve(std::uint32_t start);

    std::span<std::uint8_t> m_table;
    FatKind m_kind;
    std::uint32_t m_lastCluster;
    std::span<const std::uint32_t> m_lostSectors;
    std::uint32_t m_limit = 0;  // the highest cluster whose entry lies in the table
    MemoryBlock m_states;
    bool m_ready = false;
};

// A run of consecutive clusters of a chain.
struct Fragment {
    std::uint32_t firstCluster = 0;
    std::uint32_t clusters = 0;
};

// An item's cluster chain as the core follows it: its length as the core counts
// it (a chain that runs in a cycle ends before its first repeated cluster), the
// number of its runs of consecutive clusters, and the first of those runs.
struct ChainShape {
    std::uint32_t clusters = 0;
    std::uint32_t fragments = 0;
    std::vector<Fragment> runs;  // the first ones, at most as many as were asked for
};

// Follows the chain that starts at firstCluster and keeps its first keepRuns
// runs. Time linear in the chain's length, memory for the runs kept only.
ChainShape MeasureChain(std::uint32_t firstCluster, FatKind fatKind, const FatImage& fat,
                        std::size_t keepRuns);

// How many clusters of the chain, from the one at `index` on, lie one after another
// on the disk (each the next cluster of the one before): at least 1, at most `most`.
std::uint32_t ContiguousClusters(std::span<const std::uint32_t> chain, std::size_t index,
                                 std::uint32_t most);

}  // namespace moravel
