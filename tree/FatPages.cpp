#include "FatPages.h"

#include <algorithm>
#include <cstring>

#include "FatChain.h"
#include "disk/Sector.h"

namespace moravel {

namespace {

constexpr unsigned kPieceShift = 12;                               // 4 KiB
constexpr std::uint64_t kMostAheadBytes = std::uint64_t{1} << 20;  // one read at most

// A FAT12 entry may span two sectors: its table, 6 KiB at most, is one piece.
unsigned PieceShift(FatKind fatKind, std::uint64_t tableBytes) {
    unsigned shift = kPieceShift;
    if (fatKind == FatKind::Fat12) {
        while ((std::uint64_t{1} << shift) < tableBytes) {
            ++shift;
        }
    }
    return shift;
}

}  // namespace

FatPages::FatPages(FatKind fatKind, std::uint64_t tableBytes, std::uint32_t lastCluster,
                   SectorReader reader, std::uint64_t heldLimit)
    : m_kind(fatKind),
      m_tableBytes(tableBytes),
      m_lastCluster(lastCluster),
      m_reader(std::move(reader)),
      m_pieceShift(PieceShift(fatKind, tableBytes)),
      m_pieceBytes(std::uint64_t{1} << m_pieceShift),
      m_pieceMask(m_pieceBytes - 1),
      m_limitPieces(heldLimit >> m_pieceShift) {
    const auto pieces = static_cast<std::size_t>((tableBytes + m_pieceMask) >> m_pieceShift);
    m_pieces.resize(pieces);
    m_newer.assign(pieces, kNone);
    m_older.assign(pieces, kNone);
}

FatPages::~FatPages() {
    // Its thread writes into the run's bytes.
    if (m_asideRun.done.valid()) {
        m_asideRun.done.wait();
    }
}

std::uint32_t FatPages::ReadSlow(std::uint64_t at, unsigned count) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
        const auto piece = static_cast<std::size_t>((at + i) >> m_pieceShift);
        const std::uint8_t* data = Piece(piece);
        if (data == nullptr) {
            value = 0;
            break;
        }
        m_lastPiece = piece;
        m_lastData = data;
        value |= std::uint32_t{data[(at + i) & m_pieceMask]} << (8 * i);
    }
    // The value is taken before the window is served: what it does meanwhile may
    // let this piece go, or this table.
    if (m_readHappened) {
        m_readHappened = false;
        if (m_afterRead) {
            const std::function<void()> after = m_afterRead;
            after();
        }
    }
    return value;
}

const std::uint8_t* FatPages::Piece(std::size_t piece) {
    if (m_pieces[piece]) {
        MoveToFront(piece);
        return m_pieces[piece].get();
    }
    if (m_stop != nullptr && *m_stop) {
        return nullptr;
    }
    if (m_asideRun.done.valid() && piece >= m_asideRun.first &&
        piece < m_asideRun.first + m_asideRun.count) {
        AsideRun run = std::move(m_asideRun);
        // The next run is asked for before this one is waited for: the disk goes
        // on to it at once, and never waits for the walk.
        if (m_aside) {
            StartAside(run.first + run.count, run.count);
        }
        if (SettleAside(std::move(run))) {
            MoveToFront(piece);
            return m_pieces[piece].get();
        }
    }
    // A walk that comes on from the piece before reads further ahead each time.
    const std::uint64_t most =
        std::clamp<std::uint64_t>(m_limitPieces, 1, kMostAheadBytes >> m_pieceShift);
    m_ahead = piece > 0 && m_pieces[piece - 1]
                  ? static_cast<std::size_t>(std::min<std::uint64_t>(2 * m_ahead, most))
                  : 1;
    std::size_t count = 1;
    while (count < m_ahead && piece + count < m_pieces.size() && !m_pieces[piece + count]) {
        ++count;
    }
    ReadPieces(piece, count);
    // Both runs must fit under the limit, or the second would let go of the first.
    if (m_aside && count == most && 2 * most <= m_limitPieces) {
        StartAside(piece + count, most);
    }
    MoveToFront(piece);
    return m_pieces[piece].get();
}

std::uint32_t FatPages::RunSectors(std::size_t first, std::size_t count) const {
    const std::uint64_t pieceSectors = m_pieceBytes / kSectorSize;
    const std::uint64_t tableSectors = m_tableBytes / kSectorSize;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(count * pieceSectors, tableSectors - first * pieceSectors));
}

void FatPages::ReadPieces(std::size_t first, std::size_t count) {
    const auto firstSector = static_cast<std::uint32_t>(first * (m_pieceBytes / kSectorSize));
    const std::uint32_t sectors = RunSectors(first, count);
    // Past the table's last sector, its last piece reads as free entries.
    const auto run = std::make_unique_for_overwrite<std::uint8_t[]>(count * m_pieceBytes);
    const std::span<std::uint8_t> bytes(run.get(), SectorsToBytes(sectors));
    std::fill(run.get() + bytes.size(), run.get() + count * m_pieceBytes, std::uint8_t{0});
    std::vector<std::uint32_t> unreadable;
    m_reader(0, firstSector, sectors, bytes, unreadable);
    m_readHappened = true;
    m_sectorsRead += sectors;
    if (!unreadable.empty()) {
        TakeFromSecondCopy(firstSector, bytes, unreadable);
    }
    HoldRun(first, count, run.get());
}

void FatPages::HoldRun(std::size_t first, std::size_t count, const std::uint8_t* run) {
    for (std::size_t i = 0; i < count; ++i) {
        auto piece = std::make_unique_for_overwrite<std::uint8_t[]>(m_pieceBytes);
        std::memcpy(piece.get(), run + i * m_pieceBytes, m_pieceBytes);
        Hold(first + i, std::move(piece));
    }
}

void FatPages::StartAside(std::size_t first, std::size_t most) {
    SettleAside(std::move(m_asideRun));
    std::size_t count = 0;
    while (count < most && first + count < m_pieces.size() && !m_pieces[first + count]) {
        ++count;
    }
    if (count == 0 || !m_aside) {
        return;
    }
    const auto firstSector = static_cast<std::uint32_t>(first * (m_pieceBytes / kSectorSize));
    // Zero-filled: past the table's last sector, its last piece reads as free entries.
    AsideRun run{first, count, MemoryBlock::Allocate(count * m_pieceBytes), {}};
    if (!run.bytes) {
        return;
    }
    const std::span<std::uint8_t> bytes =
        run.bytes.Bytes().first(SectorsToBytes(RunSectors(first, count)));
    run.done = std::async(std::launch::async, [reader = m_aside, firstSector, bytes] {
        return reader(firstSector, bytes);
    });
    m_asideRun = std::move(run);
}

bool FatPages::SettleAside(AsideRun run) {
    if (!run.done.valid()) {
        return false;
    }
    if (!run.done.get()) {
        // The disk did not give it all: from now on every run is read where the
        // walk needs it, with the second copy where the first fails.
        m_aside = nullptr;
        return false;
    }
    m_readHappened = true;
    m_sectorsRead += RunSectors(run.first, run.count);
    // A walk elsewhere may have read some of its pieces since.
    std::size_t i = 0;
    while (i < run.count) {
        std::size_t end = i;
        while (end < run.count && !m_pieces[run.first + end]) {
            ++end;
        }
        HoldRun(run.first + i, end - i, run.bytes.Data() + i * m_pieceBytes);
        i = end + 1;
    }
    return true;
}

// Each run of sectors that did not read from the first copy is read from the
// second; a sector that reads from neither is lost: its entries read as free.
void FatPages::TakeFromSecondCopy(std::uint32_t firstSector, std::span<std::uint8_t> run,
                                  const std::vector<std::uint32_t>& unreadable) {
    std::vector<std::uint32_t> lost;
    for (std::size_t i = 0; i < unreadable.size();) {
        std::size_t end = i + 1;
        while (end < unreadable.size() && unreadable[end] == unreadable[end - 1] + 1) {
            ++end;
        }
        const auto sectors = static_cast<std::uint32_t>(end - i);
        std::vector<std::uint32_t> neither;
        m_reader(1, firstSector + unreadable[i], sectors,
                 run.subspan(static_cast<std::size_t>(SectorsToBytes(unreadable[i])),
                             static_cast<std::size_t>(SectorsToBytes(sectors))),
                 neither);
        for (const std::uint32_t sector : neither) {
            lost.push_back(unreadable[i] + sector);
        }
        i = end;
    }
    m_sectorsRead -= lost.size();
    for (const std::uint32_t sector : lost) {
        // A FAT12 table is one piece: the run starts at its first sector.
        ClearLostSector(run, m_kind, sector);
        const std::uint32_t inTable = firstSector + sector;
        const auto at = std::lower_bound(m_lost.begin(), m_lost.end(), inTable);
        if (at == m_lost.end() || *at != inTable) {
            m_lost.insert(at, inTable);
        }
    }
}

MemoryBlock FatPages::CopyWhole() {
    MemoryBlock whole = MemoryBlock::Allocate(static_cast<std::size_t>(m_tableBytes));
    if (!whole) {
        return whole;
    }
    for (std::size_t piece = 0; piece < m_pieces.size(); ++piece) {
        const std::uint8_t* data = Piece(piece);
        if (data == nullptr) {
            return {};
        }
        const std::uint64_t at = piece * m_pieceBytes;
        std::memcpy(whole.Data() + at, data,
                    static_cast<std::size_t>(std::min(m_pieceBytes, m_tableBytes - at)));
    }
    m_readHappened = false;
    return whole;
}

void FatPages::HoldUpTo(std::uint64_t bytes) {
    m_limitPieces = bytes >> m_pieceShift;
    while (m_held > m_limitPieces) {
        LetGoLeastRecent();
    }
}

void FatPages::Hold(std::size_t piece, std::unique_ptr<std::uint8_t[]> bytes) {
    while (m_held > 0 && m_held >= std::max<std::uint64_t>(m_limitPieces, 1)) {
        LetGoLeastRecent();
    }
    m_pieces[piece] = std::move(bytes);
    ++m_held;
    MoveToFront(piece);
}

void FatPages::LetGoLeastRecent() {
    const std::size_t piece = m_back;
    Unlink(piece);
    m_pieces[piece].reset();
    --m_held;
    if (m_lastPiece == piece) {
        m_lastPiece = kNone;
        m_lastData = nullptr;
    }
}

void FatPages::MoveToFront(std::size_t piece) {
    if (m_front == piece) {
        return;
    }
    Unlink(piece);
    m_older[piece] = m_front;
    m_newer[piece] = kNone;
    if (m_front != kNone) {
        m_newer[m_front] = piece;
    }
    m_front = piece;
    if (m_back == kNone) {
        m_back = piece;
    }
}

void FatPages::Unlink(std::size_t piece) {
    const std::size_t newer = m_newer[piece];
    const std::size_t older = m_older[piece];
    if (newer != kNone) {
        m_older[newer] = older;
    } else if (m_front == piece) {
        m_front = older;
    }
    if (older != kNone) {
        m_newer[older] = newer;
    } else if (m_back == piece) {
        m_back = newer;
    }
    m_newer[piece] = kNone;
    m_older[piece] = kNone;
}

}  // namespace moravel
