#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "TerminalFrontend.h"
#include "copy/CopyJob.h"

namespace moravel::cli {

// Seconds on a clock that only goes forward; the progress line's rate and time
// left are measured with it.
using SecondsClock = std::function<double()>;
SecondsClock SteadySeconds();

// The copy's progress line: the percentage, the average rate since the copy
// began (MB of 2^20 bytes), and the time left at that rate, rounded up
// ("Copying  42%  37.5 MB/s  ETA 1:05"; an hour and more as h:mm:ss).
// Until a rate can be told, both show as dashes.
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

// A copy's progress on the terminal: its line while it runs (the copy's, a
// batch's or a rescue's), redrawn when the percentage changes and at least every
// half second; a stop asked for by a signal passes on to the copy.
class CopyProgressLine final : public CopyProgress {
public:
    // stop, when given, is read at every step. With batch, the line shows the
    // progress of all the files.
    CopyProgressLine(TerminalFrontend& terminal, SecondsClock clock,
                     const volatile std::sig_atomic_t* stop = nullptr,
                     const BatchProgress* batch = nullptr);
    // The line is gone.
    ~CopyProgressLine() override { m_terminal.ClearProgressLine(); }
    CopyProgressLine(const CopyProgressLine&) = delete;
    CopyProgressLine& operator=(const CopyProgressLine&) = delete;

    void Began(std::uint64_t size) override;
    void Copied(std::uint64_t bytesDone, std::uint64_t size) override;
    void Rescued(const RescueProgress& progress) override;
    bool StopRequested() override { return m_stop != nullptr && *m_stop != 0; }

private:
    void DrawLine(double now);

    TerminalFrontend& m_terminal;
    SecondsClock m_clock;
    const volatile std::sig_atomic_t* m_stop;
    const BatchProgress* m_batch;

    std::uint64_t m_size = 0;
    std::uint64_t m_done = 0;
    double m_started = 0;
    double m_drawn = 0;
    int m_drawnPercent = -1;
};

// Runs the job with its progress line; the reason it ends with, when it gives
// one, follows on the error stream.
CopyReport RunWithProgressLine(CopyJob& job, const DriveItem& source, const CopyPlan& plan,
                               TerminalFrontend& terminal, SecondsClock clock,
                               const volatile std::sig_atomic_t* stop = nullptr,
                               const BatchProgress* batch = nullptr);

}  // namespace moravel::cli
