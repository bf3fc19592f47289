#include "TerminalFrontend.h"

#include <algorithm>

#include "TerminalText.h"

namespace moravel::cli {

TerminalFrontend::TerminalFrontend(std::ostream& err, bool progressLine)
    : m_err(err), m_progressLine(progressLine) {}

void TerminalFrontend::Report(const Errors& errors) {
    for (const Error& error : errors) {
        const bool internal = error.reason.rfind("internal error", 0) == 0;
        Report(internal && !m_reading.empty() ? m_reading + ": " + error.reason : error.reason);
    }
}

void TerminalFrontend::Report(const std::string& text) {
    Note(text);
    ++m_failures;
}

void TerminalFrontend::Note(const std::string& text) {
    ClearProgressLine();
    // Messages quote names and paths from the disk.
    m_err << EscapeControls(text, true) << '\n';
    m_err.flush();
}

void TerminalFrontend::PostScanProgress() {
    const std::int32_t percent =
        m_levels == 0
            ? m_progress
            : static_cast<std::int32_t>((std::min(m_level, m_levels - 1) * 100 +
                                         static_cast<std::size_t>(std::clamp(m_progress, 0, 100))) /
                                        m_levels);
    // A line taken by a message in between may show again what it showed.
    if (!m_progressLine || (m_lineShown && percent <= m_shownPercent)) {
        return;
    }
    ShowProgressLine("Scanning file structure ... Please wait. " +
                     std::to_string(std::max(percent, m_shownPercent)) + "%");
    m_shownPercent = std::max(percent, m_shownPercent);
}

void TerminalFrontend::EndScan() {
    if (m_levels == 0) {
        ClearProgressLine();
        return;
    }
    // A scan may end at its folder's last entry, short of its last cluster.
    if (m_lineShown) {
        m_progress = 100;
        PostScanProgress();
    }
    ++m_level;
    m_progress = 0;
}

TerminalFrontend::ScanLevels::ScanLevels(TerminalFrontend& terminal, std::size_t levels)
    : m_terminal(terminal) {
    m_terminal.m_levels = levels;
    m_terminal.m_level = 0;
}

TerminalFrontend::ScanLevels::~ScanLevels() {
    m_terminal.m_levels = 0;
    m_terminal.ClearProgressLine();
}

void TerminalFrontend::ShowProgressLine(const std::string& line) {
    if (!m_progressLine) {
        return;
    }
    m_err << '\r' << line;
    // A shorter line than the last one leaves the end of the old one standing.
    if (line.size() < m_lineLength) {
        m_err << std::string(m_lineLength - line.size(), ' ') << '\r' << line;
    }
    m_err.flush();
    m_lineLength = line.size();
    m_lineShown = true;
}

void TerminalFrontend::ClearProgressLine() {
    if (m_levels == 0) {
        m_shownPercent = -1;
    }
    if (!m_lineShown) {
        return;
    }
    m_err << '\r' << std::string(m_lineLength, ' ') << '\r';
    m_err.flush();
    m_lineShown = false;
    m_lineLength = 0;
}

}  // namespace moravel::cli
