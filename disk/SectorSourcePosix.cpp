#include "SectorSource.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace moravel {

namespace {

std::size_t ReadFully(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::pread(fd, buffer.data() + done, buffer.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

class FileSource final : public SectorSource {
public:
    explicit FileSource(int fd) : m_fd(fd) {}
    ~FileSource() override { ::close(m_fd); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        return ReadFully(m_fd, offset, buffer);
    }

    ReaderAside ReadAside() const override {
        const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            return {};
        }
        const std::shared_ptr<const int> held(new int(fd), [](const int* kept) {
            ::close(*kept);
            delete kept;
        });
        return [held](std::uint64_t offset, std::span<std::uint8_t> buffer) {
            return ReadFully(*held, offset, buffer);
        };
    }

    bool Answers() override {
        constexpr std::size_t kSector = 512;
        // The first sector was read when the disk was opened: the page cache may
        // still hold it after the disk went.
        ::posix_fadvise(m_fd, 0, kSector, POSIX_FADV_DONTNEED);
        std::uint8_t sector[kSector];
        return ::pread(m_fd, sector, kSector, 0) == static_cast<ssize_t>(kSector);
    }

    std::optional<std::uint64_t> Size() const override {
        struct stat info {};
        if (::fstat(m_fd, &info) != 0) {
            return std::nullopt;
        }
        if (S_ISREG(info.st_mode)) {
            return static_cast<std::uint64_t>(info.st_size);
        }
        std::uint64_t bytes = 0;
        if (S_ISBLK(info.st_mode) && ::ioctl(m_fd, BLKGETSIZE64, &bytes) == 0) {
            return bytes;
        }
        return std::nullopt;
    }

private:
    int m_fd;
};

}  // namespace

OpenedSource OpenFileSource(const std::string& path) {
    // Read-only, always: this program must never write to the recorder's disk.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Error{std::strerror(errno), Error::Weight::Stop};
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return Error{std::strerror(EISDIR), Error::Weight::Stop};
    }
    return std::make_unique<FileSource>(fd);
}

std::unique_ptr<SectorSource> SourceOfDescriptor(int fd) {
    return std::make_unique<FileSource>(fd);
}

}  // namespace moravel
