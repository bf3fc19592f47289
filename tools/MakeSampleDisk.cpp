// moravel-make-sample-disk OUTPUT.img
//
// Writes a sample recorder disk as a sparse image: an MBR with a large FAT32
// volume of recordings (one of them longer than 4 GiB, whose directory entry holds
// only the size modulo 2^32), a small FAT16 volume of settings files, and an
// extended partition with one logical FAT16 volume. Recordings are written at
// their first and last cluster only; the clusters between stay holes and read as
// zeros, so the image takes about 11 MB on disk and well under a second to make.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "disk/ByteOrder.h"
#include "disk/DiskLayout.h"
#include "image/FatVolumeBuilder.h"
#include "image/ImageBuilder.h"

namespace {

using moravel::WriteLe16;
using moravel::image::Bytes;
using moravel::image::Content;
using moravel::image::FatVolumeBuilder;
using moravel::image::FileLayout;
using moravel::image::ImageFile;
using moravel::image::PartitionEntry;
using moravel::image::PartitionSector;
using moravel::image::VolumeLayout;
namespace entry = moravel::layout::entry;
namespace partition = moravel::layout::partition;

constexpr std::uint64_t kSectorBytes = 512;

// The disk's geometry as a BIOS of the time reports a large disk.
constexpr std::uint32_t kHeads = 255;
constexpr std::uint32_t kSectorsPerTrack = 63;
constexpr std::uint32_t kCylinderSectors = kHeads * kSectorsPerTrack;  // 16,065

// The partitions, in sectors. Sizes are whole cylinders (or, for the logical
// volume, whole cylinders less the track its extended boot record takes), so
// each volume is a whole number of tracks, as partitioning tools of the time
// laid them out.
constexpr std::uint32_t kRecordingsStart = 2048;
constexpr std::uint32_t kRecordingsSectors = 5222 * kCylinderSectors;  // about 40 GiB
constexpr std::uint32_t kSettingsStart = kRecordingsStart + kRecordingsSectors;
constexpr std::uint32_t kSettingsSectors = 8 * kCylinderSectors;  // about 63 MiB
constexpr std::uint32_t kExtendedStart = kSettingsStart + kSettingsSectors;
constexpr std::uint32_t kExtendedSectors = 6 * kCylinderSectors;
constexpr std::uint32_t kLogicalOffset = kSectorsPerTrack;  // from the extended boot record
constexpr std::uint32_t kLogicalSectors = kExtendedSectors - kLogicalOffset;
constexpr std::uint64_t kDiskSectors = std::uint64_t{kExtendedStart} + kExtendedSectors;

constexpr std::uint8_t kTypeFat32Lba = 0x0C;
constexpr std::uint8_t kTypeFat16 = 0x06;
constexpr std::uint8_t kTypeExtended = 0x05;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// The cylinder/head/sector bytes of a partition entry for an absolute sector;
// past cylinder 1023 the fields hold the largest address, as partitioning tools
// write them for disks the CHS scheme cannot reach.
struct ChsBytes {
    std::uint8_t head;
    std::uint8_t sector;  // bits 0-5 sector, bits 6-7 cylinder bits 8-9
    std::uint8_t cylinder;
};

ChsBytes ChsOf(std::uint64_t lba) {
    std::uint64_t cylinder = lba / kCylinderSectors;
    std::uint64_t head = lba / kSectorsPerTrack % kHeads;
    std::uint64_t sector = lba % kSectorsPerTrack + 1;
    if (cylinder > 1023) {
        cylinder = 1023;
        head = kHeads - 1;
        sector = kSectorsPerTrack;
    }
    return {static_cast<std::uint8_t>(head),
            static_cast<std::uint8_t>(sector | ((cylinder >> 2) & 0xC0)),
            static_cast<std::uint8_t>(cylinder & 0xFF)};
}

// An entry of a boot record's table; lba is the value stored (relative to the
// record for a logical volume), absolute the sector the CHS address names.
PartitionEntry Entry(std::uint8_t type, std::uint32_t lba, std::uint32_t sectors,
                     std::uint64_t absolute) {
    const ChsBytes start = ChsOf(absolute);
    PartitionEntry entry;
    entry.type = type;
    entry.lba = lba;
    entry.sectors = sectors;
    entry.head = start.head;
    entry.sector = start.sector;
    entry.cylinder = start.cylinder;
    return entry;
}

// The end address of table slot `slot`, which the record builder leaves empty.
void SetEndChs(Bytes& record, std::size_t slot, std::uint64_t lastSector) {
    const ChsBytes end = ChsOf(lastSector);
    const std::size_t at = partition::EntryOffset(slot);
    record[at + partition::kEndHead] = end.head;
    record[at + partition::kEndSector] = end.sector;
    record[at + partition::kEndCylinder] = end.cylinder;
}

// Dates and times as directory entries hold them: the builder leaves them zero,
// which real tools show as an impossible 1980-00-00.
struct Stamp {
    std::uint16_t date;
    std::uint16_t time;
};

constexpr Stamp StampOf(int year, int month, int day, int hour, int minute) {
    return {static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day),
            static_cast<std::uint16_t>((hour << 11) | (minute << 5))};
}

// Stamps by 11-byte short name; entries not named get the fallback.
struct Stamps {
    std::map<std::string, Stamp> byName;
    Stamp fallback;
};

// Sets the creation, access and write dates of every short entry in a stretch of
// directory (long-name entries, free and deleted slots are left alone).
void StampDirectory(const ImageFile& image, std::uint64_t offset, std::size_t bytes,
                    const Stamps& stamps) {
    Bytes entries = image.Read(offset, bytes);
    for (std::size_t at = 0; at + entry::kSize <= entries.size(); at += entry::kSize) {
        const std::uint8_t first = entries[at + entry::kName];
        const std::uint8_t attributes = entries[at + entry::kAttributes];
        if (first == entry::kEndOfDirectory || first == entry::kDeleted ||
            (attributes & entry::kAttributeLongName) == entry::kAttributeLongName) {
            continue;
        }
        const auto name = static_cast<long>(at + entry::kName);
        const auto found = stamps.byName.find(
            std::string(entries.begin() + name,
                        entries.begin() + name + static_cast<long>(entry::kShortNameLength)));
        const Stamp stamp = found != stamps.byName.end() ? found->second : stamps.fallback;
        WriteLe16(entries, at + entry::kCreateTime, stamp.time);
        WriteLe16(entries, at + entry::kCreateDate, stamp.date);
        WriteLe16(entries, at + entry::kAccessDate, stamp.date);
        WriteLe16(entries, at + entry::kWriteTime, stamp.time);
        WriteLe16(entries, at + entry::kWriteDate, stamp.date);
    }
    image.Write(offset, entries);
}

// Stamps the entries of every directory of a volume: the fixed root of FAT12/16
// (rootSectors before the data region) and each cluster of the listed directories.
void StampVolume(const ImageFile& image, std::uint64_t partitionStart,
                 const FatVolumeBuilder& volume, std::uint32_t sectorsPerCluster,
                 std::uint32_t rootSectors, const std::vector<FatVolumeBuilder::Directory>& folders,
                 const Stamps& stamps) {
    const std::uint64_t base = partitionStart * kSectorBytes;
    if (rootSectors != 0) {
        StampDirectory(image, base + (volume.DataStart() - rootSectors) * kSectorBytes,
                       rootSectors * kSectorBytes, stamps);
    }
    for (const auto folder : folders) {
        for (const std::uint32_t cluster : volume.DirectoryClusters(folder)) {
            const std::uint64_t sector =
                volume.DataStart() + std::uint64_t{cluster - 2} * sectorsPerCluster;
            StampDirectory(image, base + sector * kSectorBytes, volume.ClusterBytes(), stamps);
        }
    }
}

FileLayout Recording(const std::string& shortName, const std::string& longName,
                     std::uint64_t size) {
    FileLayout file;
    file.shortName = shortName;
    file.longName = longName;
    file.size = size;
    file.content = Content::Ends;
    return file;
}

FileLayout SmallFile(const std::string& shortName, const std::string& longName,
                     std::uint64_t size) {
    FileLayout file;
    file.shortName = shortName;
    file.longName = longName;
    file.size = size;
    file.content = Content::Full;
    return file;
}

// The recordings volume: 32 KiB clusters, two folders.
void WriteRecordings(const ImageFile& image) {
    VolumeLayout layout;
    layout.fatBits = 32;
    layout.totalSectors = kRecordingsSectors;
    layout.sectorsPerCluster = 64;
    layout.reservedSectors = 32;
    layout.serial = 0x20040517;
    FatVolumeBuilder volume(layout);
    volume.AddVolumeLabel("RECORDINGS ");

    const auto records = volume.AddDirectory(volume.Root(), "RECORDS    ");
    volume.AddFile(records,
                   Recording("EVENIN~1TS ", "Evening News 2004-05-17.ts", 734 * kMiB + 4'123));
    // Longer than 4 GiB: the directory entry keeps 705,032,704 bytes.
    volume.AddFile(records, Recording("FILMNI~1TS ", "Film Night 2004-05-15.ts", 5'000'000'000));
    volume.AddFile(records, Recording("NEWS0518TS ", "", 350 * kMiB + 17));
    volume.AddFile(records, Recording("NATURE~1TS ", "Nature 2004-05-16.ts", 1 * kGiB + 1'000));

    const auto archive = volume.AddDirectory(volume.Root(), "ARCHIV~1   ", "Archive 2003");
    // Longer than 8 GiB: two wraps of the 32-bit size.
    volume.AddFile(archive, Recording("MARATH~1TS ", "Marathon 2003-10-12.ts", 9'000'000'000));
    volume.AddFile(archive, Recording("TRAILER TS ", "", 12 * kMiB + 345));

    volume.Write(image, kRecordingsStart);
    const Stamps stamps{{{"EVENIN~1TS ", StampOf(2004, 5, 17, 19, 58)},
                         {"FILMNI~1TS ", StampOf(2004, 5, 15, 20, 13)},
                         {"NEWS0518TS ", StampOf(2004, 5, 18, 7, 0)},
                         {"NATURE~1TS ", StampOf(2004, 5, 16, 18, 28)},
                         {"MARATH~1TS ", StampOf(2003, 10, 12, 8, 55)},
                         {"TRAILER TS ", StampOf(2003, 12, 24, 16, 40)}},
                        StampOf(2003, 9, 1, 12, 0)};
    StampVolume(image, kRecordingsStart, volume, layout.sectorsPerCluster, 0,
                {volume.Root(), records, archive}, stamps);
}

// The settings volume: FAT16 with 2 KiB clusters and small files written whole.
void WriteSettings(const ImageFile& image) {
    VolumeLayout layout;
    layout.fatBits = 16;
    layout.totalSectors = kSettingsSectors;
    layout.sectorsPerCluster = 4;
    layout.reservedSectors = 1;
    layout.rootEntries = 512;
    layout.serial = 0x20040518;
    FatVolumeBuilder volume(layout);
    volume.AddVolumeLabel("SETTINGS   ");

    const auto system = volume.AddDirectory(volume.Root(), "SYSTEM     ");
    volume.AddFile(system, SmallFile("CHANNELSDAT", "", 12'345));
    volume.AddFile(system, SmallFile("TIMERS  DAT", "", 2'048));
    volume.AddFile(system, SmallFile("FAVOUR~1DAT", "Favourite channels.dat", 777));
    volume.AddFile(volume.Root(), SmallFile("DISKINFOBIN", "", 512));

    volume.Write(image, kSettingsStart);
    const Stamps stamps{{{"CHANNELSDAT", StampOf(2004, 5, 2, 21, 4)},
                         {"TIMERS  DAT", StampOf(2004, 5, 17, 18, 30)},
                         {"FAVOUR~1DAT", StampOf(2004, 4, 11, 10, 12)},
                         {"DISKINFOBIN", StampOf(2003, 9, 1, 12, 0)}},
                        StampOf(2003, 9, 1, 12, 0)};
    StampVolume(image, kSettingsStart, volume, layout.sectorsPerCluster,
                layout.rootEntries * 32u / 512, {system}, stamps);
}

// The logical volume inside the extended partition.
void WriteSpare(const ImageFile& image) {
    VolumeLayout layout;
    layout.fatBits = 16;
    layout.totalSectors = kLogicalSectors;
    layout.sectorsPerCluster = 4;
    layout.reservedSectors = 1;
    layout.rootEntries = 512;
    layout.serial = 0x20040519;
    FatVolumeBuilder volume(layout);
    volume.AddVolumeLabel("SPARE      ");

    const auto backup = volume.AddDirectory(volume.Root(), "BACKUP     ");
    volume.AddFile(backup, SmallFile("SETTINGSBAK", "", 4'096));
    volume.AddFile(backup, SmallFile("CHANNE~1BAK", "Channels 2004-05-01.bak", 12'000));

    const std::uint64_t start = std::uint64_t{kExtendedStart} + kLogicalOffset;
    volume.Write(image, start);
    const Stamps stamps{
        {{"SETTINGSBAK", StampOf(2004, 5, 1, 9, 30)}, {"CHANNE~1BAK", StampOf(2004, 5, 1, 9, 31)}},
        StampOf(2003, 9, 1, 12, 0)};
    StampVolume(image, start, volume, layout.sectorsPerCluster, layout.rootEntries * 32u / 512,
                {backup}, stamps);
}

void WritePartitionTables(const ImageFile& image) {
    Bytes mbr = PartitionSector({
        Entry(kTypeFat32Lba, kRecordingsStart, kRecordingsSectors, kRecordingsStart),
        Entry(kTypeFat16, kSettingsStart, kSettingsSectors, kSettingsStart),
        Entry(kTypeExtended, kExtendedStart, kExtendedSectors, kExtendedStart),
    });
    SetEndChs(mbr, 0, std::uint64_t{kRecordingsStart} + kRecordingsSectors - 1);
    SetEndChs(mbr, 1, std::uint64_t{kSettingsStart} + kSettingsSectors - 1);
    SetEndChs(mbr, 2, std::uint64_t{kExtendedStart} + kExtendedSectors - 1);
    image.WriteSector(0, mbr);

    // One logical volume: the first (and last) extended boot record links no further.
    const std::uint64_t logical = std::uint64_t{kExtendedStart} + kLogicalOffset;
    Bytes ebr = PartitionSector({Entry(kTypeFat16, kLogicalOffset, kLogicalSectors, logical)});
    SetEndChs(ebr, 0, logical + kLogicalSectors - 1);
    image.WriteSector(kExtendedStart, ebr);
}

bool IsOtherThanRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]).empty() || std::string(argv[1])[0] == '-') {
        std::fprintf(stderr,
                     "usage: moravel-make-sample-disk OUTPUT.img\n"
                     "Writes a sample recorder disk (a sparse image file).\n");
        return 2;
    }
    const std::string path = argv[1];
    // Only ever an image file of its own: never a device or anything else.
    if (IsOtherThanRegularFile(path)) {
        std::fprintf(stderr, "moravel-make-sample-disk: %s exists and is not a regular file\n",
                     path.c_str());
        return 1;
    }
    try {
        const ImageFile image(path, kDiskSectors * kSectorBytes);
        WritePartitionTables(image);
        WriteRecordings(image);
        WriteSettings(image);
        WriteSpare(image);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "moravel-make-sample-disk: %s\n", error.what());
        return 1;
    }
    std::printf("%s: %llu sectors (sparse)\n", path.c_str(),
                static_cast<unsigned long long>(kDiskSectors));
    std::printf("  FAT32 (0x0C) at sector %u, %u sectors: RECORDS, Archive 2003\n",
                kRecordingsStart, kRecordingsSectors);
    std::printf("  FAT16 (0x06) at sector %u, %u sectors: SYSTEM\n", kSettingsStart,
                kSettingsSectors);
    std::printf("  extended (0x05) at sector %u; logical FAT16 at sector %llu: BACKUP\n",
                kExtendedStart,
                static_cast<unsigned long long>(std::uint64_t{kExtendedStart} + kLogicalOffset));
    return 0;
}
