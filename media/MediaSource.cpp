#include "MediaSource.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "copy/FileReader.h"

namespace moravel {

Result<std::size_t> MemoryMediaSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset >= m_bytes.size()) {
        return std::size_t{0};
    }
    const std::size_t count =
        std::min<std::size_t>(out.size(), m_bytes.size() - static_cast<std::size_t>(offset));
    std::memcpy(out.data(), m_bytes.data() + offset, count);
    return count;
}

std::uint64_t FileMediaSource::Size() const {
    return m_reader.Size();
}

Result<std::size_t> FileMediaSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
    const Result<FileReader::Piece> piece = m_reader.Read(offset, out);
    if (!piece) {
        return piece.error();
    }
    // No count: a look's reader does not ask for the sectors after the first one
    // that fails, so how many are bad is not known.
    if (piece->unreadable > 0) {
        return Error{"bytes " + std::to_string(offset) + "-" +
                     std::to_string(offset + piece->bytes - 1) +
                     " lie on a sector that could not be read"};
    }
    return piece->bytes;
}

}  // namespace moravel
