#include "CopyProgressLine.h"

#include "ui/RescueText.h"

namespace moravel::cli {

namespace {

// The line is redrawn when the percentage changes, and at least this often for
// the rate and the time left.
constexpr double kRedrawSeconds = 0.5;

}  // namespace

SecondsClock SteadySeconds() {
    return SteadySecondsNow;
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
        const double now = m_clock();
        // A batch's rate runs from its first file on.
        m_pace.Start(0, m_batch != nullptr ? m_batch->started : now);
        DrawLine(now);
    }
}

void CopyProgressLine::Copied(std::uint64_t bytesDone, std::uint64_t size) {
    m_done = bytesDone;
    m_size = size;
    if (!m_terminal.ShowsProgressLine()) {
        return;
    }
    const double now = m_clock();
    const bool wasAround = m_pace.AroundUnreadable();
    m_pace.Copied(BytesOfAll(), now);
    const int percent = size == 0 ? 0 : static_cast<int>(bytesDone * 100 / size);
    if (percent != m_drawnPercent || now - m_drawn >= kRedrawSeconds ||
        wasAround != m_pace.AroundUnreadable()) {
        DrawLine(now);
    }
}

void CopyProgressLine::ReadingAroundUnreadable(std::uint64_t sectorsSoFar) {
    const bool wasAround = m_pace.AroundUnreadable();
    m_pace.Unreadable(sectorsSoFar, BytesOfAll());
    if (!m_terminal.ShowsProgressLine()) {
        return;
    }
    if (const double now = m_clock(); !wasAround || now - m_drawn >= kRedrawSeconds) {
        DrawLine(now);
    }
}

std::uint64_t CopyProgressLine::BytesOfAll() const {
    return (m_batch != nullptr ? m_batch->bytesBefore : 0) + m_done;
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
    const std::uint64_t all = m_batch != nullptr ? m_batch->totalBytes : m_size;
    const std::string pace = m_pace.Text(BytesOfAll(), all, now);
    m_terminal.ShowProgressLine(m_batch != nullptr ? BatchProgressText(*m_batch, BytesOfAll(), pace)
                                                   : CopyProgressText(percent, pace));
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
