#include "MemoryDisk.h"

#include <algorithm>
#include <cstring>

namespace moravel::fuzz {

namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kRecordHeader = 4;

class MemoryDiskSource final : public SectorSource {
public:
    explicit MemoryDiskSource(std::shared_ptr<const MemoryDisk> disk) : m_disk(std::move(disk)) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        return m_disk->ReadAt(offset, buffer);
    }
    std::optional<std::uint64_t> Size() const override { return m_disk->Size(); }

private:
    std::shared_ptr<const MemoryDisk> m_disk;
};

}  // namespace

void MemoryDisk::Put(std::uint64_t sector, ByteSpan bytes) {
    if (sector >= m_bytes / kSector) {
        return;
    }
    auto& stored = m_sectors[sector];
    stored.fill(0);
    const std::size_t n = std::min(bytes.size(), kSector);
    std::copy_n(bytes.begin(), n, stored.begin());
}

void MemoryDisk::Write(std::uint64_t offset, ByteSpan bytes) {
    while (!bytes.empty()) {
        const std::uint64_t sector = offset / kSector;
        const auto within = static_cast<std::size_t>(offset % kSector);
        const std::size_t n = std::min(bytes.size(), kSector - within);
        if (sector < m_bytes / kSector) {
            auto& stored = m_sectors[sector];  // a new sector starts as zeros
            std::copy_n(bytes.begin(), n, stored.begin() + static_cast<std::ptrdiff_t>(within));
        }
        bytes = bytes.subspan(n);
        offset += n;
    }
}

std::size_t MemoryDisk::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
    if (offset >= m_bytes) {
        return 0;
    }
    const auto got =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), m_bytes - offset));
    const auto part = buffer.first(got);
    std::fill(part.begin(), part.end(), 0);
    const std::uint64_t end = offset + got;
    for (auto it = m_sectors.lower_bound(offset / kSector);
         it != m_sectors.end() && it->first * kSector < end; ++it) {
        const std::uint64_t sectorStart = it->first * kSector;
        const std::uint64_t from = std::max(sectorStart, offset);
        const std::uint64_t to = std::min(sectorStart + kSector, end);
        std::memcpy(part.data() + (from - offset), it->second.data() + (from - sectorStart),
                    static_cast<std::size_t>(to - from));
    }
    return got;
}

void PutRecords(MemoryDisk& disk, ByteSpan records) {
    while (records.size() >= kRecordHeader) {
        const std::uint32_t sector = ReadLe32(records, 0);
        const ByteSpan bytes =
            records.subspan(kRecordHeader, std::min(records.size() - kRecordHeader, kSector));
        disk.Put(sector, bytes);
        records = records.subspan(kRecordHeader + bytes.size());
    }
}

std::vector<std::uint8_t> RecordsOf(const MemoryDisk& disk) {
    std::vector<std::uint8_t> records;
    for (const auto& [sector, bytes] : disk.Sectors()) {
        if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; })) {
            continue;
        }
        const std::size_t at = records.size();
        records.resize(at + kRecordHeader);
        WriteLe32(records, at, static_cast<std::uint32_t>(sector));
        records.insert(records.end(), bytes.begin(), bytes.end());
    }
    return records;
}

std::unique_ptr<SectorSource> OpenMemoryDisk(std::shared_ptr<const MemoryDisk> disk) {
    return std::make_unique<MemoryDiskSource>(std::move(disk));
}

SourceOpener MemoryDiskOpener(std::shared_ptr<const MemoryDisk> disk) {
    return [disk](const std::string&) -> OpenedSource { return OpenMemoryDisk(disk); };
}

}  // namespace moravel::fuzz
