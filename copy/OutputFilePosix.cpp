#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "BatchPlan.h"
#include "CopyTarget.h"
#include "HeldOutputFile.h"
#include "PartNames.h"

namespace moravel {

namespace {

// The system's reason for errno: "No space left on device".
std::string Reason(int error) {
    return std::strerror(error);
}

class PosixOutputFile final : public HeldOutputFile {
public:
    explicit PosixOutputFile(int fd) : m_fd(fd) {}
    ~PosixOutputFile() override {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    PosixOutputFile(const PosixOutputFile&) = delete;
    PosixOutputFile& operator=(const PosixOutputFile&) = delete;

    bool Sync() override {
        if (!Flush()) {
            return false;
        }
        // A device or pipe that keeps nothing (/dev/null) cannot be synced: EINVAL.
        if (::fsync(m_fd) != 0 && errno != EINVAL) {
            SetFailure(Reason(errno));
            return false;
        }
        return true;
    }

    bool Close() override {
        const bool flushed = Flush();
        const int fd = m_fd;
        m_fd = -1;
        // Not retried on EINTR: the descriptor is gone either way on Linux.
        if (::close(fd) != 0) {
            SetFailure(Reason(errno));
            return false;
        }
        return flushed;
    }

private:
    std::optional<std::size_t> WriteSome(std::span<const std::uint8_t> bytes,
                                         std::string& failure) override {
        while (true) {
            const ssize_t wrote = ::write(m_fd, bytes.data(), bytes.size());
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                failure = Reason(wrote < 0 ? errno : ENOSPC);
                return std::nullopt;
            }
            return static_cast<std::size_t>(wrote);
        }
    }

    int m_fd;
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
                m_failure = Reason(wrote < 0 ? errno : ENOSPC);
                return false;
            }
            done += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    std::string Failure() const override { return m_failure; }

    bool SetSize(std::uint64_t size) override {
        return ::ftruncate(m_fd, static_cast<off_t>(size)) == 0;
    }

    bool Sync() override { return ::fsync(m_fd) == 0 || errno == EINVAL; }

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
    std::string m_failure;
};

}  // namespace

Result<std::unique_ptr<PositionedFile>> FileSystemTarget::OpenPositioned(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Error{std::strerror(errno)};
    }
    return std::make_unique<PosixPositionedFile>(fd);
}

namespace {

enum class PathKind { Missing, File, Folder, Device };

// What is at the path now. A device or a pipe is written as it is, without a
// working name.
PathKind KindAt(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return PathKind::Missing;
    }
    return S_ISREG(status.st_mode)   ? PathKind::File
           : S_ISDIR(status.st_mode) ? PathKind::Folder
                                     : PathKind::Device;
}

// The folder of a path, "./" for a bare name.
std::string ParentFolder(const std::string& path) {
    const std::string folder = FolderOf(path);
    return folder.empty() ? "./" : folder;
}

// Why a file could not be made in its folder: a folder that is missing is named.
std::string CreateFailure(const std::string& path, int error) {
    const std::string folder = ParentFolder(path);
    if ((error == ENOENT || error == ENOTDIR) && KindAt(folder) == PathKind::Missing) {
        return "the folder " + folder + " does not exist";
    }
    return Reason(error);
}

// A new name is on the device once its folder is synced. File systems that
// cannot sync a folder say so (EINVAL); they keep the name as they keep files.
Failure SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;  // nothing more to do for it than the rename did
    }
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    const Failure failure = synced ? Failure{} : Error{Reason(errno)};
    ::close(fd);
    return failure;
}

}  // namespace

Result<std::unique_ptr<OutputFile>> FileSystemTarget::Create(const std::string& path) {
    const PathKind kind = KindAt(path);
    if (kind == PathKind::Folder) {
        return Error{"it is a folder"};
    }
    const std::string name = kind == PathKind::Device ? path : WorkingPath(path);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Error{CreateFailure(name, errno)};
    }
    return std::make_unique<PosixOutputFile>(fd);
}

Failure FileSystemTarget::Publish(const std::string& path, std::optional<std::time_t> modified) {
    if (KindAt(path) == PathKind::Device) {
        return std::nullopt;
    }
    const std::string working = WorkingPath(path);
    if (modified) {
        // The recording's own date, as the recorder wrote it; a file system that
        // cannot keep it leaves the time of the copy.
        const timespec times[2] = {{0, UTIME_NOW}, {*modified, 0}};
        ::utimensat(AT_FDCWD, working.c_str(), times, 0);
    }
    if (::rename(working.c_str(), path.c_str()) != 0) {
        return Error{Reason(errno)};
    }
    return SyncFolder(ParentFolder(path));
}

// A file system that cannot keep the time keeps its own.
void SetFolderModified(const std::filesystem::path& path, std::time_t seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace moravel
