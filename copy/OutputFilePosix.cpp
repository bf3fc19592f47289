#include <fcntl.h>
#include <sys/file.h>
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

// The descriptor a path names (/dev/stdout, /dev/fd/3, /proc/self/fd/3): output
// there goes to what the descriptor is open on, as a shell's redirection asks,
// even when that is a regular file.
std::optional<int> DescriptorNamed(const std::string& path) {
    if (path == "/dev/stdout") {
        return STDOUT_FILENO;
    }
    if (path == "/dev/stderr") {
        return STDERR_FILENO;
    }
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
            path.find_first_not_of("0123456789", prefix.size()) == std::string::npos &&
            path.size() - prefix.size() < 9) {
            return std::stoi(path.substr(prefix.size()));
        }
    }
    return std::nullopt;
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
    if (error == ELOOP) {
        return "it is a symbolic link, which is not followed there";
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

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the name path is the file open as descriptor fd.
bool NamesFile(const std::string& path, int fd) {
    struct stat named {};
    struct stat opened {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 &&
           SameFile(named, opened);
}

// Opens the regular file at path (made when missing) to be written by this
// program alone: a lock held while it is written (flock, so a second copy, in
// this process or another, cannot have it meanwhile), and the name checked to
// lead to the file locked (the copy that held it may have renamed it just then).
// A pipe there is never waited on and a link never followed. File systems that
// keep no locks are written without one.
Result<int> OpenAlone(const std::string& path) {
    constexpr int kTries = 8;
    struct stat there {};
    if (::lstat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode) && !S_ISLNK(there.st_mode)) {
        return Error{"it is no regular file"};
    }
    for (int attempt = 0; attempt < kTries; ++attempt) {
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            return Error{CreateFailure(path, errno)};
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return Error{"it is no regular file"};
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            return Error{"another copy is writing " + path};
        }
        if (NamesFile(path, fd)) {
            return fd;
        }
        ::close(fd);
    }
    return Error{"it was replaced while it was being opened"};
}

}  // namespace

// A file this target writes, held by a descriptor of its own: the lock lives as
// long as it, also after the output file is closed, until the file is published.
class FileSystemTarget::Claim {
public:
    explicit Claim(int fd) : m_fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)) {}
    ~Claim() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    // Whether path still names the file that was written.
    bool At(const std::string& path) const { return m_fd >= 0 && NamesFile(path, m_fd); }
    void KeepModified(std::time_t when) const {
        const timespec times[2] = {{0, UTIME_NOW}, {when, 0}};
        ::futimens(m_fd, times);
    }

private:
    int m_fd;
};

FileSystemTarget::FileSystemTarget() = default;
FileSystemTarget::~FileSystemTarget() = default;

bool WrittenInPlace(const std::string& path) {
    return DescriptorNamed(path) || KindAt(path) == PathKind::Device;
}

Result<std::unique_ptr<PositionedFile>> FileSystemTarget::OpenPositioned(const std::string& path) {
    m_claims.erase(path);  // this target's own earlier run over it
    const Result<int> fd = OpenAlone(path);
    if (!fd) {
        return fd.error();
    }
    m_claims[path] = std::make_unique<Claim>(*fd);
    return std::make_unique<PosixPositionedFile>(*fd);
}

Result<std::unique_ptr<OutputFile>> FileSystemTarget::Create(const std::string& path) {
    if (const std::optional<int> descriptor = DescriptorNamed(path)) {
        const int fd = ::fcntl(*descriptor, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            return Error{Reason(errno)};
        }
        return std::make_unique<PosixOutputFile>(fd);
    }
    const PathKind kind = KindAt(path);
    if (kind == PathKind::Folder) {
        return Error{"it is a folder"};
    }
    if (kind == PathKind::Device) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            return Error{Reason(errno)};
        }
        return std::make_unique<PosixOutputFile>(fd);
    }
    const std::string working = WorkingPath(path);
    m_claims.erase(working);  // this target's own earlier copy to it
    const Result<int> fd = OpenAlone(working);
    if (!fd) {
        return fd.error();
    }
    if (::ftruncate(*fd, 0) != 0) {
        const std::string reason = Reason(errno);
        ::close(*fd);
        return Error{reason};
    }
    m_claims[working] = std::make_unique<Claim>(*fd);
    return std::make_unique<PosixOutputFile>(*fd);
}

Failure FileSystemTarget::Publish(const std::string& path, std::optional<std::time_t> modified) {
    const std::string working = WorkingPath(path);
    const auto claim = m_claims.find(working);
    if (claim == m_claims.end() && WrittenInPlace(path)) {
        return std::nullopt;
    }
    if (claim != m_claims.end() && !claim->second->At(working)) {
        return Error{working + " is not the file this copy wrote any more"};
    }
    // Never in the place of a device, a pipe or a folder.
    const PathKind there = KindAt(path);
    if (there != PathKind::File && there != PathKind::Missing) {
        return Error{path + " is no regular file"};
    }
    if (modified && claim != m_claims.end()) {
        // The recording's own date, as the recorder wrote it; a file system that
        // cannot keep it leaves the time of the copy.
        claim->second->KeepModified(*modified);
    }
    const bool renamed = ::rename(working.c_str(), path.c_str()) == 0;
    const int error = errno;
    if (claim != m_claims.end()) {
        m_claims.erase(claim);
    }
    if (!renamed) {
        return Error{Reason(error)};
    }
    return SyncFolder(ParentFolder(path));
}

void FileSystemTarget::Discard(const std::string& path) {
    const std::string working = WorkingPath(path);
    const auto claim = m_claims.find(working);
    if (claim == m_claims.end()) {
        return;
    }
    // Only what this copy wrote: another's file of that name stays.
    if (claim->second->At(working)) {
        ::unlink(working.c_str());
    }
    m_claims.erase(claim);
}

void FileSystemTarget::Release(const std::string& path) {
    m_claims.erase(path);
    m_claims.erase(WorkingPath(path));
}

// A file system that cannot keep the time keeps its own.
void SetFolderModified(const std::filesystem::path& path, std::time_t seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace moravel
