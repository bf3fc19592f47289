#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/Result.h"

namespace moravel {

// What a rescue copy knows of each byte of a recording.
enum class RescueState : std::uint8_t {
    Untried,  // not read yet
    Copied,   // read and in the output
    Trimmed,  // inside a failed area whose edges were found; read sector by sector later
    Bad,      // a sector that failed when read
};

std::string_view RescueStateName(RescueState state);

// Bytes [first, end) of the recording, all in one state.
struct RescueRange {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    RescueState state = RescueState::Untried;
    std::uint64_t Size() const { return end - first; }
};

// The states of a recording's bytes, as ranges that cover it without gaps;
// neighbours in the same state are one range.
class RescueMap {
public:
    explicit RescueMap(std::uint64_t size = 0);

    std::uint64_t Size() const { return m_size; }
    void Mark(std::uint64_t first, std::uint64_t end, RescueState state);
    RescueState StateAt(std::uint64_t offset) const;
    // The first range in the state that ends after `from`, cut to begin there at
    // the earliest; nothing when there is none.
    std::optional<RescueRange> Next(RescueState state, std::uint64_t from) const;
    // The range that holds `offset` (which must be inside the recording).
    RescueRange RangeAt(std::uint64_t offset) const;
    std::uint64_t Bytes(RescueState state) const;
    std::vector<RescueRange> Ranges() const;
    std::size_t RangeCount() const { return m_ranges.size(); }

private:
    struct Entry {
        std::uint64_t end;
        RescueState state;
    };
    void SplitAt(std::uint64_t offset);

    std::uint64_t m_size;
    std::map<std::uint64_t, Entry> m_ranges;  // by first byte
    std::uint64_t m_bytes[4] = {};
};

// The passes of a rescue, in their order.
enum class RescuePass : std::uint8_t { Copy, Trim, Scrape, Retry, Done };
std::string_view RescuePassName(RescuePass pass);

// Which recording a map belongs to: a map of one recording must never steer the
// copy of another.
struct RescueSource {
    std::string disk;  // for the reader only: the same disk may come back under another name
    std::uint32_t volumeStart = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t size = 0;
    std::uint64_t chainHash = 0;
};

// A map file: the source, where the rescue stands, and the ranges.
struct RescueMapFile {
    RescueSource source;
    RescuePass pass = RescuePass::Copy;
    std::uint64_t position = 0;  // where the copy pass goes on
    unsigned retriesDone = 0;
    RescueMap map;
    std::string reads;  // how the disk is read, for the reader of the map only
};

// A hash of a cluster chain (FNV-1a over the cluster numbers).
std::uint64_t ChainHash(const std::uint32_t* clusters, std::size_t count);

std::string FormatRescueMap(const RescueMapFile& file);
// Reads a map file's text; the error says why when it is not one or is damaged
// (ranges that do not cover the recording, unknown states, ...).
Result<RescueMapFile> ParseRescueMap(std::string_view text);
// Why a map does not belong to the source; nothing when it does.
std::optional<std::string> RescueSourceMismatch(const RescueSource& map,
                                                const RescueSource& source);

}  // namespace moravel
