#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CliTestImages.h"
#include "support/MemoryTarget.h"

// The program never writes to a disk it reads: every operation, on both ways of
// reaching the disks, leaves the images' bytes and times as they were, and every
// descriptor the program holds on them is open for reading only.
namespace moravel::testing {
namespace {

namespace fs = std::filesystem;

// What writing to an image would change: its size, times, and the bytes of its
// data (the holes of a sparse image read as zeros and are skipped).
struct Fingerprint {
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    std::int64_t ctime = 0;
    std::uint64_t hash = 0;
    bool operator==(const Fingerprint&) const = default;
};

Fingerprint FingerprintOf(const std::string& path) {
    Fingerprint print;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        ADD_FAILURE() << "cannot stat " << path;
        return print;
    }
    print.size = static_cast<std::uint64_t>(info.st_size);
    print.mtime = info.st_mtim.tv_sec * 1'000'000'000 + info.st_mtim.tv_nsec;
    print.ctime = info.st_ctim.tv_sec * 1'000'000'000 + info.st_ctim.tv_nsec;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<std::uint8_t> buffer(1 << 20);
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over offsets and bytes
    for (off_t at = ::lseek(fd, 0, SEEK_DATA); at >= 0; at = ::lseek(fd, at, SEEK_DATA)) {
        const off_t hole = ::lseek(fd, at, SEEK_HOLE);
        for (off_t from = at; from < hole;) {
            const auto want = static_cast<std::size_t>(
                std::min<off_t>(hole - from, static_cast<off_t>(buffer.size())));
            const ssize_t got = ::pread(fd, buffer.data(), want, from);
            if (got <= 0) {
                break;
            }
            for (ssize_t i = 0; i < got; ++i) {
                if (buffer[static_cast<std::size_t>(i)] != 0) {
                    hash = (hash ^ static_cast<std::uint64_t>(from + i)) * 1099511628211ull;
                    hash = (hash ^ buffer[static_cast<std::size_t>(i)]) * 1099511628211ull;
                }
            }
            from += got;
        }
        at = hole;
    }
    ::close(fd);
    print.hash = hash;
    return print;
}

// The descriptors of this process that are open on one of the images, with
// their access modes.
std::vector<std::pair<std::string, int>> DescriptorsOn(const std::vector<std::string>& images) {
    std::vector<fs::path> wanted;
    for (const std::string& image : images) {
        wanted.push_back(fs::canonical(image));
    }
    std::vector<std::pair<std::string, int>> found;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (error || std::find(wanted.begin(), wanted.end(), target) == wanted.end()) {
            continue;
        }
        const int fd = std::stoi(entry.path().filename().string());
        found.emplace_back(target.string(), ::fcntl(fd, F_GETFL) & O_ACCMODE);
    }
    return found;
}

// A copy goes this far into a file; a multi-gigabyte recording is then stopped,
// as Ctrl-C would stop it.
constexpr std::uint64_t kCopyBudget = 64ull << 20;

// Copies into memory, and looks at the program's descriptors every time an
// output is created: the disks are open then.
class WatchingTarget : public MemoryTarget {
public:
    explicit WatchingTarget(std::vector<std::string> images)
        : MemoryTarget("NTFS", "/"), m_images(std::move(images)) {}

    Result<std::unique_ptr<OutputFile>> Create(const std::string& path) override {
        for (const auto& [image, mode] : DescriptorsOn(m_images)) {
            ++descriptorsSeen;
            EXPECT_EQ(mode, O_RDONLY) << image << " is open for writing";
        }
        stop = 0;
        Result<std::unique_ptr<OutputFile>> inner = MemoryTarget::Create(path);
        if (!inner) {
            return inner;
        }
        return std::make_unique<Budgeted>(std::move(*inner), stop);
    }

    int descriptorsSeen = 0;
    volatile std::sig_atomic_t stop = 0;

private:
    class Budgeted final : public OutputFile {
    public:
        Budgeted(std::unique_ptr<OutputFile> inner, volatile std::sig_atomic_t& stop)
            : m_inner(std::move(inner)), m_stop(stop) {}
        bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
            m_bytes += bytes.size();
            if (m_bytes > kCopyBudget) {
                m_stop = 1;
            }
            return m_inner->Write(bytes, written);
        }
        bool Flush() override { return m_inner->Flush(); }
        bool Close() override { return m_inner->Close(); }

    private:
        std::unique_ptr<OutputFile> m_inner;
        volatile std::sig_atomic_t& m_stop;
        std::uint64_t m_bytes = 0;
    };

    std::vector<std::string> m_images;
};

// The tree paths of every file of a JSON listing.
void CollectFiles(const nlohmann::json& items, std::vector<std::string>& files) {
    for (const auto& item : items) {
        if (item["kind"] == "file") {
            files.push_back(item["path"]);
        }
        if (item.contains("children")) {
            CollectFiles(item["children"], files);
        }
    }
}

class ReadOnlyTest : public ::testing::TestWithParam<bool> {};

TEST_P(ReadOnlyTest, EveryOperationLeavesTheDisksAsTheyWere) {
    const bool biosServices = GetParam();
    TempDir dir;
    const RecorderDisk recorder(dir);
    const CopyDisk copyDisk(dir);
    const std::string floppy = MakeFloppy(dir);
    const std::vector<std::string> images = {recorder.path, copyDisk.path, floppy};
    std::map<std::string, Fingerprint> before;
    for (const std::string& image : images) {
        before[image] = FingerprintOf(image);
    }
    std::vector<std::string> disks = {"--disk",      recorder.path, "--disk",
                                      copyDisk.path, "--floppy",    floppy};
    if (biosServices) {
        disks.push_back("--bios-services");
    }
    const auto with = [&disks](std::vector<std::string> args) {
        std::vector<std::string> line = disks;
        line.insert(line.end(), args.begin(), args.end());
        return line;
    };

    // Enumeration and the whole tree, expanded.
    const CliRun list = RunList(with({"list", "-r", "--json"}));
    ASSERT_EQ(list.status, 0) << list.err;
    std::vector<std::string> files;
    CollectFiles(nlohmann::json::parse(list.out), files);
    ASSERT_GE(files.size(), 15u);

    // Every file copied.
    WatchingTarget target(images);
    cli::CliEnvironment environment;
    environment.copyTarget = &target;
    environment.stopRequested = &target.stop;
    int stopped = 0;
    for (const std::string& file : files) {
        const CliRun copy = RunIn(with({"copy", file, "/out/copy.bin"}), environment);
        if (target.stop != 0) {
            ++stopped;
            EXPECT_EQ(copy.out, "The file copying failed.\n") << file;
        } else {
            EXPECT_EQ(copy.status, 0) << file << ": " << copy.err;
        }
    }
    EXPECT_EQ(stopped, 1);  // the recording of 4.5 GiB
    // The device platform holds each disk open; the BIOS services hold their own.
    EXPECT_GE(target.descriptorsSeen, static_cast<int>(files.size()));

    for (const std::string& image : images) {
        EXPECT_EQ(FingerprintOf(image), before[image]) << image;
    }
}

INSTANTIATE_TEST_SUITE_P(Platforms, ReadOnlyTest, ::testing::Values(false, true),
                         [](const auto& param) {
                             return param.param ? "BiosServices" : "Devices";
                         });

}  // namespace
}  // namespace moravel::testing
