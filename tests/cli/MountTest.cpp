// moravel-cli mount, mounted for real, on volumes made by mkfs.fat and mtools and
// on crafted ones, some served by moravel-failing-disk: what a folder that cannot
// be read answers, folders linked from elsewhere, a floppy, how a user stops the
// mount, a disk that cannot be opened, a reader stuck on a slow bad area beside
// other requests, and a disk that went away. Skipped, with the reason, where FUSE
// or the FAT tools cannot be used.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/FailingDiskServer.h"
#include "support/MountedTree.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace moravel::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kVolumeRoot[] = "Hard Disk 1/32-Bit FAT Disk/Root Directory";

// A folder's names as readdir gives them (without "." and ".."), or the errno
// that ended the listing.
struct Listing {
    std::set<std::string> names;
    int error = 0;
};

Listing ListFolder(const std::string& path) {
    Listing listing;
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) {
        listing.error = errno;
        return listing;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            listing.names.insert(name);
        }
        errno = 0;
    }
    listing.error = errno;
    ::closedir(folder);
    return listing;
}

// 0 when the path can be stat'ed, else errno.
int StatError(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? 0 : errno;
}

std::string Link(const std::string& path) {
    std::error_code error;
    return std::filesystem::read_symlink(path, error).string();
}

class MountTest : public ::testing::Test {
protected:
    void SetUp() override {
        static const std::string whyNoFuse = WhyNoFuse(FAILING_DISK_TOOL);
        if (!whyNoFuse.empty()) {
            GTEST_SKIP() << "FUSE cannot be used here: " << whyNoFuse;
        }
        for (const char* tool : {"mkfs.fat", "mmd", "mcopy", "fusermount3", "find"}) {
            if (FindTool(tool).empty()) {
                GTEST_SKIP() << "no " << tool;
            }
        }
        std::filesystem::create_directory(m_dir.File("tree"));
    }

    // Runs a shell command of the set-up: one that fails ends the test.
    void Shell(const std::string& command) const {
        int status = 0;
        const std::string output = RunCommand(command + " 2>&1", status);
        if (status != 0) {
            throw std::runtime_error(command + ": " + output);
        }
    }

    // A FAT32 volume made by mkfs.fat (no partition table) of the size and
    // cluster size, as image.img.
    std::string MakeVolume(int mebibytes, int sectorsPerCluster) const {
        const std::string image = m_dir.File("image.img");
        std::ofstream(image).close();
        std::filesystem::resize_file(image, static_cast<std::uintmax_t>(mebibytes) * 1024 * 1024);
        Shell("mkfs.fat -F 32 -s " + std::to_string(sectorsPerCluster) + " -n REC " +
              Quoted(image) + " >/dev/null");
        return image;
    }

    // A file of that many random bytes in the test's folder.
    std::string MakeFile(const std::string& name, std::size_t bytes) const {
        const std::string path = m_dir.File(name);
        Shell("head -c " + std::to_string(bytes) + " /dev/urandom >" + Quoted(path));
        return path;
    }

    // The first sector of an item on the disk, as info tells it.
    std::uint64_t FirstLba(const std::string& image, const std::string& treePath) const {
        int status = 0;
        const std::string json = RunCommand(std::string(MORAVEL_CLI) + " --disk " + Quoted(image) +
                                                " info --json " + Quoted(treePath),
                                            status);
        EXPECT_EQ(status, 0) << json;
        return nlohmann::json::parse(json, nullptr, false).value("firstLba", std::uint64_t{0});
    }

    // moravel-cli ARGS mount MOUNTPOINT, run in the test's folder; the mount
    // point is "tree" there, absolute unless asked.
    MountedTree::Command MountCommand(std::vector<std::string> args, bool foreground = false,
                                      bool relative = false) const {
        args.emplace_back("mount");
        return {MORAVEL_CLI, m_dir.Path().string(), std::move(args),
                relative ? "tree" : m_dir.File("tree"), foreground};
    }

    std::string Mounted(const std::string& path) const { return m_dir.File("tree") + "/" + path; }

    TempDir m_dir;
};

// A folder whose one cluster is bad: its listing fails as list fails, and so
// does a look-up in it; a folder beside it is listed. Once the disk's server is
// killed, a folder not read yet fails the same way, and one read before is kept.
TEST_F(MountTest, FoldersThatCannotBeReadFailWithEio) {
    const std::string image = MakeVolume(64, 1);
    Shell("mmd -i " + Quoted(image) + " ::LOST ::KEPT ::UNSEEN");
    for (const char* folder : {"LOST", "KEPT", "UNSEEN"}) {
        Shell("mcopy -i " + Quoted(image) + " " + Quoted(MakeFile("A.TS", 1000)) + " ::" + folder +
              "/");
    }
    const std::uint64_t lost = FirstLba(image, std::string(kVolumeRoot) + "/LOST");
    ASSERT_GT(lost, 0u);
    const FailingDiskServer disk(m_dir, FAILING_DISK_TOOL, image,
                                 {"--bad", std::to_string(lost), "--delay-ms", "1"});
    ASSERT_TRUE(disk.Mounted()) << disk.Failure();
    const MountedTree tree(MountCommand({"--disk", disk.Disk()}));
    ASSERT_TRUE(tree.Mounted()) << tree.Failure();

    const std::string root = Mounted(kVolumeRoot);
    EXPECT_EQ(ListFolder(root + "/KEPT").names, std::set<std::string>{"A.TS"});
    EXPECT_EQ(ListFolder(root + "/LOST").error, EIO);
    EXPECT_EQ(StatError(root + "/LOST/A.TS"), EIO);

    ASSERT_EQ(::kill(disk.Pid(), SIGKILL), 0);
    ASSERT_EQ(::waitpid(disk.Pid(), nullptr, 0), disk.Pid());
    EXPECT_EQ(ListFolder(root + "/KEPT").names, std::set<std::string>{"A.TS"});
    EXPECT_EQ(ListFolder(root + "/UNSEEN").error, EIO);
    EXPECT_EQ(StatError(root + "/UNSEEN/A.TS"), EIO);
}

// One partition of 512-byte clusters: REC holds FILE.TS, LOOP (REC again) and
// UP (the root); LEVEL10 to LEVEL49 nest, and each also holds TWIN, the folder
// below it again. A folder is served at the one place it was first listed; an
// entry that leads to it elsewhere is a link there, so that a walk ends.
TEST_F(MountTest, FolderReachedAgainIsALinkToWhereItWasListed) {
    constexpr std::uint32_t kStart = 2048;
    constexpr std::uint32_t kSectors = 70'000;
    const ImageFile image(m_dir.File("links.img"), (kStart + std::uint64_t{kSectors}) * 512);
    image.WriteSector(0, PartitionSector({{0x0C, kStart, kSectors}}));
    VolumeLayout layout;
    layout.totalSectors = kSectors;
    layout.sectorsPerCluster = 1;
    FatVolumeBuilder volume(layout);
    const auto rec = volume.AddDirectory(volume.Root(), "REC        ");
    volume.AddFile(rec, FileEntry("FILE    TS ", 700));
    std::vector<FatVolumeBuilder::Directory> levels;
    FatVolumeBuilder::Directory parent = volume.Root();
    for (int level = 10; level < 50; ++level) {
        parent = volume.AddDirectory(parent, "LEVEL" + std::to_string(level) + "    ");
        levels.push_back(parent);
    }
    volume.Write(image, kStart);
    const auto putEntry = [&](FatVolumeBuilder::Directory folder, std::size_t slot,
                              const std::string& name, FatVolumeBuilder::Directory target) {
        image.Write((kStart + std::uint64_t{volume.DataStart()}) * 512 +
                        std::uint64_t{volume.DirectoryClusters(folder).front() - 2} * 512 +
                        slot * 32,
                    ShortEntry(name, 0x10, volume.DirectoryClusters(target).front(), 0));
    };
    // Slots 0 and 1 hold "." and "..", slot 2 the file or the next level.
    putEntry(rec, 3, "LOOP       ", rec);
    putEntry(rec, 4, "UP         ", volume.Root());
    for (std::size_t level = 0; level + 1 < levels.size(); ++level) {
        putEntry(levels[level], 3, "TWIN       ", levels[level + 1]);
    }

    const MountedTree tree(MountCommand({"--disk", image.Path()}));
    ASSERT_TRUE(tree.Mounted()) << tree.Failure();
    const std::string root = Mounted(kVolumeRoot);
    int status = 0;
    const std::string found = RunCommand("cd " + Quoted(root) + " && timeout 60 find .", status);
    EXPECT_EQ(status, 0);
    std::set<std::string> expected = {".", "./REC", "./REC/FILE.TS", "./REC/LOOP", "./REC/UP"};
    std::string path = ".";
    for (int level = 10; level < 50; ++level) {
        path += "/LEVEL" + std::to_string(level);
        expected.insert(path);
        if (level < 49) {
            expected.insert(path + "/TWIN");
        }
    }
    std::vector<std::string> unexpected;
    std::istringstream text(found);
    for (std::string line; std::getline(text, line);) {
        if (expected.erase(line) == 0 && unexpected.size() < 5) {
            unexpected.push_back(line);
        }
    }
    EXPECT_THAT(unexpected, IsEmpty());
    EXPECT_THAT(expected, IsEmpty()) << "not found";
    EXPECT_EQ(Link(root + "/REC/LOOP"), ".");
    EXPECT_EQ(Link(root + "/REC/UP"), "..");
    EXPECT_EQ(Link(root + "/LEVEL10/TWIN"), "LEVEL11");
    // Through a link, the folder where it leads.
    EXPECT_EQ(ListFolder(root + "/REC/UP/LEVEL10/TWIN").names,
              (std::set<std::string>{"LEVEL12", "TWIN"}));
}

// How a user stops the mount: the signal, whether the command stayed in the
// foreground, whether MOUNTPOINT was relative.
struct Stop {
    int signal;
    bool foreground;
    bool relative;
};

void PrintTo(const Stop& stop, std::ostream* out) {
    *out << strsignal(stop.signal) << (stop.foreground ? ", foreground" : ", background")
         << (stop.relative ? ", relative MOUNTPOINT" : ", absolute MOUNTPOINT");
}

class MountStopTest : public MountTest, public ::testing::WithParamInterface<Stop> {};

// A floppy named by a path relative to where the command runs is served as list
// shows it, and a user's stop unmounts the tree and ends the server with status 0.
TEST_P(MountStopTest, ServesAFloppyUntilAStopEndsItWithStatusZero) {
    Shell("mkfs.fat -C " + Quoted(m_dir.File("fl.img")) + " 1440 >/dev/null");
    Shell("mcopy -i " + Quoted(m_dir.File("fl.img")) + " " + Quoted(MakeFile("HELLO.TXT", 3000)) +
          " ::HELLO.TXT");
    MountedTree tree(
        MountCommand({"--floppy", "fl.img"}, GetParam().foreground, GetParam().relative));
    ASSERT_TRUE(tree.Mounted()) << tree.Failure();
    // A look-up, not a listing or a read: what is open (its release still on its
    // way from the kernel) when the stop comes is left to the process's end.
    struct stat hello {};
    ASSERT_EQ(::stat(Mounted("Floppy Disk 1/Root Directory/HELLO.TXT").c_str(), &hello), 0);
    EXPECT_EQ(hello.st_size, 3000);
    ASSERT_GT(tree.Server(), 0);

    EXPECT_EQ(tree.StopWith(GetParam().signal), 0) << tree.Errors();
    EXPECT_FALSE(IsMountPoint(tree.Path()));
    EXPECT_THAT(tree.Errors(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Stops, MountStopTest,
                         ::testing::Values(Stop{SIGINT, true, true}, Stop{SIGTERM, false, true},
                                           Stop{SIGHUP, true, false}, Stop{SIGTERM, false, false}),
                         [](const ::testing::TestParamInfo<Stop>& stop) {
                             const std::string signal = stop.param.signal == SIGINT    ? "Sigint"
                                                        : stop.param.signal == SIGTERM ? "Sigterm"
                                                                                       : "Sighup";
                             return signal + (stop.param.foreground ? "Foreground" : "Background") +
                                    (stop.param.relative ? "Relative" : "Absolute");
                         });

// A disk that cannot be opened: nothing is mounted, the status is 1, and the
// message names the path and why.
TEST_F(MountTest, DiskThatCannotBeOpenedMountsNothing) {
    const MountedTree tree(MountCommand({"--disk", "missing.img"}));
    EXPECT_FALSE(tree.Mounted());
    EXPECT_THAT(tree.Failure(), HasSubstr("status 1, not mounted"));
    EXPECT_THAT(tree.Errors(), HasSubstr("missing.img: No such file or directory"));
    EXPECT_FALSE(IsMountPoint(tree.Path()));
}

// While a reader waits on 30 bad sectors of 200 ms each, a folder not read
// before is listed: its listing ends before the disk's log shows the last of
// those sectors read.
TEST_F(MountTest, ReaderOnASlowBadAreaHoldsUpNoOtherFolder) {
    const std::string image = MakeVolume(64, 1);
    Shell("mcopy -i " + Quoted(image) + " " + Quoted(MakeFile("SLOW.TS", 1 << 20)) + " ::");
    Shell("mmd -i " + Quoted(image) + " ::OTHER");
    Shell("mcopy -i " + Quoted(image) + " " + Quoted(MakeFile("O.TS", 1000)) + " ::OTHER/");
    const std::uint64_t slow = FirstLba(image, std::string(kVolumeRoot) + "/SLOW.TS");
    ASSERT_GT(slow, 0u);
    // Bytes 256 KiB on of the file, which lies in one piece.
    const std::uint64_t firstBad = slow + 512;
    const std::uint64_t lastBad = firstBad + 29;
    const std::string log = m_dir.File("reads.log");
    const FailingDiskServer disk(m_dir, FAILING_DISK_TOOL, image,
                                 {"--bad", std::to_string(firstBad) + "-" + std::to_string(lastBad),
                                  "--delay-ms", "200", "--log", log});
    ASSERT_TRUE(disk.Mounted()) << disk.Failure();
    const MountedTree tree(MountCommand({"--disk", disk.Disk()}));
    ASSERT_TRUE(tree.Mounted()) << tree.Failure();
    const std::string root = Mounted(kVolumeRoot);
    ASSERT_EQ(StatError(root + "/SLOW.TS"), 0);

    const pid_t reader = ::fork();
    if (reader == 0) {
        const std::string input = "if=" + root + "/SLOW.TS";
        ::execlp("dd", "dd", input.c_str(), "of=/dev/null", "bs=4096", "skip=64", "count=1",
                 "status=none", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(reader, 0);
    // The reader is in the bad area once a sector of it was asked for alone.
    const auto readAlone = [&](std::uint64_t sector) {
        return FileText(log).find("\n" + std::to_string(sector * 512) + " 512 0 EIO") !=
               std::string::npos;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!readAlone(firstBad) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(readAlone(firstBad)) << FileText(log);

    EXPECT_EQ(ListFolder(root + "/OTHER").names, std::set<std::string>{"O.TS"});
    EXPECT_FALSE(readAlone(lastBad)) << "the folder was listed only after the bad area was read";
    int status = 0;
    EXPECT_EQ(::waitpid(reader, &status, 0), reader);
}

}  // namespace
}  // namespace moravel::testing
