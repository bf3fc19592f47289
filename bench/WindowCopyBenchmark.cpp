// moravel-bench-window-copy: Copy File in the desktop window beside moravel-cli's
// copy of the same recording, and how often the window is served meanwhile; and
// how often it is served during a long folder scan.
//
//   moravel-bench-window-copy measure IMAGE [--runs N] [--out FOLDER]
//
//       IMAGE is made by `moravel-bench-copy make IMAGE` (its IMAGE.layout says
//       where the recording RECORDS/"Recording 0001.ts" lies). The recording's
//       byte range is read once first, so that every copy finds it in the page
//       cache. Then a check round and N rounds (5 by default), the order turning
//       from round to round, each timing into FOLDER (/dev/shm, a tmpfs, unless
//       given):
//         window  the real window (QtFrontend, MainDialog, on Qt's offscreen
//                 platform unless QT_QPA_PLATFORM names another): the tree walked
//                 to RECORDS, the recording selected in the list, Copy File
//                 clicked, the Save dialog answered with the destination; timed
//                 from the Save dialog's answer to the end of the click (the copy
//                 itself, its pump steps and the window's repaints);
//         cli     moravel-cli --disk IMAGE copy TREEPATH DEST in a process of its
//                 own, timed from its start to its end (start-up, opening the disk
//                 and walking to the file included).
//       After every copy the output is deleted and sync(2) called, outside the
//       timing; the check round compares the two outputs with cmp first and is
//       not counted.
//       During the window's copies it counts the pump steps that dispatched
//       events, the timer events a 0 ms probe timer received (one per dispatch)
//       and the gaps between them, and the paint events of the progress bar:
//       events per second of copying. It also times the idle pump
//       step (PumpMessages inside its time slice) over ten million calls.
//   moravel-bench-window-copy scan IMAGE [--runs N] [--folder NAME]
//
//       With --runs 0 only the first scan is made (slow-scan.sh: from a slow disk).
//       Each scan says when the list first showed rows (and how many of their
//       sizes were still pending) and when the last size was in.
//       IMAGE is made by `moravel-bench-scan make IMAGE` (a 1 TiB-class FAT32
//       volume, a FAT of about 134 MB, RECORDS with 5,000 recordings). The window
//       is walked to the root directory and the folder (RECORDS unless named)
//       selected, once as the page cache comes and N times warm (5 by default),
//       each in a new window; it prints the gaps between the window's dispatches
//       while the selection's handler runs (the FAT load, the chain walks, the
//       entry scan). Target: at least 20 dispatches per second in every warm
//       scan, at most 1 % of the gaps longer than 50 ms.
//
//       Target of measure: the window's best time within 1 / 0.9 of the command line's best
//       (at least 0.9 x its speed); at least 20 dispatches per second in every
//       round, and at most 1 % of the gaps between them longer than 50 ms (a gap
//       that long is one cluster's read or write held up by the system, which the
//       command line's copy waits for as well; they are counted and shown). Exit
//       status 0 when it holds, 3 when it does not, 1 on an error.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "copy/CopyTexts.h"
#include "ui/MainDialog.h"
#include "ui/SourceOptions.h"
#include "ui/qt/Controls.h"
#include "ui/qt/QtFrontend.h"

extern char** environ;

namespace {

using namespace moravel::bench;

constexpr std::uint32_t kDefaultRuns = 5;
constexpr double kTargetRatio = 0.9;
constexpr double kTargetRate = 20;    // dispatches per second
constexpr double kTargetGap = 0.050;  // seconds
constexpr char kTreePath[] = "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Recording 0001.ts";
constexpr char kFileName[] = "Recording 0001.ts";

std::uint64_t RecordingSize(const std::string& image) {
    std::ifstream in(image + ".layout");
    std::map<std::string, std::uint64_t> values;
    std::string key;
    std::uint64_t value = 0;
    while (in >> key >> value) {
        values[key] = value;
    }
    if (values.count("size") == 0 || values.count("offset") == 0) {
        throw std::runtime_error(image +
                                 ".layout is missing; make the image with "
                                 "moravel-bench-copy make " +
                                 image);
    }
    return values["size"];
}

// Reads the image once, so that the copies find it in the page cache.
double Warm(const std::string& image) {
    std::FILE* file = std::fopen(image.c_str(), "rb");
    if (file == nullptr) {
        throw std::runtime_error("cannot open " + image + ": " + std::strerror(errno));
    }
    std::vector<char> buffer(1 << 20);
    const Clock::time_point start = Clock::now();
    while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
    }
    std::fclose(file);
    return SecondsSince(start);
}

std::uint64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// Runs a program and waits for it: its exit status, 127 when it did not start.
// Quiet: its standard output goes to /dev/null.
int RunProgram(const std::vector<std::string>& arguments, bool quiet = false) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (quiet) {
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return 127;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return 127;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
    std::uint64_t paints = 0;
};

struct WindowRun {
    double seconds = 0;
    std::uint64_t dispatches = 0;  // pump steps that dispatched events
    std::uint64_t probes = 0;      // the 0 ms timer's events
    std::vector<double> gaps;      // between two of them (and the ends), seconds
    std::uint64_t paints = 0;      // of the progress bar
    std::uint64_t steps = 0;       // all pump steps

    double LongestGap() const {
        return gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
    }
};

QTreeWidgetItem* Child(QTreeWidget& tree, QTreeWidgetItem* parent, const QString& prefix) {
    const int count = parent == nullptr ? tree.topLevelItemCount() : parent->childCount();
    for (int i = 0; i < count; ++i) {
        QTreeWidgetItem* child = parent == nullptr ? tree.topLevelItem(i) : parent->child(i);
        if (child->text(0).startsWith(prefix)) {
            return child;
        }
    }
    throw std::runtime_error("the window shows no " + prefix.toStdString());
}

WindowRun CopyWithWindow(const std::string& image, const std::string& destination) {
    moravel::qt::QtFrontend frontend;
    moravel::SourceOptions sources;
    sources.sources.hardDisks = {image};
    moravel::MainDialog dialog(frontend, moravel::AccessOptionsFor(sources));
    frontend.OpenMainDialog(dialog);
    moravel::qt::MainWindow& window = frontend.Window();
    QCoreApplication::processEvents();

    // The walk a user makes: disk, volume, root, folder; then the recording.
    QTreeWidget& tree = window.Tree();
    QTreeWidgetItem* item = nullptr;
    for (const char* name : {"Hard Disk 1", "32-Bit FAT Disk", "Root Directory", "RECORDS"}) {
        item = Child(tree, item, QString::fromLatin1(name));
        frontend.SelectTreeItem(frontend.HandleOf(item));
    }
    QTreeWidget& list = window.List();
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < list.topLevelItemCount() && row == nullptr; ++i) {
        if (list.topLevelItem(i)->text(0) == QLatin1String(kFileName)) {
            row = list.topLevelItem(i);
        }
    }
    if (row == nullptr) {
        throw std::runtime_error("the window does not list RECORDS/" + std::string(kFileName));
    }
    list.setCurrentItem(row);

    // The Save dialog answered as a user types the name and presses Save; the
    // copy's time starts there.
    Clock::time_point copyStart{};
    QTimer answer;
    answer.setInterval(1);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* save = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (save == nullptr) {
            return;
        }
        answer.stop();
        save->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QString::fromStdString(destination));
        copyStart = Clock::now();
        static_cast<QDialog*>(save)->accept();
    });
    answer.start();

    // The probe: a 0 ms timer gets one event per dispatch of the queue.
    WindowRun run;
    Clock::time_point lastProbe{};
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (copyStart == Clock::time_point{}) {
            return;
        }
        const Clock::time_point now = Clock::now();
        const Clock::time_point since = run.probes == 0 ? copyStart : lastProbe;
        run.gaps.push_back(std::chrono::duration<double>(now - since).count());
        lastProbe = now;
        ++run.probes;
    });
    PaintCounter painted;
    window.Progress().installEventFilter(&painted);

    const std::uint64_t dispatches = frontend.EventPumps();
    const std::uint64_t steps = frontend.PumpSteps();
    probe.start();
    window.CopyButton().click();
    const Clock::time_point end = Clock::now();
    probe.stop();
    answer.stop();
    if (copyStart == Clock::time_point{}) {
        throw std::runtime_error("the Save dialog did not come up");
    }
    run.seconds = std::chrono::duration<double>(end - copyStart).count();
    run.gaps.push_back(std::chrono::duration<double>(end - lastProbe).count());
    run.dispatches = frontend.EventPumps() - dispatches;
    run.steps = frontend.PumpSteps() - steps;
    run.paints = painted.paints;
    window.Progress().removeEventFilter(&painted);
    const QString status = window.Status().FullText();
    if (status != QLatin1String(moravel::kCopySucceededText)) {
        throw std::runtime_error("the window's copy did not succeed: \"" + status.toStdString() +
                                 "\"");
    }
    window.AllowClose(true);
    window.hide();
    return run;
}

double CopyWithCli(const std::string& cli, const std::string& image,
                   const std::string& destination) {
    const Clock::time_point start = Clock::now();
    const int status = RunProgram({cli, "--disk", image, "copy", kTreePath, destination}, true);
    const double seconds = SecondsSince(start);
    if (status != 0) {
        throw std::runtime_error("moravel-cli ended with status " + std::to_string(status));
    }
    return seconds;
}

// The idle pump step: inside its time slice it only reads the clock.
double IdlePumpNanoseconds() {
    moravel::qt::QtFrontend frontend;
    frontend.SetPumpSlice(std::int64_t{1} << 60);
    constexpr int kCalls = 10'000'000;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kCalls; ++i) {
        frontend.PumpMessages();
    }
    const double seconds = SecondsSince(start);
    if (frontend.EventPumps() != 0) {
        throw std::runtime_error("the idle pump dispatched events");
    }
    return seconds * 1e9 / kCalls;
}

double MegabytesPerSecond(std::uint64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0;
}

int Measure(const std::string& image, const std::string& cli, std::uint32_t runs,
            const std::string& folder) {
    const std::uint64_t size = RecordingSize(image);
    std::printf("file           RECORDS/%s, %llu bytes in %s\n", kFileName,
                static_cast<unsigned long long>(size), image.c_str());
    std::printf("platform       %s\n", QGuiApplication::platformName().toStdString().c_str());
    const double warm = Warm(image);
    std::printf("warm-up read   %.2f s of the whole image\n", warm);
    const std::string windowOut = folder + "/window-copy.ts";
    const std::string cliOut = folder + "/cli-copy.ts";
    for (const std::string& path : {windowOut, cliOut}) {
        if (FileSize(path) != 0 || ::access(path.c_str(), F_OK) == 0) {
            throw std::runtime_error(path + " exists; not overwriting it");
        }
    }

    std::vector<double> windowSeconds;
    std::vector<double> cliSeconds;
    std::vector<double> dispatchRates;
    std::vector<double> paintRates;
    std::vector<double> gaps;
    for (std::uint32_t round = 0; round <= runs; ++round) {
        const bool check = round == 0;
        WindowRun window;
        double cliTime = 0;
        for (int step = 0; step < 2; ++step) {
            if ((step + static_cast<int>(round)) % 2 == 0) {
                window = CopyWithWindow(image, windowOut);
                if (FileSize(windowOut) != size) {
                    throw std::runtime_error("the window wrote the wrong size");
                }
                if (!check) {
                    ::unlink(windowOut.c_str());
                }
            } else {
                cliTime = CopyWithCli(cli, image, cliOut);
                if (FileSize(cliOut) != size) {
                    throw std::runtime_error("moravel-cli wrote the wrong size");
                }
                if (!check) {
                    ::unlink(cliOut.c_str());
                }
            }
            ::sync();
        }
        const double dispatchRate = static_cast<double>(window.dispatches) / window.seconds;
        const double paintRate = static_cast<double>(window.paints) / window.seconds;
        std::printf(
            "%-5s %2u  window %.3f s (%llu pump steps, %llu dispatches = %.0f/s, probe %llu, "
            "longest gap %.1f ms, bar painted %.0f/s)  cli %.3f s  (%s first)\n",
            check ? "check" : "round", round, window.seconds,
            static_cast<unsigned long long>(window.steps),
            static_cast<unsigned long long>(window.dispatches), dispatchRate,
            static_cast<unsigned long long>(window.probes), window.LongestGap() * 1000, paintRate,
            cliTime, round % 2 == 0 ? "window" : "cli");
        if (check) {
            const bool same = RunProgram({"cmp", windowOut, cliOut}, true) == 0;
            std::printf("          outputs %s (round not counted)\n",
                        same ? "identical" : "DIFFERENT");
            ::unlink(windowOut.c_str());
            ::unlink(cliOut.c_str());
            ::sync();
            if (!same) {
                throw std::runtime_error("the outputs differ");
            }
            continue;
        }
        windowSeconds.push_back(window.seconds);
        cliSeconds.push_back(cliTime);
        dispatchRates.push_back(dispatchRate);
        paintRates.push_back(paintRate);
        gaps.insert(gaps.end(), window.gaps.begin(), window.gaps.end());
    }

    const double windowBest = *std::min_element(windowSeconds.begin(), windowSeconds.end());
    const double cliBest = *std::min_element(cliSeconds.begin(), cliSeconds.end());
    std::printf("%-8s %9s %9s %11s %11s\n", "", "min s", "median s", "best MB/s", "median MB/s");
    std::printf("%-8s %9.3f %9.3f %11.0f %11.0f\n", "window", windowBest, Median(windowSeconds),
                MegabytesPerSecond(size, windowBest),
                MegabytesPerSecond(size, Median(windowSeconds)));
    std::printf("%-8s %9.3f %9.3f %11.0f %11.0f\n", "cli", cliBest, Median(cliSeconds),
                MegabytesPerSecond(size, cliBest), MegabytesPerSecond(size, Median(cliSeconds)));
    const double ratio = cliBest / windowBest;
    const double ratioMedian = Median(cliSeconds) / Median(windowSeconds);
    const double slowestRate = *std::min_element(dispatchRates.begin(), dispatchRates.end());
    // Gaps longer than 50 ms: a unit of work (one cluster's read and write) that
    // the system held up; the command line's copy waits then as well.
    int over = 0;
    double overSeconds = 0;
    for (const double gap : gaps) {
        if (gap > kTargetGap) {
            ++over;
            overSeconds += gap;
        }
    }
    const double longestGap = gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
    std::printf("ratio          window / cli speed %.2f (best), %.2f (median)\n", ratio,
                ratioMedian);
    std::printf(
        "window         dispatches %.0f/s at the least, %.0f/s median; bar painted %.0f/s median\n"
        "               gaps between dispatches: %zu, median %.1f ms, longest %.1f ms; over %.0f "
        "ms: "
        "%d (%.0f ms together)\n",
        slowestRate, Median(dispatchRates), Median(paintRates), gaps.size(), Median(gaps) * 1000,
        longestGap * 1000, kTargetGap * 1000, over, overSeconds * 1000);
    std::printf("idle pump      %.1f ns per PumpMessages call inside its slice\n",
                IdlePumpNanoseconds());
    const bool speed = ratio >= kTargetRatio;
    const bool served = slowestRate >= kTargetRate &&
                        static_cast<double>(over) <= 0.01 * static_cast<double>(gaps.size());
    std::printf(
        "target         window at least %.1f x the cli's speed: %s (by medians: %s); "
        "at least %.0f dispatches/s in every round, at most 1 %% of the gaps over %.0f ms: %s\n",
        kTargetRatio, speed ? "holds" : "DOES NOT HOLD",
        ratioMedian >= kTargetRatio ? "holds" : "does not hold", kTargetRate, kTargetGap * 1000,
        served ? "holds" : "DOES NOT HOLD");
    return speed && served ? 0 : 3;
}

// The window during a folder's scan on moravel-bench-scan's image: the walk to
// the root directory first, then the folder selected; the gaps between the
// window's dispatches while its handler runs (the FAT load, the chain walks and
// the entry scan).
int MeasureScan(const std::string& image, const std::string& folderName, std::uint32_t runs) {
    std::printf("scan           %s of %s\n", folderName.c_str(), image.c_str());
    std::vector<double> seconds;
    std::vector<double> gaps;
    std::vector<double> rates;
    for (std::uint32_t round = 0; round <= runs; ++round) {
        moravel::qt::QtFrontend frontend;
        moravel::SourceOptions sources;
        sources.sources.hardDisks = {image};
        moravel::MainDialog dialog(frontend, moravel::AccessOptionsFor(sources));
        frontend.OpenMainDialog(dialog);
        moravel::qt::MainWindow& window = frontend.Window();
        QCoreApplication::processEvents();
        QTreeWidget& tree = window.Tree();
        QTreeWidgetItem* item = nullptr;
        for (const char* name : {"Hard Disk 1", "32-Bit FAT Disk", "Root Directory"}) {
            item = Child(tree, item, QString::fromLatin1(name));
            frontend.SelectTreeItem(frontend.HandleOf(item));
        }
        QTreeWidgetItem* folder = Child(tree, item, QString::fromStdString(folderName));

        std::vector<double> roundGaps;
        Clock::time_point last = Clock::now();
        const Clock::time_point start = last;
        // When the list first shows rows, and how many of their sizes were pending.
        double firstRow = -1;
        int pendingAtFirstRow = 0;
        QTimer probe;
        probe.setInterval(0);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const Clock::time_point now = Clock::now();
            roundGaps.push_back(std::chrono::duration<double>(now - last).count());
            last = now;
            QTreeWidget& list = window.List();
            if (firstRow < 0 && list.topLevelItemCount() > 0) {
                firstRow = std::chrono::duration<double>(now - start).count();
                for (int row = 0; row < list.topLevelItemCount(); ++row) {
                    pendingAtFirstRow += list.topLevelItem(row)->text(1) ==
                                         QString::fromUtf8(moravel::kSizePendingText);
                }
            }
        });
        const std::uint64_t dispatches = frontend.EventPumps();
        probe.start();
        frontend.SelectTreeItem(frontend.HandleOf(folder));
        probe.stop();
        const Clock::time_point end = Clock::now();
        roundGaps.push_back(std::chrono::duration<double>(end - last).count());
        const double time = std::chrono::duration<double>(end - start).count();
        const double rate = static_cast<double>(frontend.EventPumps() - dispatches) / time;
        const double longest = *std::max_element(roundGaps.begin(), roundGaps.end());
        std::printf(
            "%-5s %2u  %.3f s, %d rows, %.0f dispatches/s, longest gap %.1f ms, "
            "first dispatch after %.1f ms\n",
            round == 0 ? "first" : "warm", round, time, window.List().topLevelItemCount(), rate,
            longest * 1000, roundGaps.front() * 1000);
        // The handler returns once the last size is in its row.
        std::printf("          first row %.3f s (%d of the sizes pending), last size %.3f s\n",
                    firstRow, pendingAtFirstRow, time);
        std::printf("          gaps over %.0f ms:", kTargetGap * 1000);
        for (std::size_t i = 0; i < roundGaps.size(); ++i) {
            if (roundGaps[i] > kTargetGap) {
                std::printf(" %.1f ms (gap %zu of %zu)", roundGaps[i] * 1000, i + 1,
                            roundGaps.size());
            }
        }
        std::printf("\n");
        window.AllowClose(true);
        window.hide();
        if (round == 0) {
            continue;  // the page cache as it came
        }
        seconds.push_back(time);
        rates.push_back(rate);
        gaps.insert(gaps.end(), roundGaps.begin(), roundGaps.end());
    }
    if (runs == 0) {
        return 0;  // the first scan alone: from a cold or slow disk
    }
    int over = 0;
    for (const double gap : gaps) {
        over += gap > kTargetGap ? 1 : 0;
    }
    const double slowestRate = *std::min_element(rates.begin(), rates.end());
    std::printf(
        "warm scans     median %.3f s; dispatches %.0f/s at the least; gaps %zu, median "
        "%.1f ms, longest %.1f ms, %d over %.0f ms\n",
        Median(seconds), slowestRate, gaps.size(), Median(gaps) * 1000,
        *std::max_element(gaps.begin(), gaps.end()) * 1000, over, kTargetGap * 1000);
    const bool served = slowestRate >= kTargetRate &&
                        static_cast<double>(over) <= 0.01 * static_cast<double>(gaps.size());
    std::printf(
        "target         at least %.0f dispatches/s in every warm scan, at most 1 %% of "
        "the gaps over %.0f ms: %s\n",
        kTargetRate, kTargetGap * 1000, served ? "holds" : "DOES NOT HOLD");
    return served ? 0 : 3;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: moravel-bench-window-copy measure IMAGE [--runs N] [--out FOLDER] "
                 "[--cli PROGRAM]\n"
                 "       moravel-bench-window-copy scan IMAGE [--runs N] [--folder NAME]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc >= 3 ? argv[1] : "";
    if (mode != "measure" && mode != "scan") {
        return Usage();
    }
    std::string scanFolder = "RECORDS";
    const std::string image = argv[2];
    std::uint32_t runs = kDefaultRuns;
    std::string folder = "/dev/shm";
    std::string cli = MORAVEL_CLI;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        std::optional<std::uint64_t> value;
        if (option == "--runs" && hasValue && (value = ParseNumber(argv[i + 1], 1000))) {
            // A scan may be measured alone: from a slow disk, with the cache dropped.
            const std::uint32_t least = mode == "scan" ? 0 : 1;
            runs = std::max<std::uint32_t>(least, static_cast<std::uint32_t>(*value));
            ++i;
        } else if (mode == "measure" && option == "--out" && hasValue) {
            folder = argv[++i];
        } else if (mode == "measure" && option == "--cli" && hasValue) {
            cli = argv[++i];
        } else if (mode == "scan" && option == "--folder" && hasValue) {
            scanFolder = argv[++i];
        } else {
            return Usage();
        }
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    try {
        return mode == "scan" ? MeasureScan(image, scanFolder, runs)
                              : Measure(image, cli, runs, folder);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "moravel-bench-window-copy: %s\n", error.what());
        return 1;
    }
}
