#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "CopyTarget.h"

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

class PosixPositionedFile final : public PositionedFile {
public:
    explicit PosixPositionedFile(int fd) : m_fd(fd) {}
    ~PosixPositionedFile() override {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    PosixPositionedFile(const PosixPositionedFile&) = delete;
    PosixPositionedFile& operator=(const PosixPositionedFile&) = delete;

    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t wrote = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done,
                                           static_cast<off_t>(offset + done));
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    bool SetSize(std::uint64_t size) override {
        return ::ftruncate(m_fd, static_cast<off_t>(size)) == 0;
    }

    bool Close() override {
        if (m_modified) {
            const timespec times[2] = {{0, UTIME_NOW}, {*m_modified, 0}};
            ::futimens(m_fd, times);
        }
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

    void KeepModified(std::time_t when) override { m_modified = when; }

private:
    int m_fd;
    std::optional<std::time_t> m_modified;
};

}  // namespace

std::unique_ptr<PositionedFile> FileSystemTarget::OpenPositioned(const std::string& path,
                                                                 std::string& reason) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<PosixPositionedFile>(fd);
}

std::unique_ptr<OutputFile> FileSystemTarget::Create(const std::string& path, std::string& reason) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<PosixOutputFile>(fd);
}

}  // namespace moravel
