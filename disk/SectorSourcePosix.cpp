#include "SectorSource.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace moravel {

namespace {

// A disk's read comes in short only at its end or at a sector that failed: it is
// not asked again here (only past the most one read(2) gives, 0x7ffff000 bytes).
// The caller decides whether to ask for the rest, and a failing drive does not
// spend its retries on that sector twice.
// error: where the errno of a read that failed is kept.
std::size_t ReadOnceAt(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer,
                       int* error = nullptr) {
    constexpr std::size_t kMostPerRead = 0x7ffff000;
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::pread(fd, buffer.data() + done, buffer.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && error != nullptr) {
            *error = errno;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
        if (static_cast<std::size_t>(got) < kMostPerRead) {
            break;
        }
    }
    return done;
}

class FileSource final : public SectorSource {
public:
    explicit FileSource(int fd) : m_fd(fd) {}
    ~FileSource() override {
        ::close(m_fd);
        for (const int fd : {m_directFd, m_probeFd}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        if (m_directFd >= 0 && offset % m_directAlign == 0 && buffer.size() % m_directAlign == 0 &&
            reinterpret_cast<std::uintptr_t>(buffer.data()) % m_directAlign == 0) {
            return ReadOnceAt(m_directFd, offset, buffer, &m_lastError);
        }
        return ReadOnceAt(m_fd, offset, buffer, &m_lastError);
    }

    std::string BypassCache() override {
        if (m_directFd >= 0) {
            return kDirectText;
        }
        // A descriptor of its own: the one the disk was opened with (perhaps handed
        // over by udisks2) goes on through the cache for the reads that are not
        // aligned.
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        const int fd = ::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
        if (fd < 0) {
            return CachedText(errno);
        }
        int logical = 512;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISBLK(info.st_mode)) {
            ::ioctl(fd, BLKSSZGET, &logical);
        }
        const auto align = static_cast<std::size_t>(std::clamp(logical, 512, 4096));
        // A file system may take O_DIRECT when the file is opened and refuse it when
        // it is read: the first sector is read as the rescue will.
        alignas(4096) std::uint8_t first[4096];
        errno = 0;
        if (::pread(fd, first, align, 0) != static_cast<ssize_t>(align)) {
            const int problem = errno != 0 ? errno : EIO;
            ::close(fd);
            return CachedText(problem);
        }
        m_directFd = fd;
        m_directAlign = align;
        return kDirectText;
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
            return ReadOnceAt(*held, offset, buffer);
        };
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

protected:
    bool SaidGone() override {
        // Errors that say the disk is not there any more, unlike EIO for a sector.
        switch (m_lastError) {
            case ENODEV:
            case ENXIO:
            case ENOMEDIUM:
            case ENOTCONN:
            case ESHUTDOWN:
            case ESTALE:
                return true;
            default:
                break;
        }
        struct stat info {};
        if (::fstat(m_fd, &info) != 0) {
            return true;
        }
        // A block device whose medium went has no size.
        std::uint64_t bytes = 0;
        return S_ISBLK(info.st_mode) && (::ioctl(m_fd, BLKGETSIZE64, &bytes) != 0 || bytes == 0);
    }

    std::size_t ReadUncached(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        if (m_probeFd == kNotOpened) {
            const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
            m_probeFd = ::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
        }
        if (m_probeFd >= 0) {
            const std::size_t got = ReadOnceAt(m_probeFd, offset, buffer, &m_lastError);
            if (got > 0 || (m_lastError != EINVAL && m_lastError != EOPNOTSUPP)) {
                return got;
            }
            // Opened with O_DIRECT, but refused when read: the cache it is.
            ::close(m_probeFd);
            m_probeFd = -1;
        }
        // Where the cache cannot be passed, what it holds of these bytes goes first.
        ::posix_fadvise(m_fd, static_cast<off_t>(offset), static_cast<off_t>(buffer.size()),
                        POSIX_FADV_DONTNEED);
        return ReadOnceAt(m_fd, offset, buffer, &m_lastError);
    }

private:
    static constexpr const char* kDirectText =
        "direct from the disk (O_DIRECT), past the system's cache";
    static std::string CachedText(int problem) {
        return std::string("through the system's cache: the disk refused O_DIRECT (") +
               std::strerror(problem) + ")";
    }

    static constexpr int kNotOpened = -2;

    int m_fd;
    int m_directFd = -1;
    std::size_t m_directAlign = 512;
    int m_probeFd = kNotOpened;  // the disk past the cache, for Answers
    int m_lastError = 0;         // of the last read that failed
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
