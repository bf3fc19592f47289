#include "MemoryTarget.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/TempDir.h"

namespace moravel::testing {

namespace {

bool AllZero(std::span<const std::uint8_t> bytes) {
    // All zero when the first byte is and every byte equals the next one.
    return bytes.empty() ||
           (bytes[0] == 0 && std::memcmp(bytes.data(), bytes.data() + 1, bytes.size() - 1) == 0);
}

// Keeps bytes at offset, over whatever the file held there.
void Store(MemoryTarget::File& file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    const std::uint64_t end = offset + bytes.size();
    auto chunk = file.data.lower_bound(offset);
    if (chunk != file.data.begin() &&
        std::prev(chunk)->first + std::prev(chunk)->second.size() > offset) {
        --chunk;
    }
    std::map<std::uint64_t, Bytes> rest;  // what overlapped chunks hold outside the write
    while (chunk != file.data.end() && chunk->first < end) {
        const auto& [start, held] = *chunk;
        if (start < offset) {
            rest[start] = Bytes(held.begin(), held.begin() + static_cast<long>(offset - start));
        }
        if (start + held.size() > end) {
            rest[end] = Bytes(held.begin() + static_cast<long>(end - start), held.end());
        }
        chunk = file.data.erase(chunk);
    }
    file.data.merge(rest);
    if (!AllZero(bytes)) {
        file.data[offset] = Bytes(bytes.begin(), bytes.end());
    }
    file.size = std::max(file.size, end);
}

class MemoryOutput final : public OutputFile {
public:
    MemoryOutput(MemoryTarget::File& file, std::uint64_t& total, std::uint64_t limit)
        : m_file(file), m_total(total), m_limit(limit) {}

    bool Write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        written = static_cast<std::size_t>(
            std::min<std::uint64_t>(bytes.size(), m_limit - std::min(m_limit, m_total)));
        Store(m_file, m_file.size, bytes.first(written));
        m_total += written;
        ++m_file.writes;
        if (written != bytes.size()) {
            m_failure = "No space left on device";
        }
        return written == bytes.size();
    }
    bool Flush() override { return true; }
    bool Sync() override {
        ++m_file.syncs;
        return true;
    }

    bool Close() override {
        ++m_file.closes;
        if (m_file.failClose) {
            m_failure = "Input/output error";
        }
        return !m_file.failClose;
    }
    std::string Failure() const override { return m_failure; }

private:
    MemoryTarget::File& m_file;
    std::uint64_t& m_total;
    std::uint64_t m_limit;
    std::string m_failure;
};

class MemoryPositioned final : public PositionedFile {
public:
    MemoryPositioned(MemoryTarget::File& file, std::uint64_t& total, std::uint64_t limit)
        : m_file(file), m_total(total), m_limit(limit) {}

    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        ++m_file.writes;
        if (bytes.size() > m_limit - std::min(m_limit, m_total)) {
            return false;
        }
        Store(m_file, offset, bytes);
        m_total += bytes.size();
        return true;
    }
    bool SetSize(std::uint64_t size) override {
        std::erase_if(m_file.data, [size](const auto& chunk) { return chunk.first >= size; });
        if (!m_file.data.empty()) {
            auto& [start, last] = *m_file.data.rbegin();
            last.resize(
                static_cast<std::size_t>(std::min<std::uint64_t>(last.size(), size - start)));
        }
        m_file.size = size;
        return true;
    }
    bool Sync() override {
        ++m_file.syncs;
        return true;
    }
    bool Close() override {
        ++m_file.closes;
        return true;
    }
    void KeepModified(std::time_t when) override { m_file.modified = when; }
    std::string Failure() const override { return "No space left on device"; }

private:
    MemoryTarget::File& m_file;
    std::uint64_t& m_total;
    std::uint64_t m_limit;
};

}  // namespace

std::optional<DestinationVolume> MemoryTarget::VolumeOf(const std::string&) {
    ++volumeQueries;
    return DestinationVolume{m_root, m_fileSystem, note};
}

Result<std::unique_ptr<OutputFile>> MemoryTarget::Create(const std::string& path) {
    if (refused.count(path) != 0) {
        return Error{"Permission denied"};
    }
    created.push_back(path);
    File& file = files[WorkingPath(path)] = File{};
    file.failClose = failClose.count(path) != 0;
    return std::make_unique<MemoryOutput>(file, m_written, failAfterBytes);
}

Failure MemoryTarget::Publish(const std::string& path, std::optional<std::time_t> modified) {
    const auto working = files.find(WorkingPath(path));
    if (working == files.end()) {
        return Error{"No such file or directory"};
    }
    File file = std::move(working->second);
    files.erase(working);
    file.modified = modified;
    files[path] = std::move(file);
    return std::nullopt;
}

Result<std::unique_ptr<PositionedFile>> MemoryTarget::OpenPositioned(const std::string& path) {
    if (refused.count(path) != 0) {
        return Error{"Permission denied"};
    }
    return std::make_unique<MemoryPositioned>(files[path], m_written, failAfterBytes);
}

Result<std::uint64_t> MemoryTarget::SizeOf(const std::string& path) {
    const auto file = files.find(path);
    if (file == files.end()) {
        return Error{"No such file or directory"};
    }
    return file->second.size;
}

Result<std::string> MemoryTarget::ReadAll(const std::string& path) {
    const auto file = files.find(path);
    if (file == files.end()) {
        return Error{"No such file or directory"};
    }
    std::string text(static_cast<std::size_t>(file->second.size), '\0');
    for (const auto& [offset, bytes] : file->second.data) {
        std::copy(bytes.begin(), bytes.end(), text.begin() + static_cast<long>(offset));
    }
    return text;
}

std::uint8_t EndsContent(std::uint32_t seed, std::uint64_t size, std::uint32_t clusterBytes,
                         std::uint64_t offset) {
    const std::uint64_t lastStart = (size - 1) / clusterBytes * clusterBytes;
    return offset < clusterBytes || offset >= lastStart ? ContentByte(seed, offset) : 0;
}

void ExpectContent(const MemoryTarget::File& file, std::uint64_t size,
                   const std::function<std::uint8_t(std::uint64_t)>& expected,
                   std::uint64_t firstOffset) {
    ASSERT_EQ(file.size, size);
    // Every stretch that was written holds what it should...
    std::uint64_t covered = 0;
    for (const auto& [offset, bytes] : file.data) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            ASSERT_EQ(bytes[i], expected(firstOffset + offset + i)) << "at " << offset + i;
        }
        covered += bytes.size();
    }
    // ...and nothing that should hold data was left out as zeros: sample the rest.
    const std::uint64_t step = std::max<std::uint64_t>(1, size / 4096);
    for (std::uint64_t at = 0; at < size; at += step) {
        const auto chunk = file.data.upper_bound(at);
        const bool stored = chunk != file.data.begin() &&
                            std::prev(chunk)->first + std::prev(chunk)->second.size() > at;
        if (!stored) {
            ASSERT_EQ(expected(firstOffset + at), 0) << "at " << at;
        }
    }
    EXPECT_LE(covered, size);
}

}  // namespace moravel::testing
