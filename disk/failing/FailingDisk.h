#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace moravel::failing {

inline constexpr std::uint64_t kSectorBytes = 512;

// Sectors first..last, both included.
struct SectorRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

// A sector that fails its first goodOnTry - 1 reads, reads on the next one and
// stays readable from then on (as a marginal sector does once the drive's own
// retries get it off the platter).
struct WeakSector {
    std::uint64_t sector = 0;
    unsigned goodOnTry = 1;
};

// What is wrong with a disk and what its reads cost.
struct FaultPlan {
    std::vector<SectorRange> bad;
    std::vector<WeakSector> weak;
    // A real drive retries a bad sector internally for seconds before it gives
    // up; a read pays this once, for the sector it stops at.
    std::chrono::microseconds failedSectorCost{20'000};
    // The cost of each sector that is read well (the transfer time).
    std::chrono::microseconds goodSectorCost{0};
    // A read that reaches a bad sector fails as a whole: EIO, none of its bytes,
    // as through many USB-SATA bridges and with O_DIRECT. Otherwise it returns
    // the bytes before that sector.
    bool failWholeRequest = false;
};

// The outcome of one read: the bytes from the offset on that arrived, and why
// the rest did not.
struct ReadOutcome {
    std::size_t bytes = 0;
    // The read failed as a whole (EIO): its first sector could not be read.
    bool error = false;
    // The sector that stopped the read, when one did (also behind a short read).
    std::optional<std::uint64_t> stoppedAt;
    std::chrono::microseconds cost{0};
};

// One read as the disk saw it.
struct ReadRecord {
    std::uint64_t offset = 0;
    std::size_t length = 0;
    ReadOutcome outcome;
};

// A failing drive as the program sees it through the kernel: a read of
// [offset, offset + length) returns the bytes before its first unreadable
// sector (a short read), fails with EIO when that is the first sector asked
// for (or, with FaultPlan::failWholeRequest, when it reaches one at all), and
// ends without error at the end of the disk. Only decides; the bytes
// themselves come from an image (FailingSource) and the time is spent by the
// caller, so tests neither read files nor sleep here. Not thread-safe.
class FailingDisk {
public:
    FailingDisk(std::uint64_t bytes, FaultPlan plan);

    ReadOutcome Read(std::uint64_t offset, std::size_t length);

    std::uint64_t Bytes() const { return m_bytes; }
    // Every read so far, in order (none while logging is off).
    const std::vector<ReadRecord>& Log() const { return m_log; }
    void ClearLog() { m_log.clear(); }
    // A long-running server that logs elsewhere keeps no log in memory.
    void SetLogging(bool on) { m_logging = on; }
    // How many logged reads reached the sector: read it, or stopped at it.
    std::size_t TimesRead(std::uint64_t sector) const;
    // How often a weak sector was tried so far (logged or not).
    unsigned Tries(std::uint64_t sector) const;
    // What all reads so far cost, logged or not.
    std::chrono::microseconds TotalCost() const { return m_totalCost; }

private:
    // The first sector of first..last that fails when read now.
    std::optional<std::uint64_t> FirstFailing(std::uint64_t first, std::uint64_t last) const;

    std::uint64_t m_bytes;
    FaultPlan m_plan;
    std::map<std::uint64_t, std::uint64_t> m_bad;  // first -> last, merged, sorted
    std::map<std::uint64_t, unsigned> m_weakGoodOnTry;
    std::map<std::uint64_t, unsigned> m_weakTries;
    std::vector<ReadRecord> m_log;
    bool m_logging = true;
    std::chrono::microseconds m_totalCost{0};
};

}  // namespace moravel::failing
