#include "Tools.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace moravel::testing {

std::string FindTool(const std::string& name) {
#ifdef _WIN32
    // The tools the tests use as oracles (mkfs.fat, mtools, findmnt) are Linux programs.
    (void)name;
    return {};
#else
    std::string folders = "/usr/sbin:/sbin:/usr/bin:/bin";
    if (const char* path = std::getenv("PATH")) {
        folders = std::string(path) + ":" + folders;
    }
    std::stringstream list(folders);
    std::string folder;
    while (std::getline(list, folder, ':')) {
        const std::string candidate = folder + "/" + name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
#endif
}

std::string RunCommand(const std::string& command, int& status) {
    std::string output;
#ifdef _WIN32
    FILE* pipe = ::_popen((command + " 2>NUL").c_str(), "rb");
#else
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
#endif
    if (pipe == nullptr) {
        status = -1;
        return output;
    }
    std::array<char, 4096> chunk{};
    std::size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        output.append(chunk.data(), got);
    }
#ifdef _WIN32
    status = ::_pclose(pipe);
#else
    const int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    return output;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string FileText(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

#ifndef _WIN32
void WithFileSizeLimit(std::uint64_t bytes, const std::function<void()>& fn) {
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    fn();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
}

pid_t StartProgram(std::vector<std::string> args, const std::string& errorsFile,
                   const std::string& folder, std::string& failure, int output) {
    const pid_t child = ::fork();
    if (child < 0) {
        failure = std::string("fork: ") + std::strerror(errno);
        return -1;
    }
    if (child == 0) {
        // Should the test die, the program (a server, say) ends with it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int err = ::open(errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err, 2);
        if (output >= 0) {
            ::dup2(output, 1);
        }
        if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}
#endif

}  // namespace moravel::testing
