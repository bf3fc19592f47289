// The drive tree served read-only through FUSE (MountTree shows it). One thread
// serves every request: the tree and its disk reads are not shared between threads.
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <unordered_map>
#include <vector>

#include "Cli.h"
#include "CliMount.h"
#include "MountTree.h"
#include "TerminalText.h"
#include "copy/FileReader.h"

namespace moravel::cli {

namespace {

// The mount's files: each open one read through its own FileReader.
class MountServer {
public:
    MountServer(DriveTree& access, TreeWalker& walker, bool fill, std::ostream& err)
        : m_access(access), m_tree(access, walker), m_fill(fill), m_err(err) {}

    MountTree& Tree() { return m_tree; }

    int Open(const MountTree::Found& file, std::uint64_t& handle);
    int Read(std::uint64_t handle, std::span<std::uint8_t> out, std::uint64_t offset);
    void Release(std::uint64_t handle) { m_open.erase(handle); }

private:
    DriveTree& m_access;
    MountTree m_tree;
    bool m_fill;
    std::ostream& m_err;  // where a failed read is said, in the foreground
    struct Opened {
        std::unique_ptr<FileReader> reader;
        std::string treePath;
    };
    std::unordered_map<std::uint64_t, Opened> m_open;
    std::uint64_t m_nextHandle = 1;
};

int MountServer::Open(const MountTree::Found& file, std::uint64_t& handle) {
    Result<std::unique_ptr<FileReader>> reader = FileReader::Open(m_access, *file.item);
    if (!reader) {
        m_err << kProgram << ": cannot read " << Quote(EscapeControls(file.treePath)) << ": "
              << reader.error().reason << std::endl;
        return -EIO;
    }
    handle = m_nextHandle++;
    m_open.emplace(handle, Opened{std::move(*reader), file.treePath});
    return 0;
}

int MountServer::Read(std::uint64_t handle, std::span<std::uint8_t> out, std::uint64_t offset) {
    const auto open = m_open.find(handle);
    if (open == m_open.end()) {
        return -EBADF;
    }
    const Result<FileReader::Piece> piece = open->second.reader->Read(offset, out);
    if (piece && (piece->unreadable == 0 || m_fill)) {
        return static_cast<int>(piece->bytes);
    }
    m_err << kProgram << ": " << Quote(EscapeControls(open->second.treePath)) << ", bytes "
          << offset << "-" << offset + out.size() - 1 << ": "
          << (piece ? std::to_string(piece->unreadable) + " sectors could not be read"
                    : piece.error().reason)
          << std::endl;
    return -EIO;
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
    const auto found = Server().Tree().Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    Server().Tree().Describe(found.item, *info);
    return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t /*offset*/,
            fuse_file_info* /*file*/, fuse_readdir_flags /*flags*/) {
    const auto found = Server().Tree().Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    struct stat info {};
    Server().Tree().Describe(found.item, info);
    if (!S_ISDIR(info.st_mode)) {
        return -ENOTDIR;
    }
    const MountFolder& folder = Server().Tree().Folder(found);
    if (folder.error != 0) {
        return -folder.error;
    }
    const auto none = static_cast<fuse_fill_dir_flags>(0);
    fill(buffer, ".", nullptr, 0, none);
    fill(buffer, "..", nullptr, 0, none);
    for (const std::string& name : folder.order) {
        Server().Tree().Describe(folder.children.at(name), info);
        fill(buffer, name.c_str(), &info, 0, none);
    }
    return 0;
}

int ReadLink(const char* path, char* buffer, std::size_t size) {
    const auto found = Server().Tree().Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    const auto target =
        found.item != nullptr ? Server().Tree().LinkTarget(*found.item) : std::nullopt;
    if (!target || size == 0) {
        return -EINVAL;
    }
    const std::size_t length = std::min(size - 1, target->size());
    std::memcpy(buffer, target->data(), length);
    buffer[length] = '\0';
    return 0;
}

int OpenFile(const char* path, fuse_file_info* file) {
    const auto found = Server().Tree().Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    if ((file->flags & O_ACCMODE) != O_RDONLY || (file->flags & O_TRUNC) != 0) {
        return -EROFS;
    }
    if (found.item == nullptr || !IsMountFile(*found.item)) {
        return -EISDIR;
    }
    file->keep_cache = 1;
    std::uint64_t handle = 0;
    const int result = Server().Open(found, handle);
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
    if (session == nullptr) {
        err << kProgram << ": cannot mount at " << Quote(mountPoint)
            << ": FUSE could not be set up\n";
        return kExitFailureShown;
    }
    // Before the mount is there: a stop that comes as soon as it is seen unmounts.
    if (fuse_set_signal_handlers(fuse_get_session(session)) != 0) {
        fuse_destroy(session);
        err << kProgram << ": cannot mount at " << Quote(mountPoint)
            << ": its signal handlers could not be set\n";
        return kExitFailureShown;
    }
    if (fuse_mount(session, mountPoint.c_str()) != 0) {
        fuse_remove_signal_handlers(fuse_get_session(session));
        fuse_destroy(session);
        err << kProgram << ": cannot mount at " << Quote(mountPoint)
            << ": FUSE refused it (is /dev/fuse there, and fusermount3?)\n";
        return kExitFailureShown;
    }
    err.flush();
    int status = kExitFailureShown;
    if (fuse_daemonize(options.foreground ? 1 : 0) == 0) {
        status = LoopStatus(fuse_loop(session), mountPoint, err);
    }
    fuse_remove_signal_handlers(fuse_get_session(session));
    fuse_unmount(session);
    fuse_destroy(session);
    return status;
}

}  // namespace moravel::cli
