#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <string>

#include "CliPlatform.h"

namespace moravel::cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

void OnInterrupt(int) {
    g_interrupted = 1;
}

// polkit's text agent, registered for this process only; --fallback leaves a
// graphical agent of the session in charge where there is one.
class TextAgent {
public:
    TextAgent() = default;
    ~TextAgent() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    TextAgent(const TextAgent&) = delete;
    TextAgent& operator=(const TextAgent&) = delete;

    void Start() {
        int notify[2];
        if (m_pid != 0 || ::isatty(STDIN_FILENO) == 0 || ::pipe2(notify, O_CLOEXEC) != 0) {
            return;
        }
        const std::string process = std::to_string(::getpid());
        m_pid = ::fork();
        if (m_pid == 0) {
            // The agent closes this descriptor once it is registered.
            const std::string ready = std::to_string(::dup(notify[1]));
            ::execlp("pkttyagent", "pkttyagent", "--notify-fd", ready.c_str(), "--fallback",
                     "--process", process.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(notify[1]);
        char byte = 0;
        while (m_pid > 0 && ::read(notify[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ::close(notify[0]);
    }

private:
    pid_t m_pid = 0;
};

}  // namespace

void StartTextAgent() {
    static TextAgent agent;
    agent.Start();
}

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

bool RunsAsRoot() {
    return ::geteuid() == 0;
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

bool IsStandardOutput(const std::string& path) {
    struct stat named {};
    struct stat out {};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
           named.st_dev == out.st_dev && named.st_ino == out.st_ino && named.st_rdev == out.st_rdev;
}

}  // namespace moravel::cli
