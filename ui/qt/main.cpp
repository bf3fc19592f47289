// moravel: the desktop window.
//
//   moravel [--disk PATH]... [--floppy PATH]... [--bios-services] [IMAGE]...

#include <QApplication>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "Artwork.h"
#include "QtFrontend.h"
#include "res/Resources.h"
#include "ui/MainDialog.h"
#include "ui/SourceOptions.h"

namespace {

constexpr char kProgram[] = "moravel";

std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    return args;
}

// --help, --version and usage errors: what the line asks for other than the
// window, with its exit status; -1 when the window is to open.
int Answer(const moravel::WindowCommandLine& line) {
    if (!line.error.empty()) {
        std::cerr << kProgram << ": ERROR: " << line.error << "\n"
                  << "Try '" << kProgram << " --help' for more information.\n";
        return 2;
    }
    if (line.help) {
        std::cout << moravel::WindowUsageText();
        return 0;
    }
    if (line.version) {
        std::cout << kProgram << " " << moravel::res::kProgramVersion << "\n";
        return 0;
    }
    return -1;
}

// Whether Qt may find a screen to open the application on: without one it
// cannot start, and would end the program with a message of its own.
bool MayHaveScreen(const std::vector<std::string>& args) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    for (const std::string& arg : args) {
        if (arg == "-platform" || arg == "-display") {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) fails the write that crosses it with EFBIG,
    // which the copy reports, instead of ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);

    // --help and --version need no screen. Anything else goes to Qt first, which
    // takes its own options (-platform, -style, ...) off the line.
    const std::vector<std::string> all = Arguments(argc, argv);
    const moravel::WindowCommandLine early = moravel::ParseWindowCommandLine(all);
    if (early.error.empty() && (early.help || early.version)) {
        return Answer(early);
    }
    if (!early.error.empty() && !MayHaveScreen(all)) {
        return Answer(early);
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kProgram));
    QApplication::setApplicationVersion(
        QString::fromLatin1(moravel::res::kProgramVersion.data(),
                            static_cast<qsizetype>(moravel::res::kProgramVersion.size())));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.moravel.moravel"));
    QApplication::setWindowIcon(moravel::qt::ApplicationIcon());

    const moravel::WindowCommandLine line = moravel::ParseWindowCommandLine(Arguments(argc, argv));
    if (const int status = Answer(line); status >= 0) {
        return status;
    }

    moravel::qt::QtFrontend frontend;
    moravel::MainDialog dialog(frontend, moravel::AccessOptionsFor(line.sources), nullptr,
                               line.images);
    frontend.RunMainDialog(dialog);
    return 0;
}
