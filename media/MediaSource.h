#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "disk/Result.h"

namespace moravel {

class FileReader;

// Where the media reader gets a recording's bytes: a file of the recorder's disk
// read through its chain, or bytes in memory.
class MediaSource {
public:
    virtual ~MediaSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads into out from offset: fewer bytes only at the end. The error says why
    // nothing could be read (an unreadable sector, a disk gone).
    virtual Result<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

// The bytes of a recording in memory.
class MemoryMediaSource final : public MediaSource {
public:
    explicit MemoryMediaSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::uint64_t Size() const override { return m_bytes.size(); }
    Result<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    std::span<const std::uint8_t> m_bytes;
};

// A file of the recorder's disk, read through its chain: a read that reaches a
// sector that cannot be read fails, rather than give filled bytes for pictures.
class FileMediaSource final : public MediaSource {
public:
    explicit FileMediaSource(FileReader& reader) : m_reader(reader) {}
    std::uint64_t Size() const override;
    Result<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    FileReader& m_reader;
};

}  // namespace moravel
