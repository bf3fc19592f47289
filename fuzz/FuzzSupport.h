#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "MemoryDisk.h"
#include "disk/CoreFrontend.h"
#include "tree/DriveTree.h"

// What the harnesses share: a front end that answers every question, the drive
// tree over a memory disk, the depth-first expansion, and the reference chain
// walk that the checks compare the program's answers with.
namespace moravel::fuzz {

// Stops the run with the message when a check fails: libFuzzer keeps the input,
// and the replaying test fails.
[[noreturn]] void CheckFailed(const char* file, int line, const std::string& what);
#define FUZZ_CHECK(condition, what)                                 \
    do {                                                            \
        if (!(condition)) {                                         \
            ::moravel::fuzz::CheckFailed(__FILE__, __LINE__, what); \
        }                                                           \
    } while (false)

// A front end with no window to keep alive.
class FuzzFrontend : public CoreFrontend {
public:
    void PostScanProgress() override {}
    void PumpMessages() override {}
};

// The drive tree over one memory disk, opened as hard disk 1 and, when asked,
// as floppy 1 as well.
struct FuzzTree {
    FuzzTree(std::shared_ptr<const MemoryDisk> disk, bool asHardDisk, bool asFloppy);
    std::vector<DriveItem*> Disks() const;

    std::shared_ptr<const MemoryDisk> disk;
    FuzzFrontend frontend;
    std::unique_ptr<DriveTree> tree;
};

// The command line's limit on how deep a recursive listing opens folders.
inline constexpr std::size_t kMaxDepth = 256;

bool HoldsChildren(const DriveItem& item);
bool IsChainDirectory(const DriveItem& item);

// Expands the item and everything below it that holds children, depth first, as
// a recursive listing does: each cluster-chain folder is opened once (by drive,
// partition and first cluster), nothing deeper than kMaxDepth. visit sees every
// item reached with its parent (null for the item the walk began at); the
// checks on an expansion's children run after each one.
class TreeWalk {
public:
    explicit TreeWalk(DriveTree& tree) : m_tree(tree) {}
    using Visit = std::function<void(DriveItem& item, const DriveItem* parent)>;
    void Walk(DriveItem& item, const Visit& visit, const DriveItem* parent = nullptr,
              std::size_t depth = 0);
    // Expands the item once and checks the children against the item.
    std::vector<DriveItem*> Expand(DriveItem& item);

private:
    DriveTree& m_tree;
    std::set<std::tuple<std::uint16_t, std::uint32_t, std::uint32_t>> m_opened;
};

// The checks that hold for the children of any expansion, whatever the disk.
void CheckChildren(const DriveTree& tree, const DriveItem& item,
                   const std::vector<DriveItem*>& children);

// A FAT's bytes for the reference walk: in memory, or read one entry at a time
// from the memory disk (so that checking a volume costs no copy of its FAT).
struct FatBytes {
    ByteSpan memory;
    const MemoryDisk* disk = nullptr;
    std::uint64_t diskOffset = 0;
    std::uint64_t size = 0;

    static FatBytes InMemory(ByteSpan bytes) { return {bytes, nullptr, 0, bytes.size()}; }
    // Copies n bytes at offset at into out; false when they do not all lie in the table.
    bool Read(std::uint64_t at, std::size_t n, std::uint8_t* out) const;
};

// The FAT entry of a cluster decoded straight from the bytes; 0 (free) where it
// does not lie wholly in the table. Written apart from the program's decoder so
// that the two can be compared.
std::uint32_t ReferenceEntry(const FatBytes& fat, FatKind fatKind, std::uint32_t cluster);

// A chain walked the slow, obvious way: every cluster is remembered, and the walk
// ends at an end mark, a free entry, a number outside [2, lastCluster] or the
// first cluster it has had before. Empty for a kind other than FAT12/16/32.
std::vector<std::uint32_t> ReferenceChain(const FatBytes& fat, FatKind fatKind,
                                          std::uint32_t firstCluster, std::uint32_t lastCluster);

// The first FAT of the volume the item lies in, on the memory disk itself (not as
// the program reads it), when the program reads it at all: FatFits holds.
std::optional<FatBytes> ReferenceFat(const DriveTree& tree, const MemoryDisk& disk,
                                     const DriveItem& item);

// The largest size that a file whose directory entry says directorySize (the size
// modulo 2^32) can have when its chain allocates allocatedBytes: the definition
// the program's sizes are checked against.
std::uint64_t ExpectedFileSize(std::uint32_t directorySize, std::uint64_t allocatedBytes);

}  // namespace moravel::fuzz
