#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "FatChain.h"
#include "NameText.h"
#include "PartitionScan.h"
#include "disk/ByteOrder.h"
#include "disk/DiskLayout.h"
#include "disk/DriveAccess.h"

namespace moravel {

// A FAT folder holds at most 65,536 entries of 32 bytes. A cluster chain that
// runs longer is no folder's (a damaged entry that leads into a recording, say):
// only this much of it is read as one.
inline constexpr std::uint64_t kMaxDirectoryBytes = 65536 * layout::entry::kSize;

// An item's children, and what kept any of them from being read (an unreadable
// sector, a table too large to hold): a folder is listed as far as it could be.
struct Expansion {
    std::vector<DriveItem*> children;
    Errors errors;
};

// The drive tree over the disks: it turns items into their children (partition
// tables, FAT volumes, directories) and walks FAT chains. Everything it learns is
// kept in the items; what the partition scan carries from one record to the next
// is kept here.
class DriveTree : public DriveAccess {
public:
    using DriveAccess::DriveAccess;
    ~DriveTree() override;

    // As DriveAccess::Open and Close; the tree's own state starts afresh with the
    // disk table.
    Errors Open();
    void Close();

    // The item's children, read from the disk on the first call (whose expansion
    // also says what could not be read, for the front end to show) and returned as
    // stored on every later one. While a cluster-chain directory is scanned,
    // progress holds the percentage done and the front end's message queue is
    // pumped after every entry. With sizesLater, a folder's files come with their
    // directory entries' sizes, marked m_sizePending, and no chain of theirs is
    // walked: MeasureSizes does that. Without, every file has its true size,
    // also one listed with sizesLater before.
    Expansion ExpandItem(DriveItem& item, std::int32_t& progress, bool sizesLater = false);

    // Gives each file of the folder whose size is pending its true size from its
    // chain, in the folder's order: measured is called after each, progress holds
    // the percentage done, and the front end's messages are served at least every
    // 20 ms. What a stop of the scans leaves stays pending. The errors name the
    // files whose chains ran into a FAT sector that could not be read.
    Errors MeasureSizes(DriveItem& folder, std::int32_t& progress,
                        const std::function<void(DriveItem&)>& measured = {});
    // The same for one file, at once (a copy of it waits for nothing else).
    void MeasureSize(DriveItem& file);

    // Ends every running directory scan at its next entry, with the entries read
    // so far, and every later one before it starts: the window is going away.
    void StopScans() { m_scansStopped = true; }

    // Whether the FAT that the item's volume claims (m_sectorsPerFat sectors) can
    // be its FAT at all: it lies between the reserved sectors and the data region
    // of the volume, and the part of it that the clusters use (FatBytesUsed) is on
    // the disk. A FAT that cannot is neither allocated nor read.
    bool FatFits(const DriveItem& item) const;

    // The FAT of the item's volume, read in pieces as chains are walked through it
    // (each piece of the first copy that does not read is taken from the second,
    // and a sector that reads from neither is lost: see FatPages), and kept until
    // the disk table is opened afresh. The front end's messages are served after
    // each read. Nothing when the FAT does not fit.
    std::shared_ptr<FatPages> VolumeFat(const DriveItem& item);
    // Holds no more than this of each volume's FAT from now on (kFatHeldBytes
    // unless told), letting go of what is held beyond it at once.
    void HoldFatUpTo(std::uint64_t bytes);

    // The number of clusters in a chain, up to its end or its first cluster that
    // came before (a chain that runs in a cycle); 0 for an empty one.
    std::uint32_t CountFatEntries(std::uint32_t firstCluster, FatKind fatKind,
                                  const FatImage& fat) const;
    // Stores the first count clusters of a chain; returns the cluster after them.
    std::uint32_t StoreFatEntries(std::uint32_t firstCluster, FatKind fatKind, std::uint32_t* chain,
                                  std::uint32_t count, const FatImage& fat) const;

    // The sector of the extended boot record that the item stands for when its
    // expansion did not read that record, because the disk's partition chain had
    // led to it before (a chain that links back to itself); nothing otherwise.
    std::optional<std::uint32_t> RepeatedRecord(const DriveItem& item) const {
        return m_partitionScan.Repeated(item);
    }

    // How the short names and labels of the disks are decoded.
    const OemCodePage& CodePage() const { return m_codePage; }

private:
    void ExpandPartitionTable(DriveItem& item, Errors& errors);
    Error NoDiskError(const DriveItem& disk, const std::string& why) const;
    void AddWholeDiskVolume(DriveItem& disk, ByteSpan bootSector);
    void ExpandVolume(DriveItem& item, Errors& errors);
    void ExpandFixedRoot(DriveItem& item, Errors& errors);
    void ExpandChainDirectory(DriveItem& item, std::int32_t& progress, Errors& errors,
                              bool sizesLater);
    // Lists the entries of the directory's bytes, passing over the sectors that
    // could not be read; returns the index of the entry that ended it (the
    // number of entries when none did).
    std::size_t ScanChainEntries(DriveItem& item, ByteSpan directory, const FatImage& fat,
                                 const UnreadableSectors& lost, std::int32_t& progress,
                                 bool sizesLater);
    // What the FAT sectors lost from both copies cut short in the folder; nothing
    // when they cut nothing.
    Failure CutChainsError(const DriveItem& item, std::span<const std::uint32_t> lostFat,
                           std::optional<std::uint32_t> folderClusters) const;
    std::unique_ptr<DriveItem> MakeEntryItem(const DriveItem& directory, ByteSpan entries,
                                             std::size_t index) const;

    using VolumeKey = std::tuple<std::uint16_t, std::uint32_t, std::uint16_t, std::uint32_t>;

    PartitionScan m_partitionScan;
    std::map<VolumeKey, std::shared_ptr<FatPages>> m_fats;
    std::uint64_t m_fatHeldBytes = kFatHeldBytes;
    bool m_scansStopped = false;
    // A code page the system does not know leaves the upper bytes undecoded (U+FFFD).
    OemCodePage m_codePage = OemCodePage::Load(Options().codePage).value_or(OemCodePage::Unknown());
};

}  // namespace moravel
