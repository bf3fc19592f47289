#include "ImageBuilder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "disk/ByteOrder.h"

namespace moravel::image {

// The file is made as long as the disk without writing its bytes (sparse where the
// file system can), and written and read at 64-bit offsets through the standard
// streams, on Linux and Windows alike.
ImageFile::ImageFile(std::string path, std::uint64_t bytes) : m_path(std::move(path)) {
    {
        std::ofstream created(m_path, std::ios::binary | std::ios::trunc);
        if (!created) {
            throw std::runtime_error("cannot create image " + m_path);
        }
    }
    std::error_code error;
    std::filesystem::resize_file(m_path, bytes, error);
    if (error) {
        throw std::runtime_error("cannot create image " + m_path);
    }
}

void ImageFile::Write(std::uint64_t offset, const Bytes& bytes) const {
    std::fstream file(m_path, std::ios::binary | std::ios::in | std::ios::out);
    const bool written = file && file.seekp(static_cast<std::streamoff>(offset)) &&
                         file.write(reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<std::streamsize>(bytes.size())) &&
                         file.flush();
    if (!written) {
        throw std::runtime_error("cannot write image " + m_path);
    }
}

void ImageFile::Truncate(std::uint64_t bytes) const {
    std::error_code error;
    std::filesystem::resize_file(m_path, bytes, error);
    if (error) {
        throw std::runtime_error("cannot truncate image " + m_path);
    }
}

Bytes ImageFile::Read(std::uint64_t offset, std::size_t bytes) const {
    Bytes data(bytes);
    std::ifstream file(m_path, std::ios::binary);
    std::streamsize got = 0;
    if (file && file.seekg(static_cast<std::streamoff>(offset))) {
        file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(bytes));
        got = file.gcount();
    }
    data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return data;
}

Bytes PartitionSector(const std::vector<PartitionEntry>& entries) {
    Bytes sector(512, 0);
    for (std::size_t i = 0; i < entries.size() && i < 4; ++i) {
        const std::size_t at = 446 + 16 * i;
        sector[at + 1] = entries[i].head;
        sector[at + 2] = entries[i].sector;
        sector[at + 3] = entries[i].cylinder;
        sector[at + 4] = entries[i].type;
        WriteLe32(sector, at + 8, entries[i].lba);
        WriteLe32(sector, at + 12, entries[i].sectors);
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return sector;
}

Bytes BootSectorBytes(const BootParameters& p) {
    Bytes sector(512, 0);
    sector[0] = 0xEB;
    sector[1] = 0x58;
    sector[2] = 0x90;
    std::copy_n("MORAVEL ", 8, sector.begin() + 3);
    WriteLe16(sector, 0x0B, p.bytesPerSector);
    sector[0x0D] = p.sectorsPerCluster;
    WriteLe16(sector, 0x0E, p.reservedSectors);
    sector[0x10] = p.fatCount;
    WriteLe16(sector, 0x11, p.fat32 ? 0 : p.rootEntries);
    const bool small = !p.fat32 && p.totalSectors < 0x10000;
    WriteLe16(sector, 0x13, small ? static_cast<std::uint16_t>(p.totalSectors) : 0);
    sector[0x15] = 0xF8;
    WriteLe16(sector, 0x16, p.fat32 ? 0 : static_cast<std::uint16_t>(p.sectorsPerFat));
    WriteLe16(sector, 0x18, p.sectorsPerTrack);
    WriteLe16(sector, 0x1A, p.heads);
    WriteLe32(sector, 0x1C, p.hiddenSectors);
    WriteLe32(sector, 0x20, small ? 0 : p.totalSectors);
    // The extended parameter block: drive, signature, serial, label, type.
    std::size_t extended = 0x24;
    std::string type = p.totalSectors / std::max<unsigned>(p.sectorsPerCluster, 1) < 4085
                           ? "FAT12   "
                           : "FAT16   ";
    if (p.fat32) {
        WriteLe32(sector, 0x24, p.sectorsPerFat);
        WriteLe32(sector, 0x2C, p.rootCluster);
        WriteLe16(sector, 0x30, 1);  // information sector
        WriteLe16(sector, 0x32, 6);  // backup boot sector
        extended = 0x40;
        type = "FAT32   ";
    }
    sector[extended] = 0x80;
    sector[extended + 2] = 0x29;
    WriteLe32(sector, extended + 3, p.serial);
    for (std::size_t i = 0; i < 11; ++i) {
        sector[extended + 7 + i] = static_cast<std::uint8_t>(i < p.label.size() ? p.label[i] : ' ');
    }
    std::copy_n(type.begin(), 8, sector.begin() + static_cast<long>(extended + 18));
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return sector;
}

Bytes FsInfoSector(std::uint32_t freeClusters, std::uint32_t firstFree) {
    Bytes sector(512, 0);
    WriteLe32(sector, 0, 0x41615252);
    WriteLe32(sector, 484, 0x61417272);
    WriteLe32(sector, 488, freeClusters);
    WriteLe32(sector, 492, firstFree);
    WriteLe32(sector, 508, 0xAA550000);
    return sector;
}

FatTable::FatTable(int bits, std::uint32_t entries)
    : m_bits(bits),
      m_bytes(
          static_cast<std::size_t>((std::uint64_t{entries} * static_cast<unsigned>(bits) + 7) / 8),
          0) {}

std::uint32_t FatTable::EndMark() const {
    return m_bits == 12 ? 0xFFF : m_bits == 16 ? 0xFFFF : 0x0FFFFFFF;
}

void FatTable::Set(std::uint32_t cluster, std::uint32_t value) {
    if (m_bits == 16) {
        WriteLe16(m_bytes, 2 * std::size_t{cluster}, static_cast<std::uint16_t>(value));
    } else if (m_bits == 32) {
        WriteLe32(m_bytes, 4 * std::size_t{cluster}, value);
    } else {
        const std::size_t at = 3 * std::size_t{cluster} / 2;
        std::uint16_t pair = ReadLe16(m_bytes, at);
        if (cluster % 2 == 0) {
            pair = static_cast<std::uint16_t>((pair & 0xF000) | (value & 0xFFF));
        } else {
            pair = static_cast<std::uint16_t>((pair & 0x000F) | ((value & 0xFFF) << 4));
        }
        WriteLe16(m_bytes, at, pair);
    }
}

void FatTable::Chain(const std::vector<std::uint32_t>& clusters) {
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        Set(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : EndMark());
    }
}

Bytes ShortEntry(const std::string& name11, std::uint8_t attributes, std::uint32_t firstCluster,
                 std::uint32_t size) {
    Bytes entry(32, 0);
    for (std::size_t i = 0; i < 11; ++i) {
        entry[i] = i < name11.size() ? static_cast<std::uint8_t>(name11[i]) : ' ';
    }
    entry[11] = attributes;
    WriteLe16(entry, 20, static_cast<std::uint16_t>(firstCluster >> 16));
    WriteLe16(entry, 26, static_cast<std::uint16_t>(firstCluster));
    WriteLe32(entry, 28, size);
    return entry;
}

std::u16string Utf16Units(const std::string& utf8) {
    std::u16string units;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (length == 1 || i + length > utf8.size()) {
            // ASCII, or a byte that starts no whole character: a unit of its own value.
            units.push_back(lead);
            ++i;
            continue;
        }
        char32_t code = lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        if (code >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return units;
}

std::vector<Bytes> LongNameEntries(const std::string& name, std::uint8_t checksum) {
    return LongNameEntries(Utf16Units(name), checksum);
}

std::vector<Bytes> LongNameEntries(const std::u16string& name, std::uint8_t checksum) {
    static constexpr std::size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const std::size_t parts = (name.size() + 12) / 13;
    std::vector<Bytes> entries;
    for (std::size_t part = parts; part >= 1; --part) {
        Bytes entry(32, 0);
        entry[0] = static_cast<std::uint8_t>(part | (part == parts ? 0x40 : 0));
        entry[11] = 0x0F;
        entry[13] = checksum;
        for (std::size_t i = 0; i < 13; ++i) {
            const std::size_t at = (part - 1) * 13 + i;
            std::uint16_t ch = 0xFFFF;
            if (at < name.size()) {
                ch = name[at];
            } else if (at == name.size()) {
                ch = 0;
            }
            WriteLe16(entry, kOffsets[i], ch);
        }
        entries.push_back(entry);
    }
    return entries;
}

Bytes DirectorySectors(const std::vector<Bytes>& entries) {
    Bytes sectors;
    for (const auto& entry : entries) {
        sectors.insert(sectors.end(), entry.begin(), entry.end());
    }
    sectors.resize((sectors.size() + 511) / 512 * 512 + (sectors.empty() ? 512 : 0), 0);
    return sectors;
}

}  // namespace moravel::image
