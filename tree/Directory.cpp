#include "Directory.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "DriveTree.h"
#include "FatChain.h"
#include "disk/Sector.h"

namespace moravel {

namespace {

constexpr std::size_t kMaxNameLength = 255;

ByteSpan EntryAt(ByteSpan directory, std::size_t index) {
    return directory.subspan(index * layout::entry::kSize, layout::entry::kSize);
}

// The name and extension bytes as the name holds them: a first byte 0x05 stands
// for 0xE5, which would mark the entry deleted.
std::string ShortNameBytes(ByteSpan entry, std::size_t from, std::size_t count) {
    std::string bytes(entry.begin() + static_cast<std::ptrdiff_t>(from),
                      entry.begin() + static_cast<std::ptrdiff_t>(from + count));
    if (from == layout::entry::kName && !bytes.empty() &&
        static_cast<std::uint8_t>(bytes[0]) == layout::entry::kEscapedE5) {
        bytes[0] = static_cast<char>(layout::entry::kDeleted);
    }
    return bytes;
}

std::string WithoutPadding(std::string bytes) {
    const auto end = bytes.find_last_not_of(' ');
    bytes.resize(end == std::string::npos ? 0 : end + 1);
    return bytes;
}

}  // namespace

bool IsLongNameEntry(ByteSpan entry) {
    return (entry[layout::entry::kAttributes] & layout::entry::kAttributeLongName) ==
           layout::entry::kAttributeLongName;
}

EntryVerdict FilterEntry(ByteSpan entry, bool chainDirectory) {
    const std::uint8_t first = entry[layout::entry::kName];
    const std::uint8_t attributes = entry[layout::entry::kAttributes];
    if (IsLongNameEntry(entry) || first == layout::entry::kDeleted) {
        return EntryVerdict::Skip;
    }
    if (chainDirectory) {
        if ((attributes & layout::entry::kAttributeDirectory) != 0 && first == '.') {
            return EntryVerdict::Skip;
        }
    } else if ((attributes & layout::entry::kAttributeVolumeLabel) != 0) {
        return EntryVerdict::Skip;
    }
    return first == layout::entry::kEndOfDirectory ? EntryVerdict::End : EntryVerdict::Keep;
}

std::uint8_t ShortNameChecksum(ByteSpan entry) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < layout::entry::kShortNameLength; ++i) {
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) +
                                        entry[layout::entry::kName + i]);
    }
    return sum;
}

std::optional<std::string> AssembleLongName(ByteSpan directory, std::size_t index) {
    // A writer that knows only short names (DOS, a recorder's firmware) leaves the
    // long-name entries of a file it replaced or renamed before the new short
    // entry. Those carry another short name's checksum, or come in another order:
    // the name is not this file's.
    const std::uint8_t checksum = ShortNameChecksum(EntryAt(directory, index));
    std::u16string name;
    bool ended = false;  // a 0 unit ends the name; what follows it is not part of it
    unsigned sequence = 1;
    for (std::size_t i = index; i-- > 0; ++sequence) {
        const ByteSpan entry = EntryAt(directory, i);
        // Only live long-name entries belong to the name; a deleted one (0xE5)
        // or any other entry before the 0x40 entry leaves an orphan: no name.
        if (!IsLongNameEntry(entry) || entry[layout::longName::kOrder] == layout::entry::kDeleted) {
            return std::nullopt;
        }
        // Numbered 1, 2, ... back from the short entry, the last one marked 0x40.
        const std::uint8_t order = entry[layout::longName::kOrder];
        const auto number = static_cast<unsigned>(order & ~layout::longName::kLastEntry);
        if (number != sequence || entry[layout::longName::kChecksum] != checksum) {
            return std::nullopt;
        }
        for (const std::size_t at : layout::longName::kUnitOffsets) {
            if (ended || name.size() == kMaxNameLength) {
                break;
            }
            const char16_t unit = ReadLe16(entry, at);
            if (unit == 0) {
                ended = true;
                break;
            }
            name.push_back(unit);
        }
        if ((order & layout::longName::kLastEntry) != 0) {
            if (name.empty()) {
                return std::nullopt;
            }
            return Utf16ToUtf8(name);
        }
    }
    return std::nullopt;
}

std::string ShortName(ByteSpan entry, const OemCodePage& codePage) {
    return codePage.Decode(
        ShortNameBytes(entry, layout::entry::kName, layout::entry::kNameLength) + "." +
        ShortNameBytes(entry, layout::entry::kExtension, layout::entry::kExtensionLength));
}

std::string UnpaddedShortName(ByteSpan entry, const OemCodePage& codePage) {
    // Windows NT keeps "readme.txt" as a short name with two case flags rather
    // than as a long name: the name or the extension in small letters.
    const auto lettersOf = [&](std::size_t from, std::size_t count, std::uint8_t smallFlag) {
        const std::string text =
            codePage.Decode(WithoutPadding(ShortNameBytes(entry, from, count)));
        return (entry[layout::entry::kCaseFlags] & smallFlag) != 0 ? FoldCase(text) : text;
    };
    const std::string extension = lettersOf(
        layout::entry::kExtension, layout::entry::kExtensionLength, layout::entry::kSmallExtension);
    return lettersOf(layout::entry::kName, layout::entry::kNameLength, layout::entry::kSmallName) +
           (extension.empty() ? "" : "." + extension);
}

std::string FormFileName(ByteSpan directory, std::size_t index, const OemCodePage& codePage) {
    if (auto longName = AssembleLongName(directory, index)) {
        return *longName;
    }
    return UnpaddedShortName(EntryAt(directory, index), codePage);
}

std::string FormEntryName(ByteSpan directory, std::size_t index, const OemCodePage& codePage) {
    if (auto longName = AssembleLongName(directory, index)) {
        return *longName;
    }
    return ShortName(EntryAt(directory, index), codePage);
}

std::uint32_t EntryFirstCluster(ByteSpan entry, FatKind fatKind) {
    const std::uint32_t low = ReadLe16(entry, layout::entry::kFirstClusterLow);
    return fatKind == FatKind::Fat32
               ? (std::uint32_t{ReadLe16(entry, layout::entry::kFirstClusterHigh)} << 16) | low
               : low;
}

std::uint64_t FileSizeFromChain(std::uint32_t directorySize, std::uint64_t allocatedBytes) {
    constexpr std::uint64_t kUnit = std::uint64_t{1} << 32;
    if (allocatedBytes < directorySize) {
        return directorySize;
    }
    return directorySize + (allocatedBytes - directorySize) / kUnit * kUnit;
}

std::unique_ptr<DriveItem> DriveTree::MakeEntryItem(const DriveItem& directory, ByteSpan entries,
                                                    std::size_t index) const {
    const ByteSpan entry = EntryAt(entries, index);
    auto child = std::make_unique<DriveItem>();
    CopyVolumeFields(directory, *child);
    child->m_kind = ItemKind::Entry;
    child->m_sectorCount = 0;
    child->m_relativeSector = directory.m_relativeSector + directory.m_sectorCount;
    child->m_firstCluster = EntryFirstCluster(entry, directory.m_fatKind);
    child->m_attributes = entry[layout::entry::kAttributes];
    const std::optional<std::string> longName = AssembleLongName(entries, index);
    child->SetDisplayName(longName ? *longName : ShortName(entry, m_codePage));
    child->SetEntryName(longName ? *longName : UnpaddedShortName(entry, m_codePage));
    child->SetShortName(UnpaddedShortName(entry, m_codePage));
    child->m_hasLongName = longName.has_value();
    child->m_directorySize = EntrySize(entry);
    child->m_fileSize = child->IsDirectory() ? 0 : child->m_directorySize;
    child->m_createTime = ReadLe16(entry, layout::entry::kCreateTime);
    child->m_createDate = ReadLe16(entry, layout::entry::kCreateDate);
    child->m_writeTime = ReadLe16(entry, layout::entry::kWriteTime);
    child->m_writeDate = ReadLe16(entry, layout::entry::kWriteDate);
    return child;
}

namespace {

// How a message names a directory.
std::string DirectoryText(const DriveItem& directory) {
    if (directory.m_kind == ItemKind::RootDirectory || directory.EntryName().empty()) {
        return "the root directory";
    }
    return "the folder \"" + std::string(directory.EntryName()) + "\"";
}

bool SectorLost(const UnreadableSectors& lost, std::size_t entry) {
    return std::binary_search(lost.begin(), lost.end(), entry * layout::entry::kSize / kSectorSize);
}

// "Bytes 4096-4607 of the folder "RECORDS" could not be read (disk sector
// 123456): the entries there are not listed." The lost sectors are numbered in
// the directory, in order; diskSectors gives each one's place on the disk.
std::string LostDirectoryText(const DriveItem& directory, const UnreadableSectors& lost,
                              const std::vector<std::uint64_t>& diskSectors, bool afterEnd) {
    const std::vector<std::uint64_t> sectors(lost.begin(), lost.end());
    const std::string bytes = RunsText(sectors, [](std::uint64_t first, std::uint64_t last) {
        return std::to_string(SectorsToBytes(first)) + "-" +
               std::to_string(SectorsToBytes(last + 1) - 1);
    });
    const std::string text =
        "Bytes " + bytes + " of " + DirectoryText(directory) + " could not be read (disk " +
        (diskSectors.size() == 1 ? "sector " : "sectors ") + RunsText(diskSectors) + ")";
    return text + (afterEnd ? "; they lie after the entry that ends it."
                            : ": the entries there are not listed.");
}

}  // namespace

void DriveTree::ExpandFixedRoot(DriveItem& item, Errors& errors) {
    MemoryBlock buffer = MemoryBlock::Allocate(SectorsToBytes(item.m_sectorCount));
    if (!buffer) {
        errors.push_back({"internal error 00017", Error::Weight::Stop});
        return;
    }
    // Unreadable sectors come back as 0xE5; they are passed over, not read as
    // entries, and the scan goes on over what could be read.
    UnreadableSectors lost;
    if (!ReadSectors(item, &Chs(), buffer.Bytes(), &lost) && lost.size() == item.m_sectorCount) {
        errors.push_back({"internal error 00018", Error::Weight::Stop});
        return;
    }
    const std::size_t entries = buffer.Size() / layout::entry::kSize;
    std::size_t i = 0;
    for (; i < entries; ++i) {
        if (SectorLost(lost, i)) {
            continue;
        }
        const EntryVerdict verdict = FilterEntry(EntryAt(buffer.Bytes(), i), false);
        if (verdict == EntryVerdict::End) {
            break;
        }
        if (verdict == EntryVerdict::Keep) {
            item.m_children.Append(MakeEntryItem(item, buffer.Bytes(), i));
        }
    }
    if (!lost.empty()) {
        std::vector<std::uint64_t> diskSectors;
        for (const std::uint32_t sector : lost) {
            diskSectors.push_back(std::uint64_t{item.m_partitionStart} + item.m_relativeSector +
                                  sector);
        }
        errors.push_back({LostDirectoryText(item, lost, diskSectors,
                                            lost.front() * kSectorSize / layout::entry::kSize > i),
                          Error::Weight::Warning});
    }
}

void DriveTree::ExpandChainDirectory(DriveItem& item, std::int32_t& progress, Errors& errors,
                                     bool sizesLater) {
    // A FAT that cannot be the volume's is not read: neither copy is usable.
    if (!FatFits(item)) {
        errors.push_back({"internal error 00028", Error::Weight::Stop});
        return;
    }
    // The volume's FAT serves the directory's own chain and every file's size,
    // read where they lead and kept for the next folder and copy.
    const std::shared_ptr<FatPages> pages = VolumeFat(item);
    const FatWalkStop stop(pages, &m_scansStopped);
    const FatImage fat(pages);
    std::uint32_t clusters = CountFatEntries(item.m_firstCluster, item.m_fatKind, fat);
    if (m_scansStopped) {
        return;
    }
    // A FAT of which nothing could be read is no table.
    if (pages->NothingRead()) {
        errors.push_back({"internal error 00020", Error::Weight::Stop});
        return;
    }
    if (clusters == 0) {
        return;
    }
    const bool folderCut =
        ChainRunsIntoLostSector(item.m_firstCluster, item.m_fatKind, clusters, fat);
    // Cut before the chain is stored: a damaged folder's chain may run on through
    // a recording's millions of clusters, and only a folder's worth of it is read.
    const std::uint64_t clusterBytes = SectorsToBytes(item.m_sectorsPerCluster);
    const std::uint64_t mostClusters =
        std::max<std::uint64_t>(1, kMaxDirectoryBytes / clusterBytes);
    if (clusters > mostClusters) {
        errors.push_back(
            {"The folder's cluster chain is longer than a folder can be: only its "
             "first 65,536 entries are read.",
             Error::Weight::Warning});
        clusters = static_cast<std::uint32_t>(mostClusters);
    }
    MemoryBlock chainBuffer = MemoryBlock::Allocate(std::size_t{clusters} * sizeof(std::uint32_t));
    if (!chainBuffer) {
        errors.push_back({"internal error 00021", Error::Weight::Stop});
        return;
    }
    auto* chain = reinterpret_cast<std::uint32_t*>(chainBuffer.Data());
    StoreFatEntries(item.m_firstCluster, item.m_fatKind, chain, clusters, fat);
    MemoryBlock directory =
        MemoryBlock::Allocate(static_cast<std::size_t>(clusters * clusterBytes));
    if (!directory) {
        errors.push_back({"internal error 00022", Error::Weight::Stop});
        return;
    }
    // A sector that cannot be read is passed over, and the rest still listed.
    UnreadableSectors lost;
    ReadClusters(chain, item, clusters, directory.Bytes(), &lost);
    if (lost.size() == std::uint64_t{clusters} * item.m_sectorsPerCluster) {
        errors.push_back({"Failed to access the sub directory", Error::Weight::Stop});
        return;
    }
    const std::size_t ended =
        ScanChainEntries(item, directory.Bytes(), fat, lost, progress, sizesLater);
    if (m_scansStopped) {
        return;  // the window is going away: what was found is not told about
    }
    if (!lost.empty()) {
        std::vector<std::uint64_t> diskSectors;
        for (const std::uint32_t sector : lost) {
            diskSectors.push_back(std::uint64_t{item.m_partitionStart} +
                                  ClusterSector(item.m_relativeSector, item.m_sectorsPerCluster,
                                                chain[sector / item.m_sectorsPerCluster]) +
                                  sector % item.m_sectorsPerCluster);
        }
        errors.push_back(
            {LostDirectoryText(item, lost, diskSectors,
                               lost.front() * kSectorSize / layout::entry::kSize > ended),
             Error::Weight::Warning});
    }
    if (auto cut =
            CutChainsError(item, fat.LostSectors(),
                           folderCut ? std::optional<std::uint32_t>(clusters) : std::nullopt)) {
        errors.push_back(std::move(*cut));
    }
}

// Names what the FAT sectors that could not be read cut short in this folder:
// its own chain, and the files whose chains run into them.
Failure DriveTree::CutChainsError(const DriveItem& item, std::span<const std::uint32_t> lostFat,
                                  std::optional<std::uint32_t> folderClusters) const {
    constexpr std::size_t kNamesShown = 5;
    std::string files;
    std::size_t cut = 0;
    for (std::size_t i = 0; i < item.m_children.Size(); ++i) {
        const DriveItem& child = item.m_children[i];
        if (!child.m_chainCut) {
            continue;
        }
        if (++cut <= kNamesShown) {
            files += (files.empty() ? "\"" : ", \"") + std::string(child.EntryName()) + "\"";
        }
    }
    if (cut == 0 && !folderClusters) {
        return std::nullopt;
    }
    if (cut > kNamesShown) {
        files += " and " + std::to_string(cut - kNamesShown) + " more";
    }
    std::string text = FatSectorsText(item, lostFat);
    text[0] = 'S';
    const bool one = lostFat.size() == 1;
    text += " could not be read from either copy; the cluster chains that run into " +
            std::string(one ? "it" : "them") + " end there: ";
    if (folderClusters) {
        text += DirectoryText(item) + " is read only as far as its chain is known (" +
                std::to_string(*folderClusters) +
                (*folderClusters == 1 ? " cluster)" : " clusters)") + (cut > 0 ? "; " : ".");
    }
    if (cut > 0) {
        text += std::string(cut == 1 ? "the file " : "the files ") + files + " in " +
                DirectoryText(item) +
                (cut == 1 ? " is listed with its directory entry's size"
                          : " are listed with their directory entries' sizes") +
                " and cannot be copied whole.";
    }
    return Error{text, Error::Weight::Warning};
}

namespace {

// The true sizes of a folder's files, from their chains. The files of a healthy
// folder share no cluster, so together they count no more clusters than the
// table has entries. Past twice that, their chains run into one another, and
// every chain is counted at once instead.
class FileSizer {
public:
    FileSizer(const DriveItem& folder, FatImage fat)
        : m_fat(std::move(fat)),
          m_kind(folder.m_fatKind),
          m_clusterBytes(std::uint64_t{folder.m_sectorsPerCluster} * folder.m_bytesPerSector),
          m_tableEntries(m_fat.Size() / (m_kind == FatKind::Fat16 ? 2 : 4)) {}

    void Measure(DriveItem& file) {
        const std::uint32_t first = file.m_firstCluster;
        const bool counting = m_counts && m_counts->Ready();
        const std::uint32_t clusters =
            counting ? m_counts->Count(first) : CountChain(first, m_kind, m_fat);
        file.m_chainCut = counting ? m_counts->RunsIntoLostSector(first)
                                   : ChainRunsIntoLostSector(first, m_kind, clusters, m_fat);
        m_counted += clusters;
        if (!m_wholeTried && m_counted > 2 * m_tableEntries) {
            // Without memory for the copy, each chain is still counted on its own.
            m_wholeTried = true;
            m_table = m_fat.Pages()->CopyWhole();
            m_lostFat.assign(m_fat.LostSectors().begin(), m_fat.LostSectors().end());
            if (m_table) {
                m_counts.emplace(m_table.Bytes(), m_kind, m_fat.LastCluster(), m_lostFat);
            }
        }
        file.m_fileSize = FileSizeFromChain(file.m_directorySize, clusters * m_clusterBytes);
        file.m_sizePending = false;
    }

private:
    FatImage m_fat;
    FatKind m_kind;
    std::uint64_t m_clusterBytes;
    std::uint64_t m_tableEntries;
    std::uint64_t m_counted = 0;
    bool m_wholeTried = false;
    // The whole table, which the counts are written over, and its lost sectors.
    MemoryBlock m_table;
    std::vector<std::uint32_t> m_lostFat;
    std::optional<ChainCounts> m_counts;
};

}  // namespace

Errors DriveTree::MeasureSizes(DriveItem& folder, std::int32_t& progress,
                               const std::function<void(DriveItem&)>& measured) {
    const auto pending = [](const DriveItem& child) { return child.m_sizePending; };
    const std::size_t children = folder.m_children.Size();
    std::size_t left = 0;
    for (std::size_t i = 0; i < children; ++i) {
        if (pending(folder.m_children[i])) {
            ++left;
        }
    }
    const std::shared_ptr<FatPages> pages = left > 0 ? VolumeFat(folder) : nullptr;
    if (!pages) {
        return {};
    }
    const FatWalkStop stop(pages, &m_scansStopped);
    FileSizer sizer(folder, FatImage(pages));
    constexpr auto kServeEvery = std::chrono::milliseconds(20);
    auto served = std::chrono::steady_clock::now();
    std::size_t done = 0;
    for (std::size_t i = 0; i < children && !m_scansStopped; ++i) {
        DriveItem& child = folder.m_children[i];
        if (!pending(child)) {
            continue;  // measured before, or by a request served meanwhile
        }
        // Before each file, as a scan publishes it: below 100 until the end.
        progress = static_cast<std::int32_t>(done++ * 100 / left);
        sizer.Measure(child);
        if (m_scansStopped) {
            child.m_sizePending = true;  // its walk may have ended for the stop
            break;
        }
        if (measured) {
            measured(child);
        }
        if (const auto now = std::chrono::steady_clock::now(); now - served >= kServeEvery) {
            Frontend().PostScanProgress();
            Frontend().PumpMessages();
            served = std::chrono::steady_clock::now();
        }
    }
    if (m_scansStopped) {
        return {};
    }
    Errors errors;
    if (auto cut = CutChainsError(folder, pages->LostSectors(), std::nullopt)) {
        errors.push_back(std::move(*cut));
    }
    return errors;
}

void DriveTree::MeasureSize(DriveItem& file) {
    if (!file.m_sizePending) {
        return;
    }
    if (const std::shared_ptr<FatPages> pages = VolumeFat(file)) {
        FileSizer(file, FatImage(pages)).Measure(file);
    }
}

std::size_t DriveTree::ScanChainEntries(DriveItem& item, ByteSpan directory, const FatImage& fat,
                                        const UnreadableSectors& lost, std::int32_t& progress,
                                        bool sizesLater) {
    const std::uint64_t entries = directory.size() / layout::entry::kSize;
    FileSizer sizer(item, fat);
    std::uint64_t i = 0;
    for (; i < entries; ++i) {
        progress = static_cast<std::int32_t>(i * 100 / entries);
        Frontend().PostScanProgress();
        Frontend().PumpMessages();
        if (m_scansStopped) {
            break;
        }

        const auto index = static_cast<std::size_t>(i);
        // The bytes of a sector that could not be read are no entries.
        if (SectorLost(lost, index)) {
            continue;
        }
        const EntryVerdict verdict = FilterEntry(EntryAt(directory, index), true);
        if (verdict == EntryVerdict::End) {
            break;
        }
        if (verdict == EntryVerdict::Skip) {
            continue;
        }
        auto child = MakeEntryItem(item, directory, index);
        // A folder's own chain is walked when the folder is listed.
        if (!child->IsDirectory() && sizesLater) {
            child->m_sizePending = true;
        } else if (!child->IsDirectory()) {
            sizer.Measure(*child);
        }
        item.m_children.Append(std::move(child));
    }
    // The last entry's chain may have been a long one: the window is served once
    // more before the folder's tables are let go and its list is filled.
    if (!m_scansStopped) {
        Frontend().PumpMessages();
    }
    return static_cast<std::size_t>(i);
}

}  // namespace moravel
