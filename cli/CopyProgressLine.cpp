#include "CopyProgressLine.h"

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

CopyProgressLine::CopyProgressLine(TerminalFrontend& terminal, SecondsClock clock,
                                   const volatile std::sig_atomic_t* stop,
                                   const BatchProgress* batch)
    : m_terminal(terminal), m_clock(std::move(clock)), m_stop(stop), m_batch(batch) {}

void CopyProgressLine::Began(std::uint64_t size) {
    m_size = size;
    m_done = 0;
    m_drawnPercent = -1;
    if (m_terminal.ShowsProgressLine()) {
        m_started = m_clock();
        DrawLine(m_started);
    }
}

void CopyProgressLine::Copied(std::uint64_t bytesDone, std::uint64_t size) {
    m_done = bytesDone;
    m_size = size;
    if (!m_terminal.ShowsProgressLine()) {
        return;
    }
    const double now = m_clock();
    const int percent = size == 0 ? 0 : static_cast<int>(bytesDone * 100 / size);
    if (percent != m_drawnPercent || now - m_drawn >= kRedrawSeconds) {
        DrawLine(now);
    }
}

// A rescue's line takes the place of the copy's, redrawn as often.
void CopyProgressLine::Rescued(const RescueProgress& progress) {
    if (!m_terminal.ShowsProgressLine()) {
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

void CopyProgressLine::DrawLine(double now) {
    const int percent = m_size == 0 ? 0 : static_cast<int>(m_done * 100 / m_size);
    m_terminal.ShowProgressLine(
        m_batch != nullptr
            ? BatchProgressText(*m_batch, m_batch->bytesBefore + m_done, now - m_batch->started)
            : CopyProgressText(percent, m_done, m_size, now - m_started));
    m_drawn = now;
    m_drawnPercent = percent;
}

CopyReport RunWithProgressLine(CopyJob& job, const DriveItem& source, const CopyPlan& plan,
                               TerminalFrontend& terminal, SecondsClock clock,
                               const volatile std::sig_atomic_t* stop, const BatchProgress* batch) {
    CopyReport report;
    {
        CopyProgressLine line(terminal, std::move(clock), stop, batch);
        report = job.Run(source, plan, line);
    }
    if (report.error && !report.error->reason.empty()) {
        terminal.Report(report.error->reason);
    }
    return report;
}

}  // namespace moravel::cli
