#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "disk/CoreFrontend.h"

namespace moravel::cli {

// The core's front end in a shell: message boxes become lines on the error
// stream, and a directory scan shows its percentage on a progress line that is
// rewritten in place (only when that stream is a terminal).
class TerminalFrontend : public CoreFrontend {
public:
    TerminalFrontend(std::ostream& err, bool progressLine);

    // Prints the text on a line of its own and answers OK.
    MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                              MessageButtons buttons, MessageIcon icon) override;
    // Shows the percentage that the scan stored in Progress(), when it changed.
    void PostScanProgress() override;
    // A shell has no message queue to serve.
    void PumpMessages() override {}

    // The percentage that a scan stores; pass it to ExpandItem.
    std::int32_t& Progress() { return m_progress; }
    // Removes the progress line; call it when ExpandItem has returned.
    void EndScan();

    // A failure of the program itself (not of the core), shown the same way.
    void Report(const std::string& text);
    // The number of messages shown so far, the core's and the program's.
    int Failures() const { return m_failures; }

private:
    std::ostream& m_err;
    bool m_progressLine;
    std::int32_t m_progress = 0;
    std::int32_t m_shownPercent = -1;  // -1: no progress line on the screen
    std::size_t m_lineLength = 0;
    int m_failures = 0;
};

}  // namespace moravel::cli
