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

// The terminal's line of one copy: the percentage, the rate and the time left
// ("Copying  42%  37.5 MB/s  ETA 1:05").
std::string CopyProgressText(int percent, std::uint64_t bytesDone, std::uint64_t fileSize,
                             double seconds);

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
// the rate since the first file began, and the time left for all at that rate
// ("File 3/12  1.2 GB of 8.4 GB  37.5 MB/s  ETA 3:15").
std::string BatchProgressText(const BatchProgress& batch, std::uint64_t bytesDone, double seconds);

// The window's status line during a copy of several files: the file's number
// and name, then as the terminal's line says it
// ("File 3/12 TRAILER.TS  1.2 GB of 8.4 GB  37.5 MB/s  ETA 3:15").
std::string BatchStatusText(const BatchProgress& batch, std::string_view name,
                            std::uint64_t bytesDone, double seconds);

// The window's status line during a copy: the file, then as the terminal's
// line says it ("Copying TRAILER.TS  1.2 GB of 4.5 GB  37.5 MB/s  ETA 3:15").
std::string CopyStatusText(std::string_view name, std::uint64_t bytesDone, std::uint64_t size,
                           double seconds);

}  // namespace moravel
