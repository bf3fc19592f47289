#include "ImageBuilder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "disk/ByteOrder.h"
#include "disk/DiskLayout.h"

namespace moravel::image {

namespace boot = layout::boot;
namespace partition = layout::partition;
namespace fsInfo = layout::fsInfo;
namespace longName = layout::longName;

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
    for (std::size_t i = 0; i < entries.size() && i < partition::kEntryCount; ++i) {
        const std::size_t at = partition::EntryOffset(i);
        sector[at + partition::kStartHead] = entries[i].head;
        sector[at + partition::kStartSector] = entries[i].sector;
        sector[at + partition::kStartCylinder] = entries[i].cylinder;
        sector[at + partition::kType] = entries[i].type;
        WriteLe32(sector, at + partition::kStartLba, entries[i].lba);
        WriteLe32(sector, at + partition::kSectorCount, entries[i].sectors);
    }
    WriteLe16(sector, boot::kSignature, boot::kSignatureMark);
    return sector;
}

Bytes BootSectorBytes(const BootParameters& p) {
    Bytes sector(512, 0);
    sector[boot::kJump] = 0xEB;
    sector[boot::kJump + 1] = 0x58;
    sector[boot::kJumpNop] = 0x90;
    std::copy_n("MORAVEL ", 8, sector.begin() + static_cast<long>(boot::kOemName));
    WriteLe16(sector, boot::kBytesPerSector, p.bytesPerSector);
    sector[boot::kSectorsPerCluster] = p.sectorsPerCluster;
    WriteLe16(sector, boot::kReservedSectors, p.reservedSectors);
    sector[boot::kFatCount] = p.fatCount;
    WriteLe16(sector, boot::kRootEntries, p.fat32 ? 0 : p.rootEntries);
    const bool small = !p.fat32 && p.totalSectors < 0x10000;
    WriteLe16(sector, boot::kTotalSectors16,
              small ? static_cast<std::uint16_t>(p.totalSectors) : 0);
    sector[boot::kMedia] = 0xF8;
    WriteLe16(sector, boot::kSectorsPerFat16,
              p.fat32 ? 0 : static_cast<std::uint16_t>(p.sectorsPerFat));
    WriteLe16(sector, boot::kSectorsPerTrack, p.sectorsPerTrack);
    WriteLe16(sector, boot::kHeads, p.heads);
    WriteLe32(sector, boot::kHiddenSectors, p.hiddenSectors);
    WriteLe32(sector, boot::kTotalSectors32, small ? 0 : p.totalSectors);
    // The extended parameter block: drive, signature, serial, label, type; on
    // FAT32 after the fields of its own.
    std::string type = p.totalSectors / std::max<unsigned>(p.sectorsPerCluster, 1) < 4085
                           ? "FAT12   "
                           : "FAT16   ";
    if (p.fat32) {
        WriteLe32(sector, boot::fat32::kSectorsPerFat, p.sectorsPerFat);
        WriteLe32(sector, boot::fat32::kRootCluster, p.rootCluster);
        WriteLe16(sector, boot::fat32::kFsInfoSector, 1);
        WriteLe16(sector, boot::fat32::kBackupBootSector, 6);
        type = "FAT32   ";
    }
    const auto at = [&p](std::size_t fat16, std::size_t fat32) { return p.fat32 ? fat32 : fat16; };
    sector[at(boot::fat16::kDriveNumber, boot::fat32::kDriveNumber)] = 0x80;
    sector[at(boot::fat16::kExtendedSignature, boot::fat32::kExtendedSignature)] =
        boot::kExtendedSignatureMark;
    WriteLe32(sector, at(boot::fat16::kVolumeId, boot::fat32::kVolumeId), p.serial);
    const std::size_t label = at(boot::fat16::kLabel, boot::fat32::kLabel);
    for (std::size_t i = 0; i < boot::kLabelLength; ++i) {
        sector[label + i] = static_cast<std::uint8_t>(i < p.label.size() ? p.label[i] : ' ');
    }
    std::copy_n(type.begin(), boot::kFileSystemTypeLength,
                sector.begin() + static_cast<long>(at(boot::fat16::kFileSystemType,
                                                      boot::fat32::kFileSystemType)));
    WriteLe16(sector, boot::kSignature, boot::kSignatureMark);
    return sector;
}

Bytes FsInfoSector(std::uint32_t freeClusters, std::uint32_t firstFree) {
    Bytes sector(512, 0);
    WriteLe32(sector, fsInfo::kLeadSignature, fsInfo::kLeadSignatureMark);
    WriteLe32(sector, fsInfo::kStructSignature, fsInfo::kStructSignatureMark);
    WriteLe32(sector, fsInfo::kFreeCount, freeClusters);
    WriteLe32(sector, fsInfo::kNextFree, firstFree);
    WriteLe32(sector, fsInfo::kTrailSignature, fsInfo::kTrailSignatureMark);
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
    Bytes entry(layout::entry::kSize, 0);
    for (std::size_t i = 0; i < layout::entry::kShortNameLength; ++i) {
        entry[layout::entry::kName + i] =
            i < name11.size() ? static_cast<std::uint8_t>(name11[i]) : ' ';
    }
    entry[layout::entry::kAttributes] = attributes;
    WriteLe16(entry, layout::entry::kFirstClusterHigh,
              static_cast<std::uint16_t>(firstCluster >> 16));
    WriteLe16(entry, layout::entry::kFirstClusterLow, static_cast<std::uint16_t>(firstCluster));
    WriteLe32(entry, layout::entry::kFileSize, size);
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
    const std::size_t parts =
        (name.size() + longName::kUnitsPerEntry - 1) / longName::kUnitsPerEntry;
    std::vector<Bytes> entries;
    for (std::size_t part = parts; part >= 1; --part) {
        Bytes entry(layout::entry::kSize, 0);
        entry[longName::kOrder] =
            static_cast<std::uint8_t>(part | (part == parts ? longName::kLastEntry : 0));
        entry[longName::kAttributes] = layout::entry::kAttributeLongName;
        entry[longName::kChecksum] = checksum;
        for (std::size_t i = 0; i < longName::kUnitsPerEntry; ++i) {
            const std::size_t at = (part - 1) * longName::kUnitsPerEntry + i;
            std::uint16_t ch = 0xFFFF;
            if (at < name.size()) {
                ch = name[at];
            } else if (at == name.size()) {
                ch = 0;
            }
            WriteLe16(entry, longName::kUnitOffsets[i], ch);
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
