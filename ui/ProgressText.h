#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace moravel {

// A window's status line redraws a copy's progress at most this often: the
// rate and the time left change with every cluster.
inline constexpr double kStatusRedrawSeconds = 0.25;

// The average rate since a copy began (MB of 2^20 bytes) and the time left at
// that rate, rounded up ("37.5 MB/s  ETA 3:15"; an hour and more as h:mm:ss).
// Until a rate can be told, both show as dashes.
std::string RateAndTimeLeft(std::uint64_t done, std::uint64_t all, double seconds);

// How a copy goes, for its line: the rate and the time left, or, while sectors
// fail, how many did so far. A rate measured over a bad area (a failing drive
// spends seconds on each sector) would tell nothing of the rest: so until
// kGoodStretch bytes have been read well after the last failure the line says
// "Reading around unreadable sectors: 312 so far", and then the rate is
// measured from where reads went well again.
class CopyPace {
public:
    static constexpr std::uint64_t kGoodStretch = 1024 * 1024;

    // The copy begins (or a file of a batch does) at bytesDone.
    void Start(std::uint64_t bytesDone, double now);
    void Unreadable(std::uint64_t sectorsSoFar, std::uint64_t bytesDone);
    void Copied(std::uint64_t bytesDone, double now);
    bool AroundUnreadable() const { return m_around; }
    // "37.5 MB/s  ETA 3:15", or the sectors that failed so far.
    std::string Text(std::uint64_t bytesDone, std::uint64_t all, double now) const;

private:
    std::uint64_t m_from = 0;  // the bytes done when the rate's clock started
    double m_since = 0;
    bool m_around = false;
    std::uint64_t m_unreadable = 0;
    std::uint64_t m_lastFailedAt = 0;
};

// The terminal's line of one copy: the percentage and the pace
// ("Copying  42%  37.5 MB/s  ETA 1:05").
std::string CopyProgressText(int percent, std::string_view pace);

// Where a copy of several files stands: the file being copied (from 1) of how
// many, the bytes of the files before it, of all of them, and when it began.
struct BatchProgress {
    std::size_t fileNumber = 0;
    std::size_t files = 0;
    std::uint64_t bytesBefore = 0;
    std::uint64_t totalBytes = 0;
    double started = 0;
};

// The line of a copy of several files: the file's number, the bytes done of all,
// and the pace of all of them ("File 3/12  1.2 GB of 8.4 GB  37.5 MB/s  ETA 3:15").
std::string BatchProgressText(const BatchProgress& batch, std::uint64_t bytesDone,
                              std::string_view pace);

// The window's status line during a copy of several files: the file's number
// and name, then as the terminal's line says it
// ("File 3/12 TRAILER.TS  1.2 GB of 8.4 GB  37.5 MB/s  ETA 3:15").
std::string BatchStatusText(const BatchProgress& batch, std::string_view name,
                            std::uint64_t bytesDone, std::string_view pace);

// The window's status line during a copy: the file, then as the terminal's
// line says it ("Copying TRAILER.TS  1.2 GB of 4.5 GB  37.5 MB/s  ETA 3:15").
std::string CopyStatusText(std::string_view name, std::uint64_t bytesDone, std::uint64_t size,
                           std::string_view pace);

}  // namespace moravel
