#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>

#include "CliPlatform.h"

namespace moravel::cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

void OnInterrupt(int) {
    g_interrupted = 1;
}

}  // namespace

// Ctrl-C, and the ends that a session's close or a system's shutdown asks for:
// each stops the copy as Ctrl-C does, so that it says what it kept where.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kStopSignalCount = std::size(kStopSignals);

struct InterruptWatch::Previous {
    struct sigaction actions[kStopSignalCount] {};
    bool caught[kStopSignalCount] = {};
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
    for (std::size_t i = 0; i < kStopSignalCount; ++i) {
        struct sigaction& previous = m_previous->actions[i];
        m_previous->caught[i] = ::sigaction(kStopSignals[i], &action, &previous) == 0;
        // A signal that the shell had the program ignore (Ctrl-C in a background
        // job, a hang-up under nohup) stays ignored.
        if (m_previous->caught[i] && previous.sa_handler == SIG_IGN) {
            ::sigaction(kStopSignals[i], &previous, nullptr);
            m_previous->caught[i] = false;
        }
    }
}

InterruptWatch::~InterruptWatch() {
    if (!m_active) {
        return;
    }
    for (std::size_t i = 0; i < kStopSignalCount; ++i) {
        if (m_previous->caught[i]) {
            ::sigaction(kStopSignals[i], &m_previous->actions[i], nullptr);
        }
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
