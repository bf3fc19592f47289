#include "Listing.h"

#include <algorithm>

#include "Cli.h"
#include "ListingJson.h"
#include "TerminalText.h"
#include "disk/Sector.h"
#include "tree/Directory.h"
#include "tree/FatDate.h"
#include "ui/FormatSize.h"

namespace moravel::cli {

namespace {

// The kinds whose items stand for a directory entry of their own (the FAT32
// root is a chain without one).
bool IsEntryKind(std::string_view kind) {
    return kind == "file" || kind == "directory";
}

void PrintLines(std::ostream& out, const std::vector<ListedItem>& items, std::size_t depth) {
    for (const ListedItem& listed : items) {
        out << std::string(2 * depth, ' ') << EscapeControls(listed.name) << '\t' << listed.kind;
        const DriveItem& item = *listed.item;
        if (listed.kind == "file") {
            out << '\t' << FormatSize(item.m_fileSize) << '\t' << item.m_fileSize;
        }
        // A folder's or file's last change, where its entry holds a valid one.
        if (item.m_kind == ItemKind::Entry) {
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
        case ItemKind::Disk:
            return "disk";
        case ItemKind::Volume:
            return "volume";
        case ItemKind::Extended:
            return "extended";
        case ItemKind::Fat12Table:
        case ItemKind::Fat16Table:
        case ItemKind::Fat32Table:
            return "fat";
        case ItemKind::RootDirectory:
            return "root";
        case ItemKind::Entry:
            if (!item.IsDirectory()) {
                return "file";
            }
            return parent != nullptr && parent->m_kind == ItemKind::Volume ? "root" : "directory";
        default:
            return "unknown";
    }
}

bool IsChainDirectory(const DriveItem& item) {
    return item.m_kind == ItemKind::Entry && item.IsDirectory();
}

TreeWalker::DirectoryKey DirectoryKeyOf(const DriveItem& item) {
    return {item.m_drive, item.m_partitionStart, item.m_firstCluster};
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
    Expansion expansion = m_access.ExpandItem(item, m_frontend.Progress());
    m_frontend.Report(expansion.errors);
    if (!expansion.errors.empty()) {
        m_readInPart.insert(&item);
    }
    if (std::any_of(expansion.errors.begin(), expansion.errors.end(),
                    [](const Error& error) { return error.weight == Error::Weight::Stop; })) {
        m_readNothing.insert(&item);
    }
    m_frontend.SetReading("");
    m_frontend.EndScan();
    if (const auto sector = m_access.RepeatedRecord(item); first && sector) {
        m_frontend.Report(std::string(kProgram) + ": not following " + Quote(path) +
                          ": its extended boot record (sector " + std::to_string(*sector) +
                          ") was read before; the partition chain links back");
    }
    return std::move(expansion.children);
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
    const std::vector<std::string> components = SplitTreePath(treePath);
    const TerminalFrontend::ScanLevels levels(m_frontend, components.size());
    for (std::size_t at = 0; at < components.size(); ++at) {
        const Siblings siblings(std::move(children));
        const auto index = siblings.Find(components[at]);
        if (!index) {
            error = NotFoundText(place, siblings, components, at);
            return std::nullopt;
        }
        place.parent = place.item;
        place.item = &siblings[*index];
        place.path = JoinPath(place.path, siblings.PathComponent(*index));
        if (IsChainDirectory(*place.item)) {
            place.directories.push_back(DirectoryKeyOf(*place.item));
        }
        children = Expand(*place.item, place.path);
    }
    return place;
}

namespace {

// How many names a path that leads nowhere shows of those that are there.
constexpr std::size_t kNamesShown = 10;
// How many items of a level are looked into for a name given a level too high.
constexpr std::size_t kItemsLookedInto = 8;

// `"FAT 1", "FAT 2", "Root Directory"`: the names that lead to the siblings,
// the first few of many.
std::string NamesText(const Siblings& siblings) {
    std::string text;
    for (std::size_t i = 0; i < siblings.Size() && i < kNamesShown; ++i) {
        text += (i == 0 ? "" : ", ") + Quote(siblings.PathComponent(i));
    }
    if (siblings.Size() > kNamesShown) {
        text += " and " + std::to_string(siblings.Size() - kNamesShown) + " more";
    }
    return text;
}

// The path, with the components from `from` on after it.
std::string WithRest(std::string path, const std::vector<std::string>& components,
                     std::size_t from) {
    for (std::size_t i = from; i < components.size(); ++i) {
        path = JoinPath(path, components[i]);
    }
    return path;
}

}  // namespace

std::string TreeWalker::NotFoundText(const Place& place, const Siblings& siblings,
                                     const std::vector<std::string>& components, std::size_t at) {
    const bool top = place.item == nullptr;
    std::string text = std::string(kProgram) + ": no " + Quote(components[at]) +
                       (top ? " among the disks" : " in " + Quote(place.path));
    if (!top && ReadNothing(*place.item)) {
        text += ", which could not be read";
    } else if (siblings.Size() == 0) {
        text += top ? ", of which there are none" : ", which holds nothing";
    } else {
        text += (top ? ", which are " : ", which holds ") + NamesText(siblings);
    }
    if (const auto meant = MeantPath(place, siblings, components, at)) {
        text += "; did you mean " + Quote(*meant) + "?";
    }
    return text;
}

std::optional<std::string> TreeWalker::MeantPath(const Place& place, const Siblings& siblings,
                                                 const std::vector<std::string>& components,
                                                 std::size_t at) {
    if (const auto near = siblings.Near(components[at])) {
        return WithRest(JoinPath(place.path, siblings.PathComponent(*near)), components, at + 1);
    }
    // A level left out: the root directory of a volume, a volume of a disk.
    std::size_t looked = 0;
    for (std::size_t i = 0; i < siblings.Size() && looked < kItemsLookedInto; ++i) {
        const std::string_view kind = KindName(siblings[i], place.item);
        if (kind != "volume" && kind != "root" && kind != "extended") {
            continue;
        }
        ++looked;
        const std::string path = JoinPath(place.path, siblings.PathComponent(i));
        const Siblings below(Expand(siblings[i], path));
        auto found = below.Find(components[at]);
        found = found ? found : below.Near(components[at]);
        if (found) {
            return WithRest(JoinPath(path, below.PathComponent(*found)), components, at + 1);
        }
    }
    return std::nullopt;
}

std::vector<ListedItem> TreeWalker::List(const Place& place, bool recursive) {
    m_openDirectories = place.directories;
    m_listedDirectories.clear();
    if (place.item != nullptr && IsChainDirectory(*place.item)) {
        m_listedDirectories.emplace(DirectoryKeyOf(*place.item), place.path);
    }
    const Siblings siblings(place.item == nullptr ? TopLevel() : Expand(*place.item, place.path));
    return ListChildren(place.item, siblings, place.path, recursive, 0);
}

void TreeWalker::AddDetails(const Place& place, std::vector<ListedItem>& listing) {
    FatCache fats(m_access);
    AddDetails(listing, place.path, place.item == nullptr, fats);
}

void TreeWalker::AddDetails(std::vector<ListedItem>& items, const std::string& where, bool topLevel,
                            FatCache& fats) {
    // The files of a healthy folder share no cluster: together their chains are
    // no longer than the FAT has entries. Chains that run into one another are
    // followed no further than twice that, as the folder scan counts them.
    std::uint64_t followed = 0;
    std::size_t leftOut = 0;
    for (ListedItem& listed : items) {
        AddOwnDetails(listed, topLevel);
        if (listed.item->m_kind != ItemKind::Entry) {
            continue;
        }
        const FatCache::Outcome fat = fats.Load(*listed.item);
        if (fat == FatCache::Outcome::Ready && followed > 2 * fats.Entries()) {
            ++leftOut;
            continue;
        }
        AddChain(listed, where, fat, fats, 0);
        if (listed.details.chain) {
            followed += listed.details.chain->clusters;
        }
    }
    if (leftOut > 0) {
        m_frontend.Report(std::string(kProgram) + ": " + Quote(where) +
                          ": the cluster chains of its entries run into one another; clusters "
                          "and fragments are left out for the last " +
                          std::to_string(leftOut) + (leftOut == 1 ? " entry" : " entries"));
    }
    for (ListedItem& listed : items) {
        if (!listed.children.empty()) {
            AddDetails(listed.children, listed.path, false, fats);
        }
    }
}

void TreeWalker::AddOwnDetails(ListedItem& listed, bool topLevel) {
    const DriveItem& item = *listed.item;
    ItemDetails& details = listed.details;
    if (topLevel) {
        details.source = m_access.SourcePath(item.m_drive);
        if (item.m_kind == ItemKind::Disk) {
            details.bytes = m_access.DiskBytes(item.m_drive);
            if (details.source) {
                details.disk = DescribeDisk(*details.source);
            }
        }
    }
    if (item.m_kind != ItemKind::Volume) {
        return;
    }
    VolumeDetails volume;
    switch (ReadVolumeDetails(m_access, item, volume)) {
        case BootRead::Read:
            details.bytes = SectorsToBytes(volume.sectors);
            details.volume = std::move(volume);
            break;
        case BootRead::Unreadable:
            m_frontend.Report(std::string(kProgram) + ": " + Quote(listed.path) +
                              ": its boot sector could not be read; the volume's details are "
                              "left out");
            break;
        case BootRead::NotFat:
            break;  // no FAT volume: nothing to tell beyond the partition entry
    }
}

void TreeWalker::AddChain(ListedItem& listed, const std::string& where, FatCache::Outcome fat,
                          FatCache& fats, std::size_t keepRuns) {
    const DriveItem& item = *listed.item;
    switch (fat) {
        case FatCache::Outcome::Ready:
            listed.details.chain = fats.Measure(item, keepRuns);
            if (listed.details.chain) {
                break;
            }
            [[fallthrough]];  // it ran into a FAT sector that could not be read
        case FatCache::Outcome::Failed:
            m_frontend.Report(std::string(kProgram) + ": " + Quote(where) +
                              ": the volume's FAT could not be read; clusters and fragments "
                              "are left out");
            break;
        case FatCache::Outcome::FailedBefore:
            break;  // reported where it failed first
    }
}

std::optional<ListedItem> TreeWalker::Describe(const Place& place, std::size_t keepRuns) {
    if (place.item == nullptr) {
        return std::nullopt;
    }
    ListedItem listed;
    listed.item = place.item;
    listed.name = DisplayText(*place.item);
    listed.kind = std::string(KindName(*place.item, place.parent));
    listed.path = place.path;
    AddOwnDetails(listed, place.parent == nullptr);
    if (place.item->m_kind == ItemKind::Entry) {
        FatCache fats(m_access);
        AddChain(listed, listed.path, fats.Load(*place.item), fats, keepRuns);
    }
    return listed;
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
            m_openDirectories.push_back(DirectoryKeyOf(item));
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
    const DirectoryKey key = DirectoryKeyOf(item);
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

nlohmann::ordered_json ItemJson(const ListedItem& listed) {
    const DriveItem& item = *listed.item;
    const ItemDetails& details = listed.details;
    nlohmann::ordered_json object;
    object["name"] = listed.name;
    object["path"] = listed.path;
    object["kind"] = listed.kind;
    // A disk's or volume's size in bytes, where it could be told.
    const bool whole = item.m_kind == ItemKind::Disk || item.m_kind == ItemKind::Volume;
    object["size"] = whole && details.bytes ? *details.bytes : item.m_fileSize;
    object["attributes"] = item.m_attributes;
    object["firstCluster"] = item.m_firstCluster;
    if (item.m_kind == ItemKind::Entry) {
        if (const auto modified = DecodeFatDateTime(item.m_writeDate, item.m_writeTime)) {
            object["modified"] = IsoDateText(*modified);
        }
        if (const auto created = DecodeFatDateTime(item.m_createDate, item.m_createTime)) {
            object["created"] = IsoDateText(*created);
        }
    }
    if (IsEntryKind(listed.kind)) {
        object["directorySize"] = item.m_directorySize;
        object["sizeFromChain"] = item.IsFile() && item.m_fileSize != item.m_directorySize;
        if (item.m_hasLongName) {
            object["shortName"] = item.ShortName();
        }
        object["fileName"] = item.EntryName();
    }
    if (details.chain) {
        object["clusters"] = details.chain->clusters;
        object["fragments"] = details.chain->fragments;
    }
    if (details.source) {
        object["source"] = *details.source;
    }
    if (details.disk) {
        const auto known = [](const std::string& text) {
            return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
        };
        object["device"] = details.disk->device;
        object["model"] = known(details.disk->model);
        object["serial"] = known(details.disk->serial);
        object["bus"] = known(details.disk->bus);
    }
    switch (item.m_kind) {
        case ItemKind::Volume:
        case ItemKind::Extended:
        case ItemKind::Unknown:
            object["startLba"] = item.m_partitionStart;
            if (item.m_partitionType != 0) {
                object["partitionType"] = item.m_partitionType;
            }
            break;
        case ItemKind::Fat12Table:
        case ItemKind::Fat16Table:
        case ItemKind::Fat32Table:
        case ItemKind::RootDirectory:
            object["startLba"] = std::uint64_t{item.m_partitionStart} + item.m_relativeSector;
            object["sectors"] = item.m_sectorCount;
            break;
        default:
            break;
    }
    if (details.volume) {
        object["sectors"] = details.volume->sectors;
        object["fatKind"] = details.volume->fatBits;
        object["clusterSize"] = details.volume->clusterBytes;
        if (!details.volume->label.empty()) {
            object["label"] = details.volume->label;
        }
    }
    if (listed.expanded) {
        auto children = nlohmann::ordered_json::array();
        for (const ListedItem& child : listed.children) {
            children.push_back(ItemJson(child));
        }
        object["children"] = std::move(children);
    }
    return object;
}

void PrintJson(std::ostream& out, const std::vector<ListedItem>& items) {
    auto array = nlohmann::ordered_json::array();
    for (const ListedItem& listed : items) {
        array.push_back(ItemJson(listed));
    }
    // A disk's path need not be UTF-8 (names are made so): what is not shows as U+FFFD.
    out << array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

}  // namespace moravel::cli
