#include <gmock/gmock.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "copy/CopyTarget.h"
#include "copy/SourceDevices.h"
#include "support/MemoryTarget.h"
#include "support/TempDir.h"

// The disks beneath a destination: the walk through a sysfs tree built in a temporary folder
// (partitions, device-mapper devices and their slaves, loop devices and their backing
// files), the mount table's source of FUSE file systems, and the guard that keeps the copy's
// files off them.
namespace moravel {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string Number(dev_t device) {
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

dev_t DeviceOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_dev;
}

// A sysfs tree laid out as the kernel lays out its own: device folders below devices/, a
// partition's folder inside its disk's, dev/block/MAJ:MIN linking to them (relative links).
class FakeSysfs {
public:
    explicit FakeSysfs(fs::path root) : m_root(std::move(root)) {
        fs::create_directories(m_root / "dev" / "block");
    }
    const fs::path& Root() const { return m_root; }

    fs::path Device(const std::string& where, dev_t number) {
        const fs::path folder = m_root / "devices" / where;
        fs::create_directories(folder);
        WriteText(folder / "dev", Number(number) + "\n");
        const fs::path link = m_root / "dev" / "block" / Number(number);
        fs::create_directory_symlink(fs::relative(folder, link.parent_path()), link);
        return folder;
    }
    fs::path Partition(const std::string& where, dev_t number) {
        const fs::path folder = Device(where, number);
        WriteText(folder / "partition", "1\n");
        return folder;
    }
    fs::path Loop(const std::string& where, dev_t number, const std::string& backingFile) {
        const fs::path folder = Device(where, number);
        fs::create_directories(folder / "loop");
        WriteText(folder / "loop" / "backing_file", backingFile + "\n");
        return folder;
    }
    // The device at `holder` is made of the one at `slave`.
    void Slave(const std::string& holder, const std::string& slave) {
        const fs::path slaves = m_root / "devices" / holder / "slaves";
        fs::create_directories(slaves);
        const fs::path target = m_root / "devices" / slave;
        fs::create_directory_symlink(fs::relative(target, slaves), slaves / target.filename());
    }

private:
    fs::path m_root;
};

class SourceDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_image = m_dir.File("disk.img");
        m_other = m_dir.File("other.img");
        WriteText(m_image, "recorder disk");
        WriteText(m_other, "another disk");
    }

    std::optional<SourceOverlap> Beneath(dev_t device, const SourceDisks& sources) {
        return FindSourceBeneath(device, sources, m_sys.Root());
    }

    TempDir m_dir;
    FakeSysfs m_sys{m_dir.Path() / "sys"};
    std::string m_image;
    std::string m_other;
};

const dev_t kSdb = makedev(8, 16);
const dev_t kSdb1 = makedev(8, 17);
const dev_t kSdc = makedev(8, 32);
const dev_t kSdc1 = makedev(8, 33);

// ---------------------------------------------------------------------------------------
// The walk beneath a device

TEST_F(SourceDevicesTest, APartitionOfADiskBeingReadLiesOnIt) {
    m_sys.Device("pci0000:00/usb1/block/sdb", kSdb);
    m_sys.Partition("pci0000:00/usb1/block/sdb/sdb1", kSdb1);
    m_sys.Device("pci0000:00/usb2/block/sdc", kSdc);
    m_sys.Partition("pci0000:00/usb2/block/sdc/sdc1", kSdc1);
    const SourceDisks sdb{{kSdb}, {}};
    EXPECT_EQ(Beneath(kSdb1, sdb), SourceOverlap::Partition);
    EXPECT_EQ(Beneath(kSdb, sdb), SourceOverlap::Disk);
    // The other disk and its partition are free to be written.
    EXPECT_EQ(Beneath(kSdc1, sdb), std::nullopt);
    EXPECT_EQ(Beneath(kSdc, sdb), std::nullopt);
    EXPECT_EQ(Beneath(kSdb1, SourceDisks{{kSdc1}, {}}), std::nullopt);
    EXPECT_EQ(Beneath(kSdb1, SourceDisks{}), std::nullopt);
    // A disk that sysfs does not show is still known by its number.
    EXPECT_EQ(Beneath(makedev(8, 48), SourceDisks{{makedev(8, 48)}, {}}), SourceOverlap::Disk);
}

TEST_F(SourceDevicesTest, ALoopDeviceReadingAnImageBeingReadLeadsToIt) {
    m_sys.Loop("virtual/block/loop0", makedev(7, 0), m_image);
    m_sys.Partition("virtual/block/loop0/loop0p1", makedev(259, 0));
    m_sys.Loop("virtual/block/loop1", makedev(7, 1), m_other);
    m_sys.Partition("virtual/block/loop1/loop1p1", makedev(259, 1));
    // The image as the disk was opened, by another name: a hard link to it.
    const std::string link = m_dir.File("link.img");
    fs::create_hard_link(m_image, link);
    const SourceDisks image = IdentifySourceDisks({link});
    ASSERT_EQ(image.images.size(), 1u);
    EXPECT_EQ(Beneath(makedev(259, 0), image), SourceOverlap::Loop);
    EXPECT_EQ(Beneath(makedev(7, 0), image), SourceOverlap::Loop);
    EXPECT_EQ(Beneath(makedev(259, 1), image), std::nullopt);
    EXPECT_EQ(Beneath(makedev(7, 1), image), std::nullopt);
}

TEST_F(SourceDevicesTest, DevicesMappedOverADiskBeingReadLieOnIt) {
    m_sys.Device("pci0000:00/usb1/block/sdb", kSdb);
    m_sys.Partition("pci0000:00/usb1/block/sdb/sdb1", kSdb1);
    m_sys.Device("pci0000:00/usb2/block/sdc", kSdc);
    m_sys.Partition("pci0000:00/usb2/block/sdc/sdc1", kSdc1);
    m_sys.Loop("virtual/block/loop0", makedev(7, 0), m_image);
    m_sys.Partition("virtual/block/loop0/loop0p1", makedev(259, 0));
    // dm-crypt over sdb1, LVM over that; a volume over sdc1; one over the image's partition;
    // a volume over the other disk and the image's partition together.
    m_sys.Device("virtual/block/dm-0", makedev(253, 0));
    m_sys.Slave("virtual/block/dm-0", "pci0000:00/usb1/block/sdb/sdb1");
    m_sys.Device("virtual/block/dm-1", makedev(253, 1));
    m_sys.Slave("virtual/block/dm-1", "virtual/block/dm-0");
    m_sys.Device("virtual/block/dm-2", makedev(253, 2));
    m_sys.Slave("virtual/block/dm-2", "pci0000:00/usb2/block/sdc/sdc1");
    m_sys.Device("virtual/block/dm-3", makedev(253, 3));
    m_sys.Slave("virtual/block/dm-3", "virtual/block/loop0/loop0p1");
    m_sys.Device("virtual/block/dm-4", makedev(253, 4));
    m_sys.Slave("virtual/block/dm-4", "pci0000:00/usb2/block/sdc/sdc1");
    m_sys.Slave("virtual/block/dm-4", "virtual/block/loop0/loop0p1");

    const SourceDisks sources = IdentifySourceDisks({m_image});
    const SourceDisks both{{kSdb}, sources.images};
    EXPECT_EQ(Beneath(makedev(253, 0), both), SourceOverlap::Layered);
    EXPECT_EQ(Beneath(makedev(253, 1), both), SourceOverlap::Layered);
    EXPECT_EQ(Beneath(makedev(253, 2), both), std::nullopt);
    EXPECT_EQ(Beneath(makedev(253, 3), both), SourceOverlap::Loop);
    EXPECT_EQ(Beneath(makedev(253, 4), both), SourceOverlap::Loop);
    EXPECT_EQ(Beneath(makedev(253, 1), sources), std::nullopt);
}

TEST_F(SourceDevicesTest, ALoopDeviceReadingAFileOnADiskBeingReadLeadsToIt) {
    // The backing file lies on the file system of the temporary folder; here that file
    // system is on a partition of a disk being read.
    const dev_t here = DeviceOf(m_other);
    const dev_t disk = makedev(240, 0);
    const dev_t loop = makedev(240, 9);
    ASSERT_NE(here, disk);
    ASSERT_NE(here, loop);
    m_sys.Loop("virtual/block/loop9", loop, m_other);
    EXPECT_EQ(Beneath(loop, SourceDisks{{disk}, {}}), std::nullopt);
    m_sys.Device("pci0000:00/block/sdx", disk);
    m_sys.Partition("pci0000:00/block/sdx/sdx1", here);
    EXPECT_EQ(Beneath(loop, SourceDisks{{disk}, {}}), SourceOverlap::Loop);
}

TEST_F(SourceDevicesTest, MissingAndGarbledEntriesEndTheirBranchOnly) {
    const SourceDisks sources{{kSdb}, IdentifySourceDisks({m_image}).images};
    // No sysfs at all.
    EXPECT_EQ(FindSourceBeneath(kSdb1, sources, m_dir.Path() / "no-sys"), std::nullopt);

    m_sys.Device("pci0000:00/usb1/block/sdb", kSdb);
    m_sys.Partition("pci0000:00/usb1/block/sdb/sdb1", kSdb1);
    // A link to no folder; a partition whose disk's number is garbled, or missing.
    fs::create_directory_symlink("../../devices/gone", m_sys.Root() / "dev/block/8:49");
    for (const auto& [name, text] :
         std::vector<std::pair<std::string, std::string>>{{"sdd", "garbage\n"},
                                                          {"sde", "8:\n"},
                                                          {"sdf", ":16\n"},
                                                          {"sdg", "8:16x\n"},
                                                          {"sdh", ""},
                                                          {"sdi", "-8:16\n"}}) {
        const fs::path disk = m_sys.Device("pci0000:00/block/" + name, makedev(65, 0));
        WriteText(disk / "dev", text);
        fs::remove(m_sys.Root() / "dev/block/65:0");
        const fs::path part =
            m_sys.Partition("pci0000:00/block/" + name + "/" + name + "1", makedev(65, 1));
        EXPECT_EQ(Beneath(makedev(65, 1), sources), std::nullopt) << name << " " << text;
        fs::remove(m_sys.Root() / "dev/block/65:1");
    }
    EXPECT_EQ(Beneath(makedev(8, 49), sources), std::nullopt);
    // Loop devices whose backing file is empty, gone, deleted, or a folder.
    const std::vector<std::string> backings = {"", m_dir.File("missing.img"),
                                               m_image + " (deleted)", m_dir.Path().string()};
    for (unsigned int i = 0; i < backings.size(); ++i) {
        m_sys.Loop("virtual/block/loop" + std::to_string(i), makedev(7, i), backings[i]);
        EXPECT_EQ(Beneath(makedev(7, i), sources), std::nullopt) << "\"" << backings[i] << "\"";
    }
    // A loop device with a folder where its backing file should be.
    m_sys.Device("virtual/block/loop7", makedev(7, 7));
    fs::create_directories(m_sys.Root() / "devices/virtual/block/loop7/loop/backing_file");
    EXPECT_EQ(Beneath(makedev(7, 7), sources), std::nullopt);

    // Devices made of each other, a dangling slave, "slaves" as a file: the walk ends.
    m_sys.Device("virtual/block/dm-5", makedev(253, 5));
    m_sys.Device("virtual/block/dm-6", makedev(253, 6));
    m_sys.Slave("virtual/block/dm-5", "virtual/block/dm-6");
    m_sys.Slave("virtual/block/dm-6", "virtual/block/dm-5");
    m_sys.Slave("virtual/block/dm-6", "virtual/block/gone");
    m_sys.Device("virtual/block/dm-8", makedev(253, 8));
    WriteText(m_sys.Root() / "devices/virtual/block/dm-8/slaves", "sdb1\n");
    EXPECT_EQ(Beneath(makedev(253, 5), sources), std::nullopt);
    EXPECT_EQ(Beneath(makedev(253, 8), sources), std::nullopt);
    // Beside all of that, a branch that leads to the disk being read is still followed.
    m_sys.Device("virtual/block/dm-9", makedev(253, 9));
    for (const char* slave :
         {"virtual/block/dm-5", "virtual/block/gone2", "virtual/block/loop0", "virtual/block/loop3",
          "pci0000:00/block/sdd/sdd1", "pci0000:00/usb1/block/sdb/sdb1"}) {
        m_sys.Slave("virtual/block/dm-9", slave);
    }
    EXPECT_EQ(Beneath(makedev(253, 9), sources), SourceOverlap::Layered);
}

// ---------------------------------------------------------------------------------------
// Where a file would be written

class SourceRefusalTest : public SourceDevicesTest {
protected:
    void SetUp() override {
        SourceDevicesTest::SetUp();
        m_here = DeviceOf(m_dir.Path());
        ASSERT_NE(m_here, kDisk);
        ASSERT_NE(m_here, kLoop);
        m_tables.sysRoot = m_sys.Root();
        m_tables.mountInfo = "";  // no mount: only the folder's device counts
    }

    std::optional<std::string> Refusal(const std::string& path, const SourceDisks& sources) {
        return SourceRefusal(path, sources, m_tables);
    }

    // The temporary folder's file system as a partition of a disk being read.
    void OnAPartitionOfTheDisk() {
        m_sys.Device("pci0000:00/usb1/block/sdz", kDisk);
        m_sys.Partition("pci0000:00/usb1/block/sdz/sdz1", m_here);
    }

    const dev_t kDisk = makedev(240, 0);
    const dev_t kLoop = makedev(240, 7);
    dev_t m_here = 0;
    BlockDeviceTables m_tables;
};

TEST_F(SourceRefusalTest, AFileOnAPartitionOfADiskBeingReadIsRefused) {
    OnAPartitionOfTheDisk();
    const SourceDisks disk{{kDisk}, {}};
    fs::create_directory(m_dir.Path() / "sub");
    WriteText(m_dir.File("existing.ts"), "x");
    const std::string expected = "it is on a partition of a disk being read (/dev/sdz1)";
    for (const std::string& path : {m_dir.File("new.ts"), m_dir.File("existing.ts"),
                                    m_dir.File("sub/new.ts"), m_dir.File("sub/../new.ts")}) {
        EXPECT_EQ(Refusal(path, disk), expected) << path;
    }
    // Another disk is being read; a folder that does not exist holds no file.
    EXPECT_EQ(Refusal(m_dir.File("new.ts"), SourceDisks{{makedev(240, 16)}, {}}), std::nullopt);
    EXPECT_EQ(Refusal(m_dir.File("missing/new.ts"), disk), std::nullopt);
    EXPECT_EQ(Refusal(m_dir.File("new.ts"), SourceDisks{}), std::nullopt);
}

TEST_F(SourceRefusalTest, AFileBehindALoopDeviceReadingTheImageIsRefused) {
    m_sys.Loop("virtual/block/loop7", kLoop, m_image);
    m_sys.Partition("virtual/block/loop7/loop7p1", m_here);
    EXPECT_EQ(Refusal(m_dir.File("out.ts"), IdentifySourceDisks({m_image})),
              "it is on a file system whose loop device reads a disk being read (/dev/loop7p1)");
    EXPECT_EQ(Refusal(m_dir.File("out.ts"), IdentifySourceDisks({m_other})), std::nullopt);
}

TEST_F(SourceRefusalTest, ASymbolicLinkCountsWhereItLeads) {
    // A second file system: a link there that leads here is refused, even while its target
    // does not exist yet (creating it creates the target); a link here that leads there
    // is not.
    const fs::path shm = "/dev/shm";
    std::error_code error;
    if (!fs::is_directory(shm, error) || DeviceOf(shm) == m_here || ::access(shm.c_str(), W_OK)) {
        GTEST_SKIP() << "no writable /dev/shm on a file system of its own";
    }
    std::string pattern = (shm / "moravel-links-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path there = pattern;
    OnAPartitionOfTheDisk();
    const SourceDisks disk{{kDisk}, {}};
    WriteText(m_dir.File("existing.ts"), "x");
    fs::create_symlink(m_dir.File("existing.ts"), there / "to-existing");
    fs::create_symlink(m_dir.File("new.ts"), there / "to-new");
    fs::create_symlink(there / "to-new", there / "to-link");
    fs::create_symlink(there / "elsewhere.ts", m_dir.File("to-there"));
    const std::string expected = "it is on a partition of a disk being read (/dev/sdz1)";
    EXPECT_EQ(Refusal(there / "to-existing", disk), expected);
    EXPECT_EQ(Refusal(there / "to-new", disk), expected);
    EXPECT_EQ(Refusal(there / "to-link", disk), expected);
    EXPECT_EQ(Refusal(there / "plain.ts", disk), std::nullopt);
    EXPECT_EQ(Refusal(m_dir.File("to-there"), disk), std::nullopt);
    fs::remove_all(there);
}

// A block device of this machine other than the one that holds `notThis`; empty when there
// is none that this process can see.
std::string SomeBlockDevice(dev_t notThis) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/dev", error)) {
        struct stat status {};
        if (::lstat(entry.path().c_str(), &status) == 0 && S_ISBLK(status.st_mode) &&
            status.st_rdev != notThis) {
            found.push_back(entry.path().string());
        }
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string() : found.front();
}

TEST_F(SourceRefusalTest, TheMountTableNamesTheDeviceOfAFuseFileSystem) {
    // ntfs-3g and the like: the folder's own device number is no block device; the mount
    // table names the device (or image) that the driver serves.
    const auto fuse = [](const std::string& source) {
        return "30 1 0:250 / / rw,relatime - fuseblk " + source +
               " rw,user_id=0,group_id=0,allow_other\n";
    };
    const SourceDisks sources{{kDisk}, IdentifySourceDisks({m_image}).images};
    m_tables.mountInfo = fuse(m_image);
    EXPECT_EQ(Refusal(m_dir.File("out.ts"), sources),
              "it is on a file system that is read from a disk being read (" + m_image + ")");
    m_tables.mountInfo = fuse(m_other);
    EXPECT_EQ(Refusal(m_dir.File("out.ts"), sources), std::nullopt);
    for (const char* source : {"none", "", "/dev/moravel-no-such-device"}) {
        m_tables.mountInfo = fuse(source);
        EXPECT_EQ(Refusal(m_dir.File("out.ts"), sources), std::nullopt) << source;
    }

    const std::string device = SomeBlockDevice(m_here);
    if (device.empty()) {
        GTEST_SKIP() << "no block device in /dev to stand for the FUSE mount's source";
    }
    struct stat status {};
    ASSERT_EQ(::stat(device.c_str(), &status), 0);
    m_tables.mountInfo = fuse(device);
    EXPECT_EQ(Refusal(m_dir.File("out.ts"), sources), std::nullopt);
    m_sys.Device("pci0000:00/usb1/block/sdz", kDisk);
    m_sys.Partition("pci0000:00/usb1/block/sdz/sdz1", status.st_rdev);
    EXPECT_EQ(Refusal(m_dir.File("out.ts"), sources),
              "it is on a partition of a disk being read (" + device + ")");
}

TEST_F(SourceRefusalTest, TheGuardCreatesNoFileThere) {
    m_sys.Loop("virtual/block/loop7", kLoop, m_image);
    m_sys.Partition("virtual/block/loop7/loop7p1", m_here);
    testing::MemoryTarget inner("ext4", m_dir.Path().string() + "/");
    SourceGuard guard(inner, {m_image}, m_tables);
    const auto refused = guard.Create(m_dir.File("out.ts"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().reason,
              "it is on a file system whose loop device reads a disk being read (/dev/loop7p1)");
    EXPECT_THAT(inner.created, ::testing::IsEmpty());

    SourceGuard otherDisk(inner, {m_other}, m_tables);
    EXPECT_TRUE(otherDisk.Create(m_dir.File("out.ts")));
    EXPECT_THAT(inner.created, ::testing::ElementsAre(m_dir.File("out.ts")));
}

}  // namespace
}  // namespace moravel
