#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "TerminalFrontend.h"
#include "copy/CopyJob.h"
#include "ui/ProgressText.h"

namespace moravel::cli {

// Seconds on a clock that only goes forward; the progress line's rate and time
// left are measured with it.
using SecondsClock = std::function<double()>;
SecondsClock SteadySeconds();

// The progress texts, as the window's status line shares them.
using moravel::BatchProgress;
using moravel::BatchProgressText;
using moravel::CopyPace;
using moravel::CopyProgressText;

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
    void ReadingAroundUnreadable(std::uint64_t sectorsSoFar) override;
    void Rescued(const RescueProgress& progress) override;
    bool StopRequested() override { return m_stop != nullptr && *m_stop != 0; }

private:
    void DrawLine(double now);
    // The bytes done of the whole line: of every file of a batch.
    std::uint64_t BytesOfAll() const;

    TerminalFrontend& m_terminal;
    SecondsClock m_clock;
    const volatile std::sig_atomic_t* m_stop;
    const BatchProgress* m_batch;

    std::uint64_t m_size = 0;
    std::uint64_t m_done = 0;
    CopyPace m_pace;
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
