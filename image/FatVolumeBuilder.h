#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ImageBuilder.h"
#include "disk/DiskLayout.h"

namespace moravel::image {

// The shape of a FAT volume to build. Sectors per FAT follow from the rest.
struct VolumeLayout {
    int fatBits = 32;  // 12, 16 or 32
    std::uint32_t totalSectors = 0;
    std::uint8_t sectorsPerCluster = 8;
    std::uint16_t reservedSectors = 32;
    std::uint8_t fatCount = 2;
    std::uint16_t rootEntries = 512;  // FAT12/16 only
    std::uint16_t bytesPerSector = 512;
    std::uint16_t heads = 255;
    std::uint16_t sectorsPerTrack = 63;
    std::uint32_t serial = 0x20041705;
    // Sectors the FAT has beyond what its clusters need, as formatters that align
    // the data region or round the FAT's size up leave.
    std::uint32_t spareFatSectors = 0;
};

// A 1.44 MB floppy: FAT12, one sector per cluster, 224 root entries, 2 heads of
// 18 sectors.
VolumeLayout FloppyLayout();

// How much of a file's content is written; the rest of its clusters stay holes
// in the sparse image and read as zeros.
enum class Content { Full, Ends };

struct FileLayout {
    std::string shortName;  // 11 bytes as stored, blank-padded ("MOVIE   TS ")
    std::string longName;   // empty: no long-name entries
    std::uint64_t size = 0;
    std::uint8_t attributes = layout::entry::kAttributeArchive;
    Content content = Content::Full;
    // Overrides for malformed or unusual files.
    std::optional<std::vector<std::uint32_t>> clusters;  // the chain, in order
    std::optional<std::uint32_t> directorySize;          // else size mod 2^32
};

// A file by its short name (11 bytes as stored), size and long name.
FileLayout FileEntry(const std::string& shortName, std::uint64_t size,
                     const std::string& longName = "", Content content = Content::Full);

// Byte o of the file with the given seed, for content checks.
std::uint8_t ContentByte(std::uint32_t seed, std::uint64_t offset);

// Lays out a FAT12/16/32 volume (boot sector, FATs, directories, file data) and
// writes it into a sparse image at a partition start, with what a formatter adds
// (label, serial, hidden sectors; on FAT32 the information sector and the backup
// boot sector). Clusters are handed out in the order things were added:
// directories first, then files.
class FatVolumeBuilder {
public:
    using Directory = std::size_t;

    explicit FatVolumeBuilder(VolumeLayout layout);

    Directory Root() const { return 0; }
    Directory AddDirectory(Directory parent, const std::string& shortName,
                           const std::string& longName = "");
    // Returns the file's seed for ContentByte.
    std::uint32_t AddFile(Directory parent, const FileLayout& file);
    // A raw 32-byte entry, placed among the directory's entries as they come.
    void AddRawEntry(Directory parent, const Bytes& entry);
    void AddVolumeLabel(const std::string& label11);

    void Write(const ImageFile& image, std::uint64_t partitionStart);

    std::uint32_t SectorsPerFat() const { return m_sectorsPerFat; }
    std::uint32_t DataStart() const { return m_dataStart; }
    std::uint32_t ClusterBytes() const;
    std::uint32_t ClusterCount() const { return m_clusterCount; }
    // The chain laid out for a file or directory (after Write).
    const std::vector<std::uint32_t>& FileClusters(std::uint32_t seed) const;
    const std::vector<std::uint32_t>& DirectoryClusters(Directory directory) const;
    // The first FAT as written (after Write).
    const FatTable& Fat() const { return *m_fat; }

private:
    struct Node {
        bool directory = false;
        Directory parent = 0;
        FileLayout layout;
        std::vector<std::size_t> children;  // node indexes
        std::optional<Bytes> rawEntry;
        std::vector<std::uint32_t> clusters;
    };

    std::size_t EntrySlots(const Node& directory) const;
    void Allocate();
    Bytes DirectoryBytes(std::size_t index) const;
    Bytes EntriesFor(const Node& node) const;
    std::uint64_t ClusterOffset(std::uint32_t cluster) const;
    void WriteFileData(const ImageFile& image, std::uint64_t base, std::size_t index) const;
    Bytes FreeClusterInfo() const;

    VolumeLayout m_layout;
    std::uint32_t m_sectorsPerFat = 0;
    std::uint32_t m_rootSectors = 0;
    std::uint32_t m_dataStart = 0;
    std::uint32_t m_clusterCount = 0;
    std::vector<Node> m_nodes;
    std::optional<FatTable> m_fat;
    std::string m_label = "NO NAME    ";
};

// The checksum of an 11-byte short name that long-name entries carry.
std::uint8_t ShortNameChecksum(const std::string& shortName);

}  // namespace moravel::image
