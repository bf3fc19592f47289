#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DiskLayout.h"
#include "ItemKinds.h"

namespace moravel {

struct DriveItem;

// The children of an item, owned by it. Items are not copied (a read names the
// sectors it wants through a SectorRun), so a list only moves with its item.
class ChildList {
public:
    ChildList() = default;
    ChildList(ChildList&&) noexcept = default;
    ChildList& operator=(ChildList&&) noexcept = default;
    ~ChildList();

    void Append(std::unique_ptr<DriveItem> item);
    // The list by value: plain pointers to the children, in the order found on disk.
    std::vector<DriveItem*> Pointers() const;
    std::size_t Size() const { return m_items.size(); }
    bool Empty() const { return m_items.empty(); }
    DriveItem& operator[](std::size_t index) const { return *m_items[index]; }

private:
    std::vector<std::unique_ptr<DriveItem>> m_items;
};

// A name as UTF-8. Long names run to 255 UTF-16 units, up to 765 bytes in UTF-8
// (a surrogate pair, two units, is 4 bytes): a name is kept to kMaxNameBytes.
using NameField = std::string;
inline constexpr std::size_t kMaxNameBytes = 1020;

// One node of the drive tree: disk, partition, FAT copy, root directory, folder or
// file. All sector numbers count 512-byte sectors. Fields are in record order.
struct DriveItem {
    std::uint16_t m_drive = 0;          // BIOS drive number: floppies 0.., hard disks 0x80..
    std::uint16_t m_startCylinder = 0;  // CHS cylinder byte of the partition's first sector
    std::uint16_t m_startHead = 0;
    std::uint16_t m_startSector = 0;  // bits 0-5 sector (from 1), bits 6-7 cylinder bits 8-9
    std::uint32_t m_sectorCount = 0;  // sectors that one read of the item fetches
    std::uint16_t m_bytesPerSector = 0;
    ItemKind m_kind = ItemKind::Disk;
    FatKind m_fatKind = FatKind::Unknown;
    std::uint16_t m_reservedSectors = 0;
    std::uint32_t m_sectorsPerFat = 0;
    NameField m_entryName{};
    std::uint32_t m_relativeSector = 0;  // first sector of the item's data, from m_partitionStart
    std::uint16_t m_heads = 0;
    std::uint32_t m_firstCluster = 0;
    std::uint16_t m_sectorsPerTrack = 0;
    std::uint16_t m_sectorsPerCluster = 0;
    std::uint16_t m_attributes = 0;
    std::uint32_t m_totalSectors = 0;
    std::uint32_t m_partitionStart = 0;  // absolute sector where the item's partition begins
    std::uint32_t m_dataStart = 0;       // sector of cluster 2, from m_partitionStart
    std::uint32_t m_useExtensions = 0;
    NameField m_displayName{};
    std::uint64_t m_fileSize = 0;
    std::int32_t m_expanded = 0;
    ChildList m_children;
    // A directory entry's dates and times as stored (FAT date and time words,
    // local time); 0 where the entry has none.
    std::uint16_t m_writeDate = 0;
    std::uint16_t m_writeTime = 0;
    std::uint16_t m_createDate = 0;
    std::uint16_t m_createTime = 0;
    // A directory entry's short name without its padding ("FILMNI~1.TS"), also
    // when a long name is shown.
    NameField m_shortName;
    // A volume's label as its boot sector names it (UTF-8, without padding),
    // once the volume was opened; empty when it names none.
    NameField m_label;
    // A directory entry's size field as stored (a file's size modulo 2^32; for a
    // folder whatever it holds, normally 0), and whether a long name stood before
    // the entry (the display name is then that long name).
    std::uint32_t m_directorySize = 0;
    bool m_hasLongName = false;
    // The type byte of the partition table entry the item was found in (a volume,
    // an extended or a foreign partition); 0 for a disk, a floppy, a disk
    // formatted without partitions and everything inside a volume.
    std::uint8_t m_partitionType = 0;
    // A file whose cluster chain runs into a FAT sector that could not be read
    // from either copy: its chain, and so its size, is known only up to there
    // (the size is then its directory entry's).
    bool m_chainCut = false;
    // A file listed before its chain was walked: until DriveTree::MeasureSizes
    // has done that, m_fileSize is its directory entry's size.
    bool m_sizePending = false;

    std::string_view DisplayName() const { return NameText(m_displayName); }
    std::string_view EntryName() const { return NameText(m_entryName); }
    std::string_view ShortName() const { return NameText(m_shortName); }
    void SetShortName(std::string_view name) { StoreName(m_shortName, name); }
    void SetDisplayName(std::string_view name) { StoreName(m_displayName, name); }
    void SetEntryName(std::string_view name) { StoreName(m_entryName, name); }
    std::string_view Label() const { return NameText(m_label); }
    void SetLabel(std::string_view label) { StoreName(m_label, label); }

    bool IsDirectory() const { return (m_attributes & layout::entry::kAttributeDirectory) != 0; }
    bool IsFile() const { return m_kind == ItemKind::Entry && !IsDirectory(); }
    // A FAT32 root's volume label entry, which a cluster-chain directory keeps.
    bool IsVolumeLabel() const {
        return IsFile() && (m_attributes & layout::entry::kAttributeVolumeLabel) != 0;
    }
    // The name a file manager shows: an entry's long or unpadded short name, any
    // other item's display name ("Root Directory" too, a FAT32 root having no entry).
    std::string_view PlainName() const {
        return m_kind == ItemKind::Entry && !EntryName().empty() ? EntryName() : DisplayName();
    }
    // One of a volume's FAT copies.
    bool IsFatCopy() const {
        return m_fatKind != FatKind::Unknown && m_kind == FatCopyKind(m_fatKind);
    }

    std::uint32_t FileSizeLow() const { return static_cast<std::uint32_t>(m_fileSize); }
    std::uint32_t FileSizeHigh() const { return static_cast<std::uint32_t>(m_fileSize >> 32); }

    static std::string_view NameText(const NameField& field) { return field; }
    // Stores the name up to a 0 byte, cut to kMaxNameBytes, never inside a UTF-8
    // character.
    static void StoreName(NameField& field, std::string_view name);
};

// Copies the fields that place an item on its disk and in its FAT volume (the
// drive, the partition's start and geometry, the volume's layout), which every
// item of the volume shares.
void CopyVolumeFields(const DriveItem& from, DriveItem& to);

// The first sector of data cluster `cluster` (counted from the partition's start) in
// a volume whose cluster 2 begins at sector dataStart. Clusters below 2 hold no data:
// for them the sum runs far past any disk rather than onto another cluster.
constexpr std::uint64_t ClusterSector(std::uint64_t dataStart, std::uint16_t sectorsPerCluster,
                                      std::uint32_t cluster) {
    return dataStart + std::uint64_t{cluster - 2} * sectorsPerCluster;
}

// The same for an item of the volume, whose m_dataStart says where cluster 2 is.
inline std::uint64_t ClusterSector(const DriveItem& item, std::uint32_t cluster) {
    return ClusterSector(item.m_dataStart, item.m_sectorsPerCluster, cluster);
}

}  // namespace moravel
