#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace moravel::testing {

// Full path of an external tool (mkfs.fat, mtools), searched in PATH and the
// system folders; empty when it is not installed.
std::string FindTool(const std::string& name);

// Runs a shell command; returns its standard output and sets status to its exit code.
std::string RunCommand(const std::string& command, int& status);

// Quotes a path for the shell.
std::string Quoted(const std::string& text);

// What a file holds (nothing when it cannot be read).
std::string FileText(const std::string& path);

#ifndef _WIN32
// Runs fn with the file-size limit (RLIMIT_FSIZE) at bytes and SIGXFSZ ignored: it
// stands in for a destination that runs out of room.
void WithFileSizeLimit(std::uint64_t bytes, const std::function<void()>& fn);

// Starts a program (args[0] is its path) in folder (empty: this one), its stderr
// in errorsFile and its stdout on the descriptor given (else this process's); it
// gets SIGTERM should the test end first. Its process id, or -1 with the reason
// in failure.
pid_t StartProgram(std::vector<std::string> args, const std::string& errorsFile,
                   const std::string& folder, std::string& failure, int output = -1);
#endif

}  // namespace moravel::testing
