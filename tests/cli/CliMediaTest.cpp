#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "CliTestImages.h"
#include "support/TestSources.h"
#include "support/Tools.h"

// info and thumbnail on a recording whose start lies on bad sectors: what they
// find past it, and what it costs the disk, in reads that fail (the preview reads
// through the same reader). A recording made by ffmpeg on a volume made by
// mkfs.fat and filled by mcopy.
namespace moravel::testing {
namespace {

using ::testing::HasSubstr;

constexpr char kRecording[] = "Hard Disk 1/32-Bit FAT Disk/Root Directory/NEWS0518.TS";
constexpr std::uint64_t kBadSectors = 128;  // the first 64 KiB

// Reads in the log from index `since` on that touched one of the sectors
// first..first + count - 1: each came in short, or not at all.
std::size_t FailedReads(const SourceLog& log, std::size_t since, std::uint64_t first,
                        std::uint64_t count) {
    std::size_t failed = 0;
    for (std::size_t i = since; i < log.reads.size(); ++i) {
        const SourceLog::Read& read = log.reads[i];
        failed += read.offset < (first + count) * 512 && read.offset + read.bytes > first * 512;
    }
    return failed;
}

// A drive retries a bad sector for seconds before it gives up: a look at a
// recording whose first 64 KiB are bad asks for them once, not once per sector
// of the run it reads, and finds the streams past them; the thumbnail halfway
// through comes, for one failed read too.
TEST(CliMediaTest, ABadAreaAtTheStartCostsALookOneFailedReadAndHidesNoPicture) {
    for (const char* tool : {"ffmpeg", "mkfs.fat", "mcopy"}) {
        if (FindTool(tool).empty()) {
            GTEST_SKIP() << "no " << tool << " (scripts/install-deps.sh installs it)";
        }
    }
    TempDir dir;
    const std::string image = dir.File("disk.img");
    const std::string stream = dir.File("NEWS0518.TS");
    int status = 0;
    const std::string made = RunCommand(
        "ffmpeg -loglevel error -f lavfi -i smptebars=d=5:s=320x240:r=25 -c:v mpeg2video"
        " -b:v 4M -minrate 4M -maxrate 4M -bufsize 1835k -f mpegts " +
            Quoted(stream) + " && mkfs.fat -C -F 32 -s 1 -n REC " + Quoted(image) +
            " 40000 >/dev/null && mcopy -i " + Quoted(image) + " " + Quoted(stream) + " ::/",
        status);
    ASSERT_EQ(status, 0) << made;
    ASSERT_GT(std::filesystem::file_size(stream), kBadSectors * 512);
    const CliRun where = RunList({"--disk", image, "info", "--json", kRecording});
    ASSERT_EQ(where.status, 0) << where.err;
    const auto json = nlohmann::json::parse(where.out);
    ASSERT_EQ(json["fragments"], 1);
    const std::uint64_t first = json["firstLba"];

    TestOpener opener;
    for (std::uint64_t sector = first; sector < first + kBadSectors; ++sector) {
        opener.MarkBad(image, sector);
    }
    cli::CliEnvironment environment;
    environment.opener = opener.Opener();
    const CliRun info = RunIn({"--disk", image, "info", kRecording}, environment);
    EXPECT_THAT(info.out, HasSubstr("\nStart:          not read (bytes 0-"));
    EXPECT_THAT(info.out, HasSubstr(" lie on a sector that could not be read); the streams were "
                                    "found from byte "));
    EXPECT_THAT(info.out, HasSubstr("\nVideo:          mpeg2video, 320x240, 25 frames/s\n"));
    EXPECT_EQ(FailedReads(opener.Log(), 0, first, kBadSectors), 1u);

    const std::size_t before = opener.Log().reads.size();
    const std::string png = dir.File("half.png");
    const CliRun thumbnail =
        RunIn({"--disk", image, "thumbnail", kRecording, png, "--at", "50%"}, environment);
    ASSERT_EQ(thumbnail.status, 0) << thumbnail.err;
    EXPECT_THAT(thumbnail.out, HasSubstr(": 320x240 at 0:0"));
    const std::string size = RunCommand(
        "ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + Quoted(png), status);
    EXPECT_EQ(size, "320,240\n");
    EXPECT_EQ(FailedReads(opener.Log(), before, first, kBadSectors), 1u);
}

}  // namespace
}  // namespace moravel::testing
