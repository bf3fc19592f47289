#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) fails the write that crosses it with EFBIG,
    // which the copy reports, instead of ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader of the outcome lines that went away (`| head -1`) must not end a
    // copy of many files half way: a write to it fails instead, and the copy goes on.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    const int status = moravel::cli::RunCli(args, std::cout, std::cerr);
    if (!std::cout) {
        std::cerr << "moravel-cli: not everything could be written to the standard output\n";
    }
    return status;
}
