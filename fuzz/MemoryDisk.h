#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "disk/ByteOrder.h"
#include "disk/SectorSource.h"

namespace moravel::fuzz {

// The size of the disk that a fuzz input is laid on: large enough for FAT32
// volumes and logical partitions far from the master boot record, small enough
// that the largest FAT it can hold stays within the fuzzer's memory limit
// (scripts/fuzz.sh).
inline constexpr std::uint64_t kFuzzDiskBytes = 256ull << 20;

// A sparse disk in memory: the sectors it was given, zeros everywhere else, up
// to its size.
class MemoryDisk {
public:
    explicit MemoryDisk(std::uint64_t bytes) : m_bytes(bytes) {}

    // Lays the bytes (at most 512; a shorter sector ends in zeros) at the sector;
    // a sector past the end of the disk is left out.
    void Put(std::uint64_t sector, ByteSpan bytes);
    // Lays the bytes from the byte offset on, over as many sectors as they take.
    void Write(std::uint64_t offset, ByteSpan bytes);

    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const;
    std::uint64_t Size() const { return m_bytes; }
    // The sectors that hold anything, by sector number.
    const std::map<std::uint64_t, std::array<std::uint8_t, 512>>& Sectors() const {
        return m_sectors;
    }

private:
    std::uint64_t m_bytes;
    std::map<std::uint64_t, std::array<std::uint8_t, 512>> m_sectors;
};

// The record form of a fuzz input: records of a 32-bit little-endian sector
// number followed by the sector's bytes, 512 of them except in the last record,
// which may hold fewer. A later record of the same sector replaces an earlier one.
void PutRecords(MemoryDisk& disk, ByteSpan records);
// The records of every sector of the disk that holds anything but zeros.
std::vector<std::uint8_t> RecordsOf(const MemoryDisk& disk);

// The disk as the program opens it: a read-only source over the shared bytes.
std::unique_ptr<SectorSource> OpenMemoryDisk(std::shared_ptr<const MemoryDisk> disk);
// An opener that opens the disk whatever path is asked for.
SourceOpener MemoryDiskOpener(std::shared_ptr<const MemoryDisk> disk);

}  // namespace moravel::fuzz
