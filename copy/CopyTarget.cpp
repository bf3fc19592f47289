#include "CopyTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "PartNames.h"

namespace moravel {

namespace {

// Writes go to the kernel in pieces of up to 256 KiB: one system call per
// cluster would cost more than the copying itself. Bytes that follow the held
// ones in the caller's memory (the clusters of one read) join them uncopied.
constexpr std::size_t kWriteBehind = 256 * 1024;

class PosixOutputFile final : public OutputFile {
public:
    explicit PosixOutputFile(int fd) : m_fd(fd) {}
    ~PosixOutputFile() override {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    PosixOutputFile(const PosixOutputFile&) = delete;
    PosixOutputFile& operator=(const PosixOutputFile&) = delete;

    bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        written = 0;
        const bool joins = !m_held.empty() && bytes.data() == m_held.data() + m_held.size() &&
                           m_held.size() + bytes.size() <= kWriteBehind;
        if (joins) {
            m_held = {m_held.data(), m_held.size() + bytes.size()};
        } else {
            if (!Flush()) {
                return false;
            }
            m_held = bytes;
        }
        written = bytes.size();
        return true;
    }

    bool Flush() override {
        std::size_t done = 0;
        while (done < m_held.size()) {
            const ssize_t wrote = ::write(m_fd, m_held.data() + done, m_held.size() - done);
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                m_held = {};
                return false;
            }
            done += static_cast<std::size_t>(wrote);
        }
        m_held = {};
        return true;
    }

    bool Close() override {
        const bool flushed = Flush();
        if (m_modified) {
            // The recording's own date, as the recorder wrote it; a file system
            // that cannot keep it leaves the time of the copy.
            const timespec times[2] = {{0, UTIME_NOW}, {*m_modified, 0}};
            ::futimens(m_fd, times);
        }
        const int fd = m_fd;
        m_fd = -1;
        // Not retried on EINTR: the descriptor is gone either way on Linux.
        return ::close(fd) == 0 && flushed;
    }

    void KeepModified(std::time_t when) override { m_modified = when; }

private:
    int m_fd;
    std::span<const std::uint8_t> m_held;
    std::optional<std::time_t> m_modified;
};

}  // namespace

std::optional<DestinationVolume> FileSystemTarget::VolumeOf(const std::string& path) {
    return FindDestinationVolume(path);
}

std::unique_ptr<OutputFile> FileSystemTarget::Create(const std::string& path, std::string& reason) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<PosixOutputFile>(fd);
}

std::optional<DestinationVolume> PartsAlways::VolumeOf(const std::string& path) {
    DestinationVolume volume = m_inner.VolumeOf(path).value_or(DestinationVolume{});
    if (!IsRefusedFileSystem(volume.fileSystem) && volume.fileSystem != "FAT32") {
        volume.fileSystem = "FAT32";
        volume.partsAsked = true;
    }
    return volume;
}

SourceGuard::SourceGuard(CopyTarget& inner, const std::vector<std::string>& diskPaths,
                         BlockDeviceTables tables)
    : m_inner(inner), m_sources(IdentifySourceDisks(diskPaths)), m_tables(std::move(tables)) {
    for (const std::string& path : diskPaths) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) {
            m_disks.push_back({info.st_dev, info.st_ino});
        }
    }
}

std::unique_ptr<OutputFile> SourceGuard::Create(const std::string& path, std::string& reason) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        const bool disk = std::any_of(m_disks.begin(), m_disks.end(), [&](const FileId& id) {
            return id.device == info.st_dev && id.inode == info.st_ino;
        });
        if (disk || S_ISBLK(info.st_mode)) {
            reason = disk ? "it is a disk being read" : "it is a block device";
            return nullptr;
        }
    }
    if (std::optional<std::string> refusal = SourceRefusal(path, m_sources, m_tables)) {
        reason = std::move(*refusal);
        return nullptr;
    }
    return m_inner.Create(path, reason);
}

}  // namespace moravel
