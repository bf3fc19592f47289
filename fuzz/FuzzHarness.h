#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The fuzz harnesses: each takes one input and runs it through a parser of
// on-disk bytes, then checks what came out. A check that fails aborts, so that
// libFuzzer keeps the input; the same functions replay the committed corpora and
// findings in the normal test suite. Every function returns 0.
namespace moravel::fuzz {

// A disk whose master and extended boot records come from the input (records,
// see MemoryDisk.h): every partition table that can be reached is expanded.
int FuzzPartitionTable(const std::uint8_t* data, std::size_t size);

// A volume's expansion: the first input byte is the partition type (0 makes the
// volume a floppy's), the next 512 bytes its boot sector, the rest records laid
// over the disk. The volume and its root directory are expanded.
int FuzzVolume(const std::uint8_t* data, std::size_t size);

// The fixed root directory of a FAT16 volume: the input's first 2 KiB are its 64
// entries, the rest the volume's first FAT. Folders found in it are opened too.
int FuzzFixedRoot(const std::uint8_t* data, std::size_t size);

// A FAT32 root directory of eight one-sector clusters (128 entries) from the
// input's first 4 KiB; the rest fills the FAT from cluster 128 on, where the
// entries' chains lie. Folders found in it are opened too.
int FuzzChainDirectory(const std::uint8_t* data, std::size_t size);

// CountChain and StoreChain over a FAT made of the input: byte 0 picks the FAT
// kind, bytes 1-4 the first cluster and 5-8 the last cluster of the volume (both
// little-endian), the rest is the table. Checked against a walk that remembers
// every cluster it has seen.
int FuzzChain(const std::uint8_t* data, std::size_t size);

// A whole disk made of the input's records, seen both as hard disk 1 and as
// floppy 1: everything that holds children is expanded, depth first, with the
// command line's depth limit, each cluster-chain folder once.
int FuzzDisk(const std::uint8_t* data, std::size_t size);

// As FuzzDisk, and then every file found is copied by the Copy File command into
// outputs that compare what they get with the disk's bytes; files of 4 GiB and
// more are copied a second time to a FAT32 destination. At most kCopyBudget bytes
// are copied for one input.
int FuzzCopy(const std::uint8_t* data, std::size_t size);

inline constexpr std::uint64_t kCopyBudget = 32ull << 20;

// A rescue map file's text: what is taken must cover the recording, range after
// range, and read back the same once written again.
int FuzzRescueMap(const std::uint8_t* data, std::size_t size);

// A recording's bytes: probed as info probes one, and a picture decoded from
// its middle as the thumbnail does, whatever the stream is.
int FuzzMediaProbe(const std::uint8_t* data, std::size_t size);

// The harnesses by name, as the fuzz targets and the corpus folders call them.
using FuzzFunction = int (*)(const std::uint8_t*, std::size_t);
struct NamedHarness {
    std::string_view name;
    FuzzFunction function;
};
inline constexpr NamedHarness kHarnesses[] = {
    {"partition_table", FuzzPartitionTable},
    {"volume", FuzzVolume},
    {"fixed_root", FuzzFixedRoot},
    {"chain_directory", FuzzChainDirectory},
    {"chain", FuzzChain},
    {"disk", FuzzDisk},
    {"copy", FuzzCopy},
    {"rescue_map", FuzzRescueMap},
    {"media_probe", FuzzMediaProbe},
};

}  // namespace moravel::fuzz
