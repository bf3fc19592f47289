#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "RescueMap.h"
#include "disk/DriveItem.h"

namespace moravel {

// Seconds on the steady clock (counted from an arbitrary moment): the time of the rescue's
// map saves and of the progress lines' rates.
double SteadySecondsNow();

class DriveAccess;

// How far a rescue is, for a progress line.
struct RescueProgress {
    RescuePass pass = RescuePass::Copy;
    std::uint64_t rescuedBytes = 0;  // in the output, as read from the disk
    std::uint64_t badBytes = 0;      // sectors that failed when read alone
    std::uint64_t size = 0;
    double bytesPerSecond = 0;        // what the pass reads in a second
    double secondsSinceGoodRead = 0;  // since the last read that brought anything
    double passSecondsLeft = -1;      // for the current pass; below 0 when not known yet
};

// Reads a recording off a failing disk so that everything readable is in the
// output soon, and the disk's weak places are read last and least:
//  copy:   the chain in runs of up to 1 MiB; after a failed run the reading goes
//          on farther ahead, the skip doubling while failures go on and halving
//          after a run that read whole; what did not come in stays untried;
//  trim:   every area left so, a sector at a time from its leading edge to the
//          first that fails, in runs again after it; a bad area (two bad sectors
//          in a row) from its trailing edge inward too, so that it shrinks to its
//          true extent and every good sector around it is in;
//  scrape: what is left inside bad areas, one sector at a time;
//  retry:  the bad sectors again, one at a time, as often as asked.
// A sector is bad only once a read of it alone failed; a read that failed is not
// asked again before the retry pass.
// Every byte read goes to its place in the output at once; a bad sector is 0xE5
// there. The map says of every byte what became of it, and where the passes
// stand, so that a rescue that was stopped goes on where it was and never reads
// a copied byte again.
class RescueEngine {
public:
    struct Hooks {
        std::function<double()> clock;
        // Writes bytes at their offset in the recording; false when they could not be.
        std::function<bool(std::uint64_t offset, std::span<const std::uint8_t> bytes)> write;
        // Keeps the map (at most about once a second, as a pass ends, and at the
        // end); false when it could not be kept.
        std::function<bool(const RescueMapFile& state)> saveMap;
        // Shows how far it is, and lets the front end do its work (and ask to stop).
        std::function<void(const RescueProgress& progress)> progress;
        std::function<bool()> stopRequested;
    };
    // SourceGone: the disk stopped answering; what was not read stays untried in
    // the map, for a run when it is back.
    enum class Result { Done, Stopped, WriteFailed, MapNotSaved, SourceGone };

    // volume: the recording's volume (drive, partition start, data start, sectors
    // per cluster), kept by reference like the chain and the buffer; chain: the
    // recording's clusters, at least as many as its size takes; buffer: room for one
    // run (runs are cut to it; up to 1 MiB is used).
    RescueEngine(DriveAccess& drives, const DriveItem& volume, std::span<const std::uint32_t> chain,
                 RescueMapFile& state, unsigned retries, std::span<std::uint8_t> buffer,
                 Hooks hooks);

    Result Run();

private:
    bool CopyPass();
    bool TrimPass();
    bool ScrapePass();
    bool RetryPass();
    // Reads [offset, offset + length) of the recording in one attempt (the length
    // kept within one stretch of clusters that lie together on the disk); what came
    // in goes to the output and the map. The bytes that came in.
    std::uint64_t ReadOnce(std::uint64_t offset, std::uint64_t length);
    // The sector at `offset` alone: copied, or marked bad (not when the disk went).
    bool ReadSector(std::uint64_t offset);
    // Whether the rescue ends here: a write failed, or the disk is gone.
    bool Ended() const { return m_writeFailed || m_sourceGone; }
    // The sector at `offset` bad, and 0xE5 in the output; false when that could not
    // be written.
    bool MarkBad(std::uint64_t offset);
    std::uint64_t ContiguousBytes(std::uint64_t offset, std::uint64_t most) const;
    // The length of a read from `offset`: at most `length`, the buffer, the
    // stretch of clusters that lie together, and the recording.
    std::uint64_t RunLength(std::uint64_t offset, std::uint64_t length) const;
    bool TrimArea(const RescueRange& area);
    bool TrimBack(std::uint64_t from, std::uint64_t end);
    bool Step(std::uint64_t done, std::uint64_t total);
    bool Save(bool now);
    bool Write(std::uint64_t offset, std::span<const std::uint8_t> bytes);

    DriveAccess& m_drives;
    const DriveItem& m_volume;
    std::span<const std::uint32_t> m_chain;
    RescueMapFile& m_state;
    unsigned m_retries;
    std::span<std::uint8_t> m_buffer;
    Hooks m_hooks;
    std::uint64_t m_clusterBytes;
    bool m_writeFailed = false;
    bool m_sourceGone = false;
    double m_lastSave = 0;
    double m_lastGoodRead = 0;
    double m_passStarted = 0;
    std::uint64_t m_passBytesRead = 0;  // tried in this pass, good or not
};

}  // namespace moravel
