#include "FailingDiskServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Tools.h"

namespace moravel::testing {

FailingDiskServer::FailingDiskServer(const TempDir& dir, const std::string& tool,
                                     const std::string& image, std::vector<std::string> options)
    : m_mount(dir.File("mnt")) {
    std::filesystem::create_directories(m_mount);
    std::vector<std::string> args = {tool, "-f"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(image);
    args.push_back(m_mount);
    const std::string errors = dir.File("errors.txt");
    m_pid = StartProgram(args, errors, "", m_failure);
    if (m_pid < 0) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const std::string disk = m_mount + "/disk.img";
    struct stat info {};
    while (::stat(disk.c_str(), &info) != 0) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_failure = "moravel-failing-disk ended without mounting: " + FileText(errors);
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            m_failure = "no mount after 10 s";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_mounted = true;
    m_size = static_cast<std::uint64_t>(info.st_size);
}

void FailingDiskServer::Stop() {
    if (m_mounted) {
        int status = 0;
        RunCommand("fusermount3 -u " + Quoted(m_mount) + " 2>&1", status);
        EXPECT_EQ(status, 0) << "fusermount3 -u failed";
        m_mounted = false;
    }
    if (m_pid > 0) {
        int status = 0;
        for (int i = 0; i < 250 && ::waitpid(m_pid, &status, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (::waitpid(m_pid, &status, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            ADD_FAILURE() << "moravel-failing-disk did not end after unmounting";
        }
        m_pid = -1;
    }
}

std::string WhyNoFuse(const std::string& tool) {
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return std::string("/dev/fuse: ") + std::strerror(errno);
    }
    ::close(fd);
    if (FindTool("fusermount3").empty()) {
        return "fusermount3 is not installed";
    }
    // A machine (a container) may have /dev/fuse and still refuse mounts.
    TempDir dir;
    const std::string image = dir.File("probe.img");
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 1024 * 1024);
    const FailingDiskServer probe(dir, tool, image, {});
    const std::string& failure = probe.Failure();
    if (failure.find("Operation not permitted") != std::string::npos ||
        failure.find("Permission denied") != std::string::npos) {
        return failure;
    }
    return {};
}

}  // namespace moravel::testing
