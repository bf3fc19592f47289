#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) fails the write that crosses it with EFBIG,
    // which the copy reports, instead of ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    return moravel::cli::RunCli(args, std::cout, std::cerr);
}
