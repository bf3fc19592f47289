#pragma once

#include <csignal>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

namespace moravel::cli {

// Set by the first Ctrl-C (on Linux also SIGTERM or SIGHUP) while an
// InterruptWatch is active.
extern volatile std::sig_atomic_t g_interrupted;

// Catches Ctrl-C (on Linux also SIGTERM and SIGHUP) while it lives: the first
// one sets g_interrupted, and the system's own handling of that signal comes
// back, so that a second one ends the program.
class InterruptWatch {
public:
    explicit InterruptWatch(bool active);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    struct Previous;
    bool m_active;
    std::unique_ptr<Previous> m_previous;
};

// Where a terminal is the input and no graphical polkit agent is registered,
// starts polkit's text agent (pkttyagent) for this process, so that the password
// udisks2 needs is asked in the terminal; it ends with the program. Nothing on
// Windows, or when it runs already.
void StartTextAgent();

// True when the program runs with root's rights (never on Windows, where
// the disks' rights are not a user's to change from the command line).
bool RunsAsRoot();

// True when stderr is a terminal (a console window), where a progress line is drawn.
bool StderrIsTerminal();

// True when path is the file, pipe or terminal that stdout writes to
// (/dev/stdout, or the file a shell's `>` named): a copy there keeps stdout for
// its bytes, and every message goes to stderr.
bool IsStandardOutput(const std::string& path);

}  // namespace moravel::cli
