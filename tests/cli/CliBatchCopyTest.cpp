#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "CliTestImages.h"
#include "copy/RescueMap.h"
#include "support/Tools.h"

// Copies of whole folders and of several recordings, checked against what mcopy
// itself copies out of the same volume: the same files, byte for byte, with the
// same modification times.
namespace moravel::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class CliBatchCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
        const std::string mkfs = FindTool("mkfs.fat");
        ASSERT_FALSE(mkfs.empty()) << "mkfs.fat (dosfstools) is not installed";
        ASSERT_FALSE(FindTool("mcopy").empty()) << "mtools is not installed";
        Run(mkfs + " -C -F 16 -s 4 " + Quoted(m_image) + " 20480");
        // A season: a folder of recordings with a folder of extras in it.
        const fs::path season = m_dir.Path() / "host" / "Season 2004";
        fs::create_directories(season / "Extras");
        for (int i = 0; i < 24; ++i) {
            HostFile(season / ("Episode " + std::to_string(i + 1) + " \u2013 Pilot.ts"),
                     1000 + 4099 * static_cast<std::size_t>(i),
                     "2004-0" + std::to_string(1 + i % 9) + "-1" + std::to_string(i % 10) +
                         " 20:15:0" + std::to_string(2 * (i % 5)));
        }
        HostFile(season / "Extras" / "TRAILER.TS", 777, "2004-12-24 18:00:00");
        HostFile(season / "Extras" / "empty.ts", 0, "2004-12-25 08:00:00");
        Run("touch -d '2004-06-01 12:00:00' " + Quoted((season / "Extras").string()) + " " +
            Quoted(season.string()));
        Run("LC_ALL=C.UTF-8 " + FindTool("mcopy") + " -s -m -i " + Quoted(m_image) + " " +
            Quoted(season.string()) + " ::/");
        HostFile(m_dir.Path() / "host" / "News.ts", 5000, "2004-05-17 21:30:58");
        Run(FindTool("mcopy") + " -m -i " + Quoted(m_image) + " " +
            Quoted((m_dir.Path() / "host" / "News.ts").string()) + " ::/");
    }

    void Run(const std::string& command) {
        int status = 0;
        const std::string output = RunCommand(command, status);
        ASSERT_EQ(status, 0) << command << "\n" << output;
    }

    void HostFile(const fs::path& path, std::size_t bytes, const std::string& date) {
        {
            std::ofstream out(path, std::ios::binary);
            for (std::size_t i = 0; i < bytes; ++i) {
                out.put(static_cast<char>(i * 13 + bytes));
            }
        }
        Run("touch -d " + Quoted(date) + " " + Quoted(path.string()));
    }

    // Every file below the folder by its path from there: its size, a sum of its
    // bytes, and its time.
    static std::map<std::string, std::string> Files(const fs::path& top) {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(top)) {
            struct stat info {};
            EXPECT_EQ(::stat(entry.path().c_str(), &info), 0);
            std::uint64_t sum = 0;
            std::uint64_t size = 0;
            if (entry.is_regular_file()) {
                std::ifstream in(entry.path(), std::ios::binary);
                for (int c = in.get(); c != EOF; c = in.get(), ++size) {
                    sum = sum * 31 + static_cast<unsigned char>(c);
                }
            }
            files[fs::relative(entry.path(), top).string()] =
                std::to_string(size) + " bytes, sum " + std::to_string(sum) + ", time " +
                std::to_string(info.st_mtime);
        }
        return files;
    }

    TempDir m_dir;
    std::string m_image = m_dir.File("recorder.img");
    const std::string kRoot = "Floppy Disk 1/Root Directory";
};

TEST_F(CliBatchCopyTest, AFolderIsCopiedAsMcopyCopiesIt) {
    const fs::path ours = m_dir.Path() / "ours";
    const fs::path theirs = m_dir.Path() / "theirs";
    fs::create_directories(ours);
    fs::create_directories(theirs);
    Run("LC_ALL=C.UTF-8 " + FindTool("mcopy") + " -s -m -i " + Quoted(m_image) + " " +
        Quoted("::/Season 2004") + " " + Quoted(theirs.string()));

    // In another case than on the disk, as a user types it.
    const CliRun run =
        RunList({"--floppy", m_image, "copy", kRoot + "/season 2004", ours.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Copied 26 of 26 files.\n"));
    const auto copied = Files(ours);
    EXPECT_EQ(copied.size(), 28u);  // 26 files and two folders
    EXPECT_EQ(copied, Files(theirs));

    // Run again, the files already there are left as they are.
    const CliRun again = RunList(
        {"--floppy", m_image, "copy", "--skip-existing", kRoot + "/Season 2004", ours.string()});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_THAT(again.out, HasSubstr("Copied 0 of 26 files, skipped 26 already there.\n"));
}

TEST_F(CliBatchCopyTest, SeveralSourcesGoIntoOneFolderAndAFailureDoesNotStopTheRest) {
    const fs::path out = m_dir.Path() / "out";
    fs::create_directories(out);
    // A file in the way of one of the outputs: that one fails, the others are copied.
    fs::create_directories(out / "Extras" / "TRAILER.TS");
    const CliRun run = RunList({"--floppy", m_image, "copy", kRoot + "/NEWS.TS",
                                kRoot + "/Season 2004/Extras", out.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Copied 2 of 3 files, 1 not or not wholly copied.\n"));
    EXPECT_THAT(run.err,
                HasSubstr("not copied wholly: \"" + kRoot + "/Season 2004/Extras/TRAILER.TS\""));
    EXPECT_EQ(fs::file_size(out / "News.ts"), 5000u);
    EXPECT_EQ(fs::file_size(out / "Extras" / "empty.ts"), 0u);

    // Into something that is no folder: nothing is copied.
    const CliRun notAFolder = RunList({"--floppy", m_image, "copy", kRoot + "/NEWS.TS",
                                       kRoot + "/Season 2004", (out / "News.ts").string()});
    EXPECT_EQ(notAFolder.status, 2);
    EXPECT_THAT(notAFolder.err, HasSubstr("is no folder"));
}

// FAT long names go up to 255 characters. 255 bytes are a Linux file name, but
// not with ".part" after them; 127 "Ä" and ".TS" (130 characters, 257 bytes of
// UTF-8) are none: such names are cut in their stems, keeping their extensions,
// and the copies are whole.
TEST_F(CliBatchCopyTest, NamesLongerThanTheDestinationTakesAreShortened) {
    const std::string ascii = std::string(252, 'L') + ".ts";
    std::string umlauts;
    for (int i = 0; i < 127; ++i) {
        umlauts += "\u00c4";
    }
    umlauts += ".TS";
    // The host's own file system takes no name of 257 bytes: mcopy names it on the disk.
    const fs::path host = m_dir.Path() / "host" / "LONG";
    fs::create_directories(host);
    HostFile(host / ascii, 3000, "2005-01-02 03:04:06");
    HostFile(host / "umlauts", 2000, "2005-01-02 03:04:08");
    Run(FindTool("mmd") + " -i " + Quoted(m_image) + " ::/LONG");
    for (const auto& [from, to] :
         {std::pair{ascii, ascii}, std::pair{std::string("umlauts"), umlauts}}) {
        Run("LC_ALL=C.UTF-8 " + FindTool("mcopy") + " -m -i " + Quoted(m_image) + " " +
            Quoted((host / from).string()) + " " + Quoted("::/LONG/" + to));
    }

    const fs::path out = m_dir.Path() / "out";
    fs::create_directories(out);
    const CliRun run = RunList({"--floppy", m_image, "copy", kRoot + "/LONG", out.string()});
    EXPECT_THAT(run.out, HasSubstr("Copied 2 of 2 files.\n")) << run.err;
    const auto copied = Files(out / "LONG");
    ASSERT_EQ(copied.size(), 2u);
    EXPECT_EQ(copied.at(ascii), Files(host).at(ascii));
    const std::string shortened = std::prev(copied.end())->first;
    EXPECT_LE(shortened.size(), 255u);
    EXPECT_EQ(shortened.substr(shortened.size() - 3), ".TS");
    EXPECT_EQ(shortened.substr(0, 100), umlauts.substr(0, 100));
    EXPECT_EQ(copied.at(shortened), Files(host).at("umlauts"));
}

// Ctrl-C during a copy of several files ends it after the cluster being copied:
// the files after it are not begun, and the user learns what was kept where.
TEST_F(CliBatchCopyTest, AStopEndsTheWholeCopyAndSaysWhatWasKept) {
    const fs::path out = m_dir.Path() / "out";
    fs::create_directories(out);
    volatile std::sig_atomic_t stop = 1;
    cli::CliEnvironment environment;
    environment.stopRequested = &stop;
    const CliRun run =
        RunIn({"--floppy", m_image, "copy", kRoot + "/Season 2004", out.string()}, environment);
    EXPECT_EQ(run.status, 1);
    // The first file is stopped after its first cluster; none after it is begun.
    EXPECT_THAT(run.out,
                HasSubstr("Copied 0 of 26 files, 1 not or not wholly copied, interrupted.\n"));
    EXPECT_THAT(run.err, HasSubstr("interrupted; kept "));
}

// A folder and a file of one name, copied together: the later one is numbered,
// folder or file, and neither is kept from its place.
TEST_F(CliBatchCopyTest, AFolderAndAFileOfOneNameAreBothCopied) {
    Run(FindTool("mmd") + " -i " + Quoted(m_image) + " ::/TRAILER.TS");
    const fs::path out = m_dir.Path() / "out";
    fs::create_directories(out);
    const CliRun run = RunList({"--floppy", m_image, "copy", kRoot + "/TRAILER.TS",
                                kRoot + "/Season 2004/Extras/TRAILER.TS", out.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_directory(out / "TRAILER.TS"));
    EXPECT_EQ(fs::file_size(out / "TRAILER (2).TS"), 777u);
}

// Copies from the recorder disk into an empty folder.
class RecorderDiskCopyTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(out); }

    TempDir dir;
    const RecorderDisk disk{dir};
    const fs::path out = dir.Path() / "out";
    const std::string records = "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/";
};

// Two entries of a damaged folder with one name: the second copy gets a name of
// its own rather than replacing the first.
TEST_F(RecorderDiskCopyTest, OutputsThatWouldShareANameAreNumbered) {
    const CliRun run = RunList({"--disk", disk.path, "copy", records + "#4", records + "#5",
                                records + "VIDEO.MPG", out.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fs::file_size(out / "Same name.ts"), 100u);
    EXPECT_EQ(fs::file_size(out / "Same name (2).ts"), 200u);
    EXPECT_TRUE(fs::exists(out / "VIDEO.MPG"));
}

// --skip-existing skips a file exactly when every output this copy would write is
// there at its size: the parts of a split copy, not a whole file of that size,
// and never an output whose rescue has passes to go.
TEST_F(RecorderDiskCopyTest, SkipExistingSkipsOnlyWhatThisCopyWouldWriteWhole) {
    const auto sized = [](const fs::path& path, std::uint64_t size) {
        std::ofstream(path).close();
        fs::resize_file(path, size);
    };
    // Parts take whole 32 KiB clusters below 4 GiB - 1: 131,071 clusters, then the rest.
    const std::uint64_t first = 131'071ull * 32768;
    sized(out / "Movie_1.ts", first);
    sized(out / "Movie_2.ts", RecorderDisk::kMovieSize - first);
    sized(out / "VIDEO.MPG", 2000);
    const std::vector<std::string> args = {"--disk",
                                           disk.path,
                                           "copy",
                                           "--skip-existing",
                                           "--split",
                                           "always",
                                           records + "Movie.ts",
                                           records + "VIDEO.MPG",
                                           out.string()};
    const CliRun parts = RunList(args);
    EXPECT_EQ(parts.status, 0) << parts.err;
    EXPECT_THAT(parts.out, HasSubstr("Copied 0 of 2 files, skipped 2 already there.\n"));

    // With a part missing, the copy is made again; on a destination without room
    // (a file-size limit stands in for it) the finished first part stays whole.
    fs::remove(out / "Movie_2.ts");
    CliRun full;
    WithFileSizeLimit(100'000, [&] { full = RunList(args); });
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(fs::file_size(out / "Movie_1.ts"), first);

    // A whole file where parts are asked for, and a rescue that has a pass to go:
    // each is begun (and stopped at once), not skipped.
    fs::remove(out / "Movie_1.ts");
    sized(out / "Movie.ts", RecorderDisk::kMovieSize);
    RescueMapFile map{{"drive 0x80", RecorderDisk::kFat32Start, 5, 2000, 1},
                      RescuePass::Retry,
                      0,
                      0,
                      RescueMap(2000),
                      {}};
    std::ofstream(out / "VIDEO.MPG.moravel-map") << FormatRescueMap(map);
    volatile std::sig_atomic_t stop = 1;
    cli::CliEnvironment environment;
    environment.stopRequested = &stop;
    for (const std::string file : {"Movie.ts", "VIDEO.MPG"}) {
        SCOPED_TRACE(file);
        const CliRun run = RunIn({"--disk", disk.path, "copy", "--skip-existing", "--split",
                                  "always", records + file, records + "Same name.ts", out.string()},
                                 environment);
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.out, HasSubstr("Copied 0 of 2 files, 1 not or not wholly copied, "
                                       "interrupted.\n"));
    }
    map.pass = RescuePass::Done;
    std::ofstream(out / "VIDEO.MPG.moravel-map") << FormatRescueMap(map);
    const CliRun done = RunList({"--disk", disk.path, "copy", "--skip-existing",
                                 records + "VIDEO.MPG", records + "Same name.ts", out.string()});
    EXPECT_THAT(done.out, HasSubstr("Skipped (already there): " + (out / "VIDEO.MPG").string()));

    // One file is skipped as one of several is, its parts left as they are.
    sized(out / "Movie_1.ts", first);
    sized(out / "Movie_2.ts", RecorderDisk::kMovieSize - first);
    const CliRun one = RunList({"--disk", disk.path, "copy", "--skip-existing", "--split", "always",
                                records + "Movie.ts", out.string()});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, "Skipped (already there): " + (out / "Movie.ts").string() + "\n");
    EXPECT_EQ(one.err, "");
    // Without it, the parts there are named as replaced: said, not asked, as
    // nothing waits for an answer (the copy is stopped at once).
    const CliRun replaced = RunIn(
        {"--disk", disk.path, "copy", "--split", "always", records + "Movie.ts", out.string()},
        environment);
    EXPECT_THAT(replaced.err, HasSubstr("already and will be replaced:"));
    EXPECT_THAT(replaced.err, Not(HasSubstr("Replace them?")));
}

}  // namespace
}  // namespace moravel::testing
