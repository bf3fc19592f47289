#include "MountTree.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>

#include "TreePath.h"
#include "copy/PartNames.h"
#include "tree/FatDate.h"

namespace moravel::cli {

namespace {

bool IsMountFolder(const DriveItem& item, const DriveItem* parent) {
    return HoldsChildren(KindName(item, parent));
}

}  // namespace

bool IsMountFile(const DriveItem& item) {
    return item.IsFile() && !item.IsVolumeLabel();
}

// A folder of which nothing could be read, or one that was read while the disk
// no longer answers (a volume whose boot sector does not read tells no failure:
// it holds nothing to show).
bool MountTree::FolderUnread(const DriveItem& folder, bool foundNothing) {
    if (m_walker.ReadNothing(folder)) {
        return true;
    }
    return (foundNothing || m_walker.ReadInPart(folder)) && !m_access.DiskAnswers(folder.m_drive);
}

MountFolder MountTree::ReadFolder(DriveItem* item, const std::string& treePath) {
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

void MountTree::Place(const DriveItem* folder, const DriveItem& child, const std::string& name) {
    m_listedIn.emplace(&child, Listed{folder, name});
    // A folder entry without a cluster of its own reads as empty: it leads nowhere.
    if (IsChainDirectory(child) && child.m_firstCluster >= 2) {
        m_places.emplace(DirectoryKeyOf(child), &child);
    }
}

const DriveItem* MountTree::ServedElsewhere(const DriveItem& item) const {
    if (!IsChainDirectory(item) || item.m_firstCluster < 2) {
        return nullptr;
    }
    const auto place = m_places.find(DirectoryKeyOf(item));
    return place == m_places.end() || place->second == &item ? nullptr : place->second;
}

std::string MountTree::MountPath(const DriveItem* item) const {
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

std::optional<std::string> MountTree::LinkTarget(const DriveItem& item) const {
    const DriveItem* place = ServedElsewhere(item);
    if (place == nullptr) {
        return std::nullopt;
    }
    const auto listed = m_listedIn.find(&item);
    const std::string from = listed == m_listedIn.end() ? "/" : MountPath(listed->second.folder);
    return std::filesystem::path(MountPath(place)).lexically_relative(from).string();
}

const MountFolder& MountTree::Folder(const Found& found) {
    if (const auto known = m_folders.find(found.item); known != m_folders.end()) {
        return known->second;
    }
    return m_folders.emplace(found.item, ReadFolder(found.item, found.treePath)).first->second;
}

MountTree::Found MountTree::Find(const char* path) {
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

void MountTree::Describe(const DriveItem* item, struct stat& info) const {
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

}  // namespace moravel::cli
