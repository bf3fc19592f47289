#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Builders for the on-disk structures the program reads: partition tables, FAT
// boot sectors, FATs and directory entries (long names too), in memory and as
// sparse image files. The sample disk maker, the benchmarks, the tests and the
// fuzz seeds all make their disks with these.
namespace moravel::image {

using Bytes = std::vector<std::uint8_t>;

// A sparse image file: created at its full size, holes read as zeros.
class ImageFile {
public:
    ImageFile(std::string path, std::uint64_t bytes);
    const std::string& Path() const { return m_path; }
    void Write(std::uint64_t offset, const Bytes& bytes) const;
    void WriteSector(std::uint64_t sector, const Bytes& bytes) const { Write(sector * 512, bytes); }
    // Cuts the file to the given length (a disk whose end is missing).
    void Truncate(std::uint64_t bytes) const;
    Bytes Read(std::uint64_t offset, std::size_t bytes) const;

private:
    std::string m_path;
};

struct PartitionEntry {
    std::uint8_t type = 0;
    std::uint32_t lba = 0;
    std::uint32_t sectors = 0;
    std::uint8_t head = 0;
    std::uint8_t sector = 1;  // bits 0-5 sector, bits 6-7 cylinder bits 8-9
    std::uint8_t cylinder = 0;
};

// A master or extended boot record: up to four entries at offset 446, 0x55 0xAA.
Bytes PartitionSector(const std::vector<PartitionEntry>& entries);

struct BootParameters {
    std::uint16_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 1;
    std::uint16_t reservedSectors = 1;
    std::uint8_t fatCount = 2;
    std::uint16_t rootEntries = 224;
    std::uint32_t totalSectors = 2880;  // goes to the 16-bit field when it fits (not FAT32)
    std::uint32_t sectorsPerFat = 9;
    std::uint16_t sectorsPerTrack = 18;
    std::uint16_t heads = 2;
    std::uint32_t rootCluster = 2;
    bool fat32 = false;
    std::string label = "NO NAME    ";  // 11 bytes, as in the root directory's label entry
    std::uint32_t hiddenSectors = 0;    // sectors before the volume: its partition start
    std::uint32_t serial = 0x20041705;
};

Bytes BootSectorBytes(const BootParameters& parameters);

// The FAT32 information sector with its free cluster count and first free cluster.
Bytes FsInfoSector(std::uint32_t freeClusters = 0xFFFFFFFF, std::uint32_t firstFree = 0xFFFFFFFF);

// An allocation table of one FAT kind (12, 16 or 32), entries set one by one.
class FatTable {
public:
    FatTable(int bits, std::uint32_t entries);
    void Set(std::uint32_t cluster, std::uint32_t value);
    // Links the clusters into a chain in the given order, ending with an end mark.
    void Chain(const std::vector<std::uint32_t>& clusters);
    std::uint32_t EndMark() const;
    const Bytes& Data() const { return m_bytes; }

private:
    int m_bits;
    Bytes m_bytes;
};

// One 32-byte short entry; name11 is the 8+3 name as stored, blank-padded.
Bytes ShortEntry(const std::string& name11, std::uint8_t attributes, std::uint32_t firstCluster,
                 std::uint32_t size);

// The long-name entries for a name, in storage order (the one with bit 0x40 first),
// a UTF-8 name stored as UTF-16 units with a terminator and 0xFFFF padding.
std::vector<Bytes> LongNameEntries(const std::string& name, std::uint8_t checksum = 0);
// The same from UTF-16 units as they are to be stored (unpaired surrogates too).
std::vector<Bytes> LongNameEntries(const std::u16string& name, std::uint8_t checksum = 0);
// UTF-8 as UTF-16 units, characters beyond U+FFFF as surrogate pairs.
std::u16string Utf16Units(const std::string& utf8);

// Concatenates entries into one directory buffer, padded with zeros to a multiple of 512.
Bytes DirectorySectors(const std::vector<Bytes>& entries);

}  // namespace moravel::image
