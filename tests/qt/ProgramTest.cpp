// The moravel program's command line, run as a process.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "ui/SourceOptions.h"

namespace moravel::testing {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome RunProgram(const QStringList& args, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(MORAVEL_PROGRAM), args);
    Outcome outcome;
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.status = process.exitCode();
    outcome.out = process.readAllStandardOutput().toStdString();
    outcome.err = process.readAllStandardError().toStdString();
    return outcome;
}

// An environment without any screen.
QProcessEnvironment Screenless() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    return environment;
}

QProcessEnvironment Offscreen() {
    QProcessEnvironment environment = Screenless();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

TEST(ProgramTest, HelpAndVersionNeedNoScreen) {
    const Outcome help = RunProgram({QStringLiteral("--help")}, Screenless());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, WindowUsageText());
    EXPECT_EQ(help.err, "");
    const Outcome shortHelp = RunProgram({QStringLiteral("-h")}, Screenless());
    EXPECT_EQ(shortHelp.status, 0);
    EXPECT_EQ(shortHelp.out, WindowUsageText());
    const Outcome version = RunProgram({QStringLiteral("--version")}, Screenless());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "moravel 1.0.3\n");
}

TEST(ProgramTest, AUsageErrorSaysSoOnStandardErrorAndEndsWithStatus2) {
    for (const QProcessEnvironment& environment : {Screenless(), Offscreen()}) {
        const Outcome bogus = RunProgram({QStringLiteral("--bogus")}, environment);
        EXPECT_EQ(bogus.status, 2);
        EXPECT_EQ(bogus.out, "");
        EXPECT_EQ(bogus.err,
                  "moravel: ERROR: unknown option --bogus\n"
                  "Try 'moravel --help' for more information.\n");
        const Outcome missing = RunProgram({QStringLiteral("--disk")}, environment);
        EXPECT_EQ(missing.status, 2);
        EXPECT_EQ(missing.err.rfind("moravel: ERROR: option --disk needs a value\n", 0), 0u)
            << missing.err;
    }
}

// Qt's own options are Qt's: they are taken off the line before it is read.
TEST(ProgramTest, QtTakesItsOwnOptionsFirst) {
    const Outcome version = RunProgram(
        {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--version")},
        Screenless());
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, "moravel 1.0.3\n");
    const Outcome styled =
        RunProgram({QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("--bogus")},
                   Offscreen());
    EXPECT_EQ(styled.status, 2);
    EXPECT_EQ(styled.err.rfind("moravel: ERROR: unknown option --bogus\n", 0), 0u) << styled.err;
}

}  // namespace
}  // namespace moravel::testing
