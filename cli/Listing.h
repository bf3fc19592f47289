#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ItemDetails.h"
#include "TerminalFrontend.h"
#include "TreePath.h"
#include "tree/DriveTree.h"

namespace moravel::cli {

// What an item is, in the words of the listing: disk, volume, extended, fat, root,
// directory, file or unknown. The parent tells the FAT32 root directory (a
// directory entry item right under its volume) from other folders; null for the
// items of the top level.
std::string_view KindName(const DriveItem& item, const DriveItem* parent);

// True for the kinds that hold children: disks, extended partitions, volumes,
// root directories and directories.
bool HoldsChildren(std::string_view kind);

// One line of a listing: an item with its name, kind and full tree path, and the
// children it was expanded into, if it was.
struct ListedItem {
    DriveItem* item = nullptr;
    std::string name;
    std::string kind;
    std::string path;
    bool expanded = false;
    std::vector<ListedItem> children;
    ItemDetails details;  // filled by TreeWalker::AddDetails, for the JSON form
};

// Walks the drive tree for the listing: resolves tree paths and expands items
// through the core, showing its progress on the terminal front end.
class TreeWalker {
public:
    // Directories deeper than this below the listed item are not opened: a
    // damaged disk can nest folders without end.
    static constexpr std::size_t kMaxDepth = 256;

    TreeWalker(DriveTree& access, TerminalFrontend& frontend);

    // The children of the item (expanded now if it was not before). path names
    // the item in what is reported about it.
    std::vector<DriveItem*> Expand(DriveItem& item, const std::string& path);

    // Whether opening the item reported a failure: its children were not read, or
    // not all of them (a folder with an unreadable sector, a volume whose FAT
    // could not be read).
    bool ReadInPart(const DriveItem& item) const { return m_readInPart.contains(&item); }
    // Whether opening the item failed before any of its children could be read
    // (a folder none of whose sectors read, a FAT that cannot be the volume's).
    bool ReadNothing(const DriveItem& item) const { return m_readNothing.contains(&item); }

    // The disks of the table, the top level of every path.
    std::vector<DriveItem*> TopLevel() const;

    using DirectoryKey = std::tuple<std::uint16_t, std::uint32_t, std::uint32_t>;

    struct Place {
        DriveItem* item = nullptr;    // null: the top level
        DriveItem* parent = nullptr;  // the item above it; null for a disk of the top level
        std::string path;             // the path that names it, as a listing prints it
        // The cluster-chain directories on the way there, the item included.
        std::vector<DirectoryKey> directories;
    };
    // The item a tree path leads to. On failure, error says which component
    // matched nothing, and under which item (by the path a listing prints for it),
    // what is there, and the path it may have meant.
    std::optional<Place> Resolve(std::string_view treePath, std::string& error);

    // The children of the place, each with its own subtree when recursive (which
    // expands everything that holds children, depth first). A recursive listing
    // opens each cluster-chain folder once: a folder that a damaged disk links
    // from several places is listed there, but not opened again.
    std::vector<ListedItem> List(const Place& place, bool recursive);

    // Reads what the JSON form shows beyond the items' own fields: the chains of
    // directory entries and FAT32 roots (clusters and fragments), volumes' boot
    // sectors, disks' sources and sizes. One volume's FAT is held at a time, read
    // once for all the items of that volume that follow one another. A part that
    // cannot be read is left out and reported. The chains of one folder are not
    // followed past twice the clusters its FAT has: a damaged folder's entries can
    // lead into the same long chains thousands of times.
    void AddDetails(const Place& place, std::vector<ListedItem>& listing);

    // The place's own item as a listing shows it, without children, with its
    // details; keeps the first keepRuns runs of its chain. Nothing for the top
    // level, which is no item.
    std::optional<ListedItem> Describe(const Place& place, std::size_t keepRuns);

private:
    // Why components[at] leads nowhere from the place among its siblings: what
    // is there, and a path it may have meant.
    std::string NotFoundText(const Place& place, const Siblings& siblings,
                             const std::vector<std::string>& components, std::size_t at);
    // The path with components[at] as a near sibling's name, or found one level
    // further down (below a volume, a root directory or an extended partition).
    std::optional<std::string> MeantPath(const Place& place, const Siblings& siblings,
                                         const std::vector<std::string>& components,
                                         std::size_t at);
    void AddDetails(std::vector<ListedItem>& items, const std::string& where, bool topLevel,
                    FatCache& fats);
    // Fills the details of one item but its chain: a volume's boot sector (one
    // that cannot be read is reported), a disk's source and size.
    void AddOwnDetails(ListedItem& listed, bool topLevel);
    // Measures the item's chain when its FAT was loaded (fat: what the cache's
    // Load said for it); reports a FAT that could not be, once per volume. where
    // names the folder the item is listed in.
    void AddChain(ListedItem& listed, const std::string& where, FatCache::Outcome fat,
                  FatCache& fats, std::size_t keepRuns);

    std::vector<ListedItem> ListChildren(const DriveItem* parent, const Siblings& siblings,
                                         const std::string& parentPath, bool recursive,
                                         std::size_t depth);
    ListedItem ListItem(DriveItem& item, const DriveItem* parent, std::string path, bool recursive,
                        std::size_t depth);
    bool MayDescend(const DriveItem& item, const std::string& path, std::size_t depth);

    DriveTree& m_access;
    TerminalFrontend& m_frontend;
    std::set<const DriveItem*> m_readInPart;   // items whose opening reported a failure
    std::set<const DriveItem*> m_readNothing;  // items whose opening read none of their children
    // The cluster-chain directories on the way down to the item being listed.
    std::vector<DirectoryKey> m_openDirectories;
    // Every cluster-chain directory the listing has opened, with its path.
    std::map<DirectoryKey, std::string> m_listedDirectories;
};

// Whether the item is a folder of its own cluster chain (a directory entry's, or
// the FAT32 root): one that a damaged disk can lead to from several places.
bool IsChainDirectory(const DriveItem& item);

// A cluster-chain folder is known by its disk, its volume and its first
// cluster: two items with the same key show the same folder.
TreeWalker::DirectoryKey DirectoryKeyOf(const DriveItem& item);

// Text form: one line per item, name, kind, and for files the size text and the
// byte count, separated by tabs; children follow their parent, two spaces deeper.
void PrintText(std::ostream& out, const std::vector<ListedItem>& items);

// JSON form: one array of objects with name, path, kind, size, attributes and
// firstCluster, and children on every expanded item.
void PrintJson(std::ostream& out, const std::vector<ListedItem>& items);

}  // namespace moravel::cli
