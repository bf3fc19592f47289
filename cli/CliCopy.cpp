#include "CliCopy.h"

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>

#include "CopyTerminalFrontend.h"
#include "TerminalText.h"
#include "copy/CopyCommand.h"

namespace moravel::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

// Catches Ctrl-C while it lives: the first one sets g_interrupted, and puts the
// default action back, so that a second one ends the program.
class InterruptWatch {
public:
    explicit InterruptWatch(bool active) : m_active(active) {
        if (!m_active) {
            return;
        }
        g_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = static_cast<int>(SA_RESETHAND);
        m_active = ::sigaction(SIGINT, &action, &m_previous) == 0;
        // Ctrl-C that the shell had the program ignore (a background job) stays ignored.
        if (m_active && m_previous.sa_handler == SIG_IGN) {
            ::sigaction(SIGINT, &m_previous, nullptr);
            m_active = false;
        }
    }
    ~InterruptWatch() {
        if (m_active) {
            ::sigaction(SIGINT, &m_previous, nullptr);
        }
    }
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    bool m_active;
    struct sigaction m_previous {};
};

// The outcome line on stdout, and on stderr what the window's messages did not say.
int ReportOutcome(const CopyReport& report, TerminalFrontend& terminal, std::ostream& out) {
    if (!report.uncreatedPath.empty()) {
        terminal.Report(std::string(kProgram) + ": cannot create " + report.uncreatedPath + ": " +
                        report.uncreatedReason);
    }
    if (report.filledSectors > 0) {
        terminal.Report(std::string(kProgram) + ": " + FilledSectorsText(report));
    }
    if (report.stopped) {
        std::string kept;
        for (const CopyReport::Output& output : report.outputs) {
            kept += (kept.empty() ? "" : ", ") + std::to_string(output.bytes) + " bytes in " +
                    output.path;
        }
        terminal.Report(std::string(kProgram) + ": interrupted; kept " +
                        (kept.empty() ? std::string("nothing") : kept));
    }
    switch (report.outcome) {
        case CopyOutcome::Copied:
            out << kCopySucceededText << '\n';
            break;
        case CopyOutcome::Incomplete:
            out << kCopyIncompleteText << '\n';
            break;
        default:
            out << kCopyFailedText << '\n';
            break;
    }
    out.flush();
    return report.outcome == CopyOutcome::Copied ? kExitOk : kExitFailureShown;
}

}  // namespace

SaveChoice SaveChoiceFor(const std::filesystem::path& destination, const std::string& offeredName) {
    std::error_code failure;
    if (std::filesystem::is_directory(destination, failure)) {
        const std::string name = SafeFileName(offeredName);
        return SaveChoice{(destination / name).string(), name};
    }
    const std::string path = destination.string();
    return SaveChoice{path, path.substr(path.rfind('/') + 1)};
}

int RunCopy(const CommandLine& line, DriveTree& access, TreeWalker& walker,
            TerminalFrontend& terminal, std::ostream& out, std::ostream& err,
            const CliEnvironment& environment) {
    std::string error;
    const auto place = walker.Resolve(line.copy.treePath, error);
    if (!place) {
        err << EscapeControls(error) << '\n';
        // When a disk or a folder on the way could not be read, the path may
        // well be right: that is a failure, not a mistake on the command line.
        return terminal.Failures() > 0 ? kExitFailureShown : kExitUsage;
    }
    if (place->item == nullptr || !place->item->IsFile()) {
        err << kProgram << ": \"" << line.copy.treePath << "\" is not a file\n";
        return kExitUsage;
    }
    DriveItem& source = *place->item;

    // The copy creates its files by full path, as the Save dialog gives them.
    std::error_code failure;
    const std::filesystem::path destination =
        std::filesystem::absolute(line.copy.destination, failure);
    if (failure) {
        err << kProgram << ": cannot tell where " << line.copy.destination
            << " is: " << failure.message() << '\n';
        return kExitFailureShown;
    }
    const SaveChoice choice = SaveChoiceFor(destination, std::string(source.EntryName()));

    FileSystemTarget fileSystem;
    SourceGuard guarded(environment.copyTarget != nullptr ? *environment.copyTarget : fileSystem,
                        access.SourcePaths());
    PartsAlways inParts(guarded);
    CopyTarget& target = line.copy.splitAlways ? static_cast<CopyTarget&>(inParts) : guarded;

    const InterruptWatch watch(environment.catchInterrupt);
    const volatile std::sig_atomic_t* stop = environment.stopRequested;
    if (stop == nullptr && environment.catchInterrupt) {
        stop = &g_interrupted;
    }
    CopyTerminalFrontend frontend(terminal, source, choice, kTerminalControls,
                                  environment.clock ? environment.clock : SteadySeconds(), stop);
    CopyCommand command(frontend, access, target, kTerminalControls);
    frontend.OnStop([&command] { command.RequestStop(); });
    command.Run();
    terminal.ClearProgressLine();
    return ReportOutcome(command.Report(), terminal, out);
}

}  // namespace moravel::cli
