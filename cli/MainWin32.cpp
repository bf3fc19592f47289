#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "disk/WideText.h"

int main() {
    // The arguments as UTF-8, whatever the ANSI code page: the program's paths and
    // names are UTF-8 throughout.
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; arguments != nullptr && i < count; ++i) {
        args.push_back(moravel::NarrowText(arguments[i]));
    }
    ::LocalFree(arguments);
    // Output goes out as the program writes it: UTF-8, lines ending in "\n", as on
    // Linux, so that listings are the same byte for byte.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
    return moravel::cli::RunCli(args, std::cout, std::cerr);
}
