#pragma once

#include <sys/stat.h>

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Listing.h"
#include "tree/DriveTree.h"

namespace moravel::cli {

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

// The drive tree as the mount shows it: disks, volumes and folders are folders,
// files have their true sizes and their entries' dates, each read from the disk
// when it is first asked for. Not thread-safe: a folder is read through the tree.
class MountTree {
public:
    MountTree(DriveTree& access, TreeWalker& walker)
        : m_access(access), m_walker(walker), m_started(std::time(nullptr)) {}

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
};

// Whether the mount serves the item as a file (a volume label is none).
bool IsMountFile(const DriveItem& item);

}  // namespace moravel::cli
