// The drive tree served read-only through FUSE. One thread serves every request:
// the tree and its disk reads are not shared between threads.
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <unordered_map>
#include <vector>

#include "Cli.h"
#include "CliMount.h"
#include "TerminalText.h"
#include "copy/FileReader.h"
#include "copy/PartNames.h"
#include "tree/FatDate.h"

namespace moravel::cli {

namespace {

// The names of a folder's children as the mount shows them: unpadded, made safe
// for a file name, and unique among them (" (2)" before the extension of a later
// one, as a folder copy names its outputs).
struct MountFolder {
    std::map<std::string, DriveItem*> children;
    std::vector<std::string> order;  // the names in the disk's order
    // EIO for a folder that could not be read: its listing, and every look-up
    // in it, fail as list does, instead of showing it empty.
    int error = 0;
};

class MountServer {
public:
    MountServer(DriveTree& access, TreeWalker& walker, bool fill, std::ostream& err)
        : m_access(access),
          m_walker(walker),
          m_fill(fill),
          m_err(err),
          m_started(std::time(nullptr)) {}

    struct Found {
        DriveItem* item = nullptr;  // null: the top
        std::string treePath;
        int error = 0;  // why there is no item: ENOENT, ENOTDIR, or a folder's error

        static Found Failed(int error) {
            Found found;
            found.error = error;
            return found;
        }
    };
    // The item at the mount's path, or the error that a look-up of it answers.
    Found Find(const char* path);
    // The folder of a directory item, read on the first call.
    const MountFolder& Folder(const Found& found);
    void Describe(const DriveItem* item, struct stat& info) const;
    // Where a link leads, from the folder that lists it (see m_places); nothing
    // for an item that is no link.
    std::optional<std::string> LinkTarget(const DriveItem& item) const;

    int Open(const Found& file, std::uint64_t& handle);
    int Read(std::uint64_t handle, std::span<std::uint8_t> out, std::uint64_t offset);
    void Release(std::uint64_t handle) { m_open.erase(handle); }

private:
    MountFolder ReadFolder(DriveItem* item, const std::string& treePath);
    bool FolderUnread(const DriveItem& folder, bool foundNothing);
    // Records where a folder item is listed, and takes that as the place of its
    // cluster-chain folder when it has none yet.
    void Place(const DriveItem* folder, const DriveItem& child, const std::string& name);
    // The item that serves the cluster-chain folder the item shows, when that is
    // another item; null otherwise.
    const DriveItem* ServedElsewhere(const DriveItem& item) const;
    // The item's path in the mount, "/" for the top.
    std::string MountPath(const DriveItem* item) const;

    DriveTree& m_access;
    TreeWalker& m_walker;
    bool m_fill;
    std::ostream& m_err;  // where a failed read is said, in the foreground
    std::time_t m_started;
    std::unordered_map<const DriveItem*, MountFolder> m_folders;
    // A damaged disk's entry can lead to a folder above it, or to one listed
    // elsewhere: opened at every place, a walk of the mount would not end, and
    // the tree would hold the folder again for every path to it. As list -r opens
    // such a folder once, the mount serves it at the first place it was listed,
    // and as a symbolic link there from everywhere else (walks do not follow
    // links). Each cluster-chain folder's place: the item listed there.
    std::map<TreeWalker::DirectoryKey, const DriveItem*> m_places;
    // Each folder item listed: the folder that lists it, and its name there.
    struct Listed {
        const DriveItem* folder = nullptr;
        std::string name;
    };
    std::unordered_map<const DriveItem*, Listed> m_listedIn;
    struct Opened {
        std::unique_ptr<FileReader> reader;
        std::string treePath;
    };
    std::unordered_map<std::uint64_t, Opened> m_open;
    std::uint64_t m_nextHandle = 1;
};

bool IsMountFolder(const DriveItem& item, const DriveItem* parent) {
    return HoldsChildren(KindName(item, parent));
}

bool IsMountFile(const DriveItem& item) {
    return item.IsFile() && !item.IsVolumeLabel();
}

// A folder of which nothing could be read, or one that was read while the disk
// no longer answers (a volume whose boot sector does not read tells no failure:
// it holds nothing to show).
bool MountServer::FolderUnread(const DriveItem& folder, bool foundNothing) {
    if (m_walker.ReadNothing(folder)) {
        return true;
    }
    return (foundNothing || m_walker.ReadInPart(folder)) && !m_access.DiskAnswers(folder.m_drive);
}

MountFolder MountServer::ReadFolder(DriveItem* item, const std::string& treePath) {
    MountFolder folder;
    const std::vector<DriveItem*> children =
        item == nullptr ? m_walker.TopLevel() : m_walker.Expand(*item, treePath);
    if (item != nullptr && FolderUnread(*item, children.empty())) {
        folder.error = EIO;
        return folder;
    }
    for (DriveItem* child : children) {
        if (!IsMountFile(*child) && !IsMountFolder(*child, item)) {
            continue;  // a FAT copy, a volume label
        }
        const std::string name = SafeFileName(child->PlainName());
        std::string unique = name;
        for (int n = 2; folder.children.contains(unique); ++n) {
            unique = NumberedName(name, n);
        }
        folder.children.emplace(unique, child);
        folder.order.push_back(unique);
        if (IsMountFolder(*child, item)) {
            Place(item, *child, unique);
        }
    }
    return folder;
}

void MountServer::Place(const DriveItem* folder, const DriveItem& child, const std::string& name) {
    m_listedIn.emplace(&child, Listed{folder, name});
    // A folder entry without a cluster of its own reads as empty: it leads nowhere.
    if (IsChainDirectory(child) && child.m_firstCluster >= 2) {
        m_places.emplace(DirectoryKeyOf(child), &child);
    }
}

const DriveItem* MountServer::ServedElsewhere(const DriveItem& item) const {
    if (!IsChainDirectory(item) || item.m_firstCluster < 2) {
        return nullptr;
    }
    const auto place = m_places.find(DirectoryKeyOf(item));
    return place == m_places.end() || place->second == &item ? nullptr : place->second;
}

std::string MountServer::MountPath(const DriveItem* item) const {
    std::vector<const std::string*> names;
    for (auto listed = m_listedIn.find(item); listed != m_listedIn.end();
         listed = m_listedIn.find(listed->second.folder)) {
        names.push_back(&listed->second.name);
    }
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        path += "/" + **name;
    }
    return path.empty() ? "/" : path;
}

std::optional<std::string> MountServer::LinkTarget(const DriveItem& item) const {
    const DriveItem* place = ServedElsewhere(item);
    if (place == nullptr) {
        return std::nullopt;
    }
    const auto listed = m_listedIn.find(&item);
    const std::string from = listed == m_listedIn.end() ? "/" : MountPath(listed->second.folder);
    return std::filesystem::path(MountPath(place)).lexically_relative(from).string();
}

const MountFolder& MountServer::Folder(const Found& found) {
    if (const auto known = m_folders.find(found.item); known != m_folders.end()) {
        return known->second;
    }
    return m_folders.emplace(found.item, ReadFolder(found.item, found.treePath)).first->second;
}

MountServer::Found MountServer::Find(const char* path) {
    Found found;
    const DriveItem* parent = nullptr;
    for (const std::string& component : SplitTreePath(path)) {
        // A link is followed by the kernel, never opened here.
        if (found.item != nullptr &&
            (!IsMountFolder(*found.item, parent) || ServedElsewhere(*found.item) != nullptr)) {
            return Found::Failed(ENOTDIR);
        }
        const MountFolder& folder = Folder(found);
        if (folder.error != 0) {
            return Found::Failed(folder.error);
        }
        const auto child = folder.children.find(component);
        if (child == folder.children.end()) {
            return Found::Failed(ENOENT);
        }
        parent = found.item;
        found.item = child->second;
        found.treePath = JoinPath(found.treePath, std::string(found.item->PlainName()));
    }
    return found;
}

void MountServer::Describe(const DriveItem* item, struct stat& info) const {
    info = {};
    info.st_uid = ::getuid();
    info.st_gid = ::getgid();
    info.st_mtime = info.st_atime = info.st_ctime = m_started;
    if (const auto target = item != nullptr ? LinkTarget(*item) : std::nullopt) {
        info.st_mode = S_IFLNK | 0777;
        info.st_nlink = 1;
        info.st_size = static_cast<off_t>(target->size());
    } else if (item == nullptr || !IsMountFile(*item)) {
        info.st_mode = S_IFDIR | 0555;
        info.st_nlink = 2;
    } else {
        info.st_mode = S_IFREG | 0444;
        info.st_nlink = 1;
        info.st_size = static_cast<off_t>(std::min<std::uint64_t>(item->m_fileSize, LLONG_MAX));
        info.st_blksize = 64 * 1024;
        info.st_blocks = static_cast<blkcnt_t>((item->m_fileSize + 511) / 512);
    }
    if (item != nullptr && item->m_kind == ItemKind::Entry) {
        const auto written = DecodeFatDateTime(item->m_writeDate, item->m_writeTime);
        if (const auto when = written ? LocalTimeOf(*written) : std::nullopt) {
            info.st_mtime = info.st_atime = info.st_ctime = *when;
        }
    }
}

int MountServer::Open(const Found& file, std::uint64_t& handle) {
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
    const auto found = Server().Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    Server().Describe(found.item, *info);
    return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t /*offset*/,
            fuse_file_info* /*file*/, fuse_readdir_flags /*flags*/) {
    const auto found = Server().Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    struct stat info {};
    Server().Describe(found.item, info);
    if (!S_ISDIR(info.st_mode)) {
        return -ENOTDIR;
    }
    const MountFolder& folder = Server().Folder(found);
    if (folder.error != 0) {
        return -folder.error;
    }
    const auto none = static_cast<fuse_fill_dir_flags>(0);
    fill(buffer, ".", nullptr, 0, none);
    fill(buffer, "..", nullptr, 0, none);
    for (const std::string& name : folder.order) {
        Server().Describe(folder.children.at(name), info);
        fill(buffer, name.c_str(), &info, 0, none);
    }
    return 0;
}

int ReadLink(const char* path, char* buffer, std::size_t size) {
    const auto found = Server().Find(path);
    if (found.error != 0) {
        return -found.error;
    }
    const auto target = found.item != nullptr ? Server().LinkTarget(*found.item) : std::nullopt;
    if (!target || size == 0) {
        return -EINVAL;
    }
    const std::size_t length = std::min(size - 1, target->size());
    std::memcpy(buffer, target->data(), length);
    buffer[length] = '\0';
    return 0;
}

int OpenFile(const char* path, fuse_file_info* file) {
    const auto found = Server().Find(path);
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
