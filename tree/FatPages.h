#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "disk/ItemKinds.h"
#include "disk/MemoryBlock.h"

namespace moravel {

// How much of one volume's FAT is held in memory at most. A FAT32 table of a
// 2 TB disk with 32 KiB clusters (256 MiB) is held whole; of a larger one, the
// pieces used least recently are let go.
inline constexpr std::uint64_t kFatHeldBytes = std::uint64_t{256} << 20;

// A volume's FAT, read from the disk in pieces as chains are walked through it:
// each piece once, and kept until the memory limit makes room for another. A
// listing of a folder reads only the pieces that its chains touch; a later listing
// or copy that touches them again reads nothing.
//
// A piece is 4 KiB of the table (a FAT12 table, at most 6 KiB, is one piece). A
// walk that goes on into the next piece reads ahead of itself, twice as far each
// time up to 1 MiB, so a long chain is read in large requests in disk order and a
// short one costs one small read. Where the disk can be read on a second thread
// (ReadAheadAside), a walk that streams at 1 MiB has the next MiB read while it
// walks the one before: the disk does not wait for the walk.
class FatPages {
public:
    // Reads `count` sectors of the table from sector `first` of one copy (0 or 1)
    // into out, and appends the index in the run of each sector that did not read.
    using SectorReader =
        std::function<void(unsigned copy, std::uint32_t first, std::uint32_t count,
                           std::span<std::uint8_t> out, std::vector<std::uint32_t>& unreadable)>;

    // tableBytes: the used part of the table (FatBytesUsed), whole sectors.
    FatPages(FatKind fatKind, std::uint64_t tableBytes, std::uint32_t lastCluster,
             SectorReader reader, std::uint64_t heldLimit = kFatHeldBytes);
    FatPages(const FatPages&) = delete;
    FatPages& operator=(const FatPages&) = delete;
    ~FatPages();

    // Reads `out.size()` bytes of the first copy from sector `first`, on another
    // thread beside the reads of SectorReader; true when all of them came in.
    using AsideReader = std::function<bool(std::uint32_t first, std::span<std::uint8_t> out)>;
    // From now on the next run of a streaming walk is read with it ahead of time.
    // Only what it reads whole is taken: the rest is read again through
    // SectorReader, with its second copy and its lost sectors.
    void ReadAheadAside(AsideReader reader) { m_aside = std::move(reader); }

    // The little-endian value of the `count` bytes (at most 4) of the table at
    // `at`, its piece read first when it is not held; 0 past the table, and while
    // a stop is asked for (see Stopping) where the piece is not held.
    std::uint32_t Read(std::uint64_t at, unsigned count) {
        const std::uint64_t piece = at >> m_pieceShift;
        if (at + count > m_tableBytes) {
            return 0;
        }
        if (piece != m_lastPiece || ((at + count - 1) >> m_pieceShift) != piece) {
            return ReadSlow(at, count);
        }
        return LittleEndian(m_lastData + (at & m_pieceMask), count);
    }

    // The bytes of the held piece that holds the byte at `at`, and where that
    // piece begins in the table and how many of its bytes are the table's; nullptr
    // when it is not held. Nothing is read. Valid until the next read of a piece.
    const std::uint8_t* HeldPiece(std::uint64_t at, std::uint64_t& begins,
                                  std::uint64_t& bytes) const {
        const auto piece = static_cast<std::size_t>(at >> m_pieceShift);
        if (at >= m_tableBytes || !m_pieces[piece]) {
            return nullptr;
        }
        begins = std::uint64_t{piece} << m_pieceShift;
        bytes = std::min(m_pieceBytes, m_tableBytes - begins);
        return m_pieces[piece].get();
    }

    // The whole table in one block, every piece read that is not held (for the
    // count of every chain at once). Empty when memory is short or a stop was asked.
    MemoryBlock CopyWhole();

    // The sectors of the table (by number in it, in order) that could not be read
    // from either copy so far; their entries read as 0.
    std::span<const std::uint32_t> LostSectors() const { return m_lost; }
    // Whether every sector tried so far failed in both copies (and some were tried).
    bool NothingRead() const { return m_sectorsRead == 0 && !m_lost.empty(); }

    std::uint64_t TableBytes() const { return m_tableBytes; }
    std::uint32_t LastCluster() const { return m_lastCluster; }
    std::uint64_t HeldBytes() const { return m_held * m_pieceBytes; }
    // Holds no more than this from now on (the piece a walk is in, at least),
    // letting go of the pieces used least recently at once.
    void HoldUpTo(std::uint64_t bytes);

    // While stop points at true, no piece is read: walks end where the table is
    // not held. Returns the flag it replaces (see FatWalkStop).
    const bool* Stopping(const bool* stop) { return std::exchange(m_stop, stop); }
    // Called after each read from the disk (the window serves its messages there).
    void AfterEachRead(std::function<void()> after) { m_afterRead = std::move(after); }

private:
    static std::uint32_t LittleEndian(const std::uint8_t* bytes, unsigned count) {
        if (count == 4) {
            return bytes[0] | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
                   std::uint32_t{bytes[3]} << 24;
        }
        std::uint32_t value = 0;
        for (unsigned i = count; i-- > 0;) {
            value = (value << 8) | bytes[i];
        }
        return value;
    }
    std::uint32_t ReadSlow(std::uint64_t at, unsigned count);
    // The piece's bytes, read (with those after it, when the walk runs on) if not
    // held; nullptr when it cannot be had.
    const std::uint8_t* Piece(std::size_t piece);
    void ReadPieces(std::size_t first, std::size_t count);
    // Holds the `count` pieces from `first` out of one run of their bytes.
    void HoldRun(std::size_t first, std::size_t count, const std::uint8_t* run);
    // A read aside: its pieces, their bytes, and whether they all came in.
    struct AsideRun {
        std::size_t first = 0;
        std::size_t count = 0;
        MemoryBlock bytes;  // page-aligned: a disk read straight into it is not split
        std::future<bool> done;
    };
    // Starts the read aside of up to `most` pieces from `first` that are not held.
    void StartAside(std::size_t first, std::size_t most);
    // Waits for a read aside, and holds its pieces when it read whole.
    bool SettleAside(AsideRun run);
    // Sectors of the table in the run of `count` pieces from `first`.
    std::uint32_t RunSectors(std::size_t first, std::size_t count) const;
    void TakeFromSecondCopy(std::uint32_t firstSector, std::span<std::uint8_t> run,
                            const std::vector<std::uint32_t>& unreadable);
    void Hold(std::size_t piece, std::unique_ptr<std::uint8_t[]> bytes);
    void LetGoLeastRecent();
    void MoveToFront(std::size_t piece);
    void Unlink(std::size_t piece);

    static constexpr std::size_t kNone = ~std::size_t{0};

    FatKind m_kind;
    std::uint64_t m_tableBytes;
    std::uint32_t m_lastCluster;
    SectorReader m_reader;
    unsigned m_pieceShift;
    std::uint64_t m_pieceBytes;
    std::uint64_t m_pieceMask;
    std::uint64_t m_limitPieces;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_pieces;
    // Held pieces from the most recently used (m_front) to the least (m_back).
    std::vector<std::size_t> m_newer;
    std::vector<std::size_t> m_older;
    std::size_t m_front = kNone;
    std::size_t m_back = kNone;
    std::size_t m_held = 0;
    std::size_t m_lastPiece = kNone;
    const std::uint8_t* m_lastData = nullptr;
    std::size_t m_ahead = 1;  // pieces the next read asks for when the walk runs on
    std::vector<std::uint32_t> m_lost;
    std::uint64_t m_sectorsRead = 0;
    bool m_readHappened = false;  // since the window was last served
    const bool* m_stop = nullptr;
    std::function<void()> m_afterRead;
    AsideReader m_aside;
    AsideRun m_asideRun;  // under way
};

// For as long as it lives, walks through the pages end when *stop is set; then
// the flag of the walk around it, if any, holds again.
class FatWalkStop {
public:
    FatWalkStop(std::shared_ptr<FatPages> pages, const bool* stop)
        : m_pages(std::move(pages)), m_before(m_pages->Stopping(stop)) {}
    ~FatWalkStop() { m_pages->Stopping(m_before); }
    FatWalkStop(const FatWalkStop&) = delete;
    FatWalkStop& operator=(const FatWalkStop&) = delete;

private:
    std::shared_ptr<FatPages> m_pages;
    const bool* m_before;
};

}  // namespace moravel
