#include "MountedTree.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Tools.h"
#include "copy/DestinationVolume.h"

namespace moravel::testing {

namespace {

constexpr auto kPatience = std::chrono::seconds(60);
constexpr auto kPoll = std::chrono::milliseconds(20);

// The exit status of a process that ended, or -1 for one a signal ended.
int ExitStatus(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The test's child named moravel-cli: the server a command in the background left.
pid_t ChildServer() {
    const std::string self = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (comm) state ppid ...: comm may hold spaces, so read from its end.
        const auto close = line.rfind(')');
        const auto open = line.find('(');
        if (close == std::string::npos || open == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 2));
        std::string state;
        std::string parent;
        rest >> state >> parent;
        if (parent == self && line.substr(open + 1, close - open - 1) == "moravel-cli") {
            return static_cast<pid_t>(std::stol(line.substr(0, open)));
        }
    }
    return -1;
}

}  // namespace

bool IsMountPoint(const std::string& path) {
    const std::optional<std::string> table = ReadMountTable();
    const std::vector<MountEntry> mounts = ParseMountInfo(table.value_or(""));
    return std::any_of(mounts.begin(), mounts.end(),
                       [&](const MountEntry& mount) { return mount.mountPoint == path; });
}

MountedTree::MountedTree(Command command)
    : m_path((std::filesystem::path(command.folder) / command.mountPoint).lexically_normal()),
      m_errors((std::filesystem::path(command.folder) / "mount.err").string()) {
    // A trailing slash of a folder given as "mnt/" is no part of the mount point.
    if (m_path.size() > 1 && m_path.back() == '/') {
        m_path.pop_back();
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::vector<std::string> args = {command.cli};
    args.insert(args.end(), command.args.begin(), command.args.end());
    if (command.foreground) {
        args.emplace_back("--foreground");
    }
    args.push_back(command.mountPoint);
    const pid_t child = StartProgram(args, m_errors, command.folder, m_failure);
    if (child < 0) {
        return;
    }
    if (command.foreground) {
        m_server = child;
    }
    WaitForMount(child);
}

void MountedTree::WaitForMount(pid_t command) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        int raw = 0;
        if (::waitpid(command, &raw, WNOHANG) == command) {
            if (command == m_server) {
                m_server = -1;
                m_failure = "the command ended with status " + std::to_string(ExitStatus(raw)) +
                            " without mounting: " + Errors();
                return;
            }
            // In the background, the command returns once the mount is there, and
            // the server it left is now this process's child.
            m_mounted = ExitStatus(raw) == 0 && IsMountPoint(m_path);
            m_server = ChildServer();
            if (!m_mounted) {
                m_failure = "the command ended with status " + std::to_string(ExitStatus(raw)) +
                            (IsMountPoint(m_path) ? ", leaving a mount" : ", not mounted") + ": " +
                            Errors();
            }
            return;
        }
        if (command == m_server && IsMountPoint(m_path)) {
            m_mounted = true;
            return;
        }
        std::this_thread::sleep_for(kPoll);
    }
    m_failure = "no mount after a minute: " + Errors();
}

MountedTree::~MountedTree() {
    if (IsMountPoint(m_path)) {
        int status = 0;
        RunCommand("fusermount3 -u " + Quoted(m_path) + " 2>&1", status);
        if (status != 0) {
            RunCommand("fusermount3 -u -z " + Quoted(m_path) + " 2>&1", status);
        }
    }
    if (m_server > 0 && WaitForServer() == -1 && m_server > 0) {
        ::kill(m_server, SIGKILL);
        ::waitpid(m_server, nullptr, 0);
    }
}

std::string MountedTree::Errors() const {
    return FileText(m_errors);
}

int MountedTree::WaitForServer() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        int raw = 0;
        if (::waitpid(m_server, &raw, WNOHANG) == m_server) {
            m_server = -1;
            return ExitStatus(raw);
        }
        std::this_thread::sleep_for(kPoll);
    }
    return -1;
}

int MountedTree::StopWith(int signal) {
    if (m_server <= 0) {
        return -1;
    }
    ::kill(m_server, signal);
    return WaitForServer();
}

}  // namespace moravel::testing
