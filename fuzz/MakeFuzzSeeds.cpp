// moravel-make-fuzz-seeds FOLDER
//
// Writes the seed inputs of every fuzz harness into FOLDER/<harness>/: recorder
// disks made by the image builder (a FAT12 floppy, FAT16 and FAT32 partitions,
// an extended partition with logical volumes, long names, deleted entries, a
// chain longer than 4 GiB) in the record form that the harnesses read (every
// sector that holds anything, by number), and hand-made directories and FATs for
// the harnesses that take those directly.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MemoryDisk.h"
#include "copy/RescueMap.h"
#include "disk/ByteOrder.h"
#include "disk/DiskLayout.h"
#include "image/FatVolumeBuilder.h"
#include "image/ImageBuilder.h"

namespace {

namespace fs = std::filesystem;
using moravel::FormatRescueMap;
using moravel::RescueMap;
using moravel::RescueMapFile;
using moravel::RescuePass;
using moravel::RescueState;
using moravel::WriteLe32;
using moravel::fuzz::kFuzzDiskBytes;
using moravel::fuzz::MemoryDisk;
using moravel::fuzz::RecordsOf;
using namespace moravel::image;
namespace layout = moravel::layout;

fs::path g_out;
fs::path g_scratch;

void Save(const std::string& harness, const std::string& name, const Bytes& bytes) {
    const fs::path folder = g_out / harness;
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + (folder / name).string());
    }
}

// The sectors of a sparse image that hold data, up to the fuzz disk's size.
MemoryDisk DiskOf(const ImageFile& image) {
    MemoryDisk disk(kFuzzDiskBytes);
    const int fd = ::open(image.Path().c_str(), O_RDONLY);
    if (fd < 0) {
        throw std::runtime_error("cannot read " + image.Path());
    }
    off_t at = 0;
    const auto end = static_cast<off_t>(kFuzzDiskBytes);
    while (at < end && (at = ::lseek(fd, at, SEEK_DATA)) >= 0 && at < end) {
        const off_t hole = std::min<off_t>(::lseek(fd, at, SEEK_HOLE), end);
        for (off_t sector = at / 512 * 512; sector < hole; sector += 512) {
            Bytes bytes(512);
            if (::pread(fd, bytes.data(), 512, sector) > 0) {
                disk.Put(static_cast<std::uint64_t>(sector) / 512, bytes);
            }
        }
        at = hole;
    }
    ::close(fd);
    return disk;
}

Bytes Records(const ImageFile& image) {
    return RecordsOf(DiskOf(image));
}

ImageFile Scratch(const std::string& name, std::uint64_t bytes) {
    return ImageFile((g_scratch / (name + ".img")).string(), bytes);
}

// A few entries of every sort a recorder's folder holds: long names, a folder, a
// deleted entry and a label.
void FillVolume(FatVolumeBuilder& volume) {
    const auto records = volume.AddDirectory(volume.Root(), "RECORDS    ", "Recordings");
    volume.AddFile(records, FileEntry("MOVIE~1 TS ", 1500, "Movie of the week.ts"));
    volume.AddFile(records, FileEntry("NEWS    TS ", 700));
    const auto inner = volume.AddDirectory(records, "OLD        ");
    volume.AddFile(inner,
                   FileEntry("A       TXT", 20, "a rather long file name for one entry.txt"));
    volume.AddFile(volume.Root(), FileEntry("SETTINGSDAT", 300));
    Bytes deleted = ShortEntry("GONE    TS ", 0x20, 3, 4000);
    deleted[layout::entry::kName] = layout::entry::kDeleted;
    volume.AddRawEntry(volume.Root(), deleted);
    volume.AddVolumeLabel("RECORDER   ");
}

VolumeLayout Layout(int bits, std::uint32_t sectors, std::uint8_t sectorsPerCluster,
                    std::uint16_t reserved) {
    VolumeLayout layout;
    layout.fatBits = bits;
    layout.totalSectors = sectors;
    layout.sectorsPerCluster = sectorsPerCluster;
    layout.reservedSectors = reserved;
    return layout;
}

// A recorder's disk: FAT16 and FAT32 primaries, an extended partition with two
// logical FAT16 volumes linked by extended boot records.
Bytes RecorderDisk(bool partitionsOnly) {
    const ImageFile image = Scratch("recorder", kFuzzDiskBytes);
    constexpr std::uint32_t kFat16Start = 63, kFat16Sectors = 32000;
    constexpr std::uint32_t kFat32Start = 34816, kFat32Sectors = 300000;
    constexpr std::uint32_t kExtended = 340000, kExtendedSectors = 160000;
    constexpr std::uint32_t kLogical = 63, kLogicalSectors = 60000;
    constexpr std::uint32_t kSecondLink = 80000;
    image.WriteSector(0, PartitionSector({{0x06, kFat16Start, kFat16Sectors},
                                          {0x0C, kFat32Start, kFat32Sectors},
                                          {0x0F, kExtended, kExtendedSectors}}));
    image.WriteSector(kExtended, PartitionSector({{0x06, kLogical, kLogicalSectors},
                                                  {0x05, kSecondLink, 70000}}));
    image.WriteSector(kExtended + kSecondLink,
                      PartitionSector({{0x0E, kLogical, kLogicalSectors}}));
    if (!partitionsOnly) {
        FatVolumeBuilder fat16(Layout(16, kFat16Sectors, 4, 1));
        FillVolume(fat16);
        fat16.Write(image, kFat16Start);
        FatVolumeBuilder fat32(Layout(32, kFat32Sectors, 8, 32));
        FillVolume(fat32);
        fat32.Write(image, kFat32Start);
        FatVolumeBuilder logical(Layout(16, kLogicalSectors, 2, 1));
        logical.AddFile(logical.Root(), FileEntry("LOGICAL TXT", 100, "On a logical volume.txt"));
        logical.Write(image, kExtended + kLogical);
        FatVolumeBuilder second(Layout(16, kLogicalSectors, 2, 1));
        second.AddFile(second.Root(), FileEntry("SECOND  TXT", 50));
        second.Write(image, kExtended + kSecondLink + kLogical);
    }
    return Records(image);
}

// A 1.44 MB floppy: the disk's first sector is the FAT12 boot sector.
Bytes FloppyDisk() {
    const ImageFile image = Scratch("floppy", 2880 * 512);
    FatVolumeBuilder floppy(FloppyLayout());
    FillVolume(floppy);
    floppy.Write(image, 0);
    return Records(image);
}

// A recording of 4 GiB and more in a FAT16 folder of 255-sector clusters: its
// directory entry holds the size modulo 4 GiB, its chain of 32,897 clusters the
// rest. Its clusters are left empty: the chain is what counts.
Bytes LargeFileDisk() {
    const ImageFile image = Scratch("large-file", 5ull << 30);
    constexpr std::uint32_t kStart = 2048;
    image.WriteSector(0, PartitionSector({{0x06, kStart, 9'000'000}}));
    VolumeLayout layout = Layout(16, 9'000'000, 255, 1);
    FatVolumeBuilder volume(layout);
    const auto folder = volume.AddDirectory(volume.Root(), "RECORDS    ");
    FileLayout movie = FileEntry("BIG     TS ", (4ull << 30) + 1000, "A long recording.ts");
    movie.content = Content::Ends;
    const std::uint32_t seed = volume.AddFile(folder, movie);
    volume.Write(image, kStart);
    const std::uint64_t clusterBytes = volume.ClusterBytes();
    for (const std::uint32_t cluster :
         {volume.FileClusters(seed).front(), volume.FileClusters(seed).back()}) {
        image.Write(
            (kStart + std::uint64_t{volume.DataStart()}) * 512 + (cluster - 2ull) * clusterBytes,
            Bytes(clusterBytes, 0));
    }
    // The second FAT is read only where the first cannot be: on a memory disk, never.
    image.Write((kStart + 1ull + volume.SectorsPerFat()) * 512,
                Bytes(std::uint64_t{volume.SectorsPerFat()} * 512, 0));
    return Records(image);
}

// A FAT32 volume that claims more sectors than the disk has, with a recording
// whose second half lies beyond the disk's end: a copy of it fills those sectors
// and must say so.
Bytes RecordingBeyondTheDiskEnd() {
    constexpr std::uint32_t kStart = 2048;
    constexpr std::uint32_t kSectors = 1'000'000;
    const ImageFile image = Scratch("beyond-the-end", (kStart + std::uint64_t{kSectors}) * 512);
    image.WriteSector(0, PartitionSector({{0x0C, kStart, kSectors}}));
    FatVolumeBuilder volume(Layout(32, kSectors, 8, 32));
    // The cluster in which the disk ends, and ten on either side of it.
    const auto diskSectors = static_cast<std::uint32_t>(kFuzzDiskBytes / 512);
    const std::uint32_t last = (diskSectors - kStart - volume.DataStart()) / 8 + 2;
    FileLayout movie = FileEntry("CUT     TS ", 20 * 4096, "Cut at the end of the disk.ts");
    movie.content = Content::Ends;
    movie.clusters.emplace();
    for (std::uint32_t c = last - 10; c < last + 10; ++c) {
        movie.clusters->push_back(c);
    }
    volume.AddFile(volume.Root(), movie);
    volume.Write(image, kStart);
    return Records(image);
}

// A FAT32 volume whose boot sector claims a FAT of 250,000 sectors (122 MiB a
// copy) for 2,000 clusters, whose entries take 16 sectors: a FAT far larger than
// its clusters need, as formatters leave one. Only its used part is read.
Bytes FatFarLargerThanItsClustersNeed() {
    constexpr std::uint32_t kStart = 2048, kReserved = 32, kPerFat = 250'000;
    constexpr std::uint32_t kDataStart = kReserved + 2 * kPerFat;
    constexpr std::uint32_t kSectors = kDataStart + 8 * 2000;
    const ImageFile image = Scratch("spare-fat", kFuzzDiskBytes);
    image.WriteSector(0, PartitionSector({{0x0C, kStart, kSectors}}));
    BootParameters boot;
    boot.fat32 = true;
    boot.sectorsPerCluster = 8;
    boot.reservedSectors = kReserved;
    boot.totalSectors = kSectors;
    boot.sectorsPerFat = kPerFat;
    boot.hiddenSectors = kStart;
    image.WriteSector(kStart, BootSectorBytes(boot));
    image.WriteSector(kStart + 1, FsInfoSector());
    FatTable fat(32, 128);
    fat.Chain({2});
    fat.Chain({3});
    fat.Chain({4, 5, 6});
    image.WriteSector(kStart + kReserved, fat.Data());
    image.WriteSector(kStart + kReserved + kPerFat, fat.Data());
    const auto cluster = [](std::uint32_t c) {
        return (kStart + kDataStart + (c - 2) * 8ull) * 512;
    };
    image.Write(cluster(2), DirectorySectors({ShortEntry("RECORDS    ", 0x10, 3, 0),
                                              ShortEntry("MOVIE   TS ", 0x20, 4, 10'000)}));
    image.Write(cluster(3), DirectorySectors({ShortEntry(".          ", 0x10, 3, 0),
                                              ShortEntry("..         ", 0x10, 0, 0)}));
    image.Write(cluster(4), Bytes(10'000, 0x47));
    return Records(image);
}

// A volume at sector 2048 as the volume harness takes it: its partition type,
// its boot sector, then the records of the rest of the disk.
Bytes VolumeInput(std::uint8_t type, int bits, std::uint32_t sectors, std::uint8_t perCluster) {
    const bool floppy = type == 0;
    const std::uint32_t start = floppy ? 0 : 2048;
    const ImageFile image = Scratch("volume", kFuzzDiskBytes);
    FatVolumeBuilder volume(floppy ? FloppyLayout() : Layout(bits, sectors, perCluster, 32));
    FillVolume(volume);
    volume.Write(image, start);
    MemoryDisk disk = DiskOf(image);
    Bytes input(513);
    input[0] = type;
    const auto& boot = disk.Sectors().at(start);
    std::copy(boot.begin(), boot.end(), input.begin() + 1);
    disk.Put(start, Bytes(512, 0));
    const Bytes rest = RecordsOf(disk);
    input.insert(input.end(), rest.begin(), rest.end());
    return input;
}

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Directory entries as the directory harnesses take them, padded to the size of
// the directory they fill, then FAT bytes.
Bytes DirectoryInput(std::vector<Bytes> entries, std::size_t directoryBytes, const Bytes& fat) {
    Bytes input = Concat(entries);
    input.resize(directoryBytes, 0);
    input.insert(input.end(), fat.begin(), fat.end());
    return input;
}

std::vector<Bytes> WithLongName(const std::string& name, const std::string& shortName,
                                std::uint8_t attributes, std::uint32_t cluster,
                                std::uint32_t size) {
    std::vector<Bytes> entries = LongNameEntries(name, ShortNameChecksum(shortName));
    entries.push_back(ShortEntry(shortName, attributes, cluster, size));
    return entries;
}

void DirectorySeeds() {
    // The fixed root: 64 entries, then the FAT16 table from cluster 0 on.
    FatTable fat16(16, 256);
    fat16.Set(0, 0xFFF8);
    fat16.Set(1, 0xFFFF);
    fat16.Chain({2, 3, 4});
    fat16.Chain({5, 9, 7, 6});
    fat16.Chain({10});
    fat16.Set(20, 21);  // a chain that runs back on itself
    fat16.Set(21, 20);
    std::vector<Bytes> root = {ShortEntry("RECORDER   ", 0x08, 0, 0)};
    for (const Bytes& e : WithLongName("Movie of the week.ts", "MOVIE~1 TS ", 0x20, 2, 5000)) {
        root.push_back(e);
    }
    root.push_back(ShortEntry("FOLDER     ", 0x10, 10, 0));
    Bytes deleted = ShortEntry("GONE    TS ", 0x20, 5, 100);
    deleted[layout::entry::kName] = layout::entry::kDeleted;
    root.push_back(deleted);
    root.push_back(ShortEntry("LOOP    TS ", 0x20, 20, 3000));
    Save("fixed_root", "fat16-root-long-names", DirectoryInput(root, 2048, fat16.Data()));

    // A FAT32 root of 128 entries; the FAT from cluster 128 on.
    FatTable fat32(32, 512);
    fat32.Chain({128, 129, 130});
    fat32.Chain({140});
    fat32.Set(150, 151);
    fat32.Set(151, 150);
    std::vector<Bytes> chainRoot = {ShortEntry("RECORDER   ", 0x08, 0, 0)};
    for (const Bytes& e : WithLongName("Recordings of the year", "RECORD~1   ", 0x10, 140, 0)) {
        chainRoot.push_back(e);
    }
    for (const Bytes& e : WithLongName("News.ts", "NEWS    TS ", 0x20, 128, 1400)) {
        chainRoot.push_back(e);
    }
    chainRoot.push_back(ShortEntry("LOOP    TS ", 0x20, 150, 0xFFFFFFFF));
    chainRoot.push_back(ShortEntry(".          ", 0x10, 2, 0));
    Bytes orphan = LongNameEntries("orphan")[0];
    chainRoot.push_back(orphan);
    chainRoot.push_back(ShortEntry("HIGH    TS ", 0x20, 0x00010080, 10));
    const Bytes fatTail(fat32.Data().begin() + 512, fat32.Data().end());
    Save("chain_directory", "fat32-root-long-names", DirectoryInput(chainRoot, 4096, fatTail));
}

// A chain input: kind selector, first cluster, last cluster, the table.
Bytes ChainInput(std::uint8_t kind, std::uint32_t first, std::uint32_t last, const Bytes& fat) {
    Bytes input(9);
    input[0] = kind;
    WriteLe32(input, 1, first);
    WriteLe32(input, 5, last);
    input.insert(input.end(), fat.begin(), fat.end());
    return input;
}

void ChainSeeds() {
    FatTable fat12(12, 64);
    fat12.Chain({2, 3, 4, 10, 11});
    Save("chain", "fat12-linear", ChainInput(0, 2, 63, fat12.Data()));
    FatTable fat16(16, 300);
    std::vector<std::uint32_t> clusters;
    for (std::uint32_t c = 2; c < 290; ++c) {
        clusters.push_back(c);
    }
    fat16.Chain(clusters);
    fat16.Set(289, 100);  // the last cluster links back into the chain
    Save("chain", "fat16-loops-back", ChainInput(1, 2, 299, fat16.Data()));
    FatTable fat32(32, 64);
    fat32.Set(5, 0xF0000006);  // the reserved top bits set
    fat32.Set(6, 7);
    fat32.Set(7, 40);  // beyond the volume's last cluster
    Save("chain", "fat32-reserved-bits-and-range", ChainInput(2, 0x10000005, 30, fat32.Data()));
}

// Maps as a rescue leaves them: begun, in the middle of its passes, and done.
void RescueMapSeeds() {
    RescueMapFile file;
    file.source = {"Hard Disk 1 (/dev/sdb)", 2048, 494711, 12583257, 0x0123456789abcdefu};
    file.map = RescueMap(file.source.size);
    const auto save = [&](const std::string& name) {
        const std::string text = FormatRescueMap(file);
        Save("rescue_map", name, Bytes(text.begin(), text.end()));
    };
    save("begun");
    file.map.Mark(0, 1 << 20, RescueState::Copied);
    file.map.Mark(1 << 20, (1 << 20) + 512, RescueState::Bad);
    file.map.Mark((1 << 20) + 512, (2 << 20), RescueState::Trimmed);
    file.map.Mark(3 << 20, (3 << 20) + 4096, RescueState::Copied);
    file.pass = RescuePass::Scrape;
    file.position = (1 << 20) + 1024;
    save("scraping");
    file.map.Mark(0, file.source.size, RescueState::Copied);
    file.map.Mark(5000, 5512, RescueState::Bad);
    file.pass = RescuePass::Done;
    file.retriesDone = 1;
    save("done");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: moravel-make-fuzz-seeds FOLDER\n");
        return 2;
    }
    try {
        g_out = argv[1];
        g_scratch = g_out / "scratch";
        fs::create_directories(g_scratch);

        const Bytes partitions = RecorderDisk(true);
        Save("partition_table", "primaries-and-logical-volumes", partitions);
        const Bytes recorder = RecorderDisk(false);
        const Bytes floppy = FloppyDisk();
        const Bytes large = LargeFileDisk();
        const Bytes cut = RecordingBeyondTheDiskEnd();
        const Bytes spareFat = FatFarLargerThanItsClustersNeed();
        for (const char* harness : {"disk", "copy"}) {
            Save(harness, "fat32-fat-far-larger-than-its-clusters-need", spareFat);
            Save(harness, "fat32-recording-beyond-the-disk-end", cut);
            Save(harness, "recorder-fat16-fat32-logical", recorder);
            Save(harness, "floppy-fat12", floppy);
            Save(harness, "fat16-recording-over-4gib", large);
        }
        Save("volume", "floppy-fat12", VolumeInput(0, 12, 2880, 1));
        Save("volume", "fat16", VolumeInput(0x06, 16, 40000, 4));
        Save("volume", "fat32", VolumeInput(0x0C, 32, 100000, 1));
        Save("volume", "fat12-partition", VolumeInput(0x01, 12, 8000, 4));
        DirectorySeeds();
        ChainSeeds();
        RescueMapSeeds();
        fs::remove_all(g_scratch);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "moravel-make-fuzz-seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
