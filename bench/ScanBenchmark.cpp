// moravel-bench-scan: the cost of listing a large folder on a 1 TiB-class volume.
//
//   moravel-bench-scan make IMAGE [--files N]
//       Writes a sparse disk image: an MBR and one FAT32 volume of 2^31 - 2048
//       sectors with 32 KiB clusters (about 33.5 million clusters, a FAT of about
//       134 MB), holding the folder RECORDS with N recordings (5,000 by default)
//       named "Recording 0001.ts" and so on, whose chains fill about nine tenths of
//       the volume. Only the first and last cluster of each recording is written.
//
//   moravel-bench-scan measure IMAGE [--runs N] [--cold] [--folder NAME]
//       Opens the image as hard disk 128, walks disk -> volume -> Root Directory ->
//       the folder and times the folder's expansion (the FAT load, every chain walk
//       and the entry scan). The first run takes the page cache as it comes (with
//       --cold the image's cached pages are dropped just before its scan); then N
//       warm runs (5 by default), each with a new DriveAccess so that nothing the
//       program read before is reused. Prints the times, the number of entries
//       found and the peak resident memory (VmHWM) beside the FAT's size, and
//       whether the targets hold: a warm scan under 1 second, peak memory under
//       FAT size + 64 MiB.
//       Exit status 0 when both hold, 3 when one does not, 1 on an error.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "image/FatVolumeBuilder.h"
#include "image/ImageBuilder.h"
#include "tree/DriveTree.h"
#include "ui/headless/HeadlessFrontend.h"

namespace {

using namespace moravel::bench;

constexpr std::uint32_t kDiskSectors = std::uint32_t{1} << 31;  // 1 TiB
constexpr std::uint32_t kVolumeSectors = kDiskSectors - kVolumeStart;
constexpr std::uint8_t kSectorsPerCluster = 64;  // 32 KiB
constexpr std::uint32_t kDefaultFiles = 5000;
constexpr std::uint32_t kDefaultRuns = 5;
constexpr double kWarmTargetSeconds = 1.0;
constexpr std::uint64_t kMemoryHeadroom = std::uint64_t{64} << 20;

std::string Numbered(const char* format, std::uint32_t number) {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

int Make(const std::string& path, std::uint32_t files) {
    using namespace moravel::image;
    // An image file of its own, never a device or anything else that exists.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "moravel-bench-scan: %s exists and is not a regular file\n",
                     path.c_str());
        return 1;
    }
    const Clock::time_point start = Clock::now();
    VolumeLayout layout;
    layout.fatBits = 32;
    layout.totalSectors = kVolumeSectors;
    layout.sectorsPerCluster = kSectorsPerCluster;
    layout.reservedSectors = 32;
    FatVolumeBuilder volume(layout);
    const auto folder = volume.AddDirectory(volume.Root(), "RECORDS    ");

    // Chains of 5,000 to 7,000 clusters (160 to 230 MB), spread so that the
    // default count fills about nine tenths of the volume; sizes end mid-cluster.
    const std::uint64_t clusterBytes = volume.ClusterBytes();
    std::uint64_t clusters = 0;
    for (std::uint32_t i = 1; i <= files; ++i) {
        const std::uint64_t chain = 5000 + (std::uint64_t{i} * 7919) % 2001;
        FileLayout file;
        file.shortName = Numbered("RE%04u~1TS ", i);
        file.longName = Numbered("Recording %04u.ts", i);
        file.size = chain * clusterBytes - (std::uint64_t{i} * 997) % clusterBytes;
        file.content = Content::Ends;
        volume.AddFile(folder, file);
        clusters += chain;
    }
    if (clusters + 16 > volume.ClusterCount()) {
        std::fprintf(stderr, "moravel-bench-scan: %u files do not fit the volume\n", files);
        return 1;
    }

    const ImageFile image(path, std::uint64_t{kDiskSectors} * 512);
    image.WriteSector(0, PartitionSector({VolumeEntry(kVolumeSectors)}));
    volume.Write(image, kVolumeStart);

    std::printf("image          %s (%llu bytes, sparse)\n", path.c_str(),
                static_cast<unsigned long long>(std::uint64_t{kDiskSectors} * 512));
    std::printf("volume         FAT32 at sector %u, %u sectors, %llu-byte clusters\n", kVolumeStart,
                kVolumeSectors, static_cast<unsigned long long>(clusterBytes));
    std::printf("clusters       %u, of which %llu in the recordings' chains\n",
                volume.ClusterCount(), static_cast<unsigned long long>(clusters));
    std::printf("FAT            %u sectors (%llu bytes) per copy\n", volume.SectorsPerFat(),
                static_cast<unsigned long long>(std::uint64_t{volume.SectorsPerFat()} * 512));
    std::printf("folder         RECORDS, %u recordings with long names\n", files);
    std::printf("made in        %.2f s\n", SecondsSince(start));
    return 0;
}

// Asks the kernel to forget the image's cached pages, so that the first run reads
// the disk. The file is opened read-only; nothing is written.
void DropCachedPages(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0) {
        std::fprintf(stderr, "moravel-bench-scan: could not drop the cached pages of %s\n",
                     path.c_str());
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

struct Run {
    double walkSeconds = 0;  // disk, volume and root directory
    double scanSeconds = 0;  // the folder
    std::size_t entries = 0;
    std::uint64_t fatBytes = 0;
    std::uint64_t sizeSum = 0;
};

std::optional<Run> MeasureOnce(const std::string& path, const std::string& folderName, bool cold) {
    moravel::HeadlessFrontend frontend;
    moravel::DriveAccessOptions options;
    options.sources.hardDisks = {path};
    moravel::DriveTree access(frontend, options);
    Run run;
    std::int32_t progress = 0;

    const Clock::time_point walkStart = Clock::now();
    if (!access.Open().empty() || access.GetHardDiskCount() < 1) {
        std::fprintf(stderr, "moravel-bench-scan: %s cannot be opened as a disk\n", path.c_str());
        return std::nullopt;
    }
    moravel::DriveItem& disk = access.GetDisks()[access.GetFloppyCount()];
    moravel::DriveItem* volume = nullptr;
    for (moravel::DriveItem* child : access.ExpandItem(disk, progress).children) {
        if (child->m_kind == moravel::ItemKind::Volume) {
            volume = child;
            break;
        }
    }
    moravel::DriveItem* root = nullptr;
    if (volume != nullptr) {
        for (moravel::DriveItem* child : access.ExpandItem(*volume, progress).children) {
            if (child->DisplayName() == "Root Directory") {
                root = child;
            }
        }
    }
    moravel::DriveItem* folder = nullptr;
    if (root != nullptr) {
        for (moravel::DriveItem* child : access.ExpandItem(*root, progress).children) {
            if (child->IsDirectory() && (child->DisplayName() == folderName ||
                                         PlainName(child->DisplayName()) == folderName)) {
                folder = child;
            }
        }
    }
    run.walkSeconds = SecondsSince(walkStart);
    if (folder == nullptr) {
        std::fprintf(stderr, "moravel-bench-scan: no folder %s in the first volume's root\n",
                     folderName.c_str());
        return std::nullopt;
    }

    // The walk has read the FAT once already (the root directory is a chain too):
    // a cold scan must find none of it cached.
    if (cold) {
        DropCachedPages(path);
    }
    const Clock::time_point scanStart = Clock::now();
    const moravel::Expansion scan = access.ExpandItem(*folder, progress);
    const std::vector<moravel::DriveItem*>& children = scan.children;
    run.scanSeconds = SecondsSince(scanStart);

    run.entries = children.size();
    run.fatBytes = std::uint64_t{folder->m_sectorsPerFat} * 512;
    for (const moravel::DriveItem* child : children) {
        run.sizeSum += child->m_fileSize;
    }
    for (const moravel::Error& error : scan.errors) {
        std::fprintf(stderr, "moravel-bench-scan: the scan showed \"%s\"\n", error.reason.c_str());
    }
    return run;
}

// The process's peak resident memory so far, in bytes (VmHWM of /proc/self/status).
std::uint64_t PeakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

double Mib(std::uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

int Measure(const std::string& path, std::uint32_t runs, bool cold, const std::string& folderName) {
    std::vector<Run> results;
    for (std::uint32_t i = 0; i <= runs; ++i) {
        const std::optional<Run> run = MeasureOnce(path, folderName, cold && i == 0);
        if (!run) {
            return 1;
        }
        results.push_back(*run);
        std::printf("%-6s run %2u  walk to folder %8.3f s  folder scan %8.3f s  entries %zu\n",
                    i == 0 ? (cold ? "cold" : "first") : "warm", i, run->walkSeconds,
                    run->scanSeconds, run->entries);
    }
    const std::uint64_t peak = PeakResidentBytes();

    std::vector<double> warm;
    for (std::size_t i = 1; i < results.size(); ++i) {
        warm.push_back(results[i].scanSeconds);
        if (results[i].entries != results[0].entries || results[i].sizeSum != results[0].sizeSum) {
            std::fprintf(stderr, "moravel-bench-scan: runs disagree on the folder's contents\n");
            return 1;
        }
    }
    const Run& first = results.front();
    std::printf("\nentries        %zu (sizes add up to %llu bytes)\n", first.entries,
                static_cast<unsigned long long>(first.sizeSum));
    std::printf("first scan     %.3f s (%s)\n", first.scanSeconds,
                cold ? "image's cached pages dropped before it" : "page cache as it came");
    const bool haveWarm = !warm.empty();
    const double median = haveWarm ? Median(warm) : 0;
    if (haveWarm) {
        std::printf("warm scans     min %.3f s, median %.3f s, max %.3f s over %zu runs\n",
                    *std::min_element(warm.begin(), warm.end()), median,
                    *std::max_element(warm.begin(), warm.end()), warm.size());
    }
    std::printf("peak memory    %.1f MiB (VmHWM); FAT %.1f MiB; limit FAT + 64 MiB = %.1f MiB\n",
                Mib(peak), Mib(first.fatBytes), Mib(first.fatBytes + kMemoryHeadroom));

    const bool fast = haveWarm && median < kWarmTargetSeconds;
    const bool small = peak != 0 && peak < first.fatBytes + kMemoryHeadroom;
    std::printf("target         warm scan under %.0f s: %s\n", kWarmTargetSeconds,
                !haveWarm ? "not measured (no warm runs)"
                : fast    ? "holds"
                          : "DOES NOT HOLD");
    std::printf("target         peak memory under FAT + 64 MiB: %s\n",
                small ? "holds" : "DOES NOT HOLD");
    return fast && small ? 0 : 3;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: moravel-bench-scan make IMAGE [--files N]\n"
                 "       moravel-bench-scan measure IMAGE [--runs N] [--cold] [--folder NAME]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string mode = argv[1];
    const std::string path = argv[2];
    std::uint32_t files = kDefaultFiles;
    std::uint32_t runs = kDefaultRuns;
    bool cold = false;
    std::string folder = "RECORDS";
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        std::optional<std::uint64_t> value;
        if (mode == "make" && option == "--files" && hasValue &&
            (value = ParseNumber(argv[i + 1], 1'000'000)) && *value > 0 && *value < 10000) {
            files = static_cast<std::uint32_t>(*value);
            ++i;
        } else if (mode == "measure" && option == "--runs" && hasValue &&
                   (value = ParseNumber(argv[i + 1], 1'000'000))) {
            runs = static_cast<std::uint32_t>(*value);
            ++i;
        } else if (mode == "measure" && option == "--folder" && hasValue) {
            folder = argv[++i];
        } else if (mode == "measure" && option == "--cold") {
            cold = true;
        } else {
            return Usage();
        }
    }
    try {
        if (mode == "make") {
            return Make(path, files);
        }
        if (mode == "measure") {
            return Measure(path, runs, cold, folder);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "moravel-bench-scan: %s\n", error.what());
        return 1;
    }
    return Usage();
}
