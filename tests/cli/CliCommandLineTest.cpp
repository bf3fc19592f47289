#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/Cli.h"

namespace moravel::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(CliCommandLineTest, DisksAndFloppiesKeepTheirOrder) {
    const CommandLine line = ParseCommandLine(
        {"--disk", "a.img", "--floppy", "f0.img", "--disk=b.img", "--floppy", "f1.img", "list"});
    EXPECT_EQ(line.error, "");
    EXPECT_THAT(line.sources.hardDisks, ElementsAre("a.img", "b.img"));
    EXPECT_THAT(line.sources.floppies, ElementsAre("f0.img", "f1.img"));
    EXPECT_FALSE(line.sources.detect);
    EXPECT_EQ(line.platform, DiskPlatform::Devices);
    EXPECT_EQ(line.command, "list");
    EXPECT_FALSE(line.list.treePath.has_value());
}

TEST(CliCommandLineTest, WithoutDisksTheMachinesOwnAreLookedFor) {
    const CommandLine line = ParseCommandLine({"list"});
    EXPECT_EQ(line.error, "");
    EXPECT_TRUE(line.sources.detect);
    EXPECT_THAT(line.sources.hardDisks, IsEmpty());

    const CommandLine floppyOnly = ParseCommandLine({"--floppy", "f.img", "list"});
    EXPECT_FALSE(floppyOnly.sources.detect);
}

TEST(CliCommandLineTest, ListOptionsAndTreePath) {
    const CommandLine line = ParseCommandLine(
        {"--bios-services", "--disk", "a.img", "list", "-r", "--json", "Hard Disk 1/#2"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.platform, DiskPlatform::BiosServices);
    EXPECT_TRUE(line.list.recursive);
    EXPECT_TRUE(line.list.json);
    EXPECT_EQ(line.list.treePath, "Hard Disk 1/#2");

    EXPECT_TRUE(ParseCommandLine({"list", "--recursive"}).list.recursive);
    EXPECT_FALSE(ParseCommandLine({"list"}).list.json);
    // After "--" a path may begin with a dash.
    EXPECT_EQ(ParseCommandLine({"list", "--", "-odd-"}).list.treePath, "-odd-");
}

TEST(CliCommandLineTest, CopyTakesATreePathADestinationAndASplitChoice) {
    const CommandLine line =
        ParseCommandLine({"--disk", "a.img", "copy", "Hard Disk 1/#1/#3/Movie.ts", "out.ts"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.command, "copy");
    EXPECT_THAT(line.copy.treePaths, ElementsAre("Hard Disk 1/#1/#3/Movie.ts"));
    EXPECT_EQ(line.copy.destination, "out.ts");
    EXPECT_FALSE(line.copy.splitAlways);  // auto unless asked

    EXPECT_TRUE(ParseCommandLine({"copy", "--split", "always", "a", "b"}).copy.splitAlways);
    EXPECT_TRUE(ParseCommandLine({"copy", "a", "b", "--split=always"}).copy.splitAlways);
    const CommandLine automatic = ParseCommandLine({"copy", "--split=auto", "a", "b"});
    EXPECT_EQ(automatic.error, "");
    EXPECT_FALSE(automatic.copy.splitAlways);
    EXPECT_EQ(ParseCommandLine({"copy", "--", "-a", "-b"}).copy.destination, "-b");
}

TEST(CliCommandLineTest, CopyTakesSeveralTreePathsAndDiskOptionsAfterTheCommand) {
    const CommandLine line = ParseCommandLine(
        {"copy", "--skip-existing", "a", "b", "--disk", "x.img", "c", "--codepage=437", "dest"});
    EXPECT_EQ(line.error, "");
    EXPECT_THAT(line.copy.treePaths, ElementsAre("a", "b", "c"));
    EXPECT_EQ(line.copy.destination, "dest");
    EXPECT_TRUE(line.copy.skipExisting);
    EXPECT_THAT(line.sources.hardDisks, ElementsAre("x.img"));
    EXPECT_EQ(line.codePage, 437u);
    EXPECT_EQ(ParseCommandLine({"list"}).codePage, 850u);
}

// Usage errors are one line each; what the command line got wrong is named.
TEST(CliCommandLineTest, CopyUsageErrorsSayWhatIsWrong) {
    EXPECT_EQ(ParseCommandLine({"copy"}).error, "copy needs TREEPATH and DEST");
    EXPECT_EQ(ParseCommandLine({"copy", "a"}).error, "copy needs DEST");
    EXPECT_EQ(ParseCommandLine({"copy", "a", ""}).error, "DEST is empty");
    const auto names = [](const std::vector<std::string>& args, const std::string& what) {
        const std::string error = ParseCommandLine(args).error;
        EXPECT_THAT(error, ::testing::HasSubstr(what)) << ::testing::PrintToString(args);
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    };
    names({"copy", "--split", "sometimes", "a", "b"}, "sometimes");
    names({"copy", "a", "b", "--split"}, "--split");
    names({"copy", "-r", "a", "b"}, "-r");
    names({"list", "--split=always"}, "--split");
    names({"copy", "--frobnicate", "a", "b"}, "--frobnicate");
    names({"--codepage", "9999", "list"}, "--codepage takes the number of a code page");
    names({"--codepage", "cp850", "list"}, "cp850");
    names({"copy", "--map", "m", "a", "b"}, "--map goes with --rescue");
    names({"copy", "--retries", "2", "a", "b"}, "--retries goes with --rescue");
    names({"copy", "--rescue", "--map", "m", "a", "b", "c"}, "map of one file");
    names({"copy", "--rescue", "--skip-existing", "a", "b"}, "does not go with --rescue");
    names({"copy", "--rescue", "--retries", "-1", "a", "b"}, "--retries");
    names({"copy", "--rescue", "--retries", "many", "a", "b"}, "--retries");
}

TEST(CliCommandLineTest, CopyTakesARescueWithItsMapAndRetries) {
    const CommandLine plain = ParseCommandLine({"copy", "a", "b"});
    EXPECT_FALSE(plain.copy.rescue);
    const CommandLine line =
        ParseCommandLine({"copy", "--rescue", "a", "--retries=3", "--map", "m.map", "b"});
    ASSERT_EQ(line.error, "");
    EXPECT_TRUE(line.copy.rescue);
    EXPECT_EQ(line.copy.retries, 3u);
    EXPECT_EQ(line.copy.mapPath, "m.map");
    EXPECT_EQ(line.copy.treePaths, std::vector<std::string>{"a"});
    EXPECT_EQ(ParseCommandLine({"copy", "--rescue", "a", "b"}).copy.retries, 1u);
}

TEST(CliCommandLineTest, InfoTakesOneTreePathAndJsonOnly) {
    const CommandLine line =
        ParseCommandLine({"--disk", "a.img", "info", "--json", "Hard Disk 1/#1"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.command, "info");
    EXPECT_TRUE(line.info.json);
    EXPECT_EQ(line.info.treePath, "Hard Disk 1/#1");
    EXPECT_FALSE(ParseCommandLine({"info", "a"}).info.json);
    EXPECT_EQ(ParseCommandLine({"info"}).error, "info takes one TREEPATH, not 0");
    EXPECT_EQ(ParseCommandLine({"info", "a", "b"}).error, "info takes one TREEPATH, not 2");
    EXPECT_EQ(ParseCommandLine({"info", "-r", "a"}).error, "unknown option -r");
    EXPECT_EQ(ParseCommandLine({"info", "--split=auto", "a"}).error, "unknown option --split=auto");
    EXPECT_EQ(ParseCommandLine({"copy", "--json", "a", "b"}).error, "unknown option --json");
}

TEST(CliCommandLineTest, ThumbnailTakesAShareOrSecondsAndMountItsMountPoint) {
    CommandLine line = ParseCommandLine({"thumbnail", "A/B.TS", "b.png", "--at", "25%"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.thumbnail.treePath, "A/B.TS");
    EXPECT_EQ(line.thumbnail.output, "b.png");
    EXPECT_DOUBLE_EQ(line.thumbnail.at, 0.25);
    EXPECT_FALSE(line.thumbnail.atSeconds);
    line = ParseCommandLine({"thumbnail", "--at", "90.5", "A/B.TS", "b.png"});
    EXPECT_DOUBLE_EQ(line.thumbnail.at, 90.5);
    EXPECT_TRUE(line.thumbnail.atSeconds);
    EXPECT_DOUBLE_EQ(ParseCommandLine({"thumbnail", "A", "b.png"}).thumbnail.at, 0.1);
    for (const char* at : {"150%", "1e3", "10 %", "%", "ten", ""}) {
        EXPECT_EQ(
            ParseCommandLine({"thumbnail", "A", "b.png", "--at", at}).error,
            std::string("--at takes a share of the recording (10%) or seconds (90), not ") + at);
    }
    EXPECT_EQ(ParseCommandLine({"thumbnail", "A"}).error, "thumbnail needs TREEPATH and OUT.png");

    line = ParseCommandLine({"mount", "--fill", "mnt", "--disk", "a.img"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.mount.mountPoint, "mnt");
    EXPECT_TRUE(line.mount.fill);
    EXPECT_FALSE(line.mount.foreground);
    EXPECT_EQ(ParseCommandLine({"mount", "a", "b"}).error, "mount takes one MOUNTPOINT, not 2");
}

TEST(CliCommandLineTest, UsageErrorsSayWhatIsWrong) {
    EXPECT_EQ(ParseCommandLine({}).error,
              "missing command (list, info, copy, check, mount or thumbnail)");
    EXPECT_EQ(ParseCommandLine({"--disk"}).error, "option --disk needs a value");
    EXPECT_EQ(ParseCommandLine({"list", "--color"}).error, "unknown option --color");
    EXPECT_EQ(ParseCommandLine({"show"}).error, "unknown command show");
    EXPECT_EQ(ParseCommandLine({"list", "a", "b"}).error, "list takes one TREEPATH, not 2");
    EXPECT_EQ(ParseCommandLine({"check"}).error, "check takes one TREEPATH, not 0");
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
    EXPECT_TRUE(ParseCommandLine({"list", "-h"}).help);
}

}  // namespace
}  // namespace moravel::cli
