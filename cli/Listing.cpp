#include "Listing.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "Cli.h"
#include "TerminalText.h"
#include "tree/FatDate.h"
#include "ui/FormatSize.h"

namespace moravel::cli {

namespace {

// A cluster-chain directory is known by its disk, its volume and its first
// cluster; two items with the same key show the same folder.
bool IsChainDirectory(const DriveItem& item) {
    return item.m_kind == KindEntry && item.IsDirectory();
}

TreeWalker::DirectoryKey KeyOf(const DriveItem& item) {
    return {item.m_drive, item.m_partitionStart, item.m_firstCluster};
}

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

nlohmann::ordered_json ToJson(const ListedItem& listed) {
    const DriveItem& item = *listed.item;
    nlohmann::ordered_json object;
    object["name"] = listed.name;
    object["path"] = listed.path;
    object["kind"] = listed.kind;
    object["size"] = item.m_fileSize;
    object["attributes"] = item.m_attributes;
    object["firstCluster"] = item.m_firstCluster;
    if (item.m_kind == KindEntry) {
        if (const auto modified = DecodeFatDateTime(item.m_writeDate, item.m_writeTime)) {
            object["modified"] = IsoDateText(*modified);
        }
        if (const auto created = DecodeFatDateTime(item.m_createDate, item.m_createTime)) {
            object["created"] = IsoDateText(*created);
        }
    }
    if (listed.expanded) {
        auto children = nlohmann::ordered_json::array();
        for (const ListedItem& child : listed.children) {
            children.push_back(ToJson(child));
        }
        object["children"] = std::move(children);
    }
    return object;
}

void PrintLines(std::ostream& out, const std::vector<ListedItem>& items, std::size_t depth) {
    for (const ListedItem& listed : items) {
        out << std::string(2 * depth, ' ') << EscapeControls(listed.name) << '\t' << listed.kind;
        const DriveItem& item = *listed.item;
        if (listed.kind == "file") {
            out << '\t' << FormatSize(item.m_fileSize) << '\t' << item.m_fileSize;
        }
        // A folder's or file's last change, where its entry holds a valid one.
        if (item.m_kind == KindEntry) {
            if (const auto modified = DecodeFatDateTime(item.m_writeDate, item.m_writeTime)) {
                out << '\t' << ShortDateText(*modified);
            }
        }
        out << '\n';
        PrintLines(out, listed.children, depth + 1);
    }
}

}  // namespace

std::string_view KindName(const DriveItem& item, const DriveItem* parent) {
    switch (item.m_kind) {
        case KindDisk:
            return "disk";
        case KindVolume:
            return "volume";
        case KindExtended:
            return "extended";
        case KindFat12Table:
        case KindFat16Table:
        case KindFat32Table:
            return "fat";
        case KindRootDirectory:
            return "root";
        case KindEntry:
            if (!item.IsDirectory()) {
                return "file";
            }
            return parent != nullptr && parent->m_kind == KindVolume ? "root" : "directory";
        default:
            return "unknown";
    }
}

bool HoldsChildren(std::string_view kind) {
    return kind == "disk" || kind == "extended" || kind == "volume" || kind == "root" ||
           kind == "directory";
}

TreeWalker::TreeWalker(DriveTree& access, TerminalFrontend& frontend)
    : m_access(access), m_frontend(frontend) {}

std::vector<DriveItem*> TreeWalker::Expand(DriveItem& item, const std::string& path) {
    const bool first = item.m_expanded == 0;
    m_frontend.SetReading(Quote(path));
    std::vector<DriveItem*> children = m_access.ExpandItem(item, m_frontend.Progress());
    m_frontend.SetReading("");
    m_frontend.EndScan();
    if (const auto sector = m_access.RepeatedRecord(item); first && sector) {
        m_frontend.Report(std::string(kProgram) + ": not following " + Quote(path) +
                          ": its extended boot record (sector " + std::to_string(*sector) +
                          ") was read before; the partition chain links back");
    }
    return children;
}

std::vector<DriveItem*> TreeWalker::TopLevel() const {
    std::vector<DriveItem*> disks;
    DriveItem* table = m_access.GetDisks();
    if (table == nullptr) {
        return disks;
    }
    const std::size_t count = m_access.GetFloppyCount() +
                              static_cast<std::size_t>(std::max(0, m_access.GetHardDiskCount()));
    for (std::size_t i = 0; i < count && i < kDiskTableEntries; ++i) {
        disks.push_back(&table[i]);
    }
    return disks;
}

std::optional<TreeWalker::Place> TreeWalker::Resolve(std::string_view treePath,
                                                     std::string& error) {
    Place place;
    std::vector<DriveItem*> children = TopLevel();
    for (const std::string& component : SplitTreePath(treePath)) {
        const Siblings siblings(std::move(children));
        const auto index = siblings.Find(component);
        if (!index) {
            error = std::string(kProgram) + ": no " + Quote(component) +
                    (place.item == nullptr ? " among the disks" : " in " + Quote(place.path));
            return std::nullopt;
        }
        place.item = &siblings[*index];
        place.path = JoinPath(place.path, siblings.PathComponent(*index));
        if (IsChainDirectory(*place.item)) {
            place.directories.push_back(KeyOf(*place.item));
        }
        children = Expand(*place.item, place.path);
    }
    return place;
}

std::vector<ListedItem> TreeWalker::List(const Place& place, bool recursive) {
    m_openDirectories = place.directories;
    m_listedDirectories.clear();
    if (place.item != nullptr && IsChainDirectory(*place.item)) {
        m_listedDirectories.emplace(KeyOf(*place.item), place.path);
    }
    const Siblings siblings(place.item == nullptr ? TopLevel() : Expand(*place.item, place.path));
    return ListChildren(place.item, siblings, place.path, recursive, 0);
}

std::vector<ListedItem> TreeWalker::ListChildren(const DriveItem* parent, const Siblings& siblings,
                                                 const std::string& parentPath, bool recursive,
                                                 std::size_t depth) {
    std::vector<ListedItem> listed;
    listed.reserve(siblings.Size());
    for (std::size_t i = 0; i < siblings.Size(); ++i) {
        listed.push_back(ListItem(siblings[i], parent,
                                  JoinPath(parentPath, siblings.PathComponent(i)), recursive,
                                  depth));
    }
    return listed;
}

ListedItem TreeWalker::ListItem(DriveItem& item, const DriveItem* parent, std::string path,
                                bool recursive, std::size_t depth) {
    ListedItem listed;
    listed.item = &item;
    listed.name = DisplayText(item);
    listed.kind = std::string(KindName(item, parent));
    listed.path = std::move(path);

    const bool chainDirectory = IsChainDirectory(item);
    bool open = item.m_expanded == 1;
    // A folder is checked even when it is open already: the same folder may be
    // reached again, and is then listed but not opened a second time.
    if (recursive && HoldsChildren(listed.kind) && (!open || chainDirectory)) {
        const bool may = MayDescend(item, listed.path, depth);
        if (may && !open) {
            Expand(item, listed.path);
        }
        open = may || !chainDirectory ? item.m_expanded == 1 : false;
    }
    listed.expanded = open;
    if (open) {
        if (chainDirectory) {
            m_openDirectories.push_back(KeyOf(item));
        }
        const Siblings children(item.m_children.Pointers());
        listed.children = ListChildren(&item, children, listed.path, recursive, depth + 1);
        if (chainDirectory) {
            m_openDirectories.pop_back();
        }
    }
    return listed;
}

bool TreeWalker::MayDescend(const DriveItem& item, const std::string& path, std::size_t depth) {
    if (depth >= kMaxDepth) {
        m_frontend.Report(std::string(kProgram) + ": not expanding " + Quote(path) +
                          ": folders nest deeper than " + std::to_string(kMaxDepth) + " levels");
        return false;
    }
    if (!IsChainDirectory(item)) {
        return true;
    }
    const DirectoryKey key = KeyOf(item);
    if (std::find(m_openDirectories.begin(), m_openDirectories.end(), key) !=
        m_openDirectories.end()) {
        m_frontend.Report(std::string(kProgram) + ": not expanding " + Quote(path) +
                          ": the folder is one of its own parents");
        return false;
    }
    const auto [listedAt, first] = m_listedDirectories.emplace(key, path);
    if (!first) {
        m_frontend.Report(std::string(kProgram) + ": not expanding " + Quote(path) +
                          ": the same folder (cluster " + std::to_string(item.m_firstCluster) +
                          ") was listed at " + Quote(listedAt->second));
        return false;
    }
    return true;
}

void PrintText(std::ostream& out, const std::vector<ListedItem>& items) {
    PrintLines(out, items, 0);
}

void PrintJson(std::ostream& out, const std::vector<ListedItem>& items) {
    auto array = nlohmann::ordered_json::array();
    for (const ListedItem& listed : items) {
        array.push_back(ToJson(listed));
    }
    out << array.dump(2) << '\n';
}

}  // namespace moravel::cli
