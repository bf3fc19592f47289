#include <io.h>
#include <windows.h>

#include <cstdio>

#include "CliPlatform.h"

namespace moravel::cli {

void StartTextAgent() {}

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

// The first Ctrl-C is taken; the next one goes on to the system's handler, which
// ends the program.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT || g_interrupted != 0) {
        return FALSE;
    }
    g_interrupted = 1;
    return TRUE;
}

}  // namespace

struct InterruptWatch::Previous {};

InterruptWatch::InterruptWatch(bool active) : m_active(active) {
    if (!m_active) {
        return;
    }
    g_interrupted = 0;
    m_active = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

InterruptWatch::~InterruptWatch() {
    if (m_active) {
        ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    }
}

bool RunsAsRoot() {
    return false;
}

bool StderrIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

bool IsStandardOutput(const std::string& path) {
    // CONOUT$ and CON are the console that stdout shows, when it shows one.
    return (path == "CON" || path == "CONOUT$") && ::_isatty(::_fileno(stdout)) != 0;
}

}  // namespace moravel::cli
