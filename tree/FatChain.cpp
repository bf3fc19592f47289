#include "FatChain.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "disk/DriveItem.h"
#include "disk/Sector.h"

namespace moravel {

namespace {

constexpr std::uint32_t kFat32Mask = 0x0FFFFFFF;

bool KnownKind(FatKind fatKind) {
    return fatKind == FatKind::Fat12 || fatKind == FatKind::Fat16 || fatKind == FatKind::Fat32;
}

}  // namespace

std::uint32_t LastClusterOf(const DriveItem& item) {
    if (item.m_sectorsPerCluster == 0 || item.m_totalSectors <= item.m_dataStart) {
        return 1;
    }
    return 1 + (item.m_totalSectors - item.m_dataStart) / item.m_sectorsPerCluster;
}

std::uint64_t FatBytesUsed(const DriveItem& item) {
    // FAT32 numbers clusters in 28 bits: no entry past those is ever looked up.
    const std::uint64_t entries =
        std::min<std::uint64_t>(std::uint64_t{LastClusterOf(item)} + 1,
                                item.m_fatKind == FatKind::Fat32 ? kFat32Mask + 1 : ~0u);
    const std::uint64_t bytes = item.m_fatKind == FatKind::Fat12   ? (entries * 3 + 1) / 2
                                : item.m_fatKind == FatKind::Fat16 ? entries * 2
                                                                   : entries * 4;
    const std::uint64_t sectors = (bytes + kSectorSize - 1) / kSectorSize;
    return SectorsToBytes(std::min<std::uint64_t>(sectors, item.m_sectorsPerFat));
}

namespace {

// The first byte of the cluster's entry in the table, and how many bytes it touches.
std::pair<std::uint64_t, std::uint64_t> EntryBytes(FatKind fatKind, std::uint32_t cluster) {
    switch (fatKind) {
        case FatKind::Fat12:
            return {3 * std::uint64_t{cluster} / 2, 2};
        case FatKind::Fat16:
            return {2 * std::uint64_t{cluster}, 2};
        default:
            return {4 * std::uint64_t{cluster & kFat32Mask}, 4};
    }
}

}  // namespace

std::uint32_t EntrySector(FatKind fatKind, std::uint32_t cluster) {
    return static_cast<std::uint32_t>(EntryBytes(fatKind, cluster).first / kSectorSize);
}

std::string RunsText(std::span<const std::uint64_t> numbers) {
    return RunsText(numbers, [](std::uint64_t first, std::uint64_t last) {
        return std::to_string(first) + (last > first ? "-" + std::to_string(last) : "");
    });
}

std::string RunsText(std::span<const std::uint64_t> numbers,
                     const std::function<std::string(std::uint64_t, std::uint64_t)>& run) {
    constexpr std::size_t kShown = 8;
    std::string text;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t end = i + 1;
        while (end < numbers.size() && numbers[end] == numbers[end - 1] + 1) {
            ++end;
        }
        if (runs++ == kShown) {
            return text + ", ...";
        }
        text += (text.empty() ? "" : ", ") + run(numbers[i], numbers[end - 1]);
        i = end;
    }
    return text;
}

std::string FatSectorsText(const DriveItem& item, std::span<const std::uint32_t> sectors) {
    const auto offset = [&](std::uint64_t base) {
        std::vector<std::uint64_t> numbers;
        for (const std::uint32_t sector : sectors) {
            numbers.push_back(base + sector);
        }
        return RunsText(numbers);
    };
    const std::uint64_t first = std::uint64_t{item.m_partitionStart} + item.m_reservedSectors;
    const char* noun = sectors.size() == 1 ? "sector " : "sectors ";
    return noun + offset(0) + " of the FAT (disk " + noun + offset(first) + " of the first copy, " +
           offset(first + item.m_sectorsPerFat) + " of the second)";
}

bool EntryLost(std::span<const std::uint32_t> lostSectors, FatKind fatKind, std::uint32_t cluster) {
    if (lostSectors.empty()) {
        return false;
    }
    const auto [at, bytes] = EntryBytes(fatKind, cluster);
    const auto lost = [&](std::uint64_t byte) {
        return std::binary_search(lostSectors.begin(), lostSectors.end(), byte / kSectorSize);
    };
    return lost(at) || lost(at + bytes - 1);
}

void ClearLostSector(std::span<std::uint8_t> table, FatKind fatKind, std::uint32_t sector) {
    const std::uint64_t first = std::uint64_t{sector} * kSectorSize;
    if (first >= table.size()) {
        return;
    }
    const std::uint64_t end = std::min<std::uint64_t>(first + kSectorSize, table.size());
    std::fill(table.begin() + static_cast<std::ptrdiff_t>(first),
              table.begin() + static_cast<std::ptrdiff_t>(end), std::uint8_t{0});
    if (fatKind != FatKind::Fat12) {
        return;  // 16- and 32-bit entries never span two sectors
    }
    // A 12-bit entry whose other half lies in the sector before or after: its
    // bits in the readable byte are cleared too, the other entry's there kept.
    for (const std::uint64_t byte : {first - 1, end - 1}) {
        if (byte + 1 == 0 || byte + 1 >= table.size()) {
            continue;
        }
        // The entry that begins at this byte, if one does: cluster c begins at 3c/2.
        const std::uint64_t cluster = byte * 2 / 3 + (byte * 2 % 3 == 0 ? 0 : 1);
        if (3 * cluster / 2 != byte) {
            continue;
        }
        if ((cluster & 1) == 0) {
            table[byte] = 0;
            table[byte + 1] &= 0xF0;
        } else {
            table[byte] &= 0x0F;
            table[byte + 1] = 0;
        }
    }
}

bool ChainRunsIntoLostSector(std::uint32_t firstCluster, FatKind fatKind, std::uint32_t count,
                             const FatImage& fat) {
    if (count == 0 || fat.LostSectors().empty()) {
        return false;
    }
    FatCursor cursor(fat, fatKind);
    std::uint32_t cluster = firstCluster;
    for (std::uint32_t i = 1; i < count; ++i) {
        cluster = cursor.Next(cluster);
    }
    // A cluster whose entry lies past the table ends the chain for want of one.
    const auto [at, bytes] = EntryBytes(fatKind, cluster);
    return at + bytes <= fat.Size() && EntryLost(fat.LostSectors(), fatKind, cluster);
}

std::uint32_t NextCluster(const FatImage& fat, FatKind fatKind, std::uint32_t cluster) {
    switch (fatKind) {
        case FatKind::Fat32:
            return fat.Read(4 * std::uint64_t{cluster & kFat32Mask}, 4) & kFat32Mask;
        case FatKind::Fat16:
            return fat.Read(2 * std::uint64_t{cluster}, 2);
        case FatKind::Fat12: {
            const std::uint32_t pair = fat.Read(3 * std::uint64_t{cluster} / 2, 2);
            return (cluster & 1) != 0 ? pair >> 4 : pair & 0xFFFu;
        }
        default:
            return 0;
    }
}

FatCursor::FatCursor(const FatImage& fat, FatKind fatKind)
    : m_fat(fat),
      m_kind(fatKind),
      m_known(KnownKind(fatKind)),
      m_entryBytes(fatKind == FatKind::Fat32 ? 4 : 2) {
    if (m_known && fat.Pages() == nullptr) {
        Window(fat.Held().data(), 0, fat.Held().size());
    }
}

void FatCursor::Window(const std::uint8_t* bytes, std::uint64_t begins, std::uint64_t size) {
    m_window = bytes;
    m_begins = begins;
    m_usable = size >= m_entryBytes ? size - m_entryBytes + 1 : 0;
}

std::uint32_t FatCursor::Refill(std::uint64_t at) {
    // The entry is read first: its piece may have to come from the disk, and the
    // window is taken after that read and whatever was served meanwhile.
    if (!m_known) {
        return 0;
    }
    const std::uint32_t raw = m_fat.Read(at, m_entryBytes);
    if (FatPages* pages = m_fat.Pages()) {
        std::uint64_t begins = 0;
        std::uint64_t size = 0;
        const std::uint8_t* piece = pages->HeldPiece(at, begins, size);
        Window(piece, begins, piece != nullptr ? size : 0);
    }
    return raw;
}

std::uint32_t CountChain(std::uint32_t firstCluster, FatKind fatKind, const FatImage& fat) {
    if (!KnownKind(fatKind) || EndsChain(fatKind, firstCluster, fat.LastCluster())) {
        return 0;
    }
    // The cluster after c, or nothing where the chain ends.
    FatCursor cursor(fat, fatKind);
    const auto step = [&](std::uint32_t c) -> std::optional<std::uint32_t> {
        const std::uint32_t next = cursor.Next(c);
        if (EndsChain(fatKind, next, fat.LastCluster())) {
            return std::nullopt;
        }
        return next;
    };
    const std::uint32_t first =
        fatKind == FatKind::Fat32 ? firstCluster & kFat32Mask : firstCluster;

    // Brent's cycle search: the hare runs ahead, the tortoise waits at powers of
    // two. Linear time and no memory, whatever the table holds. A chain without
    // a cycle ends under the hare.
    std::uint64_t power = 1;
    std::uint32_t cycle = 1;
    std::uint32_t length = 1;
    std::uint32_t tortoise = first;
    std::optional<std::uint32_t> hare = step(first);
    while (hare && *hare != tortoise) {
        if (power == cycle) {
            tortoise = *hare;
            power *= 2;
            cycle = 0;
        }
        hare = step(*hare);
        ++cycle;
        ++length;
    }
    if (!hare) {
        return length;
    }
    // A cycle of `cycle` clusters: the chain holds the clusters before it and one
    // round of it, and ends where it would come back to a cluster it has had.
    std::uint32_t ahead = first;
    for (std::uint32_t i = 0; i < cycle; ++i) {
        ahead = *step(ahead);
    }
    std::uint32_t behind = first;
    std::uint32_t lead = 0;
    while (behind != ahead) {
        behind = *step(behind);
        ahead = *step(ahead);
        ++lead;
    }
    return lead + cycle;
}

std::uint32_t StoreChain(std::uint32_t firstCluster, FatKind fatKind,
                         std::span<std::uint32_t> chain, const FatImage& fat) {
    FatCursor cursor(fat, fatKind);
    std::uint32_t cluster = firstCluster;
    for (auto& stored : chain) {
        stored = fatKind == FatKind::Fat32 ? cluster & kFat32Mask : cluster;
        cluster = cursor.Next(cluster);
    }
    return cluster;
}

ChainCounts::ChainCounts(std::span<std::uint8_t> table, FatKind fatKind, std::uint32_t lastCluster,
                         std::span<const std::uint32_t> lostSectors)
    : m_table(table), m_kind(fatKind), m_lastCluster(lastCluster), m_lostSectors(lostSectors) {
    if (fatKind != FatKind::Fat16 && fatKind != FatKind::Fat32) {
        return;
    }
    const std::size_t entries = table.size() / (fatKind == FatKind::Fat16 ? 2 : 4);
    if (entries < 3) {
        m_ready = true;  // no cluster's entry lies in the table
        return;
    }
    m_limit = static_cast<std::uint32_t>(std::min<std::size_t>(lastCluster, entries - 1));
    m_states = MemoryBlock::Allocate(std::size_t{m_limit} / 4 + 1);
    if (!m_states) {
        return;
    }
    for (std::uint32_t cluster = 2; cluster <= m_limit && cluster >= 2; ++cluster) {
        if (StateOf(cluster) == kNew) {
            Resolve(cluster);
        }
    }
    m_ready = true;
}

ChainCounts::State ChainCounts::StateOf(std::uint32_t cluster) const {
    return static_cast<State>((m_states.Data()[cluster / 4] >> (2 * (cluster % 4))) & 3);
}

void ChainCounts::SetState(std::uint32_t cluster, State state) {
    std::uint8_t& bits = m_states.Data()[cluster / 4];
    const auto shift = 2 * (cluster % 4);
    bits = static_cast<std::uint8_t>((bits & ~(3u << shift)) | (unsigned{state} << shift));
}

std::uint32_t ChainCounts::Entry(std::uint32_t cluster) const {
    return m_kind == FatKind::Fat16 ? ReadLe16(m_table, 2 * std::size_t{cluster})
                                    : ReadLe32(m_table, 4 * std::size_t{cluster});
}

void ChainCounts::SetEntry(std::uint32_t cluster, std::uint32_t value) {
    if (m_kind == FatKind::Fat16) {
        WriteLe16(m_table, 2 * std::size_t{cluster}, static_cast<std::uint16_t>(value));
    } else {
        WriteLe32(m_table, 4 * std::size_t{cluster}, value);
    }
}

// Walks from start until the chain ends, meets a cluster already counted, or
// comes back to itself; then walks the same clusters again and writes each one's
// count over its entry. A cluster on a cycle counts the cycle; one before it
// counts its way there and the cycle. Each is marked cut when the chain ends at
// a cluster whose entry was lost.
void ChainCounts::Resolve(std::uint32_t start) {
    const std::uint32_t mask = m_kind == FatKind::Fat32 ? kFat32Mask : 0xFFFF;
    const auto next = [&](std::uint32_t cluster) { return Entry(cluster) & mask; };
    std::uint32_t walked = 0;
    std::uint32_t after = 0;  // the count of what follows the walk
    std::optional<std::uint32_t> cycleAt;
    State done = kDone;
    for (std::uint32_t cluster = start;;) {
        SetState(cluster, kOnWalk);
        ++walked;
        const std::uint32_t following = next(cluster);
        if (EndsChain(m_kind, following, m_lastCluster)) {
            done = EntryLost(m_lostSectors, m_kind, cluster) ? kDoneCut : kDone;
            break;
        }
        if (following > m_limit) {
            after = 1;  // its entry lies past the table: the chain ends with it
            break;
        }
        if (StateOf(following) >= kDone) {
            after = Entry(following);
            done = StateOf(following);
            break;
        }
        if (StateOf(following) == kOnWalk) {
            cycleAt = following;
            break;
        }
        cluster = following;
    }
    std::uint32_t lead = walked;  // clusters before the cycle
    std::uint32_t cycle = 0;
    if (cycleAt) {
        lead = 0;
        for (std::uint32_t cluster = start; cluster != *cycleAt; cluster = next(cluster)) {
            ++lead;
        }
        cycle = walked - lead;
    }
    std::uint32_t cluster = start;
    for (std::uint32_t i = 0; i < walked; ++i) {
        const std::uint32_t following = next(cluster);
        SetEntry(cluster, i < lead ? lead - i + (cycleAt ? cycle : after) : cycle);
        SetState(cluster, done);
        cluster = following;
    }
}

std::uint32_t ChainCounts::Count(std::uint32_t firstCluster) const {
    if (!KnownKind(m_kind) || EndsChain(m_kind, firstCluster, m_lastCluster)) {
        return 0;
    }
    const std::uint32_t first = m_kind == FatKind::Fat32 ? firstCluster & kFat32Mask : firstCluster;
    return first > m_limit ? 1 : Entry(first);
}

bool ChainCounts::RunsIntoLostSector(std::uint32_t firstCluster) const {
    if (!KnownKind(m_kind) || EndsChain(m_kind, firstCluster, m_lastCluster)) {
        return false;
    }
    const std::uint32_t first = m_kind == FatKind::Fat32 ? firstCluster & kFat32Mask : firstCluster;
    return first <= m_limit && StateOf(first) == kDoneCut;
}

ChainShape MeasureChain(std::uint32_t firstCluster, FatKind fatKind, const FatImage& fat,
                        std::size_t keepRuns) {
    ChainShape shape;
    shape.clusters = CountChain(firstCluster, fatKind, fat);
    if (shape.clusters == 0) {
        return shape;
    }
    // The count decides how far the chain is followed: the same clusters the core
    // reads for the item, and never round a cycle.
    std::uint32_t cluster = fatKind == FatKind::Fat32 ? firstCluster & kFat32Mask : firstCluster;
    Fragment run{cluster, 1};
    const auto endRun = [&] {
        ++shape.fragments;
        if (shape.runs.size() < keepRuns) {
            shape.runs.push_back(run);
        }
    };
    FatCursor cursor(fat, fatKind);
    for (std::uint32_t i = 1; i < shape.clusters; ++i) {
        const std::uint32_t next = cursor.Next(cluster);
        if (next == cluster + 1) {
            ++run.clusters;
        } else {
            endRun();
            run = Fragment{next, 1};
        }
        cluster = next;
    }
    endRun();
    return shape;
}

std::uint32_t ContiguousClusters(std::span<const std::uint32_t> chain, std::size_t index,
                                 std::uint32_t most) {
    std::uint32_t run = 1;
    while (run < most && index + run < chain.size() && chain[index + run] == chain[index] + run) {
        ++run;
    }
    return run;
}

}  // namespace moravel
