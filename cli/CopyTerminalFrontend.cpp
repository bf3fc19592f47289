#include "CopyTerminalFrontend.h"

#include <algorithm>
#include <cmath>

#include "ui/FormatSize.h"
#include "ui/RescueText.h"

namespace moravel::cli {

namespace {

// The line is redrawn when the percentage changes, and at least this often for
// the rate and the time left.
constexpr double kRedrawSeconds = 0.5;

std::string TwoDigits(std::uint64_t value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

// m:ss below an hour, else h:mm:ss.
std::string Duration(std::uint64_t seconds) {
    const std::uint64_t hours = seconds / 3600;
    const std::uint64_t minutes = seconds / 60 % 60;
    const std::string tail = TwoDigits(seconds % 60);
    if (hours == 0) {
        return std::to_string(minutes) + ":" + tail;
    }
    return std::to_string(hours) + ":" + TwoDigits(minutes) + ":" + tail;
}

}  // namespace

SecondsClock SteadySeconds() {
    return SteadySecondsNow;
}

namespace {

// "37.5 MB/s  ETA 3:15" for the bytes done of all in the seconds so far.
std::string RateAndTimeLeft(std::uint64_t done, std::uint64_t all, double seconds) {
    if (done == 0 || !(seconds > 0)) {
        return "--.- MB/s  ETA --:--";
    }
    const double bytesPerSecond = static_cast<double>(done) / seconds;
    const auto tenths = static_cast<std::uint64_t>(std::llround(bytesPerSecond / 1048576.0 * 10));
    const double left = static_cast<double>(all - std::min(done, all));
    // Capped at a day less a second: a rate near zero would say "forever".
    const double eta = std::min(std::ceil(left / bytesPerSecond), 86399.0);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB/s  ETA " +
           Duration(static_cast<std::uint64_t>(eta));
}

}  // namespace

std::string BatchProgressText(const BatchProgress& batch, std::uint64_t bytesDone, double seconds) {
    return "File " + std::to_string(batch.fileNumber) + "/" + std::to_string(batch.files) + "  " +
           FormatSize(bytesDone) + " of " + FormatSize(batch.totalBytes) + "  " +
           RateAndTimeLeft(bytesDone, batch.totalBytes, seconds);
}

std::string CopyProgressText(int percent, std::uint64_t bytesDone, std::uint64_t fileSize,
                             double seconds) {
    const std::string shown = std::to_string(std::clamp(percent, 0, 100));
    return "Copying " + std::string(3 - shown.size(), ' ') + shown + "%  " +
           RateAndTimeLeft(bytesDone, fileSize, seconds);
}

CopyTerminalFrontend::CopyTerminalFrontend(TerminalFrontend& terminal, DriveItem& source,
                                           SaveChoice destination, CopyControls controls,
                                           SecondsClock clock,
                                           const volatile std::sig_atomic_t* stop,
                                           const BatchProgress* batch)
    : m_terminal(terminal),
      m_source(source),
      m_destination(std::move(destination)),
      m_controls(controls),
      m_clock(std::move(clock)),
      m_stop(stop),
      m_batch(batch) {}

MessageAnswer CopyTerminalFrontend::ShowMessage(const std::string& text, const std::string&,
                                                MessageButtons, MessageIcon) {
    m_terminal.Report(text);
    // The line comes back with the next redraw.
    m_drawnPercent = -1;
    return MessageAnswer::Ok;
}

void CopyTerminalFrontend::ShowNote(const std::string& text) {
    m_terminal.Note("moravel-cli: " + text);
}

void CopyTerminalFrontend::ShowControl(int id, bool show) {
    if (id != m_controls.progress || show == m_copying) {
        return;
    }
    m_copying = show;
    if (!show) {
        m_terminal.ClearProgressLine();
        return;
    }
    m_clustersDone = 0;
    m_drawnPercent = -1;
    if (m_terminal.ShowsProgressLine()) {
        m_started = m_clock();
        DrawLine(m_started);
    }
}

void CopyTerminalFrontend::ShowRescueProgress(const RescueProgress& progress) {
    m_rescue = true;
    if (!m_copying || !m_terminal.ShowsProgressLine()) {
        return;
    }
    const double now = m_clock();
    if (now - m_drawn < kRedrawSeconds && m_drawnPercent >= 0) {
        return;
    }
    const std::string batch = m_batch != nullptr ? "File " + std::to_string(m_batch->fileNumber) +
                                                       "/" + std::to_string(m_batch->files) + "  "
                                                 : "";
    m_terminal.ShowProgressLine(batch + RescueProgressText(progress));
    m_drawn = now;
    m_drawnPercent = 0;
}

void CopyTerminalFrontend::PumpMessages() {
    if (m_copying && !m_rescue) {
        ++m_clustersDone;
        if (m_terminal.ShowsProgressLine()) {
            const double now = m_clock();
            if (std::clamp(m_position, 0, 100) != m_drawnPercent ||
                now - m_drawn >= kRedrawSeconds) {
                DrawLine(now);
            }
        }
    }
    if (m_stop != nullptr && *m_stop != 0 && m_onStop) {
        m_onStop();
    }
}

void CopyTerminalFrontend::DrawLine(double now) {
    const std::uint64_t clusterBytes =
        std::uint64_t{m_source.m_bytesPerSector} * m_source.m_sectorsPerCluster;
    const std::uint64_t done = std::min(m_clustersDone * clusterBytes, m_source.m_fileSize);
    m_terminal.ShowProgressLine(
        m_batch != nullptr
            ? BatchProgressText(*m_batch, m_batch->bytesBefore + done, now - m_batch->started)
            : CopyProgressText(m_position, done, m_source.m_fileSize, now - m_started));
    m_drawn = now;
    m_drawnPercent = std::clamp(m_position, 0, 100);
}

}  // namespace moravel::cli
