#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace moravel::testing {

// Whether a file system is mounted at the absolute path, as /proc/self/mountinfo
// tells: also a mount whose server is gone.
bool IsMountPoint(const std::string& path);

// moravel-cli mount run by a test. The command runs in a folder of the test's
// (relative paths count from there), and the tree it serves is unmounted and its
// server ended when this goes, also when the test failed. In the background, the
// server that the command leaves behind becomes the test's own child (the test
// process takes in orphans, PR_SET_CHILD_SUBREAPER), so that its exit status is
// known as well.
class MountedTree {
public:
    struct Command {
        std::string cli;                // the program
        std::string folder;             // where it runs
        std::vector<std::string> args;  // what comes before MOUNTPOINT: disk options, mount, ...
        std::string mountPoint;         // as the command is given it
        bool foreground = false;        // adds --foreground after the args
    };

    // Runs the command and waits until the tree is mounted, or the command ended
    // without mounting it, or a minute went by.
    explicit MountedTree(Command command);
    ~MountedTree();
    MountedTree(const MountedTree&) = delete;
    MountedTree& operator=(const MountedTree&) = delete;

    // Whether the tree was mounted; if not, Failure says how the command ended.
    bool Mounted() const { return m_mounted; }
    const std::string& Failure() const { return m_failure; }
    // What the command wrote on its error stream so far.
    std::string Errors() const;
    // The mount point as an absolute path.
    const std::string& Path() const { return m_path; }
    // The process that serves the mount.
    pid_t Server() const { return m_server; }

    // Sends the signal to the server and waits for it to end (a minute at most): its
    // exit status, or -1 when it was killed by a signal or did not end.
    int StopWith(int signal);

private:
    void WaitForMount(pid_t command);
    int WaitForServer();

    std::string m_path;
    std::string m_errors;  // the file that takes the command's error stream
    pid_t m_server = -1;
    bool m_mounted = false;
    std::string m_failure;
};

}  // namespace moravel::testing
