#include "CliTestImages.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace moravel::testing {

namespace {

VolumeLayout Fat32Layout(std::uint32_t totalSectors, std::uint8_t sectorsPerCluster) {
    VolumeLayout layout;
    layout.fatBits = 32;
    layout.totalSectors = totalSectors;
    layout.sectorsPerCluster = sectorsPerCluster;
    return layout;
}

// A partition table entry whose start also carries its cylinder/head/sector
// address, in the translated geometry of a hard disk (255 heads, 63 sectors a
// track), as partitioning tools write it: reads through the BIOS services
// address sectors from it.
PartitionEntry Entry(std::uint8_t type, std::uint32_t lba, std::uint32_t sectors) {
    constexpr std::uint32_t kHeads = 255;
    constexpr std::uint32_t kSectorsPerTrack = 63;
    const std::uint32_t cylinder = lba / (kHeads * kSectorsPerTrack);
    PartitionEntry entry;
    entry.type = type;
    entry.lba = lba;
    entry.sectors = sectors;
    entry.head = static_cast<std::uint8_t>(lba / kSectorsPerTrack % kHeads);
    entry.sector = static_cast<std::uint8_t>(lba % kSectorsPerTrack + 1 + ((cylinder >> 2) & 0xC0));
    entry.cylinder = static_cast<std::uint8_t>(cylinder & 0xFF);
    return entry;
}

}  // namespace

RecorderDisk::RecorderDisk(const TempDir& dir) : path(dir.File("recorder.img")) {
    const ImageFile image(path, std::uint64_t{kDiskSectors} * 512);
    image.WriteSector(0, PartitionSector({
                             Entry(0x0C, kFat32Start, kFat32Sectors),
                             Entry(0x06, kFat16Start, kFat16Sectors),
                             Entry(0x05, kExtendedStart, kLogicalOffset + kFat12Sectors),
                             Entry(0x83, kUnknownStart, 1024),
                         }));
    // The extended boot record: one logical partition, no link to another. Its
    // start is counted from the record; its address is the absolute one.
    PartitionEntry logical = Entry(0x01, kExtendedStart + kLogicalOffset, kFat12Sectors);
    logical.lba = kLogicalOffset;
    image.WriteSector(kExtendedStart, PartitionSector({logical}));

    FatVolumeBuilder fat32(Fat32Layout(kFat32Sectors, 64));
    const auto records = fat32.AddDirectory(fat32.Root(), "RECORDS    ");
    fat32.AddDirectory(fat32.Root(), "LONGFO~1   ", "Long folder name");
    FileLayout movie = FileEntry("MOVIE   TS ", kMovieSize, "Movie.ts");
    movie.content = Content::Ends;
    movieSeed = fat32.AddFile(records, movie);
    fat32.AddFile(records, FileEntry("VIDEO~1 MPG", 2000, "VIDEO.MPG"));
    fat32.AddFile(records, FileEntry("VIDEO   MPG", 1280));
    fat32.AddFile(records, FileEntry("SAMENA~1TS ", 100, "Same name.ts"));
    fat32.AddFile(records, FileEntry("SAMENA~2TS ", 200, "Same name.ts"));
    fat32.AddFile(records, FileEntry("CAF~1   TS ", 1023, "Caf\u00E9 \u20AC.ts"));
    fat32.AddFile(records, FileEntry("R\x90SUM\x90  TXT", 1048576));
    fat32.AddFile(records, FileEntry("AB~1       ", 5, "a/b"));
    const auto sub = fat32.AddDirectory(records, "SUB        ");
    fat32.AddFile(sub, FileEntry("DEEPFI~1BIN", 4096, "Deep file.bin"));
    fat32.Write(image, kFat32Start);
    movieFirstCluster = fat32.FileClusters(movieSeed).front();
    recordsFirstCluster = fat32.DirectoryClusters(records).front();

    VolumeLayout layout16;
    layout16.fatBits = 16;
    layout16.totalSectors = kFat16Sectors;
    layout16.sectorsPerCluster = 4;
    layout16.reservedSectors = 4;
    FatVolumeBuilder fat16(layout16);
    fat16.AddVolumeLabel("RECORDER   ");
    fat16.AddFile(fat16.Root(), FileEntry("NOTES   TXT", 1792));
    const auto docs = fat16.AddDirectory(fat16.Root(), "DOCS       ");
    fat16.AddFile(docs, FileEntry("README~1TXT", 10, "Readme.txt"));
    fat16.Write(image, kFat16Start);

    VolumeLayout layout12 = FloppyLayout();
    layout12.heads = 255;  // a partition of a hard disk: the disk's geometry
    layout12.sectorsPerTrack = 63;
    FatVolumeBuilder fat12(layout12);
    fat12.AddFile(fat12.Root(), FileEntry("SMALL   DAT", 1024));
    fat12.Write(image, kExtendedStart + kLogicalOffset);
}

CopyDisk::CopyDisk(const TempDir& dir) : path(dir.File("copy-source.img")) {
    constexpr std::uint32_t kStart = 2048;
    constexpr std::uint32_t kSectors = 70'000;
    const ImageFile image(path, (kStart + std::uint64_t{kSectors}) * 512);
    image.WriteSector(0, PartitionSector({Entry(0x0C, kStart, kSectors)}));
    FatVolumeBuilder fat32(Fat32Layout(kSectors, 1));
    const auto records = fat32.AddDirectory(fat32.Root(), "RECORDS    ");
    movieSeed = fat32.AddFile(records, FileEntry("MOVIE   TS ", kMovieSize, "Movie.ts"));
    FileLayout sparse = FileEntry("SPARSE  TS ", kSparseSize, "Sparse.ts");
    sparse.content = Content::Ends;
    sparseSeed = fat32.AddFile(records, sparse);
    cafeSeed = fat32.AddFile(records, FileEntry("CAF~1   TS ", kCafeSize, "Caf\u00E9 \u20AC.ts"));
    fat32.AddFile(records, FileEntry("AB~1       ", 700, "a/b"));
    trailerSeed = fat32.AddFile(records, FileEntry("TRAILER TS ", kTrailerSize));
    fat32.Write(image, kStart);
    if (fat32.ClusterBytes() != kClusterBytes) {
        throw std::logic_error("the copy disk's clusters are not 512 bytes");
    }
}

Bytes ExpectedContent(std::uint32_t seed, std::uint64_t size, Content content,
                      std::uint32_t clusterBytes) {
    Bytes bytes(static_cast<std::size_t>(size));
    const std::uint64_t lastStart = size == 0 ? 0 : (size - 1) / clusterBytes * clusterBytes;
    for (std::uint64_t o = 0; o < size; ++o) {
        if (content == Content::Full || o < clusterBytes || o >= lastStart) {
            bytes[static_cast<std::size_t>(o)] = ContentByte(seed, o);
        }
    }
    return bytes;
}

std::string MakeFloppy(const TempDir& dir) {
    const std::string path = dir.File("floppy.img");
    const ImageFile image(path, 2880 * 512);
    FatVolumeBuilder floppy(FloppyLayout());
    floppy.AddFile(floppy.Root(), FileEntry("FLOPPY  TXT", 300));
    floppy.Write(image, 0);
    return path;
}

std::string MakeDiskWithMissingDirectoryCluster(const TempDir& dir) {
    const std::string path = dir.File("check-missing_directory_cluster.img");
    constexpr std::uint32_t kStart = 2048;
    const ImageFile image(path, (kStart + 70'000ull) * 512);
    image.WriteSector(0, PartitionSector({Entry(0x0C, kStart, 70'000)}));
    FatVolumeBuilder fat32(Fat32Layout(70'000, 1));
    const auto broken = fat32.AddDirectory(fat32.Root(), "BROKEN     ");
    fat32.AddFile(broken, FileEntry("LOST    TS ", 5000));
    fat32.AddFile(fat32.Root(), FileEntry("KEPT    TS ", 700));
    fat32.Write(image, kStart);
    // Everything from the folder's cluster on is gone.
    const std::uint32_t cluster = fat32.DirectoryClusters(broken).front();
    image.Truncate((kStart + fat32.DataStart() + std::uint64_t{cluster} - 2) * 512);
    return path;
}

std::string MakeDiskWithDirectoryLoop(const TempDir& dir) {
    const std::string path = dir.File("check-directory_loop.img");
    constexpr std::uint32_t kStart = 2048;
    const ImageFile image(path, (kStart + 70'000ull) * 512);
    image.WriteSector(0, PartitionSector({Entry(0x0C, kStart, 70'000)}));
    FatVolumeBuilder fat32(Fat32Layout(70'000, 1));
    const auto loop = fat32.AddDirectory(fat32.Root(), "LOOPDIR    ");
    // The root takes cluster 2 and LOOPDIR the next one, as clusters are handed
    // out in the order things were added; checked after writing.
    constexpr std::uint32_t kLoopCluster = 3;
    fat32.AddRawEntry(loop, ShortEntry("BACK       ", 0x10, kLoopCluster, 0));
    fat32.Write(image, kStart);
    if (fat32.DirectoryClusters(loop).front() != kLoopCluster) {
        throw std::logic_error("LOOPDIR is not where the loop points");
    }
    return path;
}

CliRun RunList(const std::vector<std::string>& args, bool progressLine) {
    cli::CliEnvironment environment;
    environment.progressLine = progressLine;
    return RunIn(args, environment);
}

CliRun RunIn(const std::vector<std::string>& args, const cli::CliEnvironment& environment) {
    std::ostringstream out;
    std::ostringstream err;
    CliRun run;
    run.status = cli::RunCli(args, out, err, environment);
    run.out = out.str();
    run.err = err.str();
    return run;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace moravel::testing
