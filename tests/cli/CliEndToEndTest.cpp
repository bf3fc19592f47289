#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "CliTestImages.h"
#include "support/Tools.h"

namespace moravel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

// Runs the real program; its standard error goes to a file.
std::string RunProgram(const std::string& arguments, const std::string& errFile, int& status) {
    return RunCommand("(" + Quoted(MORAVEL_CLI) + " " + arguments + " 2>" + Quoted(errFile) + ")",
                      status);
}

TEST(CliEndToEndTest, ProgramListsAFolder) {
    TempDir dir;
    const RecorderDisk disk(dir);
    int status = -1;
    const std::string out =
        RunProgram("--disk " + Quoted(disk.path) +
                       " list 'Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/SUB'",
                   dir.File("err.txt"), status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "Deep file.bin\tfile\t4.0 KB\t4096\n");
    // Not a terminal: no progress line.
    EXPECT_EQ(FileText(dir.File("err.txt")), "");
}

// A file size limit (ulimit -f) ends the write that crosses it; the copy says so
// and fails, and the program is not killed by the signal the limit raises.
TEST(CliEndToEndTest, AFileSizeLimitFailsTheCopyWithAMessage) {
    TempDir dir;
    const CopyDisk disk(dir);
    const std::string dest = dir.File("Movie.ts");
    int status = -1;
    // 40 blocks of the shell's ulimit: far less than the 100,003-byte recording.
    const std::string out =
        RunCommand("(ulimit -f 40; " + Quoted(MORAVEL_CLI) + " --disk " + Quoted(disk.path) +
                       " copy " + Quoted(std::string(CopyDisk::kRecords) + "/Movie.ts") + " " +
                       Quoted(dest) + " 2>" + Quoted(dir.File("err.txt")) + ")",
                   status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "The file copying failed.\n");
    // The reason follows, and what was written is kept under a name that says so.
    const std::string kept = dest + ".part";
    const auto written = std::filesystem::file_size(kept);
    EXPECT_EQ(FileText(dir.File("err.txt")),
              "Error: Failed to complete writing to the file. Your harddrive may be full.\nNote "
              "that the fragment of the file that was succesfully copied may still be used.\n" +
                  kept + ": File too large\nmoravel-cli: not copied wholly; kept " +
                  std::to_string(written) + " bytes in " + kept + "\n");
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, CopyDisk::kMovieSize);
    EXPECT_FALSE(std::filesystem::exists(dest));
}

TEST(CliEndToEndTest, ProgramReportsAMissingDiskAndFailsWithOne) {
    TempDir dir;
    const std::string missing = dir.File("gone.img");
    int status = -1;
    const std::string out =
        RunProgram("--disk " + Quoted(missing) + " list --json", dir.File("err.txt"), status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(nlohmann::json::parse(out), nlohmann::json::array());
    EXPECT_THAT(FileText(dir.File("err.txt")),
                StartsWith("moravel-cli: cannot open " + missing + ": "));

    RunProgram("list --frobnicate", dir.File("err.txt"), status);
    EXPECT_EQ(status, 2);
}

// A relative destination lies in the folder the program runs in; the outcome
// is the only line on stdout.
TEST(CliEndToEndTest, ProgramCopiesAFile) {
    TempDir dir;
    const CopyDisk disk(dir);
    std::filesystem::create_directory(dir.Path() / "out");
    const std::string movie = std::string(CopyDisk::kRecords) + "/Movie.ts";
    const std::string err = dir.File("err.txt");
    int status = -1;
    const std::string out = RunCommand(
        "cd " + Quoted(dir.Path().string()) + " && " + Quoted(MORAVEL_CLI) + " --disk " +
            Quoted(disk.path) + " copy " + Quoted(movie) + " out/copy.ts 2>" + Quoted(err),
        status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "The file was succesfully copied\n");
    EXPECT_EQ(FileText(err), "");
    EXPECT_EQ(ReadBytes(dir.File("out/copy.ts")),
              ExpectedContent(disk.movieSeed, CopyDisk::kMovieSize, Content::Full,
                              CopyDisk::kClusterBytes));

    // Copied to stdout, the bytes are all that stdout gets: the outcome goes with
    // the messages.
    const std::string piped =
        RunCommand("(" + Quoted(MORAVEL_CLI) + " --disk " + Quoted(disk.path) + " copy " +
                       Quoted(movie) + " /dev/stdout 2>" + Quoted(err) + ")",
                   status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Bytes(piped.begin(), piped.end()),
              ExpectedContent(disk.movieSeed, CopyDisk::kMovieSize, Content::Full,
                              CopyDisk::kClusterBytes));
    EXPECT_EQ(FileText(err), "The file was succesfully copied\n");

    // A folder is copied into an existing folder only.
    RunProgram("--disk " + Quoted(disk.path) + " copy " + Quoted(CopyDisk::kRecords) + " " +
                   Quoted(dir.File("x")),
               err, status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(FileText(err), "moravel-cli: " + dir.File("x") +
                                 " is no folder: several files, or a folder, are copied into an "
                                 "existing folder\n");
    // One that cannot be looked at is named with the reason.
    const std::string tooLong = dir.File(std::string(300, 'x'));
    RunProgram("--disk " + Quoted(disk.path) + " copy " + Quoted(CopyDisk::kRecords) + " " +
                   Quoted(tooLong),
               err, status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(FileText(err), "moravel-cli: " + tooLong + ": " + std::strerror(ENAMETOOLONG) + "\n");
}

// A reader of stdout that went away (`| head -1`) ends no copy: all the files of
// a folder are copied, and stderr says that stdout did not take everything.
TEST(CliEndToEndTest, AStdoutWithoutAReaderEndsNoCopy) {
    TempDir dir;
    const CopyDisk disk(dir);
    const std::string out = dir.File("out");
    std::filesystem::create_directory(out);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[0]);  // nobody will read
    const std::string err = dir.File("err.txt");
    std::string failure;
    const pid_t pid =
        StartProgram({MORAVEL_CLI, "--disk", disk.path, "copy", CopyDisk::kRecords, out}, err, "",
                     failure, pipeEnds[1]);
    ::close(pipeEnds[1]);
    ASSERT_GT(pid, 0) << failure;
    int wait = 0;
    ASSERT_EQ(::waitpid(pid, &wait, 0), pid);
    ASSERT_TRUE(WIFEXITED(wait)) << "ended by signal " << WTERMSIG(wait);
    EXPECT_EQ(WEXITSTATUS(wait), 0) << FileText(err);
    EXPECT_EQ(FileText(err),
              "moravel-cli: not everything could be written to the standard output\n");
    EXPECT_EQ(ReadBytes(out + "/RECORDS/Movie.ts"),
              ExpectedContent(disk.movieSeed, CopyDisk::kMovieSize, Content::Full,
                              CopyDisk::kClusterBytes));
    EXPECT_EQ(std::filesystem::file_size(out + "/RECORDS/TRAILER.TS"), CopyDisk::kTrailerSize);
}

// A copy ended by the session (SIGHUP) or the system (SIGTERM) ends as Ctrl-C ends
// it: it says what it kept where, and leaves no file under the final name.
TEST(CliEndToEndTest, TermAndHangUpStopTheCopyAsCtrlCDoes) {
    TempDir dir;
    const RecorderDisk disk(dir);
    const std::string movie = "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Movie.ts";
    for (const std::string signal : {"TERM", "HUP"}) {
        SCOPED_TRACE(signal);
        const std::string out = dir.File(signal + ".ts");
        const std::string err = dir.File(signal + ".txt");
        int status = -1;
        // Signalled once the output has its first bytes: the copy is under way.
        const std::string said = RunCommand(
            Quoted(MORAVEL_CLI) + " --disk " + Quoted(disk.path) + " copy " + Quoted(movie) + " " +
                Quoted(out) + " 2>" + Quoted(err) + " & pid=$!; for i in $(seq 1000); do [ -s " +
                Quoted(out + ".part") + " ] && break; sleep 0.01; done; kill -" + signal +
                " $pid; wait $pid; echo \"exit $?\"",
            status);
        EXPECT_THAT(said, ::testing::HasSubstr("The file copying failed.\nexit 1\n"));
        EXPECT_THAT(FileText(err), ::testing::HasSubstr("interrupted; kept "));
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_TRUE(std::filesystem::exists(out + ".part"));
    }
}

// Through the BIOS disk-service library beside the program the same disk lists
// the same way; only the disk's size cannot be told through the services.
TEST(CliEndToEndTest, BiosServicesListTheSameTree) {
    TempDir dir;
    const RecorderDisk disk(dir);
    int devicesStatus = -1;
    const std::string devices = RunProgram("--disk " + Quoted(disk.path) + " list -r --json",
                                           dir.File("err1.txt"), devicesStatus);
    int biosStatus = -1;
    const std::string bios =
        RunProgram("--bios-services --disk " + Quoted(disk.path) + " list -r --json",
                   dir.File("err2.txt"), biosStatus);
    EXPECT_EQ(devicesStatus, 0) << FileText(dir.File("err1.txt"));
    EXPECT_EQ(biosStatus, 0) << FileText(dir.File("err2.txt"));
    auto tree = nlohmann::json::parse(devices);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0]["name"], "Hard Disk 1");
    EXPECT_EQ(tree[0]["size"], std::uint64_t{RecorderDisk::kDiskSectors} * 512);
    auto throughServices = nlohmann::json::parse(bios);
    ASSERT_EQ(throughServices.size(), 1u);
    EXPECT_EQ(throughServices[0]["size"], 0);
    tree[0].erase("size");
    throughServices[0].erase("size");
    EXPECT_EQ(throughServices, tree);
}

}  // namespace
}  // namespace moravel::testing
