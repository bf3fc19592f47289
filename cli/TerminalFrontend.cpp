#include "TerminalFrontend.h"

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
    if (!m_progressLine || m_progress == m_shownPercent) {
        return;
    }
    ShowProgressLine("Scanning file structure ... Please wait. " + std::to_string(m_progress) +
                     "%");
    m_shownPercent = m_progress;
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
    m_shownPercent = -1;
    if (!m_lineShown) {
        return;
    }
    m_err << '\r' << std::string(m_lineLength, ' ') << '\r';
    m_err.flush();
    m_lineShown = false;
    m_lineLength = 0;
}

}  // namespace moravel::cli
