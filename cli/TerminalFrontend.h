#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "disk/CoreFrontend.h"
#include "disk/Result.h"

namespace moravel::cli {

// The core's front end in a shell: what the core could not do becomes lines on
// the error stream, and long work (a directory scan, a copy) shows its progress
// on one line that is rewritten in place (only when that stream is a terminal).
class TerminalFrontend : public CoreFrontend {
public:
    TerminalFrontend(std::ostream& err, bool progressLine);

    // Shows the percentage that the scan stored in Progress(), when it changed.
    void PostScanProgress() override;
    // A shell has no message queue to serve.
    void PumpMessages() override {}

    // The percentage that a scan stores; pass it to ExpandItem.
    std::int32_t& Progress() { return m_progress; }
    // Removes the progress line; call it when ExpandItem has returned.
    void EndScan();

    // The scans of a path resolved level by level share one line, which never
    // starts over: level i of n takes the i-th n-th of it, and the line goes
    // when the last level is done.
    class ScanLevels {
    public:
        ScanLevels(TerminalFrontend& terminal, std::size_t levels);
        ~ScanLevels();
        ScanLevels(const ScanLevels&) = delete;
        ScanLevels& operator=(const ScanLevels&) = delete;

    private:
        TerminalFrontend& m_terminal;
    };

    // Whether progress lines are shown at all.
    bool ShowsProgressLine() const { return m_progressLine; }
    // Puts the text on the progress line, over what it showed before (nothing
    // when progress lines are off).
    void ShowProgressLine(const std::string& line);
    // Blanks the progress line and puts the cursor back at its start.
    void ClearProgressLine();

    // What is being read while the core works, as a tree path (quoted); empty:
    // nothing in particular. An "internal error" of the core names it, so that the
    // user knows which item of the disk the number belongs to.
    void SetReading(std::string path) { m_reading = std::move(path); }

    // What the core could not do, a line each; an "internal error" names what
    // was being read.
    void Report(const Errors& errors);
    // A failure of the program itself (not of the core), shown the same way.
    void Report(const std::string& text);
    // Something worth knowing that is no failure, on a line of its own.
    void Note(const std::string& text);
    // The number of failures shown so far, the core's and the program's.
    int Failures() const { return m_failures; }

private:
    std::ostream& m_err;
    bool m_progressLine;
    std::int32_t m_progress = 0;
    std::int32_t m_shownPercent = -1;  // the scan's percentage on the line; -1: none
    std::size_t m_levels = 0;          // the levels of the scans under way; 0: one scan
    std::size_t m_level = 0;           // the level being scanned
    bool m_lineShown = false;
    std::size_t m_lineLength = 0;
    int m_failures = 0;
    std::string m_reading;
};

}  // namespace moravel::cli
