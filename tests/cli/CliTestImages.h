#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "support/TempDir.h"

namespace moravel::testing {

// A recorder's disk as a sparse image: an MBR with a FAT32 partition (type
// 0x0C), a FAT16 partition (0x06), an extended partition (0x05) holding one
// FAT12 logical partition, and a partition of a foreign type (0x83).
//
// FAT32 root:     RECORDS/ (folder, short name only), "Long folder name"/ (empty)
// RECORDS:        "Movie.ts" (4.5 GiB + 12345 bytes, only its ends written),
//                 "VIDEO.MPG" (a long name), "VIDEO   MPG" (short name only),
//                 "Same name.ts" twice, "Café €.ts" (a long name),
//                 "RÉSUMÉ  TXT" (short name with byte 0x90, code page 850), "a/b" (a long name
//                 holding a slash), SUB/ with "Deep file.bin"
// FAT16 root:     volume label, NOTES.TXT (1792 bytes), DOCS/ with "Readme.txt"
// FAT12 logical:  SMALL.DAT (1024 bytes)
struct RecorderDisk {
    static constexpr std::uint64_t kMovieSize = 4'831'838'208ull + 12'345;  // 4.5 GiB + 12345
    static constexpr std::uint32_t kFat32Start = 2048;
    static constexpr std::uint32_t kFat32Sectors = 9'600'000;
    static constexpr std::uint32_t kFat16Start = 9'602'048;
    static constexpr std::uint32_t kFat16Sectors = 40'960;
    static constexpr std::uint32_t kExtendedStart = 9'643'008;
    static constexpr std::uint32_t kLogicalOffset = 63;
    static constexpr std::uint32_t kFat12Sectors = 2880;
    static constexpr std::uint32_t kUnknownStart = 9'646'080;
    static constexpr std::uint32_t kDiskSectors = 9'647'104;

    explicit RecorderDisk(const TempDir& dir);

    std::string path;
    std::uint32_t movieFirstCluster = 0;
    std::uint32_t movieSeed = 0;  // for ContentByte
    std::uint32_t recordsFirstCluster = 0;
};

// A disk with one FAT32 partition of 512-byte clusters, whose files are small
// enough to be copied to real files in a test.
//
// RECORDS:  "Movie.ts" (100,003 bytes, all written), "Sparse.ts" (5,000,123 bytes,
//           only its first and last cluster written), "Café €.ts" (1,500 bytes;
//           a long name), "a/b" (700 bytes, a long name
//           holding a slash)
struct CopyDisk {
    static constexpr std::uint32_t kClusterBytes = 512;
    static constexpr std::uint64_t kMovieSize = 100'003;
    static constexpr std::uint64_t kSparseSize = 5'000'123;
    static constexpr std::uint64_t kCafeSize = 1'500;
    static constexpr std::uint64_t kTrailerSize = 777;
    static constexpr char kRecords[] = "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS";

    explicit CopyDisk(const TempDir& dir);

    std::string path;
    std::uint32_t movieSeed = 0;
    std::uint32_t sparseSeed = 0;
    std::uint32_t cafeSeed = 0;
    std::uint32_t trailerSeed = 0;
};

// The bytes of a file the builder wrote: its ContentByte pattern, or for
// Content::Ends that pattern in the first and the last cluster and zeros between.
Bytes ExpectedContent(std::uint32_t seed, std::uint64_t size, Content content,
                      std::uint32_t clusterBytes);

// A 1.44 MB FAT12 floppy image with one file, FLOPPY.TXT (300 bytes).
std::string MakeFloppy(const TempDir& dir);

// A disk with one FAT32 partition whose folder BROKEN (holding one file) lies
// in the part of the image that is cut off: the folder cannot be read.
std::string MakeDiskWithMissingDirectoryCluster(const TempDir& dir);

// A disk with one FAT32 partition: LOOPDIR/ holds BACK/, an entry that points to
// LOOPDIR's own cluster, so the folders nest without end.
std::string MakeDiskWithDirectoryLoop(const TempDir& dir);

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the command line in-process; no progress line unless asked for.
CliRun RunList(const std::vector<std::string>& args, bool progressLine = false);
// Runs the command line in-process in the given environment.
CliRun RunIn(const std::vector<std::string>& args, const cli::CliEnvironment& environment);

// The whole content of a file; empty when it cannot be read.
Bytes ReadBytes(const std::string& path);

// The lines of a text.
std::vector<std::string> Lines(const std::string& text);

}  // namespace moravel::testing
