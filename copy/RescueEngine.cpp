#include "RescueEngine.h"

#include <algorithm>
#include <chrono>

#include "disk/DriveAccess.h"
#include "disk/Sector.h"
#include "tree/FatChain.h"

namespace moravel {

double SteadySecondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

// Large runs: a read costs little more for its length, a failed one as much.
constexpr std::uint64_t kRunBytes = 1024 * 1024;
// Past a failed read the copy pass goes on at least this far ahead. A bridge
// that fails a whole request for one bad sector in it returns a run cut where
// that request began: the bad sector may lie up to a request (128 KiB on many)
// beyond, and a read that began closer would fail on it once more.
constexpr std::uint64_t kMinSkip = 128 * 1024;
constexpr double kSaveSeconds = 1.0;
constexpr std::uint64_t kSector = kSectorSize;

std::uint64_t SectorFloor(std::uint64_t offset) {
    return offset / kSector * kSector;
}

}  // namespace

RescueEngine::RescueEngine(DriveAccess& drives, const DriveItem& volume,
                           std::span<const std::uint32_t> chain, RescueMapFile& state,
                           unsigned retries, std::span<std::uint8_t> buffer, Hooks hooks)
    : m_drives(drives),
      m_volume(volume),
      m_chain(chain),
      m_state(state),
      m_retries(retries),
      m_buffer(buffer.first(std::min<std::size_t>(buffer.size(), kRunBytes) / kSector * kSector)),
      m_hooks(std::move(hooks)),
      m_clusterBytes(std::uint64_t{volume.m_sectorsPerCluster} * kSector) {}

RescueEngine::Result RescueEngine::Run() {
    m_lastSave = m_hooks.clock();
    m_lastGoodRead = m_lastSave;
    bool going = true;
    while (going && m_state.pass != RescuePass::Done) {
        m_passStarted = m_hooks.clock();
        m_passBytesRead = 0;
        switch (m_state.pass) {
            case RescuePass::Copy:
                going = CopyPass();
                break;
            case RescuePass::Trim:
                going = TrimPass();
                break;
            case RescuePass::Scrape:
                going = ScrapePass();
                break;
            case RescuePass::Retry:
                going = RetryPass();
                break;
            case RescuePass::Done:
                break;
        }
        if (going) {
            m_state.pass = static_cast<RescuePass>(static_cast<int>(m_state.pass) + 1);
            m_state.position = 0;
            // A pass is kept as it ends: who watches the map learns it at once.
            going = m_state.pass == RescuePass::Done || Save(true);
        }
    }
    const bool saved = Save(true);
    if (m_writeFailed) {
        return Result::WriteFailed;
    }
    if (m_sourceGone) {
        return saved ? Result::SourceGone : Result::MapNotSaved;
    }
    if (!saved) {
        return Result::MapNotSaved;
    }
    return m_state.pass == RescuePass::Done ? Result::Done : Result::Stopped;
}

// How many bytes from `offset` lie together on the disk, at most `most`.
std::uint64_t RescueEngine::ContiguousBytes(std::uint64_t offset, std::uint64_t most) const {
    const std::uint64_t first = m_clusterBytes - offset % m_clusterBytes;
    // The clusters after the first that it takes to reach `most`.
    const std::uint64_t more =
        most > first ? (most - first + m_clusterBytes - 1) / m_clusterBytes : 0;
    const std::uint32_t clusters = ContiguousClusters(
        m_chain, static_cast<std::size_t>(offset / m_clusterBytes),
        static_cast<std::uint32_t>(std::min<std::uint64_t>(more + 1, UINT32_MAX)));
    return std::min(first + (clusters - 1) * m_clusterBytes, most);
}

std::uint64_t RescueEngine::RunLength(std::uint64_t offset, std::uint64_t length) const {
    length = ContiguousBytes(offset, std::min<std::uint64_t>(length, m_buffer.size()));
    return std::min(length, m_state.map.Size() - offset);
}

std::uint64_t RescueEngine::ReadOnce(std::uint64_t offset, std::uint64_t length) {
    length = RunLength(offset, length);
    const auto sectors = static_cast<std::uint32_t>((length + kSector - 1) / kSector);
    const std::uint64_t index = offset / m_clusterBytes;
    const SectorRun run{m_volume,
                        static_cast<std::uint32_t>(ClusterSector(m_volume, m_chain[index]) +
                                                   offset % m_clusterBytes / kSector),
                        sectors};
    const std::uint32_t got = m_drives.ReadSectorsOnce(run, m_buffer);
    m_passBytesRead += length;
    const std::uint64_t good = std::min<std::uint64_t>(std::uint64_t{got} * kSector, length);
    // A disk that went away fails every read: none of them may mark a sector bad.
    if (good < length && !m_drives.DiskAnswers(m_volume.m_drive)) {
        m_sourceGone = true;
    }
    if (good > 0) {
        if (!Write(offset, std::span<const std::uint8_t>(m_buffer).first(good))) {
            return 0;
        }
        m_state.map.Mark(offset, offset + good, RescueState::Copied);
        m_lastGoodRead = m_hooks.clock();
    }
    return good;
}

bool RescueEngine::ReadSector(std::uint64_t offset) {
    if (ReadOnce(offset, kSector) > 0) {
        return true;
    }
    if (!Ended()) {
        MarkBad(offset);
    }
    return false;
}

bool RescueEngine::MarkBad(std::uint64_t offset) {
    if (m_state.map.StateAt(offset) == RescueState::Bad) {
        return true;
    }
    const std::uint64_t end = std::min(offset + kSector, m_state.map.Size());
    std::fill(m_buffer.begin(), m_buffer.begin() + kSector, kUnreadableFill);
    // Marked bad only once the output says so too.
    if (!Write(offset, std::span<const std::uint8_t>(m_buffer).first(end - offset))) {
        return false;
    }
    m_state.map.Mark(offset, end, RescueState::Bad);
    return true;
}

bool RescueEngine::Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (!m_hooks.write(offset, bytes)) {
        m_writeFailed = true;
        return false;
    }
    return true;
}

bool RescueEngine::Save(bool now) {
    const double time = m_hooks.clock();
    if (!now && time - m_lastSave < kSaveSeconds) {
        return true;
    }
    m_lastSave = time;
    return m_hooks.saveMap(m_state);
}

// After each read: the map kept now and then, the progress shown, the front end
// served. False when the rescue ends here (a stop, a failed write or map).
bool RescueEngine::Step(std::uint64_t done, std::uint64_t total) {
    const double now = m_hooks.clock();
    RescueProgress progress;
    progress.pass = m_state.pass;
    progress.rescuedBytes = m_state.map.Bytes(RescueState::Copied);
    progress.badBytes = m_state.map.Bytes(RescueState::Bad);
    progress.size = m_state.map.Size();
    const double seconds = now - m_passStarted;
    progress.bytesPerSecond = seconds > 0 ? static_cast<double>(m_passBytesRead) / seconds : 0;
    progress.secondsSinceGoodRead = now - m_lastGoodRead;
    if (done > 0 && seconds > 0 && total >= done) {
        progress.passSecondsLeft =
            seconds * static_cast<double>(total - done) / static_cast<double>(done);
    }
    m_hooks.progress(progress);
    if (m_writeFailed || !Save(false)) {
        return false;
    }
    return !m_hooks.stopRequested();
}

bool RescueEngine::CopyPass() {
    const std::uint64_t size = m_state.map.Size();
    const std::uint64_t from = m_state.position;
    std::uint64_t skip = kMinSkip;
    const std::uint64_t maxSkip =
        std::clamp<std::uint64_t>(SectorFloor(size / 1024), 1 << 20, 16 << 20);
    while (auto range = m_state.map.Next(RescueState::Untried, m_state.position)) {
        const std::uint64_t start = range->first;
        const std::uint64_t asked = RunLength(start, std::min(range->Size(), kRunBytes));
        const std::uint64_t good = ReadOnce(start, asked);
        if (Ended()) {
            m_state.position = start + good;
            return false;
        }
        if (good >= asked) {
            skip = std::max(kMinSkip, skip / 2);
            m_state.position = start + good;
        } else {
            // What did not come in stays untried: only a read of one sector alone
            // tells which one fails, and the trim pass makes it. The reading goes on
            // farther ahead: past the sector where the run stopped, or past the whole
            // run when nothing came in (a drive behind a bridge fails a request as a
            // whole, for any one sector in it).
            m_state.position =
                std::min(size, (good > 0 ? start + good + kSector : start + asked) + skip);
            skip = std::min(skip * 2, maxSkip);
        }
        if (!Step(m_state.position - std::min(from, m_state.position), size - from)) {
            return false;
        }
    }
    return true;
}

// Reads an area that the copy pass could not read whole. From its leading edge a
// sector at a time (the read that failed there is not asked again, and only a read
// of one sector tells which one fails); after a lone bad sector in runs again, as
// the rest of the area is most likely good. Two bad sectors in a row are a bad
// area: its trailing edge is found from the area's end inward, and what lies
// between is left for the scrape pass, so no good sector waits behind it.
bool RescueEngine::TrimArea(const RescueRange& area) {
    std::uint64_t at = area.first;
    bool oneByOne = true;
    std::optional<std::uint64_t> lastBad;
    while (at < area.end) {
        if (!oneByOne) {
            const std::uint64_t asked = RunLength(at, area.end - at);
            const std::uint64_t good = ReadOnce(at, asked);
            at += good;
            oneByOne = good < asked;
        } else if (ReadSector(at)) {
            at += kSector;
        } else if (lastBad && *lastBad + kSector == at) {
            return !Ended() && TrimBack(at + kSector, area.end);
        } else {
            lastBad = at;
            at += kSector;
            oneByOne = false;
        }
        if (Ended() || !Step(std::min(at, area.end) - area.first, area.Size())) {
            return false;
        }
    }
    return true;
}

// Inward from the area's end a sector at a time (a read stops at the first failing
// sector, so a longer one would tell nothing from this side), to the first two
// sectors in a row that fail: the bad area's trailing edge. A lone bad sector on
// the way is passed, as from the leading edge: the good sectors between it and
// the bad area are not left for the scrape pass. What lies between `from` and the
// edge is left for the scrape pass.
bool RescueEngine::TrimBack(std::uint64_t from, std::uint64_t end) {
    std::uint64_t back = end;
    std::optional<std::uint64_t> lastBad;
    while (back > from) {
        const std::uint64_t sector = SectorFloor(back - 1);
        const bool read = ReadSector(sector);
        if (Ended() || !Step(end - sector, end - std::min(from, end))) {
            return false;
        }
        if (!read && lastBad && *lastBad == sector + kSector) {
            if (sector > from) {
                m_state.map.Mark(from, sector, RescueState::Trimmed);
            }
            return true;
        }
        if (!read) {
            lastBad = sector;
        }
        back = sector;
    }
    return true;
}

bool RescueEngine::TrimPass() {
    while (auto range = m_state.map.Next(RescueState::Untried, m_state.position)) {
        const RescueRange area = *range;
        if (!TrimArea(area)) {
            return false;
        }
        m_state.position = area.end;
    }
    return true;
}

bool RescueEngine::ScrapePass() {
    const std::uint64_t total = m_state.map.Bytes(RescueState::Trimmed);
    while (auto range = m_state.map.Next(RescueState::Trimmed, m_state.position)) {
        const std::uint64_t sector = SectorFloor(range->first);
        ReadSector(sector);
        m_state.position = m_sourceGone ? sector : sector + kSector;
        if (Ended() ||
            !Step(total - std::min(total, m_state.map.Bytes(RescueState::Trimmed)), total)) {
            return false;
        }
    }
    return true;
}

bool RescueEngine::RetryPass() {
    while (m_state.retriesDone < m_retries) {
        while (auto range = m_state.map.Next(RescueState::Bad, m_state.position)) {
            const std::uint64_t sector = SectorFloor(range->first);
            ReadSector(sector);
            m_state.position = m_sourceGone ? sector : sector + kSector;
            if (Ended() || !Step(m_state.position, m_state.map.Size())) {
                return false;
            }
        }
        ++m_state.retriesDone;
        m_state.position = 0;
    }
    return true;
}

}  // namespace moravel
