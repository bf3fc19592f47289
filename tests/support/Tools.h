#pragma once

#include <string>

namespace moravel::testing {

// Full path of an external tool (mkfs.fat, mtools), searched in PATH and the
// system folders; empty when it is not installed.
std::string FindTool(const std::string& name);

// Runs a shell command; returns its standard output and sets status to its exit code.
std::string RunCommand(const std::string& command, int& status);

// Quotes a path for the shell.
std::string Quoted(const std::string& text);

}  // namespace moravel::testing
