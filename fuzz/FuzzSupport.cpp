#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "copy/PartNames.h"
#include "disk/DiskLayout.h"
#include "disk/Sector.h"
#include "tree/FatChain.h"

namespace moravel::fuzz {

void CheckFailed(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what.c_str());
    std::abort();
}

FuzzTree::FuzzTree(std::shared_ptr<const MemoryDisk> memoryDisk, bool asHardDisk, bool asFloppy)
    : disk(std::move(memoryDisk)) {
    DriveAccessOptions options;
    if (asHardDisk) {
        options.sources.hardDisks = {"fuzz-disk"};
    }
    if (asFloppy) {
        options.sources.floppies = {"fuzz-disk"};
    }
    options.opener = MemoryDiskOpener(disk);
    tree = std::make_unique<DriveTree>(frontend, options);
    FUZZ_CHECK(tree->Open().empty(), "the memory disk could not be opened");
}

std::vector<DriveItem*> FuzzTree::Disks() const {
    std::vector<DriveItem*> disks;
    const std::size_t count =
        tree->GetFloppyCount() + static_cast<std::size_t>(tree->GetHardDiskCount());
    for (std::size_t i = 0; i < count; ++i) {
        disks.push_back(&tree->GetDisks()[i]);
    }
    return disks;
}

bool IsChainDirectory(const DriveItem& item) {
    return item.m_kind == ItemKind::Entry && item.IsDirectory();
}

bool HoldsChildren(const DriveItem& item) {
    switch (item.m_kind) {
        case ItemKind::Disk:
        case ItemKind::Extended:
        case ItemKind::Volume:
        case ItemKind::RootDirectory:
            return true;
        default:
            return IsChainDirectory(item);
    }
}

void TreeWalk::Walk(DriveItem& item, const Visit& visit, const DriveItem* parent,
                    std::size_t depth) {
    visit(item, parent);
    if (!HoldsChildren(item) || depth >= kMaxDepth) {
        return;
    }
    if (IsChainDirectory(item) &&
        !m_opened.emplace(item.m_drive, item.m_partitionStart, item.m_firstCluster).second) {
        return;
    }
    for (DriveItem* child : Expand(item)) {
        Walk(*child, visit, &item, depth + 1);
    }
}

std::vector<DriveItem*> TreeWalk::Expand(DriveItem& item) {
    std::int32_t progress = -1;
    const std::vector<DriveItem*> children = m_tree.ExpandItem(item, progress).children;
    FUZZ_CHECK(progress >= 0 && progress <= 100, "progress out of 0-100");
    FUZZ_CHECK(item.m_expanded == 1, "an expanded item is not marked expanded");
    // A second request gets the same children, without reading the disk again
    // (and so without failing again).
    const Expansion again = m_tree.ExpandItem(item, progress);
    FUZZ_CHECK(again.children == children, "a second expansion differs");
    FUZZ_CHECK(again.errors.empty(), "a second expansion fails again");
    CheckChildren(m_tree, item, children);
    return children;
}

void CheckChildren(const DriveTree& tree, const DriveItem& item,
                   const std::vector<DriveItem*>& children) {
    for (const DriveItem* child : children) {
        FUZZ_CHECK(child != nullptr, "a null child");
        FUZZ_CHECK(child->m_drive == item.m_drive, "a child on another drive");
        // A long name of 255 UTF-16 units is up to 765 bytes of UTF-8.
        FUZZ_CHECK(child->DisplayName().size() <= kMaxNameBytes &&
                       child->EntryName().size() <= kMaxNameBytes,
                   "a name longer than a drive item holds");
        FUZZ_CHECK(child->m_expanded == 0, "a new child is expanded already");
    }
    switch (item.m_kind) {
        case ItemKind::Disk:
        case ItemKind::Extended:
            FUZZ_CHECK(children.size() <= 4, "more than four entries in a partition table");
            if (tree.RepeatedRecord(item)) {
                FUZZ_CHECK(children.empty(), "a boot record read twice has children");
            }
            for (const DriveItem* child : children) {
                FUZZ_CHECK(child->m_kind == ItemKind::Volume ||
                               child->m_kind == ItemKind::Extended ||
                               child->m_kind == ItemKind::Unknown,
                           "a partition of no partition kind");
                FUZZ_CHECK(child->m_sectorCount == 1,
                           "a partition item reads more than its record");
            }
            break;
        case ItemKind::Volume:
            if (!children.empty()) {
                const DriveItem& root = *children.back();
                FUZZ_CHECK(root.m_kind == ItemKind::RootDirectory || IsChainDirectory(root),
                           "a volume's last child is not its root directory");
                for (std::size_t i = 0; i + 1 < children.size(); ++i) {
                    const DriveItem& fat = *children[i];
                    FUZZ_CHECK(fat.IsFatCopy(), "a FAT copy of no FAT kind");
                    FUZZ_CHECK(fat.m_fatKind == root.m_fatKind, "FAT copies of another kind");
                }
                FUZZ_CHECK(root.m_bytesPerSector == kSectorSize && root.m_sectorsPerCluster != 0,
                           "a volume without 512-byte sectors or with empty clusters expanded");
            }
            break;
        case ItemKind::RootDirectory:
        case ItemKind::Entry:
            for (const DriveItem* child : children) {
                FUZZ_CHECK(child->m_kind == ItemKind::Entry, "a directory holds a non-entry");
                FUZZ_CHECK(child->m_fatKind == item.m_fatKind &&
                               child->m_partitionStart == item.m_partitionStart,
                           "an entry of another volume");
                FUZZ_CHECK(!child->IsDirectory() || child->m_fileSize == 0, "a folder with a size");
            }
            // Every entry takes 32 bytes of the directory: no more children than that.
            if (item.m_kind == ItemKind::RootDirectory) {
                FUZZ_CHECK(
                    children.size() <= SectorsToBytes(item.m_sectorCount) / layout::entry::kSize,
                    "more entries than the root directory holds");
            } else {
                FUZZ_CHECK(children.size() <= kMaxDirectoryBytes / layout::entry::kSize,
                           "more entries than a folder holds");
            }
            break;
        default:
            FUZZ_CHECK(children.empty(), "an item of a kind without children has children");
            break;
    }
}

bool FatBytes::Read(std::uint64_t at, std::size_t n, std::uint8_t* out) const {
    if (at > size || size - at < n) {
        return false;
    }
    if (disk == nullptr) {
        std::memcpy(out, memory.data() + at, n);
        return true;
    }
    return disk->ReadAt(diskOffset + at, {out, n}) == n;
}

std::uint32_t ReferenceEntry(const FatBytes& fat, FatKind fatKind, std::uint32_t cluster) {
    std::uint8_t b[4] = {};
    switch (fatKind) {
        case FatKind::Fat12: {
            // Two entries share three bytes; an odd cluster has the high 12 bits.
            const std::uint64_t at = std::uint64_t{cluster} + cluster / 2;
            if (!fat.Read(at, 2, b)) {
                return 0;
            }
            return (cluster % 2 == 1) ? (b[0] >> 4) | (std::uint32_t{b[1]} << 4)
                                      : b[0] | (std::uint32_t{b[1] & 0x0Fu} << 8);
        }
        case FatKind::Fat16:
            return fat.Read(2 * std::uint64_t{cluster}, 2, b) ? b[0] | (std::uint32_t{b[1]} << 8)
                                                              : 0;
        case FatKind::Fat32:
            if (!fat.Read(4 * std::uint64_t{cluster}, 4, b)) {
                return 0;
            }
            // The top four bits are reserved: not part of the cluster number.
            return (b[0] | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
                    (std::uint32_t{b[3]} << 24)) &
                   0x0FFFFFFFu;
        default:
            return 0;
    }
}

std::vector<std::uint32_t> ReferenceChain(const FatBytes& fat, FatKind fatKind,
                                          std::uint32_t firstCluster, std::uint32_t lastCluster) {
    std::uint32_t endMark = 0;
    switch (fatKind) {
        case FatKind::Fat12:
            endMark = 0xFF8;
            break;
        case FatKind::Fat16:
            endMark = 0xFFF8;
            break;
        case FatKind::Fat32:
            endMark = 0x0FFFFFF8;
            firstCluster &= 0x0FFFFFFFu;
            break;
        default:
            return {};
    }
    const auto ends = [&](std::uint32_t c) { return c < 2 || c > lastCluster || c >= endMark; };
    std::vector<std::uint32_t> chain;
    std::set<std::uint32_t> seen;
    for (std::uint32_t c = firstCluster; !ends(c) && seen.insert(c).second;
         c = ReferenceEntry(fat, fatKind, c)) {
        chain.push_back(c);
    }
    return chain;
}

std::optional<FatBytes> ReferenceFat(const DriveTree& tree, const MemoryDisk& disk,
                                     const DriveItem& item) {
    if (!tree.FatFits(item)) {
        return std::nullopt;
    }
    FatBytes fat;
    fat.disk = &disk;
    fat.diskOffset = SectorsToBytes(std::uint64_t{item.m_partitionStart} + item.m_reservedSectors);
    fat.size = SectorsToBytes(item.m_sectorsPerFat);
    return fat;
}

std::uint64_t ExpectedFileSize(std::uint32_t directorySize, std::uint64_t allocatedBytes) {
    std::uint64_t size = directorySize;
    while (allocatedBytes >= size + (1ull << 32)) {
        size += 1ull << 32;
    }
    return size;
}

}  // namespace moravel::fuzz
