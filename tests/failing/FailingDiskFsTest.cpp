// Mounts an image with moravel-failing-disk and reads it as the program would
// read a failing drive. Skipped, with the reason, where FUSE cannot be used.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/FailingDiskServer.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace moravel {
namespace {

using testing::Bytes;

// 2 MiB: more than the kernel sends in one request.
constexpr std::uint64_t kSectors = 4096;

// Every byte of the image tells its sector and its place in it.
Bytes Contents() {
    Bytes data(kSectors * 512);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>((i / 512) * 31 + i % 512 % 251);
    }
    return data;
}

void WriteImage(const std::string& path) {
    const Bytes data = Contents();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
}

class FailingDiskFsTest : public ::testing::Test {
protected:
    void SetUp() override {
        static const std::string whyNoFuse = testing::WhyNoFuse(FAILING_DISK_TOOL);
        if (!whyNoFuse.empty()) {
            GTEST_SKIP() << "FUSE cannot be used here: " << whyNoFuse;
        }
        WriteImage(m_image);
    }

    // Serves the image with the options until the test ends (or Unmount).
    [[nodiscard]] bool Mount(std::vector<std::string> options) {
        m_server = std::make_unique<testing::FailingDiskServer>(m_dir, FAILING_DISK_TOOL, m_image,
                                                                std::move(options));
        EXPECT_TRUE(m_server->Mounted()) << m_server->Failure();
        EXPECT_EQ(m_server->Size(), kSectors * 512);
        m_disk = m_server->Disk();
        return m_server->Mounted();
    }

    void Unmount() { m_server.reset(); }

    // Reads sectors [first, first + count) of the mounted disk: the bytes that
    // arrived, or errno when the read failed.
    struct Got {
        Bytes bytes;
        int error = 0;
    };
    Got ReadSectors(std::uint64_t first, std::uint64_t count) const {
        Got got;
        const int fd = ::open(m_disk.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            got.error = errno;
            return got;
        }
        got.bytes.resize(count * 512);
        const ssize_t n =
            ::pread(fd, got.bytes.data(), got.bytes.size(), static_cast<off_t>(first * 512));
        got.error = n < 0 ? errno : 0;
        got.bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        ::close(fd);
        return got;
    }

    static Bytes Expected(std::uint64_t first, std::uint64_t count) {
        const Bytes all = Contents();
        return Bytes(all.begin() + static_cast<long>(first * 512),
                     all.begin() + static_cast<long>((first + count) * 512));
    }

    testing::TempDir m_dir;
    std::string m_image = m_dir.File("image.img");
    std::unique_ptr<testing::FailingDiskServer> m_server;
    std::string m_disk;
};

TEST_F(FailingDiskFsTest, ReadsFailExactlyAtTheBadSectors) {
    ASSERT_TRUE(Mount({"--bad", "10-12", "--bad", "40", "--delay-ms", "1"}));
    for (std::uint64_t sector = 0; sector < 64; ++sector) {
        const Got got = ReadSectors(sector, 1);
        if ((sector >= 10 && sector <= 12) || sector == 40) {
            EXPECT_EQ(got.error, EIO) << sector;
            EXPECT_TRUE(got.bytes.empty()) << sector;
        } else {
            EXPECT_EQ(got.error, 0) << sector;
            EXPECT_EQ(got.bytes, Expected(sector, 1)) << sector;
        }
    }
    // A long read comes back short, up to the first bad sector.
    EXPECT_EQ(ReadSectors(0, 64).bytes, Expected(0, 10));
    EXPECT_EQ(ReadSectors(13, kSectors - 13).bytes, Expected(13, 27));
    EXPECT_EQ(ReadSectors(41, kSectors - 41).bytes, Expected(41, kSectors - 41));
}

TEST_F(FailingDiskFsTest, AWeakSectorReadsOnItsThirdTry) {
    ASSERT_TRUE(Mount({"--weak", "20:3", "--delay-ms", "1"}));
    EXPECT_EQ(ReadSectors(20, 1).error, EIO);
    EXPECT_EQ(ReadSectors(20, 1).error, EIO);
    EXPECT_EQ(ReadSectors(20, 1).bytes, Expected(20, 1));
    EXPECT_EQ(ReadSectors(18, 4).bytes, Expected(18, 4));
}

TEST_F(FailingDiskFsTest, TheLogHasOneLinePerRead) {
    const std::string log = m_dir.File("reads.log");
    ASSERT_TRUE(Mount({"--bad", "10", "--delay-ms", "1", "--log", log}));
    ReadSectors(0, 1);
    ReadSectors(8, 4);
    ReadSectors(10, 1);
    Unmount();
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"0 512 512", "4096 2048 1024", "5120 512 0 EIO"}));
}

TEST_F(FailingDiskFsTest, ALongReadEndsAtTheBadSectorOfALaterRequest) {
    const std::string log = m_dir.File("reads.log");
    ASSERT_TRUE(Mount({"--bad", "3000", "--delay-ms", "1", "--log", log}));
    EXPECT_EQ(ReadSectors(0, kSectors).bytes, Expected(0, 3000));
    Unmount();
    // The kernel split the read, and asked for nothing after the short request.
    std::ifstream in(log);
    std::uint64_t next = 0;
    std::uint64_t requests = 0;
    for (std::uint64_t offset = 0, length = 0, bytes = 0; in >> offset >> length >> bytes;) {
        ++requests;
        EXPECT_EQ(offset, next);
        next = offset + bytes;
        if (next < 3000 * 512) {
            EXPECT_EQ(bytes, length) << offset;
        }
    }
    EXPECT_GT(requests, 1u);
    EXPECT_EQ(next, 3000u * 512);
}

TEST_F(FailingDiskFsTest, ABadSectorCostsTheDelay) {
    ASSERT_TRUE(Mount({"--bad", "5", "--delay-ms", "300"}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadSectors(5, 1).error, EIO);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(FailingDiskFsTest, NothingIsOpenedForWriting) {
    ASSERT_TRUE(Mount({"--bad", "5"}));
    EXPECT_LT(::open(m_disk.c_str(), O_RDWR | O_CLOEXEC), 0);
    EXPECT_EQ(errno, EROFS);
    // The server holds the image read-only.
    int imageFds = 0;
    const std::string proc = "/proc/" + std::to_string(m_server->Pid());
    for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != m_image) {
            continue;
        }
        ++imageFds;
        std::ifstream info(proc + "/fdinfo/" + entry.path().filename().string());
        std::string key;
        std::string flags;
        while (info >> key >> flags && key != "flags:") {
        }
        EXPECT_EQ(std::stoi(flags, nullptr, 8) & O_ACCMODE, O_RDONLY) << flags;
    }
    EXPECT_EQ(imageFds, 1);
}

}  // namespace
}  // namespace moravel
