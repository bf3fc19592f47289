#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "CliTestImages.h"

namespace moravel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
namespace fs = std::filesystem;

TEST(CliFailureTest, ADiskThatCannotBeOpenedIsReportedAndTheRestListed) {
    TempDir dir;
    const RecorderDisk disk(dir);
    const std::string missing = dir.File("no-such-disk.img");
    const CliRun run = RunList({"--disk", disk.path, "--disk", missing, "list"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(Lines(run.out), ElementsAre("Hard Disk 1\tdisk"));
    const std::vector<std::string> errors = Lines(run.err);
    ASSERT_EQ(errors.size(), 1u) << run.err;
    EXPECT_THAT(errors[0], StartsWith("moravel-cli: cannot open " + missing + ": "));
    EXPECT_GT(errors[0].size(), ("moravel-cli: cannot open " + missing + ": ").size());
}

// Files that are no disk (a text, a file shorter than a sector, a blank image)
// are said to be none, by their path; a disk named twice is read once, with a
// note, and every message ends its line.
TEST(CliFailureTest, FilesThatAreNoDiskAreSaidSoAndADiskNamedTwiceIsReadOnce) {
    TempDir dir;
    const CopyDisk disk(dir);
    const std::string text = dir.File("notes.txt");
    const std::string tiny = dir.File("tiny.txt");
    const std::string blank = dir.File("blank.img");
    std::ofstream(text) << std::string(3000, 'x');
    std::ofstream(tiny) << "hello\n";
    std::ofstream(blank) << std::string(1 << 20, '\0');
    const std::string again = dir.Path().string() + "/./" + fs::path(disk.path).filename().string();
    const CliRun run = RunList({"--disk", text, "--disk", tiny, "--disk", blank, "--disk",
                                disk.path, "--disk", again, "list", "-r"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, StartsWith("Hard Disk 1\tdisk\nHard Disk 2\tdisk\nHard Disk 3\tdisk\n"
                                    "Hard Disk 4\tdisk\n  32-Bit FAT Disk"));
    EXPECT_EQ(run.out.find("Hard Disk 5"), std::string::npos);
    EXPECT_THAT(Lines(run.err),
                ElementsAre("moravel-cli: " + again + " is the same disk as " + disk.path +
                                ": it is read once.",
                            text + " holds no partition table and no FAT boot sector.",
                            tiny + " holds no partition table and no FAT boot sector: it is 6 "
                                   "bytes long, less than a sector.",
                            blank + " holds no partition table and no FAT boot sector."));
    EXPECT_EQ(run.err.back(), '\n');
}

TEST(CliFailureTest, OnlyAMissingDiskListsNothing) {
    TempDir dir;
    const CliRun run = RunList({"--disk", dir.File("absent.img"), "list", "--json"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(nlohmann::json::parse(run.out), nlohmann::json::array());
    EXPECT_THAT(run.err, HasSubstr("cannot open"));
}

TEST(CliFailureTest, AnUnreadableFolderIsReportedAndTheListingGoesOn) {
    TempDir dir;
    const std::string image = MakeDiskWithMissingDirectoryCluster(dir);
    const CliRun run = RunList({"--disk", image, "list", "-r", "Hard Disk 1/32-Bit FAT Disk"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Failed to access the sub directory\n");
    EXPECT_THAT(Lines(run.out),
                ElementsAre("FAT 1\tfat", "FAT 2\tfat", "Root Directory\troot",
                            "  BROKEN  .   \tdirectory", "  KEPT    .TS \tfile\t700 B\t700"));

    // The folder stays expanded, empty, in the JSON form.
    const CliRun json = RunList({"--disk", image, "list", "-r", "--json"});
    EXPECT_EQ(json.status, 1);
    const auto tree = nlohmann::json::parse(json.out);
    const auto& root = tree[0]["children"][0]["children"][2];
    EXPECT_EQ(root["children"][0]["name"], "BROKEN  .   ");
    EXPECT_EQ(root["children"][0]["children"], nlohmann::json::array());
}

// A folder that could not be read is no folder copied or checked: its files are
// unaccounted for, whether it is the folder asked for or one below it.
TEST(CliFailureTest, AnUnreadableFolderFailsACopyAndACheck) {
    TempDir dir;
    const std::string image = MakeDiskWithMissingDirectoryCluster(dir);
    const std::string root = "Hard Disk 1/32-Bit FAT Disk/Root Directory";
    fs::create_directories(dir.File("out"));
    for (const std::string& folder : {root + "/BROKEN", root}) {
        SCOPED_TRACE(folder);
        const CliRun copy = RunList({"--disk", image, "copy", folder, dir.File("out")});
        EXPECT_EQ(copy.status, 1);
        EXPECT_THAT(copy.out, HasSubstr(", 1 folder not or not wholly read.\n"));
        EXPECT_THAT(copy.err, HasSubstr("folder not or not wholly read: \"" + root + "/BROKEN\""));
        const CliRun check = RunList({"--disk", image, "check", folder});
        EXPECT_EQ(check.status, 1);
        EXPECT_THAT(check.out, HasSubstr(", 1 folder not or not wholly read.\n"));
    }
    // A FAT32 root is named as a FAT16 one is.
    EXPECT_TRUE(fs::is_directory(dir.File("out/Root Directory")));
    EXPECT_FALSE(fs::exists(dir.File("out/_")));
}

TEST(CliFailureTest, AFolderThatContainsItselfIsNotFollowed) {
    TempDir dir;
    const std::string image = MakeDiskWithDirectoryLoop(dir);
    const std::string root = "Hard Disk 1/32-Bit FAT Disk/Root Directory";
    const CliRun run = RunList({"--disk", image, "list", "-r", root});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(Lines(run.out),
                ElementsAre("LOOPDIR .   \tdirectory", "  BACK    .   \tdirectory"));
    EXPECT_EQ(run.err, "moravel-cli: not expanding \"" + root +
                           "/LOOPDIR/BACK\": the folder is one of its own parents\n");

    // Listed below the folder itself, the loop shows one level sooner.
    const CliRun inside = RunList({"--disk", image, "list", "-r", root + "/LOOPDIR"});
    EXPECT_EQ(inside.status, 1);
    EXPECT_THAT(Lines(inside.out), ElementsAre("BACK    .   \tdirectory"));

    // Without -r nothing is followed, so nothing is reported.
    const CliRun flat = RunList({"--disk", image, "list", root + "/LOOPDIR/BACK/BACK"});
    EXPECT_EQ(flat.status, 0);
    EXPECT_THAT(Lines(flat.out), ElementsAre("BACK    .   \tdirectory"));
}

TEST(CliFailureTest, AMissingBiosServiceLibraryIsReported) {
    TempDir dir;
    std::ostringstream out;
    std::ostringstream err;
    cli::CliEnvironment environment;
    environment.biosLibrary = dir.File("libDisk32.so");  // not there
    const int status = cli::RunCli({"--bios-services", "--disk", dir.File("any.img"), "list"}, out,
                                   err, environment);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "internal error 00003\n");
}

TEST(CliFailureTest, UsageErrorsExitWithTwo) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--disk", "x.img"},
                                               {"--disk", "x.img", "copy"},
                                               {"--disk", "x.img", "list", "--bogus"},
                                               {"--disk", "x.img", "list", "a", "b"},
                                               {"--disk"},
                                               {"-x", "list"}}) {
        const CliRun run = RunList(args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(run.out, "");
        EXPECT_THAT(run.err, StartsWith("moravel-cli: "));
    }
}

TEST(CliFailureTest, HelpGoesToStandardOutput) {
    const CliRun run = RunList({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, StartsWith("Usage: moravel-cli"));
    EXPECT_THAT(run.out, HasSubstr("--recursive"));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(RunList({"list", "-h"}).status, 0);
}

TEST(CliFailureTest, VersionGoesToStandardOutput) {
    const CliRun run = RunList({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "moravel-cli 1.0.3\n");
    EXPECT_EQ(run.err, "");
}

// No disk named, and none of the machine's disks can be opened: each is named
// with its reason, with the ways to get in (none for root), and the command fails.
TEST(CliFailureTest, WithoutRightsToTheMachinesDisksEachIsNamedAndTheCommandFails) {
    TempDir dir;
    const std::string device = dir.File("sda");
    { std::ofstream(device) << "x"; }
    const bool grouped = ::chown(device.c_str(), static_cast<uid_t>(-1), 6) == 0;
    cli::CliEnvironment environment;
    environment.findDisks = [&] { return DriveSources{{device, "/dev/missing-sdb"}, {}, true}; };
    environment.opener = [](const std::string&) -> OpenedSource {
        return Error{"Permission denied"};
    };
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(cli::RunCli({"list", "-r"}, out, err, environment), 1);
    EXPECT_EQ(out.str(), "");
    const std::vector<std::string> errors = Lines(err.str());
    ASSERT_EQ(errors.size(), 3u) << err.str();
    EXPECT_EQ(errors[0], "moravel-cli: " + device + ": Permission denied");
    EXPECT_EQ(errors[1], "moravel-cli: /dev/missing-sdb: Permission denied");
    EXPECT_THAT(errors[2], StartsWith("moravel-cli: no disk could be opened. Run it as root "
                                      "(sudo moravel-cli ...)"));
    EXPECT_THAT(errors[2], HasSubstr("or name a disk image with --disk PATH."));
    const ::group* owner = ::getgrgid(6);
    if (grouped && owner != nullptr) {
        EXPECT_THAT(errors[2], HasSubstr("join the group \"" + std::string(owner->gr_name) +
                                         "\" (sudo adduser $USER " + owner->gr_name));
    }

    // Root has all the rights there are: no advice to get more.
    environment.runsAsRoot = true;
    std::ostringstream rootErr;
    EXPECT_EQ(cli::RunCli({"list", "-r"}, out, rootErr, environment), 1);
    EXPECT_EQ(Lines(rootErr.str()).back(),
              "moravel-cli: no disk could be opened. Name a disk image with --disk PATH.");
}

// The scans of the folders on a path share one line on a terminal: rewritten
// when the number changes, it never starts over, and is wiped once, at the end.
TEST(CliProgressTest, ScanShowsAProgressLineOnATerminal) {
    TempDir dir;
    const RecorderDisk disk(dir);
    const std::string records = "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS";
    const CliRun quiet = RunList({"--disk", disk.path, "list", records}, false);
    EXPECT_EQ(quiet.err, "");

    const CliRun run = RunList({"--disk", disk.path, "list", records}, true);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, quiet.out);
    const std::regex wipe("\r +\r");
    const std::regex line("\rScanning file structure \\.\\.\\. Please wait\\. ([0-9]+)%");
    std::vector<int> percents;
    for (auto match = std::sregex_iterator(run.err.begin(), run.err.end(), line);
         match != std::sregex_iterator(); ++match) {
        percents.push_back(std::stoi((*match)[1]));
    }
    ASSERT_GE(percents.size(), 2u) << run.err;
    for (std::size_t i = 1; i < percents.size(); ++i) {
        EXPECT_GT(percents[i], percents[i - 1]) << run.err;
    }
    // The FAT32 root is the third level of four, and RECORDS is read to its end.
    EXPECT_EQ(percents.front(), 50);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(std::distance(std::sregex_iterator(run.err.begin(), run.err.end(), wipe),
                            std::sregex_iterator()),
              1);
    // The last thing written wipes the line.
    EXPECT_TRUE(std::regex_search(run.err, std::regex("\r +\r$"))) << run.err;
}

}  // namespace
}  // namespace moravel::testing
