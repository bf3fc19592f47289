#include "RescueMap.h"

#include <array>
#include <charconv>
#include <iterator>

namespace moravel {

namespace {

constexpr std::array<std::string_view, 4> kStateNames = {"untried", "copied", "trimmed", "bad"};
constexpr std::array<std::string_view, 5> kPassNames = {"copy", "trim", "scrape", "retry", "done"};
constexpr std::string_view kFirstLine = "# Moravel rescue map 1";

std::size_t Index(RescueState state) {
    return static_cast<std::size_t>(state);
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, base);
    return result.ec == std::errc() && result.ptr == end && !text.empty();
}

// The next line of the text, without its line break; the text moves past it.
std::string_view TakeLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// "key value" lines of the header.
bool SplitField(std::string_view line, std::string_view& key, std::string_view& value) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    key = line.substr(0, space);
    value = line.substr(space + 1);
    return true;
}

std::optional<RescueState> StateNamed(std::string_view name) {
    for (std::size_t i = 0; i < kStateNames.size(); ++i) {
        if (kStateNames[i] == name) {
            return static_cast<RescueState>(i);
        }
    }
    return std::nullopt;
}

std::optional<RescuePass> PassNamed(std::string_view name) {
    for (std::size_t i = 0; i < kPassNames.size(); ++i) {
        if (kPassNames[i] == name) {
            return static_cast<RescuePass>(i);
        }
    }
    return std::nullopt;
}

// "OFFSET SIZE STATE"
bool ParseRange(std::string_view line, RescueRange& range) {
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos) {
        return false;
    }
    std::uint64_t size = 0;
    const auto state = StateNamed(line.substr(second + 1));
    if (!ParseNumber(line.substr(0, first), range.first) ||
        !ParseNumber(line.substr(first + 1, second - first - 1), size) || !state || size == 0 ||
        range.first + size < range.first) {
        return false;
    }
    range.end = range.first + size;
    range.state = *state;
    return true;
}

}  // namespace

std::string_view RescueStateName(RescueState state) {
    return kStateNames[Index(state)];
}

std::string_view RescuePassName(RescuePass pass) {
    return kPassNames[static_cast<std::size_t>(pass)];
}

RescueMap::RescueMap(std::uint64_t size) : m_size(size) {
    if (size > 0) {
        m_ranges.emplace(0, Entry{size, RescueState::Untried});
        m_bytes[Index(RescueState::Untried)] = size;
    }
}

void RescueMap::SplitAt(std::uint64_t offset) {
    if (offset == 0 || offset >= m_size) {
        return;
    }
    auto it = std::prev(m_ranges.upper_bound(offset));
    if (it->first == offset) {
        return;
    }
    const Entry tail = it->second;
    it->second.end = offset;
    m_ranges.emplace_hint(std::next(it), offset, tail);
}

void RescueMap::Mark(std::uint64_t first, std::uint64_t end, RescueState state) {
    end = std::min(end, m_size);
    if (first >= end) {
        return;
    }
    SplitAt(first);
    SplitAt(end);
    auto it = m_ranges.find(first);
    while (it != m_ranges.end() && it->first < end) {
        m_bytes[Index(it->second.state)] -= it->second.end - it->first;
        it = m_ranges.erase(it);
    }
    m_bytes[Index(state)] += end - first;
    it = m_ranges.emplace_hint(it, first, Entry{end, state});
    // Neighbours in the same state become one range.
    if (const auto next = std::next(it); next != m_ranges.end() && next->second.state == state) {
        it->second.end = next->second.end;
        m_ranges.erase(next);
    }
    if (it != m_ranges.begin()) {
        if (const auto previous = std::prev(it); previous->second.state == state) {
            previous->second.end = it->second.end;
            m_ranges.erase(it);
        }
    }
}

RescueRange RescueMap::RangeAt(std::uint64_t offset) const {
    const auto it = std::prev(m_ranges.upper_bound(offset));
    return {it->first, it->second.end, it->second.state};
}

RescueState RescueMap::StateAt(std::uint64_t offset) const {
    return RangeAt(offset).state;
}

std::optional<RescueRange> RescueMap::Next(RescueState state, std::uint64_t from) const {
    if (from >= m_size) {
        return std::nullopt;
    }
    for (auto it = std::prev(m_ranges.upper_bound(from)); it != m_ranges.end(); ++it) {
        if (it->second.state == state) {
            return RescueRange{std::max(it->first, from), it->second.end, state};
        }
    }
    return std::nullopt;
}

std::uint64_t RescueMap::Bytes(RescueState state) const {
    return m_bytes[Index(state)];
}

std::vector<RescueRange> RescueMap::Ranges() const {
    std::vector<RescueRange> ranges;
    ranges.reserve(m_ranges.size());
    for (const auto& [first, entry] : m_ranges) {
        ranges.push_back({first, entry.end, entry.state});
    }
    return ranges;
}

std::uint64_t ChainHash(const std::uint32_t* clusters, std::size_t count) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (std::size_t i = 0; i < count; ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (clusters[i] >> shift) & 0xFFu;
            hash *= 0x100000001b3u;
        }
    }
    return hash;
}

std::string FormatRescueMap(const RescueMapFile& file) {
    char hash[17];
    const auto written = std::to_chars(hash, hash + 16, file.source.chainHash, 16);
    std::string text;
    text += kFirstLine;
    text += "\n# What of a recording is in its copy: byte offset, size, state of each range.\n";
    if (!file.reads.empty()) {
        text += "# Reads: " + file.reads + "\n";
    }
    // The disk's name is for the reader; a line break in it would end the field.
    std::string disk = file.source.disk;
    for (char& c : disk) {
        c = (c == '\n' || c == '\r') ? ' ' : c;
    }
    text += "disk " + disk + "\n";
    text += "volume-start " + std::to_string(file.source.volumeStart) + "\n";
    text += "first-cluster " + std::to_string(file.source.firstCluster) + "\n";
    text += "size " + std::to_string(file.source.size) + "\n";
    text += "chain-hash " + std::string(hash, written.ptr) + "\n";
    text += "pass " + std::string(RescuePassName(file.pass)) + "\n";
    text += "position " + std::to_string(file.position) + "\n";
    text += "retries-done " + std::to_string(file.retriesDone) + "\n";
    for (const RescueRange& range : file.map.Ranges()) {
        text += std::to_string(range.first) + " " + std::to_string(range.Size()) + " " +
                std::string(RescueStateName(range.state)) + "\n";
    }
    return text;
}

Result<RescueMapFile> ParseRescueMap(std::string_view text) {
    if (TakeLine(text) != kFirstLine) {
        return Error{"it is no rescue map of this program"};
    }
    RescueMapFile file;
    bool haveSize = false;
    std::vector<RescueRange> ranges;
    for (std::size_t number = 2; !text.empty(); ++number) {
        const std::string_view line = TakeLine(text);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::string where = "line " + std::to_string(number);
        if (line.front() >= '0' && line.front() <= '9') {
            RescueRange range;
            if (!ParseRange(line, range)) {
                return Error{where + " is no range (\"OFFSET SIZE STATE\")"};
            }
            ranges.push_back(range);
            continue;
        }
        std::string_view key;
        std::string_view value;
        bool ok = SplitField(line, key, value);
        if (ok && key == "disk") {
            file.source.disk = std::string(value);
        } else if (ok && key == "volume-start") {
            ok = ParseNumber(value, file.source.volumeStart);
        } else if (ok && key == "first-cluster") {
            ok = ParseNumber(value, file.source.firstCluster);
        } else if (ok && key == "size") {
            ok = haveSize = ParseNumber(value, file.source.size);
        } else if (ok && key == "chain-hash") {
            ok = ParseNumber(value, file.source.chainHash, 16);
        } else if (ok && key == "pass") {
            const auto pass = PassNamed(value);
            ok = pass.has_value();
            file.pass = pass.value_or(RescuePass::Copy);
        } else if (ok && key == "position") {
            ok = ParseNumber(value, file.position);
        } else if (ok && key == "retries-done") {
            ok = ParseNumber(value, file.retriesDone);
        } else {
            ok = false;
        }
        if (!ok) {
            return Error{where + " is not understood"};
        }
    }
    if (!haveSize) {
        return Error{"it does not give the recording's size"};
    }
    // The ranges must cover the recording, in order, without gaps or overlaps.
    std::uint64_t expected = 0;
    for (const RescueRange& range : ranges) {
        if (range.first != expected || range.end > file.source.size) {
            return Error{"its ranges do not cover the recording (at byte " +
                         std::to_string(expected) + ")"};
        }
        expected = range.end;
    }
    if (expected != file.source.size) {
        return Error{"its ranges do not cover the recording (they end at byte " +
                     std::to_string(expected) + ")"};
    }
    file.map = RescueMap(file.source.size);
    for (const RescueRange& range : ranges) {
        file.map.Mark(range.first, range.end, range.state);
    }
    if (file.position > file.source.size) {
        file.position = file.source.size;
    }
    return file;
}

std::optional<std::string> RescueSourceMismatch(const RescueSource& map,
                                                const RescueSource& source) {
    const auto describe = [](const RescueSource& s) {
        return "first cluster " + std::to_string(s.firstCluster) + ", " + std::to_string(s.size) +
               " bytes, volume at sector " + std::to_string(s.volumeStart);
    };
    if (map.volumeStart == source.volumeStart && map.firstCluster == source.firstCluster &&
        map.size == source.size && map.chainHash == source.chainHash) {
        return std::nullopt;
    }
    return "it belongs to another recording (" + describe(map) + ") than this one (" +
           describe(source) + ")";
}

}  // namespace moravel
