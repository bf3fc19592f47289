#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace moravel::bench {

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

image::PartitionEntry VolumeEntry(std::uint32_t sectors) {
    image::PartitionEntry entry;
    entry.type = 0x0C;
    entry.lba = kVolumeStart;
    entry.sectors = sectors;
    entry.head = 32;
    entry.sector = 33;
    entry.cylinder = 0;
    return entry;
}

std::optional<std::uint64_t> ParseNumber(const char* text, std::uint64_t limit) {
    try {
        std::size_t used = 0;
        const unsigned long long value = std::stoull(text, &used);
        if (text[used] == '\0' && value <= limit) {
            return value;
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::string PlainName(std::string_view name) {
    std::string plain;
    for (const char c : name) {
        if (c != ' ') {
            plain.push_back(c);
        }
    }
    if (!plain.empty() && plain.back() == '.') {
        plain.pop_back();
    }
    return plain;
}

DriveItem* FindChild(DriveTree& access, DriveItem& item, std::string_view name) {
    std::int32_t progress = 0;
    const Expansion expansion = access.ExpandItem(item, progress);
    for (const Error& error : expansion.errors) {
        std::fprintf(stderr, "moravel-bench: reading \"%s\": %s\n",
                     std::string(item.DisplayName()).c_str(), error.reason.c_str());
    }
    for (DriveItem* child : expansion.children) {
        if (child->DisplayName() == name || PlainName(child->DisplayName()) == name) {
            return child;
        }
    }
    return nullptr;
}

}  // namespace moravel::bench
