#include <gmock/gmock.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "copy/DestinationVolume.h"
#include "support/Tools.h"

// Where a destination folder lives: the mount table parser, the choice of the mount, the
// naming of file systems, libblkid on images that the real mkfs tools made, and the whole
// look-up on this machine against what findmnt and stat say.
namespace moravel {

void PrintTo(const DestinationVolume& volume, std::ostream* out) {
    *out << "{rootPath \"" << volume.rootPath << "\", fileSystem \"" << volume.fileSystem << "\"}";
}

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Quoted;

// ---------------------------------------------------------------------------------------
// Decoding and parsing of the mount table

TEST(MountFieldDecoding, DecodesTheFourKernelEscapes) {
    EXPECT_EQ(DecodeMountField(R"(/media/MY\040DISK)"), "/media/MY DISK");
    EXPECT_EQ(DecodeMountField(R"(/a\011b\012c\134d)"), "/a\tb\nc\\d");
    EXPECT_EQ(DecodeMountField(R"(\040\040)"), "  ");
    EXPECT_EQ(DecodeMountField(R"(/end\134)"), "/end\\");
    // Bytes of a UTF-8 name pass through untouched.
    EXPECT_EQ(DecodeMountField("/media/Aufnahmen-\xC3\xA4"), "/media/Aufnahmen-\xC3\xA4");
}

TEST(MountFieldDecoding, KeepsBackslashesThatAreNotEscapes) {
    EXPECT_EQ(DecodeMountField(R"(/a\b)"), R"(/a\b)");
    EXPECT_EQ(DecodeMountField(R"(/a\04)"), R"(/a\04)");    // cut short at the end
    EXPECT_EQ(DecodeMountField(R"(/a\048)"), R"(/a\048)");  // 8 is no octal digit
    EXPECT_EQ(DecodeMountField(R"(/a\400)"), R"(/a\400)");  // past one byte
    EXPECT_EQ(DecodeMountField(R"(\)"), R"(\)");
    EXPECT_EQ(DecodeMountField(""), "");
}

TEST(MountInfoParsing, ReadsEveryFieldOfAKernelLine) {
    const std::vector<MountEntry> mounts = ParseMountInfo(
        "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n");
    ASSERT_EQ(mounts.size(), 1u);
    const MountEntry& mount = mounts[0];
    EXPECT_EQ(mount.id, 36);
    EXPECT_EQ(mount.parentId, 35);
    EXPECT_EQ(mount.major, 98u);
    EXPECT_EQ(mount.minor, 0u);
    EXPECT_EQ(mount.root, "/mnt1");
    EXPECT_EQ(mount.mountPoint, "/mnt2");
    EXPECT_EQ(mount.mountOptions, "rw,noatime");
    EXPECT_THAT(mount.optionalFields, ElementsAre("master:1"));
    EXPECT_EQ(mount.fileSystemType, "ext3");
    EXPECT_EQ(mount.source, "/dev/root");
    EXPECT_EQ(mount.superOptions, "rw,errors=continue");
}

TEST(MountInfoParsing, TakesAnyNumberOfOptionalFields) {
    const std::vector<MountEntry> mounts = ParseMountInfo(
        "21 1 259:2 / / rw,relatime - ext4 /dev/nvme0n1p2 rw\n"
        "120 21 8:17 / /media/usb rw,nosuid,nodev shared:62 master:3 propagate_from:2 "
        "unbindable - vfat /dev/sdb1 rw,fmask=0022,dmask=0022,codepage=437,iocharset=ascii\n"
        "130 21 259:300 / /big rw shared:70 - xfs /dev/mapper/vg-big rw,attr2\n");
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_THAT(mounts[0].optionalFields, IsEmpty());
    EXPECT_EQ(mounts[0].fileSystemType, "ext4");
    EXPECT_THAT(mounts[1].optionalFields,
                ElementsAre("shared:62", "master:3", "propagate_from:2", "unbindable"));
    EXPECT_EQ(mounts[1].mountPoint, "/media/usb");
    EXPECT_EQ(mounts[1].fileSystemType, "vfat");
    EXPECT_EQ(mounts[1].source, "/dev/sdb1");
    EXPECT_EQ(mounts[1].superOptions, "rw,fmask=0022,dmask=0022,codepage=437,iocharset=ascii");
    EXPECT_EQ(mounts[2].major, 259u);
    EXPECT_EQ(mounts[2].minor, 300u);
    EXPECT_EQ(mounts[2].source, "/dev/mapper/vg-big");
}

TEST(MountInfoParsing, DecodesEscapedPathsAndSources) {
    const std::vector<MountEntry> mounts = ParseMountInfo(
        R"(88 21 8:33 /Rec\040Root /media/user/MY\040DISK\011tab\012nl\134bs rw - exfat /dev/disk/by-label/A\040B rw,iocharset=utf8)");
    ASSERT_EQ(mounts.size(), 1u);
    EXPECT_EQ(mounts[0].root, "/Rec Root");
    EXPECT_EQ(mounts[0].mountPoint, "/media/user/MY DISK\ttab\nnl\\bs");
    EXPECT_EQ(mounts[0].source, "/dev/disk/by-label/A B");
    EXPECT_EQ(mounts[0].fileSystemType, "exfat");
}

TEST(MountInfoParsing, KeepsAnEmptySourceAsAField) {
    // A mount made without a source: two spaces in a row after the type.
    const std::vector<MountEntry> mounts =
        ParseMountInfo("50 21 0:45 / /run/x rw - tmpfs  rw,size=4k\n");
    ASSERT_EQ(mounts.size(), 1u);
    EXPECT_EQ(mounts[0].fileSystemType, "tmpfs");
    EXPECT_EQ(mounts[0].source, "");
    EXPECT_EQ(mounts[0].superOptions, "rw,size=4k");
}

TEST(MountInfoParsing, PassesOverLinesThatAreNotMounts) {
    const std::vector<MountEntry> mounts = ParseMountInfo(
        "\n"
        "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "22 21 8:2 / /no-separator rw ext4 /dev/sda2 rw\n"
        "23 21 8:3 / /short rw - ext4 /dev/sda3\n"
        "x4 21 8:4 / /bad-id rw - ext4 /dev/sda4 rw\n"
        "25 21 84 / /bad-device rw - ext4 /dev/sda5 rw\n"
        "26 21 8:6 / relative rw - ext4 /dev/sda6 rw\n"
        "27 21 8:7 /\n"
        "28 21 8:8 / /home rw - ext4 /dev/sda8 rw");  // the last line has no newline
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[1].mountPoint, "/home");
    EXPECT_EQ(mounts[1].superOptions, "rw");
}

TEST(MountInfoParsing, KeepsTheRootOfBindMounts) {
    const std::vector<MountEntry> mounts = ParseMountInfo(
        "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "60 21 8:1 /srv/recordings /mnt/rec rw shared:1 - ext4 /dev/sda1 rw\n");
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[1].root, "/srv/recordings");
    EXPECT_EQ(mounts[1].mountPoint, "/mnt/rec");
    EXPECT_EQ(mounts[1].major, mounts[0].major);
    EXPECT_EQ(mounts[1].minor, mounts[0].minor);
}

// findmnt -P output: KEY="value" pairs, with unsafe bytes written as \xHH.
std::vector<std::map<std::string, std::string>> FindmntPairs(const std::string& arguments) {
    int status = 0;
    const std::string output = testing::RunCommand("findmnt -P " + arguments, status);
    std::vector<std::map<std::string, std::string>> rows;
    if (status != 0) {
        return rows;
    }
    static const std::regex pair(R"re(([A-Z:-]+)="((?:[^"\\]|\\.)*)")re");
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, std::string> row;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), pair);
             it != std::sregex_iterator(); ++it) {
            const std::string raw = (*it)[2];
            std::string value;
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x') {
                    value += static_cast<char>(std::stoi(raw.substr(i + 2, 2), nullptr, 16));
                    i += 3;
                } else {
                    value += raw[i];
                }
            }
            row[(*it)[1]] = value;
        }
        rows.push_back(row);
    }
    return rows;
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : " ") + part;
    }
    return text;
}

TEST(MountInfoParsing, AgreesWithFindmntOnThisMachine) {
    ASSERT_FALSE(testing::FindTool("findmnt").empty()) << "findmnt (util-linux) is not installed";
    std::ifstream file("/proc/self/mountinfo");
    ASSERT_TRUE(file) << "/proc/self/mountinfo cannot be read";
    std::ostringstream text;
    text << file.rdbuf();
    const std::vector<MountEntry> mounts = ParseMountInfo(text.str());

    const auto rows = FindmntPairs(
        "--kernel --nofsroot -n -o "
        "ID,PARENT,MAJ:MIN,FSROOT,TARGET,FSTYPE,SOURCE,VFS-OPTIONS,FS-OPTIONS,OPT-FIELDS");
    ASSERT_FALSE(rows.empty());
    ASSERT_EQ(mounts.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        const auto found = std::find_if(mounts.begin(), mounts.end(), [&row](const MountEntry& m) {
            return std::to_string(m.id) == row.at("ID");
        });
        ASSERT_NE(found, mounts.end()) << "mount " << row.at("ID");
        SCOPED_TRACE("mount " + row.at("ID") + " on " + row.at("TARGET"));
        EXPECT_EQ(std::to_string(found->parentId), row.at("PARENT"));
        EXPECT_EQ(std::to_string(found->major) + ":" + std::to_string(found->minor),
                  row.at("MAJ:MIN"));
        EXPECT_EQ(found->root, row.at("FSROOT"));
        EXPECT_EQ(found->mountPoint, row.at("TARGET"));
        EXPECT_EQ(found->fileSystemType, row.at("FSTYPE"));
        EXPECT_EQ(found->source, row.at("SOURCE"));
        EXPECT_EQ(found->mountOptions, row.at("VFS-OPTIONS"));
        EXPECT_EQ(found->superOptions, row.at("FS-OPTIONS"));
        EXPECT_EQ(Joined(found->optionalFields), row.at("OPT-FIELDS"));
    }
}

// ---------------------------------------------------------------------------------------
// Choosing the mount that holds a folder

MountEntry Mount(int id, int parentId, unsigned int major, unsigned int minor,
                 const std::string& mountPoint, const std::string& type = "ext4") {
    MountEntry mount;
    mount.id = id;
    mount.parentId = parentId;
    mount.major = major;
    mount.minor = minor;
    mount.root = "/";
    mount.mountPoint = mountPoint;
    mount.fileSystemType = type;
    return mount;
}

int IdOf(const MountEntry* mount) {
    return mount == nullptr ? -1 : mount->id;
}

TEST(MountHoldingTest, TakesTheDeepestMountOfTheFoldersDevice) {
    const std::vector<MountEntry> mounts = {
        Mount(1, 0, 8, 1, "/"),
        Mount(2, 1, 8, 2, "/mnt"),
        Mount(3, 2, 8, 3, "/mnt/a"),
        Mount(4, 2, 8, 4, "/mnt/ab"),
    };
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/ab/x", makedev(8, 4))), 4);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/a/x/y", makedev(8, 3))), 3);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/a", makedev(8, 3))), 3);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/b", makedev(8, 2))), 2);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt", makedev(8, 2))), 2);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/home/user", makedev(8, 1))), 1);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/", makedev(8, 1))), 1);
}

TEST(MountHoldingTest, MatchesWholeFolderNamesOnly) {
    // No device matches, so only the longest parent folder decides: "/mnt/a" must not be
    // taken for "/mnt/ab/x", nor "/mnt" for "/mntx".
    const std::vector<MountEntry> mounts = {
        Mount(1, 0, 8, 1, "/"),
        Mount(2, 1, 8, 2, "/mnt"),
        Mount(3, 2, 8, 3, "/mnt/a"),
    };
    const dev_t elsewhere = makedev(9, 9);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/ab/x", elsewhere)), 2);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/ab", elsewhere)), 2);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/a/b", elsewhere)), 3);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mntx", elsewhere)), 1);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mn", elsewhere)), 1);
}

TEST(MountHoldingTest, PrefersTheFoldersDeviceOverAHiddenDeeperMount) {
    // A stick was mounted on /mnt/x, then /mnt was mounted over, hiding it: /mnt/x now is
    // a folder of the newer /mnt, and stat reports that device.
    const std::vector<MountEntry> mounts = {
        Mount(1, 0, 8, 1, "/"),
        Mount(2, 1, 8, 17, "/mnt/x", "vfat"),
        Mount(3, 1, 8, 33, "/mnt", "ntfs3"),
    };
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/x/rec", makedev(8, 33))), 3);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/x/rec", makedev(8, 17))), 2);
}

TEST(MountHoldingTest, FallsBackToTheDeepestMountWhenNoDeviceMatches) {
    // btrfs subvolumes: stat reports a device of their own that no mount line shows.
    const std::vector<MountEntry> mounts = {
        Mount(1, 0, 0, 31, "/", "btrfs"),
        Mount(2, 1, 0, 31, "/home", "btrfs"),
        Mount(3, 1, 8, 1, "/boot/efi", "vfat"),
    };
    EXPECT_EQ(IdOf(MountHolding(mounts, "/home/user/Videos", makedev(0, 48))), 2);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/var/tmp", makedev(0, 49))), 1);
}

TEST(MountHoldingTest, PicksTheBindMountOverItsSourceFileSystem) {
    const std::vector<MountEntry> mounts = ParseMountInfo(
        "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "60 21 8:1 /srv/recordings /mnt/rec rw - ext4 /dev/sda1 rw\n");
    EXPECT_EQ(IdOf(MountHolding(mounts, "/mnt/rec/2024", makedev(8, 1))), 60);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/srv/recordings", makedev(8, 1))), 21);
}

TEST(MountHoldingTest, TakesTheTopOfStackedMounts) {
    // Two tmpfs mounts on /dev/shm, the second on top of the first.
    const std::vector<MountEntry> stacked = ParseMountInfo(
        "24 27 0:6 / /dev rw - devtmpfs devtmpfs rw\n"
        "25 24 0:23 / /dev/shm rw - tmpfs tmpfs rw\n"
        "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "30 25 0:27 / /dev/shm rw - tmpfs tmpfs rw\n");
    EXPECT_EQ(IdOf(MountHolding(stacked, "/dev/shm/x", makedev(0, 27))), 30);
    EXPECT_EQ(IdOf(MountHolding(stacked, "/dev/shm/x", makedev(0, 99))), 30);
    // Listed the other way round: the first line is the one on top.
    const std::vector<MountEntry> reversed = {
        Mount(1, 0, 8, 1, "/"),
        Mount(40, 41, 0, 50, "/data", "tmpfs"),
        Mount(41, 1, 0, 51, "/data", "tmpfs"),
    };
    EXPECT_EQ(IdOf(MountHolding(reversed, "/data/x", makedev(0, 99))), 40);
    EXPECT_EQ(IdOf(MountHolding(reversed, "/data/x", makedev(0, 51))), 41);
}

TEST(MountHoldingTest, FindsMountPointsWithEscapedNames) {
    const std::vector<MountEntry> mounts = ParseMountInfo(
        "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        R"(90 21 8:17 / /media/MY\040DISK rw - vfat /dev/sdb1 rw)");
    EXPECT_EQ(IdOf(MountHolding(mounts, "/media/MY DISK/rec", makedev(8, 17))), 90);
    EXPECT_EQ(IdOf(MountHolding(mounts, "/media/MY DISKS", makedev(8, 1))), 21);
}

TEST(MountHoldingTest, FindsNothingWithoutAParentMountPoint) {
    const std::vector<MountEntry> mounts = {Mount(2, 1, 8, 2, "/mnt")};
    EXPECT_EQ(MountHolding(mounts, "/home", makedev(8, 2)), nullptr);
    EXPECT_EQ(MountHolding({}, "/", makedev(8, 2)), nullptr);
    EXPECT_EQ(MountHolding({Mount(1, 0, 8, 1, "/")}, "relative/path", makedev(8, 1)), nullptr);
}

// ---------------------------------------------------------------------------------------
// Naming file systems

// A probe that answers one signature and counts the sources it was asked about.
struct FakeProbe {
    std::optional<VolumeSignature> answer;
    std::vector<std::string> asked;

    VolumeProbe Function() {
        return [this](const std::string& source) {
            asked.push_back(source);
            return answer;
        };
    }
};

MountEntry Typed(const std::string& type, const std::string& source) {
    MountEntry mount = Mount(50, 1, 8, 17, "/media/usb", type);
    mount.source = source;
    return mount;
}

TEST(FileSystemNaming, NamesFatMountsByTheVersionOnTheDevice) {
    for (const char* type : {"vfat", "msdos", "fat"}) {
        SCOPED_TRACE(type);
        for (const char* version : {"FAT12", "FAT16", "FAT32"}) {
            FakeProbe probe{VolumeSignature{"vfat", version}, {}};
            EXPECT_EQ(NameFileSystem(Typed(type, "/dev/sdb1"), probe.Function()), version);
            EXPECT_THAT(probe.asked, ElementsAre("/dev/sdb1"));
        }
    }
}

TEST(FileSystemNaming, TakesFat32WhenTheFatVersionCannotBeRead) {
    FakeProbe unreadable{std::nullopt, {}};
    EXPECT_EQ(NameFileSystem(Typed("vfat", "/dev/sdb1"), unreadable.Function()), "FAT32");
    FakeProbe noVersion{VolumeSignature{"vfat", ""}, {}};
    EXPECT_EQ(NameFileSystem(Typed("vfat", "/dev/sdb1"), noVersion.Function()), "FAT32");
    // The source holds something else now (the stick was swapped): no version from it.
    FakeProbe other{VolumeSignature{"ext4", "1.0"}, {}};
    EXPECT_EQ(NameFileSystem(Typed("vfat", "/dev/sdb1"), other.Function()), "FAT32");
    // A source that is no path is not probed at all.
    FakeProbe any{VolumeSignature{"vfat", "FAT12"}, {}};
    EXPECT_EQ(NameFileSystem(Typed("vfat", "none"), any.Function()), "FAT32");
    EXPECT_EQ(NameFileSystem(Typed("vfat", ""), any.Function()), "FAT32");
    EXPECT_THAT(any.asked, IsEmpty());
    EXPECT_EQ(NameFileSystem(Typed("vfat", "/dev/sdb1"), VolumeProbe()), "FAT32");
}

TEST(FileSystemNaming, NamesKernelNtfsAndExfatWithoutProbing) {
    FakeProbe probe{VolumeSignature{"vfat", "FAT12"}, {}};
    EXPECT_EQ(NameFileSystem(Typed("ntfs", "/dev/sdb1"), probe.Function()), "NTFS");
    EXPECT_EQ(NameFileSystem(Typed("ntfs3", "/dev/sdb1"), probe.Function()), "NTFS");
    EXPECT_EQ(NameFileSystem(Typed("exfat", "/dev/sdb1"), probe.Function()), "exFAT");
    EXPECT_THAT(probe.asked, IsEmpty());
}

TEST(FileSystemNaming, NamesFuseBlockMountsByWhatTheDeviceHolds) {
    const auto name = [](const std::string& type, std::optional<VolumeSignature> answer) {
        FakeProbe probe{std::move(answer), {}};
        return NameFileSystem(Typed(type, "/dev/sdc1"), probe.Function());
    };
    EXPECT_EQ(name("fuseblk", VolumeSignature{"ntfs", ""}), "NTFS");
    EXPECT_EQ(name("fuseblk", VolumeSignature{"exfat", "1.0"}), "exFAT");
    EXPECT_EQ(name("fuseblk", VolumeSignature{"vfat", "FAT16"}), "FAT16");
    EXPECT_EQ(name("fuseblk", VolumeSignature{"ext4", "1.0"}), "ext4");
    EXPECT_EQ(name("fuseblk", std::nullopt), "fuseblk");
    EXPECT_EQ(name("fuse", VolumeSignature{"ntfs", ""}), "NTFS");  // ntfs-3g on an image file
    EXPECT_EQ(name("fuse", std::nullopt), "fuse");
}

TEST(FileSystemNaming, DoesNotProbeNetworkFuseSources) {
    FakeProbe probe{VolumeSignature{"ntfs", ""}, {}};
    EXPECT_EQ(NameFileSystem(Typed("fuse.sshfs", "user@host:/srv"), probe.Function()),
              "fuse.sshfs");
    EXPECT_EQ(NameFileSystem(Typed("fuseblk", "data"), probe.Function()), "fuseblk");
    EXPECT_THAT(probe.asked, IsEmpty());
}

TEST(FileSystemNaming, KeepsTheKernelsNameForOtherFileSystems) {
    // Even when the device would look like FAT, the kernel's type is what is mounted.
    FakeProbe probe{VolumeSignature{"vfat", "FAT12"}, {}};
    for (const char* type : {"ext4", "btrfs", "xfs", "tmpfs", "nfs4", "overlay", "f2fs"}) {
        EXPECT_EQ(NameFileSystem(Typed(type, "/dev/sdb1"), probe.Function()), type);
    }
    EXPECT_THAT(probe.asked, IsEmpty());
}

// ---------------------------------------------------------------------------------------
// libblkid on images made by the real mkfs tools

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "moravel-dest-XXXXXX");
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempFolder() {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

class SignatureProbing : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_folder.Path().empty()) << "no temporary folder"; }

    // Runs a mkfs tool on a new image of `kib` KiB; the image's path.
    std::string Make(const std::string& tool, const std::string& options, const std::string& name,
                     std::uintmax_t kib) {
        const std::string mkfs = testing::FindTool(tool);
        EXPECT_FALSE(mkfs.empty()) << tool << " is not installed (scripts/install-deps.sh)";
        const std::string image = m_folder.Path() + "/" + name;
        std::ofstream(image).close();
        std::filesystem::resize_file(image, kib * 1024);
        int status = -1;
        testing::RunCommand(mkfs + " " + options + " " + Quoted(image), status);
        EXPECT_EQ(status, 0) << tool << " " << options << " failed";
        return image;
    }

    std::string MakeFat(int bits, std::uintmax_t kib) {
        return Make("mkfs.fat", "-F " + std::to_string(bits), "fat" + std::to_string(bits) + ".img",
                    kib);
    }

    TempFolder m_folder;
};

TEST_F(SignatureProbing, ReadsTheFatVersionThatMkfsFatWrote) {
    const std::string fat12 = MakeFat(12, 4000);
    const std::string fat16 = MakeFat(16, 16384);
    const std::string fat32 = MakeFat(32, 66000);
    EXPECT_EQ(ProbeFatVersion(fat12), "FAT12");
    EXPECT_EQ(ProbeFatVersion(fat16), "FAT16");
    EXPECT_EQ(ProbeFatVersion(fat32), "FAT32");
    EXPECT_EQ(ProbeType(fat16), "vfat");

    // As the mount source of a vfat mount, with the real probe.
    EXPECT_EQ(NameFileSystem(Typed("vfat", fat12)), "FAT12");
    EXPECT_EQ(NameFileSystem(Typed("vfat", fat16)), "FAT16");
    EXPECT_EQ(NameFileSystem(Typed("msdos", fat32)), "FAT32");
    EXPECT_EQ(NameFileSystem(Typed("fuseblk", fat16)), "FAT16");
}

TEST_F(SignatureProbing, ReadsNtfsAndExfatImages) {
    const std::string ntfs = Make("mkfs.ntfs", "-F -Q -q", "ntfs.img", 16384);
    const std::string exfat = Make("mkfs.exfat", "", "exfat.img", 16384);
    EXPECT_EQ(ProbeType(ntfs), "ntfs");
    EXPECT_EQ(ProbeType(exfat), "exfat");
    EXPECT_EQ(ProbeFatVersion(ntfs), std::nullopt);
    EXPECT_EQ(ProbeFatVersion(exfat), std::nullopt);

    EXPECT_EQ(NameFileSystem(Typed("fuseblk", ntfs)), "NTFS");
    EXPECT_EQ(NameFileSystem(Typed("fuseblk", exfat)), "exFAT");
    EXPECT_EQ(NameFileSystem(Typed("fuse", ntfs)), "NTFS");
}

TEST_F(SignatureProbing, FindsNothingWhereThereIsNoFileSystem) {
    const std::string zeros = m_folder.Path() + "/zeros.img";
    std::ofstream(zeros).close();
    std::filesystem::resize_file(zeros, 4u << 20);
    EXPECT_EQ(ProbeVolume(zeros), std::nullopt);
    EXPECT_EQ(ProbeType(zeros), std::nullopt);
    EXPECT_EQ(NameFileSystem(Typed("fuseblk", zeros)), "fuseblk");
    EXPECT_EQ(NameFileSystem(Typed("vfat", zeros)), "FAT32");

    EXPECT_EQ(ProbeVolume(m_folder.Path() + "/missing.img"), std::nullopt);
    EXPECT_EQ(ProbeVolume(m_folder.Path()), std::nullopt);  // a folder
    EXPECT_EQ(ProbeVolume("/dev/null"), std::nullopt);      // a character device
    EXPECT_EQ(ProbeVolume(""), std::nullopt);
}

TEST_F(SignatureProbing, LosesTheFatVersionWithTheBootSector) {
    const std::string fat16 = MakeFat(16, 16384);
    ASSERT_EQ(ProbeFatVersion(fat16), "FAT16");
    {
        std::fstream image(fat16, std::ios::in | std::ios::out | std::ios::binary);
        const std::string zeros(512, '\0');
        image.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    EXPECT_EQ(ProbeFatVersion(fat16), std::nullopt);
    EXPECT_EQ(NameFileSystem(Typed("vfat", fat16)), "FAT32");
}

// ---------------------------------------------------------------------------------------
// The FAT version where libblkid cannot read the device (a normal user and a mounted stick)

// A udev record as udev writes it for a FAT partition.
std::string UdevRecord(const std::string& type, const std::string& version) {
    std::string record =
        "S:disk/by-uuid/1234-ABCD\n"
        "S:disk/by-label/STICK\n"
        "W:3\n"
        "I:1712345678\n"
        "E:ID_FS_UUID=1234-ABCD\n";
    if (!version.empty()) {
        record += "E:ID_FS_VERSION=" + version + "\n";
    }
    if (!type.empty()) {
        record += "E:ID_FS_TYPE=" + type + "\n";
    }
    record +=
        "E:ID_FS_USAGE=filesystem\n"
        "E:ID_PART_ENTRY_TYPE=0x6\n"
        "G:systemd\n";
    return record;
}

TEST(UdevRecordReading, ReadsTheFatVersionOfAFatDevice) {
    for (const char* version : {"FAT12", "FAT16", "FAT32"}) {
        EXPECT_EQ(FatVersionOfUdevRecord(UdevRecord("vfat", version)), version);
    }
    // The last line need not end in a newline, and the order of the lines is free.
    EXPECT_EQ(FatVersionOfUdevRecord("E:ID_FS_TYPE=vfat\nE:ID_FS_VERSION=FAT16"), "FAT16");
}

TEST(UdevRecordReading, FindsNoVersionWhereTheRecordDoesNotSayFat) {
    EXPECT_EQ(FatVersionOfUdevRecord(UdevRecord("exfat", "1.0")), std::nullopt);
    EXPECT_EQ(FatVersionOfUdevRecord(UdevRecord("ext4", "1.0")), std::nullopt);
    // A version without a FAT type, or a FAT type without a version.
    EXPECT_EQ(FatVersionOfUdevRecord(UdevRecord("ntfs", "FAT16")), std::nullopt);
    EXPECT_EQ(FatVersionOfUdevRecord(UdevRecord("", "FAT16")), std::nullopt);
    EXPECT_EQ(FatVersionOfUdevRecord(UdevRecord("vfat", "")), std::nullopt);
    EXPECT_EQ(FatVersionOfUdevRecord(UdevRecord("vfat", "FAT64")), std::nullopt);
    // Only properties count: neither links nor properties of other names.
    EXPECT_EQ(FatVersionOfUdevRecord("S:ID_FS_TYPE=vfat\nS:ID_FS_VERSION=FAT16\n"), std::nullopt);
    EXPECT_EQ(FatVersionOfUdevRecord("E:ID_FS_TYPE_OLD=vfat\nE:ID_FS_VERSION_OLD=FAT16\n"),
              std::nullopt);
    EXPECT_EQ(FatVersionOfUdevRecord(""), std::nullopt);
}

std::vector<std::uint8_t> FirstBytes(const std::string& path, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

TEST_F(SignatureProbing, BootSectorsGiveTheVersionThatLibblkidReads) {
    struct Case {
        int bits;
        std::uintmax_t kib;
        std::string options;
    };
    // Floppy-sized to hundreds of MiB, sectors of 512 to 4096 bytes; FAT32 with fewer
    // clusters than 65525, which mkfs.fat makes on small volumes (with a warning).
    const std::vector<Case> cases = {
        {12, 1440, ""},         {12, 4000, ""},
        {12, 16000, "-S 4096"}, {16, 16384, ""},
        {16, 16384, "-S 1024"}, {16, 130000, "-S 2048 -s 1"},
        {32, 20480, ""},        {32, 66000, ""},
        {32, 40000, "-S 2048"}, {32, 300000, "-S 4096 -s 1"},
    };
    for (const Case& c : cases) {
        const std::string options = "-F " + std::to_string(c.bits) + " " + c.options;
        SCOPED_TRACE("mkfs.fat " + options + " on " + std::to_string(c.kib) + " KiB");
        const std::string image = Make("mkfs.fat", options, "case.img", c.kib);
        const std::optional<std::string> oracle = ProbeFatVersion(image);
        ASSERT_TRUE(oracle) << "libblkid reads no FAT version";
        EXPECT_EQ(FatVersionOfBootSector(FirstBytes(image, 512)), oracle);
        std::filesystem::remove(image);
    }
}

// A copy of the sector with the bytes put at an offset.
std::vector<std::uint8_t> Patched(std::vector<std::uint8_t> sector, std::size_t offset,
                                  const std::vector<std::uint8_t>& bytes) {
    for (const std::uint8_t byte : bytes) {
        sector.at(offset++) = byte;
    }
    return sector;
}

std::vector<std::uint8_t> Le32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

TEST_F(SignatureProbing, BootSectorsThatMakeNoSenseGiveNoVersion) {
    const std::vector<std::uint8_t> fat16 = FirstBytes(MakeFat(16, 16384), 512);
    const std::vector<std::uint8_t> fat32 = FirstBytes(MakeFat(32, 66000), 512);
    ASSERT_EQ(FatVersionOfBootSector(fat16), "FAT16");
    ASSERT_EQ(FatVersionOfBootSector(fat32), "FAT32");

    struct Change {
        const char* what;
        std::size_t offset;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Change> changes = {
        {"no bytes per sector", 11, {0x00, 0x00}},
        {"256 bytes per sector", 11, {0x00, 0x01}},
        {"513 bytes per sector", 11, {0x01, 0x02}},
        {"8192 bytes per sector", 11, {0x00, 0x20}},
        {"no sectors per cluster", 13, {0}},
        {"3 sectors per cluster", 13, {3}},
        {"96 sectors per cluster", 13, {96}},
        {"no reserved sector", 14, {0x00, 0x00}},
        {"more reserved sectors than the volume holds", 14, {0xFF, 0xFF}},
        {"no FAT", 16, {0}},
        {"media byte 0", 21, {0x00}},
        {"media byte F5", 21, {0xF5}},
        {"a FAT of one sector", 22, {0x01, 0x00}},
        {"no count of sectors", 19, {0x00, 0x00}},  // and none in the 32-bit count either
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        EXPECT_EQ(FatVersionOfBootSector(Patched(fat16, change.offset, change.bytes)),
                  std::nullopt);
    }
    ASSERT_EQ(fat16.at(32) | fat16.at(33) | fat16.at(34) | fat16.at(35), 0);
    // FAT32's size of the FAT (its 16-bit one is 0) left out.
    EXPECT_EQ(FatVersionOfBootSector(Patched(fat32, 36, Le32(0))), std::nullopt);

    // A FAT16 layout whose FAT is big enough but whose volume has more clusters than 16-bit
    // entries can number: one reserved sector, two FATs of 65535 sectors, 512 root entries,
    // then 70000 clusters of one sector. With 60000 clusters the same is FAT16.
    std::vector<std::uint8_t> layout = Patched(fat16, 13, {1, 1, 0, 2, 0x00, 0x02, 0, 0});
    layout = Patched(layout, 22, {0xFF, 0xFF});
    EXPECT_EQ(FatVersionOfBootSector(Patched(layout, 32, Le32(1 + 2 * 65535 + 32 + 70000))),
              std::nullopt);
    EXPECT_EQ(FatVersionOfBootSector(Patched(layout, 32, Le32(1 + 2 * 65535 + 32 + 60000))),
              "FAT16");

    // Other file systems, no file system, and too few bytes.
    const std::string ntfs = Make("mkfs.ntfs", "-F -Q -q", "ntfs.img", 16384);
    const std::string exfat = Make("mkfs.exfat", "", "exfat.img", 16384);
    EXPECT_EQ(FatVersionOfBootSector(FirstBytes(ntfs, 512)), std::nullopt);
    EXPECT_EQ(FatVersionOfBootSector(FirstBytes(exfat, 512)), std::nullopt);
    EXPECT_EQ(FatVersionOfBootSector(std::vector<std::uint8_t>(512, 0)), std::nullopt);
    EXPECT_EQ(FatVersionOfBootSector(std::span(fat16).first(511)), std::nullopt);
    EXPECT_EQ(FatVersionOfBootSector({}), std::nullopt);
}

// Names FAT mounts with the probe failing, as it does for a normal user.
class FatVersionFallback : public SignatureProbing {
protected:
    void SetUp() override {
        SignatureProbing::SetUp();
        m_udev = m_folder.Path() + "/udev";
        std::filesystem::create_directory(m_udev);
    }

    void Record(const std::string& device, const std::string& text) {
        std::ofstream(m_udev + "/b" + device) << text;
    }

    FileSystemName Name(const MountEntry& mount) {
        return NameMountedFileSystem(mount, FatVersionSources{m_unreadable.Function(), m_udev});
    }

    FakeProbe m_unreadable{std::nullopt, {}};
    std::string m_udev;
};

TEST_F(FatVersionFallback, ReadsUdevsRecordOfTheMountsDevice) {
    for (const char* version : {"FAT12", "FAT16", "FAT32"}) {
        SCOPED_TRACE(version);
        Record("8:17", UdevRecord("vfat", version));
        const FileSystemName name = Name(Typed("vfat", "/dev/sdb1"));  // device 8:17
        EXPECT_EQ(name.name, version);
        EXPECT_EQ(name.note, "");
    }
    EXPECT_THAT(m_unreadable.asked, ElementsAre("/dev/sdb1", "/dev/sdb1", "/dev/sdb1"));
    // Another device's record tells nothing about this one.
    MountEntry other = Typed("vfat", "/dev/sdc1");
    other.minor = 33;
    EXPECT_EQ(Name(other).name, "FAT32");
    EXPECT_NE(Name(other).note, "");
}

TEST_F(FatVersionFallback, ReadsTheBootSectorWhereUdevHasNoRecord) {
    for (const int bits : {12, 16, 32}) {
        const std::string image = MakeFat(bits, bits == 32 ? 66000 : bits == 16 ? 16384 : 4000);
        SCOPED_TRACE(image);
        const std::optional<std::string> oracle = ProbeFatVersion(image);
        ASSERT_TRUE(oracle);
        const FileSystemName name = Name(Typed("vfat", image));
        EXPECT_EQ(name.name, *oracle);
        EXPECT_EQ(name.note, "");
    }
}

TEST_F(FatVersionFallback, AsksThePlacesInTurn) {
    const std::string fat12 = MakeFat(12, 4000);
    MountEntry mount = Typed("vfat", fat12);
    Record("8:17", UdevRecord("vfat", "FAT16"));
    // The device's own signature first, then udev's record, then the boot sector.
    FakeProbe says32{VolumeSignature{"vfat", "FAT32"}, {}};
    EXPECT_EQ(NameMountedFileSystem(mount, FatVersionSources{says32.Function(), m_udev}).name,
              "FAT32");
    EXPECT_EQ(Name(mount).name, "FAT16");
    std::filesystem::remove(m_udev + "/b8:17");
    EXPECT_EQ(Name(mount).name, "FAT12");
    // With the real probe and the real udev records on an image: libblkid reads it.
    EXPECT_EQ(NameMountedFileSystem(mount).name, "FAT12");
}

// fusefat names itself as the source: the FAT version is read from what its server holds
// open. Servers are told apart by the connection of their /dev/fuse where the system
// shows it, else by the mount point among their arguments (a daemon's are relative to
// the folder it has left for "/").
TEST_F(FatVersionFallback, ReadsWhatAFuseServerHoldsOpen) {
    const std::string fat16 = MakeFat(16, 16384);
    const std::string fat32 = MakeFat(32, 66000);
    const std::filesystem::path proc = m_folder.Path() + "/proc";
    const auto process = [&](int pid, std::string arguments, const std::string& folder,
                             const std::vector<std::string>& open, const std::string& fdinfo) {
        const std::filesystem::path dir = proc / std::to_string(pid);
        std::filesystem::create_directories(dir / "fd");
        std::filesystem::create_directories(dir / "fdinfo");
        std::ofstream(dir / "cmdline", std::ios::binary) << arguments;
        std::filesystem::create_directory_symlink(folder, dir / "cwd");
        for (std::size_t i = 0; i < open.size(); ++i) {
            std::filesystem::create_symlink(open[i], dir / "fd" / std::to_string(i + 3));
            std::ofstream(dir / "fdinfo" / std::to_string(i + 3)) << "pos:\t0\n" << fdinfo;
        }
    };
    using namespace std::string_literals;
    const std::string first = m_folder.Path() + "/first";
    process(10, "fusefat\0-o\0rw\0/dev/loop1\0first\0"s, "/", {fat16, "/dev/fuse"}, "");
    process(11, "other\0"s + first + "\0"s, "/", {fat32, "/dev/fuse"}, "fuse_connection:\t99\n");
    process(12, "cat\0"s + first + "\0"s, "/", {fat32}, "");
    process(13, "fusefat\0/dev/loop2\0mnt\0"s, "/", {fat32, "/dev/fuse"}, "fuse_connection:\t41\n");

    MountEntry mount = Mount(60, 1, 0, 40, first, "fuse.fusefat");
    mount.source = "fusefat";
    EXPECT_THAT(FuseServedFiles(mount, proc), ElementsAre(fat16));
    FatVersionSources sources{m_unreadable.Function(), m_udev, true, proc};
    EXPECT_EQ(NameMountedFileSystem(mount, sources).name, "FAT16");
    mount = Mount(61, 1, 0, 41, "/media/second", "fuse.fusefat");
    mount.source = "fusefat";
    EXPECT_EQ(NameMountedFileSystem(mount, sources).name, "FAT32");
    EXPECT_EQ(NameMountedFileSystem(mount, sources).note, "");
    // Served by no process to be seen: a FAT driver's drive is taken as FAT32, and said so.
    mount = Mount(62, 1, 0, 42, "/media/third", "fuse.fusefat");
    EXPECT_EQ(NameMountedFileSystem(mount, sources).name, "FAT32");
    EXPECT_THAT(NameMountedFileSystem(mount, sources).note, ::testing::HasSubstr("FAT32"));
}

TEST_F(FatVersionFallback, SaysSoWhenTheVersionIsAGuess) {
    const std::string zeros = m_folder.Path() + "/zeros.img";
    std::ofstream(zeros).close();
    std::filesystem::resize_file(zeros, 1u << 20);
    const std::string missing = m_folder.Path() + "/no-such-device";
    for (const std::string& source : {missing, zeros, std::string("none"), std::string()}) {
        SCOPED_TRACE("source \"" + source + "\"");
        const FileSystemName name = Name(Typed("vfat", source));
        EXPECT_EQ(name.name, "FAT32");
        // The note names the folder the user chose a file in, and what stood in the way.
        EXPECT_THAT(name.note, ::testing::HasSubstr("/media/usb/"));
        EXPECT_THAT(name.note, ::testing::HasSubstr("FAT32"));
        if (!source.empty()) {
            EXPECT_THAT(name.note, ::testing::HasSubstr(source));
        }
    }
    EXPECT_THAT(Name(Typed("vfat", missing)).note, ::testing::HasSubstr(std::strerror(ENOENT)));

    // Names that are no guess carry no note.
    for (const char* type : {"ext4", "ntfs3", "exfat", "tmpfs", "fuseblk"}) {
        EXPECT_EQ(Name(Typed(type, missing)).note, "") << type;
    }
    Record("8:17", UdevRecord("vfat", "FAT16"));
    EXPECT_EQ(Name(Typed("vfat", missing)).note, "");
}

// ---------------------------------------------------------------------------------------
// The whole look-up on this machine

// What findmnt and stat say about the mount holding an existing folder: of the mounts that
// findmnt lists for it (several when mounts are stacked), the one with the folder's device.
std::optional<DestinationVolume> ExpectedVolume(const std::string& folder) {
    int status = -1;
    std::string device = testing::RunCommand("stat -L -c %Hd:%Ld " + Quoted(folder), status);
    if (status != 0) {
        return std::nullopt;
    }
    while (!device.empty() && device.back() == '\n') {
        device.pop_back();
    }
    const auto rows = FindmntPairs("-n -o TARGET,FSTYPE,MAJ:MIN --target " + Quoted(folder));
    if (rows.empty()) {
        return std::nullopt;
    }
    auto chosen = rows.back();
    for (const auto& row : rows) {
        if (row.at("MAJ:MIN") == device) {
            chosen = row;
        }
    }
    DestinationVolume volume;
    volume.rootPath = chosen.at("TARGET");
    if (volume.rootPath.back() != '/') {
        volume.rootPath += '/';
    }
    volume.fileSystem = chosen.at("FSTYPE");
    return volume;
}

// The kernel's type against the name the copy uses: FAT, NTFS and exFAT are renamed.
void ExpectSameFileSystem(const std::string& kernelType, const std::string& name) {
    if (kernelType == "vfat" || kernelType == "msdos") {
        EXPECT_THAT(name, ::testing::AnyOf("FAT12", "FAT16", "FAT32"));
    } else if (kernelType == "ntfs" || kernelType == "ntfs3") {
        EXPECT_EQ(name, "NTFS");
    } else if (kernelType == "exfat") {
        EXPECT_EQ(name, "exFAT");
    } else if (kernelType.starts_with("fuse")) {
        EXPECT_FALSE(name.empty());
    } else {
        EXPECT_EQ(name, kernelType);
    }
}

class FindDestinationVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(testing::FindTool("findmnt").empty()) << "findmnt (util-linux) is missing";
        ASSERT_FALSE(m_folder.Path().empty()) << "no temporary folder";
    }

    // FindDestinationVolume(path) must name the mount that findmnt names for `folder`.
    void ExpectAsFindmnt(const std::string& path, const std::string& folder) {
        SCOPED_TRACE("path " + path);
        const std::optional<DestinationVolume> expected = ExpectedVolume(folder);
        ASSERT_TRUE(expected) << "findmnt/stat gave nothing for " << folder;
        const std::optional<DestinationVolume> found = FindDestinationVolume(path);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->rootPath, expected->rootPath);
        ExpectSameFileSystem(expected->fileSystem, found->fileSystem);
    }

    TempFolder m_folder;
};

TEST_F(FindDestinationVolumeTest, NamesTheMountsOfSystemFolders) {
    for (const std::string folder : {"/", "/tmp", "/dev", "/dev/shm", "/proc", "/etc"}) {
        ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
        ExpectAsFindmnt(folder, folder);
    }
    // Every mount point of this machine that is a folder, stacked ones included.
    const auto rows = FindmntPairs("-n --kernel -o TARGET");
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        const std::string& target = row.at("TARGET");
        std::error_code error;
        if (std::filesystem::is_directory(target, error)) {
            ExpectAsFindmnt(target, target);
        }
    }
}

TEST_F(FindDestinationVolumeTest, RootPathEndsWithOneSlash) {
    const std::optional<DestinationVolume> root = FindDestinationVolume("/");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->rootPath, "/");
    const std::optional<DestinationVolume> proc = FindDestinationVolume("/proc/self");
    ASSERT_TRUE(proc);
    EXPECT_EQ(proc->rootPath, "/proc/");
    EXPECT_EQ(proc->fileSystem, "proc");
}

TEST_F(FindDestinationVolumeTest, TakesTheFolderOfAFilePath) {
    const std::string& folder = m_folder.Path();
    ExpectAsFindmnt(folder, folder);
    ExpectAsFindmnt(folder + "/", folder);
    ExpectAsFindmnt(folder + "/recording.ts", folder);  // a file that is to be written
    std::ofstream(folder + "/existing.ts").close();
    ExpectAsFindmnt(folder + "/existing.ts", folder);
    std::filesystem::create_directory(folder + "/sub");
    ExpectAsFindmnt(folder + "/./sub/../recording.ts", folder);
    ExpectAsFindmnt(folder + "/sub/..", folder);
}

TEST_F(FindDestinationVolumeTest, FollowsSymbolicLinksToTheirMount) {
    ASSERT_TRUE(std::filesystem::is_directory("/dev/shm"));
    const std::string link = m_folder.Path() + "/to-shm";
    std::filesystem::create_directory_symlink("/dev/shm", link);
    ExpectAsFindmnt(link, "/dev/shm");
    ExpectAsFindmnt(link + "/new-file.ts", "/dev/shm");
    const std::optional<DestinationVolume> viaLink = FindDestinationVolume(link);
    const std::optional<DestinationVolume> direct = FindDestinationVolume("/dev/shm");
    ASSERT_TRUE(viaLink && direct);
    EXPECT_EQ(viaLink->rootPath, direct->rootPath);
}

TEST_F(FindDestinationVolumeTest, TakesRelativePathsFromTheWorkingFolder) {
    const std::string here = std::filesystem::current_path();
    ExpectAsFindmnt(".", here);
    ExpectAsFindmnt("moravel-not-written.ts", here);
}

TEST_F(FindDestinationVolumeTest, FindsNothingForAFolderThatDoesNotExist) {
    const std::string& folder = m_folder.Path();
    EXPECT_EQ(FindDestinationVolume(folder + "/missing/recording.ts"), std::nullopt);
    EXPECT_EQ(FindDestinationVolume(folder + "/missing/"), std::nullopt);
    EXPECT_EQ(FindDestinationVolume("/moravel-no-such-folder/sub/file"), std::nullopt);
    // As for open(): ".." does not lead back out of a folder that does not exist.
    EXPECT_EQ(FindDestinationVolume(folder + "/missing/../recording.ts"), std::nullopt);
    EXPECT_EQ(FindDestinationVolume(""), std::nullopt);
    // A path below a file: its "folder" is no folder.
    std::ofstream(folder + "/plain.txt").close();
    EXPECT_EQ(FindDestinationVolume(folder + "/plain.txt/recording.ts"), std::nullopt);
}

}  // namespace
}  // namespace moravel
