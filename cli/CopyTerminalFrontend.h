#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "TerminalFrontend.h"
#include "copy/CopyCommand.h"

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

// The window's controls as the copy command addresses them; of these the
// terminal shows only the progress bar, as its progress line.
inline constexpr CopyControls kTerminalControls{1, 2, 3, 4};

// The Copy File command's front end in a shell. It answers for the window: the
// one selected row is the file that the tree path named, and the Save dialog
// answers with the destination from the command line. Messages go to the
// terminal (and are answered OK), the status text is kept for the caller, and
// the progress bar becomes the terminal's progress line.
class CopyTerminalFrontend final : public CopyFrontend {
public:
    // stop, when given, is polled at every pump step; once it is set, onStop runs.
    // With batch, the line shows the progress of all the files.
    CopyTerminalFrontend(TerminalFrontend& terminal, DriveItem& source, SaveChoice destination,
                         CopyControls controls, SecondsClock clock,
                         const volatile std::sig_atomic_t* stop = nullptr,
                         const BatchProgress* batch = nullptr);

    void OnStop(std::function<void()> onStop) { m_onStop = std::move(onStop); }

    MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                              MessageButtons buttons, MessageIcon icon) override;
    void PostScanProgress() override { m_terminal.PostScanProgress(); }
    // One step per copied cluster: counts it, redraws the line now and then, and
    // passes on a stop request.
    void PumpMessages() override;

    int SelectedListRow() override { return 0; }
    DriveItem* ListRowData(int row) override { return row == 0 ? &m_source : nullptr; }
    // The destination was worked out from the command line before the run.
    std::optional<SaveChoice> AskSaveFileName(const std::string&) override { return m_destination; }
    void SetStatusText(const std::string& text) override { m_status = text; }
    // Showing the progress bar starts the line, hiding it removes the line.
    void ShowControl(int id, bool show) override;
    void EnableControl(int, bool) override {}
    void SetProgressPosition(int position) override { m_position = position; }
    // On the error stream, as a line of its own.
    void ShowNote(const std::string& text) override;
    // A rescue's line takes the place of the copy's, redrawn as often.
    void ShowRescueProgress(const RescueProgress& progress) override;

    const std::string& StatusText() const { return m_status; }

private:
    void DrawLine(double now);

    TerminalFrontend& m_terminal;
    DriveItem& m_source;
    SaveChoice m_destination;
    CopyControls m_controls;
    SecondsClock m_clock;
    const volatile std::sig_atomic_t* m_stop;
    const BatchProgress* m_batch;
    std::function<void()> m_onStop;

    std::string m_status;
    int m_position = 0;
    bool m_copying = false;
    std::uint64_t m_clustersDone = 0;
    double m_started = 0;
    double m_drawn = 0;
    int m_drawnPercent = -1;
    bool m_rescue = false;
};

}  // namespace moravel::cli
