#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TempDir.h"

namespace moravel::testing {

// A running moravel-failing-disk that serves an image under dir/mnt, unmounted
// and ended when it goes.
class FailingDiskServer {
public:
    FailingDiskServer(const TempDir& dir, const std::string& tool, const std::string& image,
                      std::vector<std::string> options);
    ~FailingDiskServer() { Stop(); }
    FailingDiskServer(const FailingDiskServer&) = delete;
    FailingDiskServer& operator=(const FailingDiskServer&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Failure() const { return m_failure; }
    std::uint64_t Size() const { return m_size; }
    pid_t Pid() const { return m_pid; }
    // The served disk: read it as a failing drive.
    std::string Disk() const { return m_mount + "/disk.img"; }

    // Unmounts, and waits for the server to end.
    void Stop();

private:
    std::string m_mount;
    pid_t m_pid = -1;
    bool m_mounted = false;
    std::uint64_t m_size = 0;
    std::string m_failure;
};

// Where the tool's mounts cannot be made, why (no /dev/fuse, no fusermount3, a
// machine that refuses mounts); empty where they can.
std::string WhyNoFuse(const std::string& tool);

}  // namespace moravel::testing
