// The drive tree served read-only through FUSE (MountTree shows it), requests
// side by side (see MountServer).
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <syncstream>
#include <unordered_map>
#include <vector>

#include "Cli.h"
#include "CliMount.h"
#include "MountTree.h"
#include "TerminalText.h"
#include "copy/FileReader.h"

namespace moravel::cli {

namespace {

// The mount's requests, served side by side on libfuse's threads. The tree and
// whatever is read through it (folders, the FAT, a file's chain when it is
// opened) is used under one lock. An open file reads through a descriptor of the
// disk's own and holds only its own lock, so that a read that waits on a bad area
// holds up no look-up, listing or read of another file.
class MountServer {
public:
    MountServer(DriveTree& access, TreeWalker& walker, bool fill, std::ostream& err)
        : m_access(access), m_fill(fill), m_err(err), m_tree(access, walker) {}

    // The work of the FUSE operations: 0, or a negated errno.
    int Attributes(const char* path, struct stat& info);
    // Calls add for each child of the folder at the path, in the disk's order.
    int List(const char* path,
             const std::function<void(const std::string& name, const struct stat& info)>& add);
    int LinkTarget(const char* path, std::string& target);
    int Open(const char* path, std::uint64_t& handle);
    // The number of bytes read into out, or a negated errno.
    int Read(std::uint64_t handle, std::span<std::uint8_t> out, std::uint64_t offset);
    void Release(std::uint64_t handle);

private:
    struct Opened {
        std::mutex reading;  // one read at a time: the reader keeps the run it read last
        std::unique_ptr<FileReader> reader;
        std::string treePath;
        bool throughTree = false;  // no descriptor of its own: it reads under the tree's lock
    };
    // The file's reader, beside the tree where the disk can be read so.
    std::shared_ptr<Opened> OpenReader(const MountTree::Found& file);
    std::shared_ptr<Opened> FindOpened(std::uint64_t handle);
    // One line on the error stream, whole, whichever thread says it.
    void Say(const std::string& line) { std::osyncstream(m_err) << line << std::endl; }

    DriveTree& m_access;
    bool m_fill;
    std::ostream& m_err;    // where failed reads are said, in the foreground
    std::mutex m_treeLock;  // for m_tree, and for m_access and its front end
    MountTree m_tree;
    std::mutex m_handlesLock;  // for m_open and m_nextHandle
    std::unordered_map<std::uint64_t, std::shared_ptr<Opened>> m_open;
    std::uint64_t m_nextHandle = 1;
};

int MountServer::Attributes(const char* path, struct stat& info) {
    const std::lock_guard lock(m_treeLock);
    const MountTree::Found found = m_tree.Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    m_tree.Describe(found.item, info);
    return 0;
}

int MountServer::List(
    const char* path,
    const std::function<void(const std::string& name, const struct stat& info)>& add) {
    const std::lock_guard lock(m_treeLock);
    const MountTree::Found found = m_tree.Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    struct stat info {};
    m_tree.Describe(found.item, info);
    if (!S_ISDIR(info.st_mode)) {
        return -ENOTDIR;
    }
    const MountFolder& folder = m_tree.Folder(found);
    if (folder.error != 0) {
        return -folder.error;
    }
    for (const std::string& name : folder.order) {
        m_tree.Describe(folder.children.at(name), info);
        add(name, info);
    }
    return 0;
}

int MountServer::LinkTarget(const char* path, std::string& target) {
    const std::lock_guard lock(m_treeLock);
    const MountTree::Found found = m_tree.Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    const auto link = found.item != nullptr ? m_tree.LinkTarget(*found.item) : std::nullopt;
    if (!link) {
        return -EINVAL;
    }
    target = *link;
    return 0;
}

std::shared_ptr<MountServer::Opened> MountServer::OpenReader(const MountTree::Found& file) {
    auto opened = std::make_shared<Opened>();
    opened->treePath = file.treePath;
    Result<std::unique_ptr<FileReader>> reader = Error{};
    if (SectorSource::ReaderAside aside = m_access.ReadAside(file.item->m_drive)) {
        const std::uint16_t drive = file.item->m_drive;
        const auto diskAnswers = [this, drive] {
            const std::lock_guard lock(m_treeLock);
            return m_access.DiskAnswers(drive);
        };
        reader = FileReader::OpenAsideAsCopy(m_access, *file.item, std::move(aside), diskAnswers);
    } else {
        opened->throughTree = true;  // the BIOS services: one request at a time
        reader = FileReader::Open(m_access, *file.item);
    }
    if (!reader) {
        Say(std::string(kProgram) + ": cannot read " + Quote(EscapeControls(file.treePath)) + ": " +
            reader.error().reason);
        return nullptr;
    }
    opened->reader = std::move(*reader);
    return opened;
}

int MountServer::Open(const char* path, std::uint64_t& handle) {
    std::shared_ptr<Opened> opened;
    {
        const std::lock_guard lock(m_treeLock);
        const MountTree::Found found = m_tree.Find(path);
        if (found.error != 0) {
            return -found.error;
        }
        if (found.item == nullptr || !IsMountFile(*found.item)) {
            return -EISDIR;
        }
        opened = OpenReader(found);
    }
    if (opened == nullptr) {
        return -EIO;
    }
    const std::lock_guard lock(m_handlesLock);
    handle = m_nextHandle++;
    m_open.emplace(handle, std::move(opened));
    return 0;
}

std::shared_ptr<MountServer::Opened> MountServer::FindOpened(std::uint64_t handle) {
    const std::lock_guard lock(m_handlesLock);
    const auto open = m_open.find(handle);
    return open == m_open.end() ? nullptr : open->second;
}

int MountServer::Read(std::uint64_t handle, std::span<std::uint8_t> out, std::uint64_t offset) {
    const std::shared_ptr<Opened> opened = FindOpened(handle);
    if (opened == nullptr) {
        return -EBADF;
    }
    const Result<FileReader::Piece> piece = [&] {
        const std::lock_guard reading(opened->reading);
        std::unique_lock tree(m_treeLock, std::defer_lock);
        if (opened->throughTree) {
            tree.lock();
        }
        return opened->reader->Read(offset, out);
    }();
    if (piece && (piece->unreadable == 0 || m_fill)) {
        return static_cast<int>(piece->bytes);
    }
    Say(std::string(kProgram) + ": " + Quote(EscapeControls(opened->treePath)) + ", bytes " +
        std::to_string(offset) + "-" + std::to_string(offset + out.size() - 1) + ": " +
        (piece ? std::to_string(piece->unreadable) + " sectors could not be read"
               : piece.error().reason));
    return -EIO;
}

void MountServer::Release(std::uint64_t handle) {
    const std::lock_guard lock(m_handlesLock);
    m_open.erase(handle);
}

MountServer& Server() {
    return *static_cast<MountServer*>(fuse_get_context()->private_data);
}

void* Init(fuse_conn_info* /*connection*/, fuse_config* config) {
    // The disk does not change under the mount: what the kernel holds stays true.
    config->kernel_cache = 1;
    config->entry_timeout = 3600;
    config->attr_timeout = 3600;
    config->negative_timeout = 3600;
    return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* info, fuse_file_info* /*file*/) {
    return Server().Attributes(path, *info);
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t /*offset*/,
            fuse_file_info* /*file*/, fuse_readdir_flags /*flags*/) {
    // What was filled is dropped when the listing fails.
    const auto none = static_cast<fuse_fill_dir_flags>(0);
    fill(buffer, ".", nullptr, 0, none);
    fill(buffer, "..", nullptr, 0, none);
    return Server().List(path, [&](const std::string& name, const struct stat& info) {
        fill(buffer, name.c_str(), &info, 0, none);
    });
}

int ReadLink(const char* path, char* buffer, std::size_t size) {
    std::string target;
    if (const int result = Server().LinkTarget(path, target); result != 0) {
        return result;
    }
    if (size == 0) {
        return -EINVAL;
    }
    const std::size_t length = std::min(size - 1, target.size());
    std::memcpy(buffer, target.data(), length);
    buffer[length] = '\0';
    return 0;
}

int OpenFile(const char* path, fuse_file_info* file) {
    if ((file->flags & O_ACCMODE) != O_RDONLY || (file->flags & O_TRUNC) != 0) {
        return -EROFS;
    }
    file->keep_cache = 1;
    std::uint64_t handle = 0;
    const int result = Server().Open(path, handle);
    file->fh = handle;
    return result;
}

int ReadFile(const char* /*path*/, char* buffer, std::size_t size, off_t offset,
             fuse_file_info* file) {
    if (offset < 0) {
        return -EINVAL;
    }
    return Server().Read(file->fh, {reinterpret_cast<std::uint8_t*>(buffer), size},
                         static_cast<std::uint64_t>(offset));
}

int ReleaseFile(const char* /*path*/, fuse_file_info* file) {
    Server().Release(file->fh);
    return 0;
}

// Whatever would change the disk: refused, whether or not the kernel asks.
int Refuse() {
    return -EROFS;
}
int RefusePath(const char*) {
    return Refuse();
}
int RefuseMode(const char*, mode_t) {
    return Refuse();
}
int RefuseTwo(const char*, const char*) {
    return Refuse();
}

fuse_operations Operations() {
    fuse_operations operations{};
    operations.init = Init;
    operations.getattr = GetAttr;
    operations.readdir = ReadDir;
    operations.readlink = ReadLink;
    operations.open = OpenFile;
    operations.read = ReadFile;
    operations.release = ReleaseFile;
    operations.mkdir = RefuseMode;
    operations.unlink = RefusePath;
    operations.rmdir = RefusePath;
    operations.symlink = RefuseTwo;
    operations.link = RefuseTwo;
    operations.rename = [](const char*, const char*, unsigned) { return Refuse(); };
    operations.chmod = [](const char*, mode_t, fuse_file_info*) { return Refuse(); };
    operations.chown = [](const char*, uid_t, gid_t, fuse_file_info*) { return Refuse(); };
    operations.truncate = [](const char*, off_t, fuse_file_info*) { return Refuse(); };
    operations.utimens = [](const char*, const timespec*, fuse_file_info*) { return Refuse(); };
    operations.create = [](const char*, mode_t, fuse_file_info*) { return Refuse(); };
    operations.mknod = [](const char*, mode_t, dev_t) { return Refuse(); };
    operations.write = [](const char*, const char*, std::size_t, off_t, fuse_file_info*) {
        return Refuse();
    };
    operations.setxattr = [](const char*, const char*, const char*, std::size_t, int) {
        return Refuse();
    };
    operations.removexattr = [](const char*, const char*) { return Refuse(); };
    return operations;
}

// The mount point as the mount needs it: an existing folder.
std::string MountPointProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::strerror(errno);
    }
    return S_ISDIR(info.st_mode) ? "" : "not a folder";
}

// The mount point as an absolute path: the server leaves the folder it was
// started in before it unmounts, and fusermount3 is then given this path.
std::string AbsoluteMountPoint(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::canonical(path, error);
    return error ? path : absolute.string();
}

// The loop's end as the command's status: unmounted (fusermount3 -u), or stopped
// by the user (the signal's number: Ctrl-C, kill, a closed terminal), is no failure.
int LoopStatus(int loopResult, const std::string& mountPoint, std::ostream& err) {
    if (loopResult >= 0) {
        return kExitOk;
    }
    err << kProgram << ": the mount at " << Quote(mountPoint)
        << " ended: " << std::strerror(-loopResult) << std::endl;
    return kExitFailureShown;
}

// Mounts the session at the mount point and serves it until it is unmounted or
// the user stops it: the exit status.
int MountAndServe(fuse* session, const std::string& mountPoint, bool foreground,
                  std::ostream& err) {
    // Before the mount is there: a stop that comes as soon as it is seen unmounts.
    if (fuse_set_signal_handlers(fuse_get_session(session)) != 0) {
        err << kProgram << ": cannot mount at " << Quote(mountPoint)
            << ": its signal handlers could not be set\n";
        return kExitFailureShown;
    }
    int status = kExitFailureShown;
    if (fuse_mount(session, mountPoint.c_str()) != 0) {
        err << kProgram << ": cannot mount at " << Quote(mountPoint)
            << ": FUSE refused it (is /dev/fuse there, and fusermount3?)\n";
    } else {
        err.flush();
        if (fuse_daemonize(foreground ? 1 : 0) == 0) {
            status = LoopStatus(fuse_loop_mt(session, 0), mountPoint, err);
        }
        fuse_unmount(session);
    }
    fuse_remove_signal_handlers(fuse_get_session(session));
    return status;
}

}  // namespace

int RunMount(const MountOptions& options, DriveTree& access, TreeWalker& walker,
             std::ostream& err) {
    if (const std::string problem = MountPointProblem(options.mountPoint); !problem.empty()) {
        err << kProgram << ": cannot mount at " << Quote(options.mountPoint) << ": " << problem
            << '\n';
        return kExitFailureShown;
    }
    const std::string mountPoint = AbsoluteMountPoint(options.mountPoint);
    MountServer server(access, walker, options.fill, err);
    std::vector<std::string> args = {kProgram, "-o", "ro,fsname=moravel,subtype=moravel"};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    fuse_args fuseArgs = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
    const fuse_operations operations = Operations();
    fuse* session = fuse_new(&fuseArgs, &operations, sizeof operations, &server);
    int status = kExitFailureShown;
    if (session == nullptr) {
        err << kProgram << ": cannot mount at " << Quote(mountPoint)
            << ": FUSE could not be set up\n";
    } else {
        status = MountAndServe(session, mountPoint, options.foreground, err);
        fuse_destroy(session);
    }
    // fuse_new adds arguments of its own, in memory that the arguments now own.
    fuse_opt_free_args(&fuseArgs);
    return status;
}

}  // namespace moravel::cli
