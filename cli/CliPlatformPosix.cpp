#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CliPlatform.h"

namespace moravel::cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

void OnInterrupt(int) {
    g_interrupted = 1;
}

}  // namespace

struct InterruptWatch::Previous {
    struct sigaction action {};
};

InterruptWatch::InterruptWatch(bool active)
    : m_active(active), m_previous(std::make_unique<Previous>()) {
    if (!m_active) {
        return;
    }
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    m_active = ::sigaction(SIGINT, &action, &m_previous->action) == 0;
    // Ctrl-C that the shell had the program ignore (a background job) stays ignored.
    if (m_active && m_previous->action.sa_handler == SIG_IGN) {
        ::sigaction(SIGINT, &m_previous->action, nullptr);
        m_active = false;
    }
}

InterruptWatch::~InterruptWatch() {
    if (m_active) {
        ::sigaction(SIGINT, &m_previous->action, nullptr);
    }
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void SetFolderModified(const std::filesystem::path& path, std::time_t seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace moravel::cli
