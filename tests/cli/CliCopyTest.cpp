#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>

#include "CliTestImages.h"
#include "cli/CopyProgressLine.h"
#include "copy/CopyTarget.h"
#include "support/MemoryTarget.h"
#include "support/TestSources.h"

namespace moravel::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr char kCopied[] = "The file was succesfully copied\n";
constexpr char kFailed[] = "The file copying failed.\n";
constexpr char kCannotCreate[] =
    "The file could not be created. Make shure that the filename and path is accessible.\n";
constexpr char kMovie[] = "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/Movie.ts";

std::string InRecords(const std::string& name) {
    return std::string(CopyDisk::kRecords) + "/" + name;
}

// The byte an in-memory output holds at an offset: a stored write's, else zero.
std::uint8_t StoredByte(const MemoryTarget::File& file, std::uint64_t offset) {
    auto chunk = file.data.upper_bound(offset);
    if (chunk == file.data.begin()) {
        return 0;
    }
    --chunk;
    const std::uint64_t inside = offset - chunk->first;
    return inside < chunk->second.size() ? chunk->second[static_cast<std::size_t>(inside)] : 0;
}

// Checks an in-memory output that should hold the bytes [from, from + size) of
// a file the builder wrote with Content::Ends: every write that was kept holds
// the file's bytes, and both written clusters of the file (where it is not all
// zeros) are there. Everything else of such a file is zeros, as is everything
// of the output that was not kept.
void ExpectEndsContent(const MemoryTarget::File& file, std::uint64_t from, std::uint64_t size,
                       std::uint32_t seed, std::uint64_t fileSize, std::uint32_t clusterBytes) {
    ASSERT_EQ(file.size, size);
    const std::uint64_t lastStart = (fileSize - 1) / clusterBytes * clusterBytes;
    auto expected = [&](std::uint64_t o) {
        return o < clusterBytes || o >= lastStart ? ContentByte(seed, o) : std::uint8_t{0};
    };
    for (const auto& [offset, bytes] : file.data) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            ASSERT_EQ(bytes[i], expected(from + offset + i)) << "at " << offset + i;
        }
    }
    for (const auto& [begin, end] : {std::pair{std::uint64_t{0}, std::uint64_t{clusterBytes}},
                                     std::pair{lastStart, fileSize}}) {
        for (std::uint64_t o = std::max(begin, from); o < std::min(end, from + size); ++o) {
            ASSERT_EQ(StoredByte(file, o - from), expected(o)) << "at " << o - from;
        }
    }
}

Bytes Expected(std::uint32_t seed, std::uint64_t size, Content content = Content::Full) {
    return ExpectedContent(seed, size, content, CopyDisk::kClusterBytes);
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A clock that moves a quarter second every time it is read.
std::function<double()> SteppingClock() {
    auto now = std::make_shared<double>(100.0);
    return [now] { return *now += 0.25; };
}

TEST(CliCopyTest, CopiesFilesByteForByteToTheFilePathGiven) {
    TempDir dir;
    const CopyDisk disk(dir);
    // An existing file is replaced, not written over in place.
    const std::string movie = dir.File("movie copy.ts");
    WriteText(movie, std::string(200'000, 'x'));
    const CliRun run = RunList({"--disk", disk.path, "copy", InRecords("Movie.ts"), movie});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kCopied);
    EXPECT_EQ(run.err, "");  // not a terminal: no progress line
    EXPECT_EQ(ReadBytes(movie), Expected(disk.movieSeed, CopyDisk::kMovieSize));

    const std::string sparse = dir.File("sparse.bin");
    const CliRun sparseRun = RunList({"--disk", disk.path, "copy", InRecords("Sparse.ts"), sparse});
    EXPECT_EQ(sparseRun.status, 0);
    EXPECT_EQ(sparseRun.out, kCopied);
    EXPECT_EQ(ReadBytes(sparse), Expected(disk.sparseSeed, CopyDisk::kSparseSize, Content::Ends));
}

TEST(CliCopyTest, IntoAFolderTheFileKeepsItsName) {
    TempDir dir;
    const CopyDisk disk(dir);
    const fs::path folder = dir.Path() / "out";
    fs::create_directory(folder);
    const CliRun run =
        RunList({"--disk", disk.path, "copy", InRecords("Movie.ts"), folder.string()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kCopied);
    EXPECT_EQ(ReadBytes((folder / "Movie.ts").string()),
              Expected(disk.movieSeed, CopyDisk::kMovieSize));

    // The name's single bytes become UTF-8 in the file name; a trailing slash
    // changes nothing.
    const CliRun cafe = RunList(
        {"--disk", disk.path, "copy", InRecords("Caf\u00E9 \u20AC.ts"), folder.string() + "/"});
    EXPECT_EQ(cafe.status, 0);
    EXPECT_EQ(ReadBytes((folder / "Caf\u00E9 \u20AC.ts").string()),
              Expected(disk.cafeSeed, CopyDisk::kCafeSize));

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre("Caf\u00E9 \u20AC.ts", "Movie.ts"));
}

// An entry without a long name is saved as a file of this machine would be
// called: "TRAILER .TS " as TRAILER.TS.
TEST(CliCopyTest, IntoAFolderAShortNameLosesItsPadding) {
    TempDir dir;
    const CopyDisk disk(dir);
    const fs::path folder = dir.Path() / "out";
    fs::create_directory(folder);
    const CliRun run =
        RunList({"--disk", disk.path, "copy", InRecords("TRAILER .TS "), folder.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes((folder / "TRAILER.TS").string()),
              Expected(disk.trailerSeed, CopyDisk::kTrailerSize));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

// A name from the disk that would lead out of the destination folder (or be
// none) is made safe: its '/' becomes '_'.
TEST(CliCopyTest, ANameThatCannotBeAFileIsMadeSafeInTheFolder) {
    TempDir dir;
    const CopyDisk disk(dir);
    // "a/b" is reached by its number: find it in the listing.
    const CliRun listing = RunList({"--disk", disk.path, "list", "--json", CopyDisk::kRecords});
    ASSERT_EQ(listing.status, 0) << listing.err;
    std::string slashPath;
    for (const auto& item : nlohmann::json::parse(listing.out)) {
        if (item["name"] == "a/b") {
            slashPath = item["path"];
        }
    }
    ASSERT_THAT(slashPath, StartsWith(std::string(CopyDisk::kRecords) + "/#"));

    const fs::path folder = dir.Path() / "out";
    fs::create_directory(folder);
    const CliRun run = RunList({"--disk", disk.path, "copy", slashPath, folder.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kCopied);
    EXPECT_EQ(fs::file_size(folder / "a_b"), 700u);
    EXPECT_FALSE(fs::exists(folder / "a"));

    const CliRun named =
        RunList({"--disk", disk.path, "copy", slashPath, (folder / "ab.bin").string()});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(fs::file_size(folder / "ab.bin"), 700u);
}

// Split behaviour on a recording of more than 4 GiB, copied to memory: the
// destination's own file system decides unless --split always says FAT32.
TEST(CliCopyTest, SplitAlwaysCopiesABigRecordingInParts) {
    TempDir dir;
    const RecorderDisk disk(dir);
    MemoryTarget target("NTFS", "/media/usb/");
    cli::CliEnvironment environment;
    environment.copyTarget = &target;
    // Holes of the image are served without reading them: 4.5 GiB in moments.
    TestOpener opener;
    environment.opener = opener.Opener();
    const CliRun run =
        RunIn({"--disk", disk.path, "copy", "--split", "always", kMovie, "/media/usb/Movie.ts"},
              environment);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kCopied);
    // The destination is NTFS: the notice does not claim it is FAT32. The parts
    // are named before and after.
    EXPECT_EQ(run.err,
              "Splitting as asked: the file will be copied in multiple parts of at most 4 GB.\n"
              "It goes in 2 parts: Movie_1.ts, Movie_2.ts.\nTo play them as one, join them on a "
              "drive that takes large files (cat Movie_1.ts Movie_2.ts > Movie.ts), or open them "
              "in turn in a player.\nmoravel-cli: in 2 parts in /media/usb/: Movie_1.ts, "
              "Movie_2.ts\n");
    ASSERT_THAT(target.created, ElementsAre("/media/usb/Movie_1.ts", "/media/usb/Movie_2.ts"));
    // 32 KiB clusters: the whole clusters that fit in 4 GiB - 2 bytes.
    constexpr std::uint64_t kFirstPart = 131'071ull * 32'768;
    constexpr std::uint64_t kSize = RecorderDisk::kMovieSize;
    ExpectEndsContent(target.files["/media/usb/Movie_1.ts"], 0, kFirstPart, disk.movieSeed, kSize,
                      32'768);
    ExpectEndsContent(target.files["/media/usb/Movie_2.ts"], kFirstPart, kSize - kFirstPart,
                      disk.movieSeed, kSize, 32'768);
}

// The same choice, seen at the start of copies that are stopped after their
// first cluster (as Ctrl-C does): what was written stays, and the copy fails.
TEST(CliCopyTest, SplitAutoFollowsTheDestinationAndAStopKeepsWhatWasWritten) {
    TempDir dir;
    const RecorderDisk disk(dir);
    volatile std::sig_atomic_t stop = 1;
    struct Case {
        const char* fileSystem;
        const char* split;
        std::vector<std::string> created;
        bool notice;
    };
    const Case cases[] = {
        {"NTFS", "auto", {"/media/usb/Movie.ts"}, false},
        {"FAT32", "auto", {"/media/usb/Movie_1.ts"}, true},
        {"ext4", "always", {"/media/usb/Movie_1.ts"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fileSystem) + " " + c.split);
        MemoryTarget target(c.fileSystem, "/media/usb/");
        cli::CliEnvironment environment;
        environment.copyTarget = &target;
        environment.stopRequested = &stop;
        const CliRun run = RunIn({"--disk", disk.path, "copy", "--split=" + std::string(c.split),
                                  kMovie, "/media/usb/Movie.ts"},
                                 environment);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kFailed);
        EXPECT_EQ(run.err.find("file will be copied in multiple parts") != std::string::npos,
                  c.notice)
            << run.err;
        ASSERT_EQ(target.created, c.created);
        // The user learns what the stop left behind.
        EXPECT_THAT(run.err, ::testing::EndsWith("moravel-cli: interrupted; kept 32768 bytes in " +
                                                 c.created[0] + ".part\n"));
        EXPECT_EQ(target.files.count(c.created[0]), 0u);
        ExpectEndsContent(target.files[c.created[0] + ".part"], 0, 32'768, disk.movieSeed,
                          RecorderDisk::kMovieSize, 32'768);
    }
}

TEST(CliCopyTest, SplitAlwaysLeavesASmallFileWhole) {
    TempDir dir;
    const CopyDisk disk(dir);
    const std::string dest = dir.File("Movie.ts");
    const CliRun run =
        RunList({"--disk", disk.path, "copy", "--split", "always", InRecords("Movie.ts"), dest});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kCopied);
    EXPECT_EQ(run.err, "");  // no notice: a small file is never split
    EXPECT_EQ(ReadBytes(dest), Expected(disk.movieSeed, CopyDisk::kMovieSize));
    EXPECT_FALSE(fs::exists(dir.File("Movie_1.ts")));
}

// The command creates its files by full path, as the Save dialog gives them.
TEST(CliCopyTest, ARelativeDestinationIsMadeAbsolute) {
    TempDir dir;
    const CopyDisk disk(dir);
    MemoryTarget target("ext4", "/");
    cli::CliEnvironment environment;
    environment.copyTarget = &target;
    const CliRun run = RunIn(
        {"--disk", disk.path, "copy", InRecords("Movie.ts"), "not here/Copy.ts"}, environment);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(target.created, ElementsAre((fs::current_path() / "not here/Copy.ts").string()));
    EXPECT_FALSE(fs::exists("not here"));
}

TEST(CliCopyTest, OldFatDestinationsAreRefusedAndNothingIsCreated) {
    TempDir dir;
    const CopyDisk disk(dir);
    MemoryTarget target("FAT16", "/media/stick/");
    cli::CliEnvironment environment;
    environment.copyTarget = &target;
    const CliRun run = RunIn(
        {"--disk", disk.path, "copy", InRecords("Movie.ts"), "/media/stick/Movie.ts"}, environment);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kFailed);
    EXPECT_EQ(run.err,
              "The destination drive /media/stick/ uses the FAT16 file system.\nOnly FAT32 and "
              "NTFS file stystems are supported.\n");
    EXPECT_THAT(target.created, IsEmpty());
}

// A FAT version that could not be read is taken as FAT32, and stderr says so.
TEST(CliCopyTest, AGuessedFileSystemIsSaidOnStderr) {
    TempDir dir;
    const CopyDisk disk(dir);
    MemoryTarget target("FAT32", "/media/stick/");
    target.note = "The FAT version of /media/stick/ could not be read; it is taken as FAT32.";
    cli::CliEnvironment environment;
    environment.copyTarget = &target;
    const CliRun run = RunIn(
        {"--disk", disk.path, "copy", InRecords("Movie.ts"), "/media/stick/Movie.ts"}, environment);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kCopied);
    EXPECT_EQ(run.err, "moravel-cli: " + target.note + "\n");
}

// The missing folder is named, whether the destination names a file in it or the
// folder itself (with its '/').
TEST(CliCopyTest, ADestinationFolderThatDoesNotExistFails) {
    TempDir dir;
    const CopyDisk disk(dir);
    const fs::path folder = dir.Path() / "none";
    for (const std::string& dest : {(folder / "Movie.ts").string(), folder.string() + "/"}) {
        const CliRun run = RunList({"--disk", disk.path, "copy", InRecords("Movie.ts"), dest});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kFailed);
        EXPECT_EQ(run.err, std::string(kCannotCreate) + (folder / "Movie.ts").string() +
                               ": the folder " + folder.string() + "/ does not exist\n");
        EXPECT_FALSE(fs::exists(folder));
    }
}

TEST(CliCopyTest, TreePathsThatNameNoFileAreUsageErrors) {
    TempDir dir;
    const CopyDisk disk(dir);
    const std::string dest = dir.File("out.ts");
    const std::pair<std::string, std::string> cases[] = {
        // A folder goes into a folder only.
        {CopyDisk::kRecords,
         "moravel-cli: " + dest +
             " is no folder: several files, or a folder, are copied into an existing folder\n"},
        {"Hard Disk 1/32-Bit FAT Disk",
         "moravel-cli: \"Hard Disk 1/32-Bit FAT Disk\" is not a file or folder\n"},
        {"/", "moravel-cli: \"/\" is not a file\n"},
        {InRecords("Nothing.ts"),
         "moravel-cli: no \"Nothing.ts\" in \"" + std::string(CopyDisk::kRecords) +
             "\", which holds \"Movie.ts\", \"Sparse.ts\", \"Caf\u00E9 \u20AC.ts\", \"#4\", "
             "\"TRAILER.TS\"\n"},
        {"Hard Disk 2/x",
         "moravel-cli: no \"Hard Disk 2\" among the disks, which are \"Hard Disk 1\"\n"},
    };
    for (const auto& [treePath, message] : cases) {
        const CliRun run = RunList({"--disk", disk.path, "copy", treePath, dest});
        EXPECT_EQ(run.status, 2) << treePath;
        EXPECT_EQ(run.out, "") << treePath;
        EXPECT_EQ(run.err, message);
    }
    EXPECT_FALSE(fs::exists(dest));

    const CliRun missing = RunList({"--disk", disk.path, "copy", InRecords("Movie.ts")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_THAT(missing.err, StartsWith("moravel-cli: copy needs DEST\n"));
}

// A path that leads nowhere because something on the way could not be read may
// be right: that is a failure, not a usage error.
TEST(CliCopyTest, PathsThroughUnreadablePlacesFailWithOne) {
    TempDir dir;
    const std::string gone = dir.File("gone.img");
    const CliRun run = RunList({"--disk", gone, "copy", kMovie, dir.File("out.ts")});
    EXPECT_EQ(run.status, 1);
    const auto errors = Lines(run.err);
    ASSERT_EQ(errors.size(), 2u) << run.err;
    EXPECT_THAT(errors[0], StartsWith("moravel-cli: cannot open " + gone + ": "));
    EXPECT_EQ(errors[1],
              "moravel-cli: no \"Hard Disk 1\" among the disks, of which there are none");

    const std::string broken = MakeDiskWithMissingDirectoryCluster(dir);
    const CliRun lost =
        RunList({"--disk", broken, "copy",
                 "Hard Disk 1/32-Bit FAT Disk/Root Directory/BROKEN/LOST.TS", dir.File("out.ts")});
    EXPECT_EQ(lost.status, 1);
    EXPECT_THAT(Lines(lost.err), ElementsAre("Failed to access the sub directory",
                                             "moravel-cli: no \"LOST.TS\" in \"Hard Disk 1/32-Bit "
                                             "FAT Disk/Root Directory/BROKEN\", which could "
                                             "not be read"));
    EXPECT_FALSE(fs::exists(dir.File("out.ts")));
}

// The disk being read is never written: not by its path, nor through a link.
TEST(CliCopyTest, ADiskBeingReadIsNeverTheDestination) {
    TempDir dir;
    const CopyDisk disk(dir);
    const auto size = fs::file_size(disk.path);
    const std::string link = dir.File("link.img");
    fs::create_hard_link(disk.path, link);
    for (const std::string& dest : {disk.path, link}) {
        const CliRun run = RunList({"--disk", disk.path, "copy", InRecords("Movie.ts"), dest});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kFailed);
        EXPECT_EQ(run.err, std::string(kCannotCreate) + dest + ": it is a disk being read\n");
        EXPECT_FALSE(fs::exists(dest + ".part"));
        EXPECT_EQ(fs::file_size(disk.path), size);
#ifndef _WIN32
        // A picture of a recording goes through the same guard, before anything is read.
        const CliRun picture =
            RunList({"--disk", disk.path, "thumbnail", InRecords("Movie.ts"), dest});
        EXPECT_EQ(picture.status, 1);
        EXPECT_EQ(picture.err, "moravel-cli: " + dest + ": it is a disk being read\n");
        EXPECT_EQ(fs::file_size(disk.path), size);
#endif
    }
    // The disk can still be read: nothing was written to it.
    const CliRun after =
        RunList({"--disk", disk.path, "copy", InRecords("Movie.ts"), dir.File("Movie.ts")});
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(ReadBytes(dir.File("Movie.ts")), Expected(disk.movieSeed, CopyDisk::kMovieSize));
}

// A rescue map given the output's place, by any spelling, would take the
// recording's place: it is refused before anything is read or written.
TEST(CliCopyTest, ARescueMapInTheOutputsPlaceIsRefused) {
    TempDir dir;
    const CopyDisk disk(dir);
    fs::create_directories(dir.File("sub"));
    const std::string out = dir.File("out.ts");
    const CliRun first = RunList({"--disk", disk.path, "copy", "--rescue", "--map",
                                  dir.File("out.map"), InRecords("Movie.ts"), out});
    EXPECT_EQ(first.status, 0) << first.err;
    fs::create_symlink(out, dir.File("link.ts"));
    for (const std::string& map :
         {out, dir.File("sub/../out.ts"), out + ".part", dir.File("link.ts")}) {
        SCOPED_TRACE(map);
        const CliRun run = RunList(
            {"--disk", disk.path, "copy", "--rescue", "--map", map, InRecords("Movie.ts"), out});
        EXPECT_EQ(run.status, 2);
        EXPECT_THAT(run.err, ::testing::HasSubstr("the map needs a place of its own"));
        EXPECT_EQ(ReadBytes(out), Expected(disk.movieSeed, CopyDisk::kMovieSize));
        EXPECT_FALSE(fs::exists(out + ".part"));
    }
}

// The block device that holds a folder's file system, as /dev names it; empty when this
// machine shows none (a tmpfs, a btrfs subvolume, a container without device nodes).
std::string BlockDeviceHolding(const fs::path& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        return "";
    }
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/dev", error)) {
        struct stat node {};
        if (::lstat(entry.path().c_str(), &node) == 0 && S_ISBLK(node.st_mode) &&
            node.st_rdev == status.st_dev) {
            found.push_back(entry.path().string());
        }
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? "" : found.front();
}

TEST(CliCopyTest, AFileSystemOnADiskBeingReadIsNeverTheDestination) {
    // The disk being read is the block device that the temporary folder's file system lies
    // on; its sectors come from a recorder disk image, so that nothing of the real device is
    // read and the copy has a file to copy.
    TempDir dir;
    const CopyDisk disk(dir);
    const std::string device = BlockDeviceHolding(dir.Path());
    if (device.empty()) {
        GTEST_SKIP() << "the temporary folder lies on no block device in /dev";
    }
    cli::CliEnvironment environment;
    environment.opener = [&disk, &device](const std::string& path) {
        return OpenFileSource(path == device ? disk.path : path);
    };
    const std::string dest = dir.File("Movie.ts");
    const CliRun run = RunIn({"--disk", device, "copy", InRecords("Movie.ts"), dest}, environment);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kFailed);
    // The reason names the device by its name in /dev, which may differ from the path given.
    const std::string said = std::string(kCannotCreate) + dest + ": it is on a disk being read (";
    ASSERT_THAT(run.err, StartsWith(said));
    ASSERT_THAT(run.err, EndsWith(")\n"));
    const std::string named = run.err.substr(said.size(), run.err.size() - said.size() - 2);
    struct stat given {};
    struct stat shown {};
    ASSERT_EQ(::stat(device.c_str(), &given), 0);
    ASSERT_EQ(::stat(named.c_str(), &shown), 0) << named;
    EXPECT_EQ(shown.st_rdev, given.st_rdev);
    EXPECT_FALSE(fs::exists(dest));

    // The same disk read from its image file: the folder is free.
    const CliRun image = RunList({"--disk", disk.path, "copy", InRecords("Movie.ts"), dest});
    EXPECT_EQ(image.status, 0) << image.err;
    EXPECT_EQ(ReadBytes(dest), Expected(disk.movieSeed, CopyDisk::kMovieSize));
}

TEST(CliCopyTest, OnATerminalTheProgressLineRunsToTheEndAndIsCleared) {
    TempDir dir;
    const CopyDisk disk(dir);
    cli::CliEnvironment environment;
    environment.progressLine = true;
    environment.clock = SteppingClock();
    const CliRun run =
        RunIn({"--disk", disk.path, "copy", InRecords("Movie.ts"), dir.File("m.ts")}, environment);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kCopied);  // the outcome is on stdout, not on the progress line

    // The copy's lines follow the scans' lines; each is drawn after a '\r' (a
    // shorter one over a longer one: spaces, '\r', then the line again).
    const auto first = run.err.find("\rCopying");
    ASSERT_NE(first, std::string::npos) << run.err;
    std::vector<std::string> shown;
    for (std::string::size_type at = first; at != std::string::npos;) {
        const auto next = run.err.find('\r', at + 1);
        std::string text = run.err.substr(at + 1, next == std::string::npos ? next : next - at - 1);
        text.erase(text.find_last_not_of(' ') + 1);
        if (shown.empty() || shown.back() != text || text.empty()) {
            shown.push_back(text);
        }
        at = next;
    }
    // At the end the line is blanked and the cursor left at its start.
    ASSERT_GE(shown.size(), 3u);
    const std::string last = shown[shown.size() - 3];
    EXPECT_THAT(run.err, EndsWith(last + "\r" + std::string(last.size(), ' ') + "\r"));
    shown.resize(shown.size() - 2);

    EXPECT_EQ(shown.front(), "Copying   0%  --.- MB/s  ETA --:--");
    const std::regex form(R"(Copying +(\d+)%  \d+\.\d MB/s  ETA \d+:\d\d)");
    int percent = 0;
    for (std::size_t i = 1; i < shown.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(shown[i], match, form)) << shown[i];
        EXPECT_GE(std::stoi(match[1]), percent);
        percent = std::stoi(match[1]);
    }
    EXPECT_EQ(percent, 100);
    EXPECT_EQ(ReadBytes(dir.File("m.ts")), Expected(disk.movieSeed, CopyDisk::kMovieSize));
}

TEST(CliCopyTest, ProgressTextShowsTheRateAndTheTimeLeft) {
    constexpr std::uint64_t kMiB = 1'048'576;
    const auto line = [](int percent, std::uint64_t done, std::uint64_t all, double seconds) {
        return cli::CopyProgressText(percent, RateAndTimeLeft(done, all, seconds));
    };
    EXPECT_EQ(line(0, 0, kMiB, 3.0), "Copying   0%  --.- MB/s  ETA --:--");
    EXPECT_EQ(line(5, kMiB, 2 * kMiB, 0.0), "Copying   5%  --.- MB/s  ETA --:--");
    EXPECT_EQ(line(50, 10 * kMiB, 20 * kMiB, 2.0), "Copying  50%  5.0 MB/s  ETA 0:02");
    EXPECT_EQ(line(40, 2 * kMiB, 5 * kMiB, 4.0), "Copying  40%  0.5 MB/s  ETA 0:06");
    // 1.5 seconds left show as 2.
    EXPECT_EQ(line(40, kMiB, 5 * kMiB / 2, 1.0), "Copying  40%  1.0 MB/s  ETA 0:02");
    EXPECT_EQ(line(1, kMiB, 62 * kMiB, 1.0), "Copying   1%  1.0 MB/s  ETA 1:01");
    EXPECT_EQ(line(1, kMiB, 3601 * kMiB, 1.0), "Copying   1%  1.0 MB/s  ETA 1:00:00");
    EXPECT_EQ(line(101, 3 * kMiB + 1, 3 * kMiB + 1, 1.5), "Copying 100%  2.0 MB/s  ETA 0:00");
    EXPECT_EQ(line(99, 300 * kMiB, 301 * kMiB, 0.5), "Copying  99%  600.0 MB/s  ETA 0:01");
}

// Over a bad area the line says how many sectors failed, never a time left;
// once a stretch reads well again, the rate is that of the reads since.
TEST(CliCopyTest, PaceSaysSectorsFailWhileTheyDo) {
    constexpr std::uint64_t kMiB = 1'048'576;
    CopyPace pace;
    pace.Start(0, 0.0);
    pace.Copied(kMiB, 1.0);
    EXPECT_EQ(pace.Text(kMiB, 100 * kMiB, 1.0), "1.0 MB/s  ETA 1:39");
    pace.Unreadable(1, kMiB);
    pace.Unreadable(312, kMiB);
    pace.Copied(kMiB + kMiB / 2, 40.0);
    EXPECT_EQ(pace.Text(kMiB + kMiB / 2, 100 * kMiB, 40.0),
              "Reading around unreadable sectors: 312 so far");
    pace.Copied(2 * kMiB, 41.0);
    EXPECT_FALSE(pace.AroundUnreadable());
    EXPECT_EQ(pace.Text(2 * kMiB, 100 * kMiB, 41.0), "--.- MB/s  ETA --:--");
    // 10 MiB in 1 s after the bad area: the 40 s spent on it count for nothing.
    EXPECT_EQ(pace.Text(12 * kMiB, 100 * kMiB, 42.0), "10.0 MB/s  ETA 0:09");
}

}  // namespace
}  // namespace moravel::testing
