// moravel-bench-copy: the Copy File command's throughput beside cat and mcopy.
//
//   moravel-bench-copy make IMAGE [--size BYTES]
//       Writes a disk image with no holes: an MBR and one FAT32 volume with 32 KiB
//       clusters and at least 65,525 of them, its data region aligned to a cluster
//       (as mkfs.fat aligns it), holding RECORDS/"Recording 0001.ts" of
//       BYTES bytes (2,000,000,000 by default) whose every cluster is written with
//       the builder's content pattern, in one contiguous run of clusters. The gaps
//       the builder leaves (free clusters, unused FAT sectors) are written with
//       zeros, then the image is flushed to the disk. Beside it, IMAGE.layout says
//       where the file's bytes lie in the image, for the comparisons to read.
//
//   moravel-bench-copy measure IMAGE [--runs N] [--out FOLDER]
//       Reads the file's byte range of the image once (so every run finds it in the
//       page cache), then, into /dev/null and then into FOLDER (/dev/shm, a tmpfs,
//       unless given), a check round and N rounds (5 by default), each timing:
//         program  the real copy job (a new DriveTree, the walk to the file, the
//                  plan and the job's run, FileSystemTarget) copying to
//                  copy-program.ts;
//         dd-32k   dd of the file's byte range of the image in 32 KiB blocks (one
//                  cluster: the program's write size) to copy-dd-32k.ts;
//         dd-256k  the same in 256 KiB blocks (the program's read-ahead) to
//                  copy-dd-256k.ts;
//         mcopy    mcopy -i IMAGE@@OFFSET of the file to copy-mcopy.ts (into the
//                  folder only).
//       The program syncs its output to the device before it reports the copy, and
//       the dd runs into the folder do the same (conv=fsync); mcopy does not sync,
//       and /dev/null keeps nothing to sync. So each time ends when the copy is on
//       the folder's device (for mcopy: handed to the kernel), as a shell sees the
//       command end. On a tmpfs a sync costs nothing. The order turns from round to
//       round.
//       After every run sync(2) is called outside the timing, so that every run
//       starts with no dirty pages, and the output is deleted, except in the check
//       round into the folder: its outputs are compared with cmp, the dd-256k output
//       is checked against the content pattern, and its times are shown but not
//       counted (first writes to memory the machine has not used yet cost more on
//       some virtual machines).
//       Prints wall and cpu (user + system) times, min and median, MB/s (10^6 bytes
//       per second), the ratios program / each other, and whether the target holds
//       for each destination: the program's best MB/s at least 0.9 x the faster dd's
//       best (interference only adds time; the verdict by medians is printed beside
//       it). Exit status 0 when it holds for both, 3 when it does not, 1 on an error.

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "copy/CopyJob.h"
#include "copy/CopyTarget.h"
#include "copy/DestinationVolume.h"
#include "image/FatVolumeBuilder.h"
#include "image/ImageBuilder.h"
#include "tree/DriveTree.h"

extern char** environ;

namespace {

using namespace moravel::bench;

constexpr std::uint8_t kSectorsPerCluster = 64;  // 32 KiB
constexpr std::uint32_t kFat32MinimumClusters = 65525;
constexpr std::uint64_t kDefaultSize = 2'000'000'000;
constexpr std::uint64_t kMaxSize = std::uint64_t{64} << 30;
constexpr std::uint32_t kDefaultRuns = 5;
constexpr double kTargetRatio = 0.9;
constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr char kFolder[] = "RECORDS";
constexpr char kShortName[] = "REC0001 TS ";
constexpr char kLongName[] = "Recording 0001.ts";

double MegabytesPerSecond(std::uint64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0;
}

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// A file descriptor closed when it goes.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

// Where the recording lies in the image: written by make, read by measure.
struct Layout {
    std::uint64_t offset = 0;  // of its first byte, from the start of the image
    std::uint64_t size = 0;
    std::uint32_t seed = 0;  // for ContentByte
    std::uint32_t firstCluster = 0;
    std::uint32_t clusters = 0;
};

std::string LayoutPath(const std::string& image) {
    return image + ".layout";
}

void WriteLayout(const std::string& image, const Layout& layout) {
    std::ofstream out(LayoutPath(image));
    out << "offset " << layout.offset << "\nsize " << layout.size << "\nseed " << layout.seed
        << "\nfirst-cluster " << layout.firstCluster << "\nclusters " << layout.clusters << "\n";
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + LayoutPath(image));
    }
}

Layout ReadLayout(const std::string& image) {
    std::ifstream in(LayoutPath(image));
    std::map<std::string, std::uint64_t> values;
    std::string key;
    std::uint64_t value = 0;
    while (in >> key >> value) {
        values[key] = value;
    }
    for (const char* needed : {"offset", "size", "seed", "first-cluster", "clusters"}) {
        if (values.count(needed) == 0) {
            throw std::runtime_error(LayoutPath(image) + " is missing or lacks \"" + needed +
                                     "\"; make the image with moravel-bench-copy make");
        }
    }
    Layout layout;
    layout.offset = values["offset"];
    layout.size = values["size"];
    layout.seed = static_cast<std::uint32_t>(values["seed"]);
    layout.firstCluster = static_cast<std::uint32_t>(values["first-cluster"]);
    layout.clusters = static_cast<std::uint32_t>(values["clusters"]);
    return layout;
}

// Writes zeros into every hole of the file; returns how many bytes that took.
std::uint64_t FillHoles(const std::string& path) {
    const Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    struct stat info {};
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0) {
        throw std::runtime_error(SystemError("cannot open " + path));
    }
    const auto end = static_cast<std::uint64_t>(info.st_size);
    const std::vector<std::uint8_t> zeros(kChunk, 0);
    std::uint64_t filled = 0;
    std::uint64_t at = 0;
    while (at < end) {
        const off_t hole = ::lseek(fd.Get(), static_cast<off_t>(at), SEEK_HOLE);
        if (hole < 0 || static_cast<std::uint64_t>(hole) >= end) {
            break;
        }
        off_t data = ::lseek(fd.Get(), hole, SEEK_DATA);
        const std::uint64_t holeEnd =
            data < 0 ? end : std::min(end, static_cast<std::uint64_t>(data));
        for (std::uint64_t p = static_cast<std::uint64_t>(hole); p < holeEnd;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, holeEnd - p));
            const ssize_t done = ::pwrite(fd.Get(), zeros.data(), n, static_cast<off_t>(p));
            if (done <= 0) {
                throw std::runtime_error(SystemError("cannot write " + path));
            }
            p += static_cast<std::uint64_t>(done);
            filled += static_cast<std::uint64_t>(done);
        }
        at = holeEnd;
    }
    return filled;
}

int Make(const std::string& path, std::uint64_t size) {
    using namespace moravel::image;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        std::fprintf(stderr, "moravel-bench-copy: %s exists; give a path for a new image\n",
                     path.c_str());
        return 1;
    }
    const Clock::time_point start = Clock::now();
    constexpr std::uint64_t clusterBytes = std::uint64_t{kSectorsPerCluster} * 512;
    const std::uint64_t fileClusters = (size + clusterBytes - 1) / clusterBytes;
    const std::uint64_t clusters =
        std::max<std::uint64_t>(fileClusters + 64, kFat32MinimumClusters + 64);
    const std::uint64_t fatSectors = (clusters + 2) * 4 / 512 + 1;
    const auto volumeSectors =
        static_cast<std::uint32_t>(clusters * kSectorsPerCluster + 32 + 2 * fatSectors);

    VolumeLayout layout;
    layout.fatBits = 32;
    layout.totalSectors = volumeSectors;
    layout.sectorsPerCluster = kSectorsPerCluster;
    // As mkfs.fat does, the reserved sectors are as many as it takes for the data
    // region, and so every cluster, to start on a cluster boundary of the disk: the
    // page cache then holds each cluster from the start of a page.
    layout.reservedSectors = 32;
    for (int round = 0; round < 4; ++round) {
        const std::uint32_t fat = FatVolumeBuilder(layout).SectorsPerFat();
        const std::uint32_t dataStart = kVolumeStart + 32 + 2 * fat;
        layout.reservedSectors = static_cast<std::uint16_t>(
            32 + (kSectorsPerCluster - dataStart % kSectorsPerCluster) % kSectorsPerCluster);
    }
    FatVolumeBuilder volume(layout);
    if ((kVolumeStart + volume.DataStart()) % kSectorsPerCluster != 0) {
        std::fprintf(stderr, "moravel-bench-copy: the data region is not cluster-aligned\n");
        return 1;
    }
    const auto folder = volume.AddDirectory(volume.Root(), "RECORDS    ");
    FileLayout file;
    file.shortName = kShortName;
    file.longName = kLongName;
    file.size = size;
    file.content = Content::Full;
    const std::uint32_t seed = volume.AddFile(folder, file);
    if (volume.ClusterCount() < kFat32MinimumClusters || volume.ClusterCount() < fileClusters + 2) {
        std::fprintf(stderr, "moravel-bench-copy: the volume came out too small\n");
        return 1;
    }

    const std::uint64_t imageBytes = (std::uint64_t{kVolumeStart} + volumeSectors) * 512;
    const ImageFile image(path, imageBytes);
    image.WriteSector(0, PartitionSector({VolumeEntry(volumeSectors)}));
    volume.Write(image, kVolumeStart);
    const double writeSeconds = SecondsSince(start);

    const std::vector<std::uint32_t>& chain = volume.FileClusters(seed);
    for (std::size_t i = 1; i < chain.size(); ++i) {
        if (chain[i] != chain[0] + i) {
            std::fprintf(stderr, "moravel-bench-copy: the file's clusters are not contiguous\n");
            return 1;
        }
    }
    Layout where;
    where.offset = (std::uint64_t{kVolumeStart} + volume.DataStart() +
                    std::uint64_t{chain.front() - 2} * kSectorsPerCluster) *
                   512;
    where.size = size;
    where.seed = seed;
    where.firstCluster = chain.front();
    where.clusters = static_cast<std::uint32_t>(chain.size());

    const Clock::time_point fillStart = Clock::now();
    const std::uint64_t filled = FillHoles(path);
    const double fillSeconds = SecondsSince(fillStart);

    const Clock::time_point flushStart = Clock::now();
    struct stat info {};
    {
        const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.Valid() || ::fsync(fd.Get()) != 0 || ::fstat(fd.Get(), &info) != 0) {
            throw std::runtime_error(SystemError("cannot flush " + path));
        }
        const off_t hole = ::lseek(fd.Get(), 0, SEEK_HOLE);
        if (hole != info.st_size || static_cast<std::uint64_t>(info.st_blocks) * 512 < imageBytes) {
            std::fprintf(stderr, "moravel-bench-copy: %s still has holes\n", path.c_str());
            return 1;
        }
    }
    const double flushSeconds = SecondsSince(flushStart);
    WriteLayout(path, where);

    std::printf("image          %s (%llu bytes, %llu allocated: no holes)\n", path.c_str(),
                static_cast<unsigned long long>(imageBytes),
                static_cast<unsigned long long>(info.st_blocks) * 512);
    std::printf("volume         FAT32 at sector %u, %u sectors, %llu-byte clusters, %u clusters\n",
                kVolumeStart, volumeSectors, static_cast<unsigned long long>(clusterBytes),
                volume.ClusterCount());
    std::printf("file           %s/%s, %llu bytes, clusters %u-%u (contiguous)\n", kFolder,
                kLongName, static_cast<unsigned long long>(size), chain.front(), chain.back());
    std::printf("in the image   bytes %llu to %llu\n",
                static_cast<unsigned long long>(where.offset),
                static_cast<unsigned long long>(where.offset + size));
    std::printf(
        "made in        %.2f s (layout and data %.2f s, %llu bytes of gaps zeroed %.2f s, "
        "flushed to the disk %.2f s)\n",
        SecondsSince(start), writeSeconds, static_cast<unsigned long long>(filled), fillSeconds,
        flushSeconds);
    return 0;
}

// --- measure ---------------------------------------------------------------

// The drive tree's front end and the copy's progress, counted: a step has nothing
// else to do.
class BenchFrontend final : public moravel::CoreFrontend, public moravel::CopyProgress {
public:
    void PostScanProgress() override {}
    void PumpMessages() override {}
    void Copied(std::uint64_t, std::uint64_t) override { ++pumps; }

    std::uint64_t pumps = 0;
};

struct ProgramRun {
    double walkSeconds = 0;  // open, disk -> volume -> root -> folder -> file
    double copySeconds = 0;  // the plan and CopyJob::Run
    std::uint64_t pumps = 0;
};

ProgramRun CopyWithProgram(const std::string& image, const Layout& layout,
                           const std::string& destination) {
    BenchFrontend frontend;
    moravel::DriveAccessOptions options;
    options.sources.hardDisks = {image};
    moravel::DriveTree access(frontend, options);
    ProgramRun run;

    const Clock::time_point walkStart = Clock::now();
    if (!access.Open().empty() || access.GetHardDiskCount() < 1) {
        throw std::runtime_error(image + " cannot be opened as a disk");
    }
    moravel::DriveItem& disk = access.GetDisks()[access.GetFloppyCount()];
    moravel::DriveItem* volume = nullptr;
    std::int32_t progress = 0;
    for (moravel::DriveItem* child : access.ExpandItem(disk, progress).children) {
        if (child->m_kind == moravel::ItemKind::Volume) {
            volume = child;
            break;
        }
    }
    moravel::DriveItem* root =
        volume != nullptr ? FindChild(access, *volume, "Root Directory") : nullptr;
    moravel::DriveItem* folder = root != nullptr ? FindChild(access, *root, kFolder) : nullptr;
    moravel::DriveItem* file = folder != nullptr ? FindChild(access, *folder, kLongName) : nullptr;
    run.walkSeconds = SecondsSince(walkStart);
    if (file == nullptr || !file->IsFile()) {
        throw std::runtime_error(std::string("the program does not find ") + kFolder + "/" +
                                 kLongName + " in the first volume");
    }
    if (file->m_fileSize != layout.size || file->m_firstCluster != layout.firstCluster) {
        throw std::runtime_error("the program sees the file elsewhere than the image's layout");
    }

    moravel::FileSystemTarget target;
    moravel::CopyJob job(access, target);
    const Clock::time_point copyStart = Clock::now();
    const moravel::CopyReport report =
        job.Run(*file, moravel::PlanCopy(*file, destination, target), frontend);
    run.copySeconds = SecondsSince(copyStart);
    run.pumps = frontend.pumps;
    if (report.outcome != moravel::CopyOutcome::Copied) {
        throw std::runtime_error(
            "the program's copy did not succeed (" +
            (report.error ? report.error->reason : std::string("no whole copy")) + ")");
    }
    return run;
}

double CpuSeconds(const struct rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// This process's user + system time so far.
double OwnCpuSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

// Runs a program (looked up on PATH) with the given arguments and waits for it;
// its exit status, or 127 when it could not be started. cpuSeconds receives the
// user + system time it took.
int RunProgram(const std::vector<std::string>& arguments, char** environment = environ,
               double* cpuSeconds = nullptr) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environment) != 0) {
        return 127;
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            return 127;
        }
    }
    if (cpuSeconds != nullptr) {
        *cpuSeconds = CpuSeconds(usage);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The environment for mtools: the caller's, with the geometry check off (the
// image's size is not a whole number of tracks) and no configuration files read.
class MtoolsEnvironment {
public:
    MtoolsEnvironment() {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view text(*entry);
            if (text.rfind("MTOOLS_SKIP_CHECK=", 0) != 0 && text.rfind("MTOOLSRC=", 0) != 0) {
                m_strings.emplace_back(text);
            }
        }
        m_strings.emplace_back("MTOOLS_SKIP_CHECK=1");
        m_strings.emplace_back("MTOOLSRC=/dev/null");
        for (std::string& entry : m_strings) {
            m_pointers.push_back(entry.data());
        }
        m_pointers.push_back(nullptr);
    }
    char** Get() { return m_pointers.data(); }

private:
    std::vector<std::string> m_strings;
    std::vector<char*> m_pointers;
};

// dd of the file's byte range of the image, in blocks of the given size; synced to
// its device before dd ends, when asked.
std::vector<std::string> CatCommand(const std::string& image, const Layout& layout,
                                    const std::string& destination, const char* block = "1M",
                                    bool sync = false) {
    std::vector<std::string> command = {"dd",
                                        "if=" + image,
                                        "of=" + destination,
                                        std::string("bs=") + block,
                                        "iflag=skip_bytes,count_bytes",
                                        "skip=" + std::to_string(layout.offset),
                                        "count=" + std::to_string(layout.size),
                                        "status=none"};
    if (sync) {
        command.push_back("conv=fsync");
    }
    return command;
}

std::vector<std::string> McopyCommand(const std::string& image, const Layout&,
                                      const std::string& destination) {
    return {"mcopy", "-i", image + "@@" + std::to_string(std::uint64_t{kVolumeStart} * 512),
            std::string("::/") + kFolder + "/" + kLongName, destination};
}

std::string Joined(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) {
        const bool quote = argument.find(' ') != std::string::npos;
        text += (text.empty() ? "" : " ") + (quote ? "'" + argument + "'" : argument);
    }
    return text;
}

// Reads the byte range once; returns the seconds it took.
double ReadRange(const std::string& path, std::uint64_t offset, std::uint64_t size) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        throw std::runtime_error(SystemError("cannot open " + path));
    }
    std::vector<std::uint8_t> buffer(kChunk);
    const Clock::time_point start = Clock::now();
    for (std::uint64_t done = 0; done < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - done));
        const ssize_t got = ::pread(fd.Get(), buffer.data(), n, static_cast<off_t>(offset + done));
        if (got <= 0) {
            throw std::runtime_error(SystemError("cannot read " + path));
        }
        done += static_cast<std::uint64_t>(got);
    }
    return SecondsSince(start);
}

// The share of the byte range's pages that are in the page cache.
double CachedShare(const std::string& path, std::uint64_t offset, std::uint64_t size) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset / page * page;
    const std::uint64_t length = offset + size - start;
    if (!fd.Valid() || length == 0) {
        return 0;
    }
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd.Get(), static_cast<off_t>(start));
    if (map == MAP_FAILED) {
        return 0;
    }
    std::vector<unsigned char> resident((length + page - 1) / page);
    double share = 0;
    if (::mincore(map, length, resident.data()) == 0) {
        const auto in = std::count_if(resident.begin(), resident.end(),
                                      [](unsigned char r) { return (r & 1) != 0; });
        share = static_cast<double>(in) / static_cast<double>(resident.size());
    }
    ::munmap(map, length);
    return share;
}

std::uint64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// Checks the cat output against the builder's content pattern at 65,536 spread
// offsets and both ends.
bool MatchesPattern(const std::string& path, const Layout& layout) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return false;
    }
    std::vector<std::uint64_t> offsets = {0, layout.size - 1};
    const std::uint64_t step = std::max<std::uint64_t>(1, layout.size / 65536);
    for (std::uint64_t at = 7; at < layout.size; at += step) {
        offsets.push_back(at);
    }
    for (const std::uint64_t at : offsets) {
        std::uint8_t byte = 0;
        if (::pread(fd.Get(), &byte, 1, static_cast<off_t>(at)) != 1 ||
            byte != moravel::image::ContentByte(layout.seed, at)) {
            return false;
        }
    }
    return true;
}

// The kernel's name for the file system that holds a folder ("tmpfs", "ext4").
std::string FileSystemOf(const std::string& folder) {
    const std::optional<moravel::DestinationVolume> volume =
        moravel::FindDestinationVolume(folder + "/");
    return volume ? volume->fileSystem : "unknown";
}

// The first three fields of /proc/loadavg: how busy the machine was.
std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Deletes the outputs when measure ends, however it ends.
class Outputs {
public:
    explicit Outputs(std::vector<std::string> paths) : m_paths(std::move(paths)) {}
    ~Outputs() {
        for (const std::string& path : m_paths) {
            ::unlink(path.c_str());
        }
    }
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;

private:
    std::vector<std::string> m_paths;
};

// The copies timed: the program, dd with the program's cluster size and with its
// read-ahead size as block size, and mcopy (into a folder only).
enum Tool { kProgram, kDd32k, kDd256k, kMcopy, kTools };
constexpr const char* kToolNames[kTools] = {"program", "dd-32k", "dd-256k", "mcopy"};

struct Verdict {
    bool holds = false;
    bool holdsMedian = false;
};

// Times every tool into one destination: /dev/null (only the reads and the
// system calls count) or a folder (the writes too). Prints the table and says
// whether the program reaches 0.9 x the faster dd.
Verdict MeasureInto(const std::string& image, const Layout& layout, std::uint32_t runs,
                    const std::string& folder) {
    const bool null = folder.empty();
    std::vector<std::string> outputs;
    for (const char* name : kToolNames) {
        outputs.push_back(null ? "/dev/null" : folder + "/copy-" + name + ".ts");
    }
    if (!null) {
        for (const std::string& output : outputs) {
            struct stat info {};
            if (::stat(output.c_str(), &info) == 0) {
                throw std::runtime_error(output + " exists; not overwriting it");
            }
        }
    }
    const Outputs cleanup(null ? std::vector<std::string>{} : outputs);
    MtoolsEnvironment mtools;
    const auto Command = [&](int tool) {
        // The program syncs what it writes into a folder: so does dd there.
        return tool == kDd32k    ? CatCommand(image, layout, outputs[kDd32k], "32K", !null)
               : tool == kDd256k ? CatCommand(image, layout, outputs[kDd256k], "256K", !null)
                                 : McopyCommand(image, layout, outputs[kMcopy]);
    };
    std::vector<int> tools = {kProgram, kDd32k, kDd256k};
    if (!null) {
        tools.push_back(kMcopy);
    }

    std::printf("\n== into %s\n",
                null ? "/dev/null" : (folder + " (" + FileSystemOf(folder) + ")").c_str());
    std::printf("program        CopyJob::Run with FileSystemTarget (in this process)\n");
    for (const int tool : tools) {
        if (tool != kProgram) {
            std::printf("%-14s %s%s\n", kToolNames[tool],
                        tool == kMcopy ? "MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null " : "",
                        Joined(Command(tool)).c_str());
        }
    }

    std::vector<double> seconds[kTools];
    std::vector<double> cpu[kTools];
    double walkSum = 0;
    std::uint64_t pumps = 0;
    // Round 0 checks the outputs and is not counted: the first writes of a process
    // land on memory the machine has not used yet, which costs more on some
    // (virtual) machines. The order turns each round.
    for (std::uint32_t round = 0; round <= runs; ++round) {
        const bool check = round == 0;
        double times[kTools] = {};
        double cpuTimes[kTools] = {};
        for (std::size_t step = 0; step < tools.size(); ++step) {
            const int tool = tools[(round + step) % tools.size()];
            const std::string& output = outputs[static_cast<std::size_t>(tool)];
            const Clock::time_point start = Clock::now();
            int status = 0;
            if (tool == kProgram) {
                const double cpuBefore = OwnCpuSeconds();
                const ProgramRun run = CopyWithProgram(image, layout, output);
                cpuTimes[tool] = OwnCpuSeconds() - cpuBefore;
                pumps = run.pumps;
                times[tool] = run.walkSeconds + run.copySeconds;
                walkSum += check ? 0 : run.walkSeconds;
            } else {
                status = RunProgram(Command(tool), tool == kMcopy ? mtools.Get() : environ,
                                    &cpuTimes[tool]);
                times[tool] = SecondsSince(start);
            }
            if (status != 0) {
                throw std::runtime_error(
                    std::string(kToolNames[tool]) + " ended with status " + std::to_string(status) +
                    (status == 127 ? " (not installed? run scripts/install-deps.sh)" : ""));
            }
            if (!null && FileSize(output) != layout.size) {
                throw std::runtime_error(std::string(kToolNames[tool]) + " wrote " +
                                         std::to_string(FileSize(output)) + " bytes, not " +
                                         std::to_string(layout.size));
            }
            if (!check) {
                seconds[tool].push_back(times[tool]);
                cpu[tool].push_back(cpuTimes[tool]);
                if (!null) {
                    ::unlink(output.c_str());
                }
            }
            ::sync();
        }
        std::printf("%-5s %2u ", check ? "check" : "round", round);
        for (const int tool : tools) {
            std::printf(" %s %.3f s [cpu %.3f]", kToolNames[tool], times[tool], cpuTimes[tool]);
        }
        std::printf("  (%s first)\n", kToolNames[tools[round % tools.size()]]);
        if (check && !null) {
            bool same = MatchesPattern(outputs[kDd256k], layout);
            std::printf("          the dd-256k output holds the builder's pattern: %s;",
                        same ? "yes" : "NO");
            for (const int tool : {kProgram, kDd32k, kMcopy}) {
                const bool identical = RunProgram({"cmp", outputs[static_cast<std::size_t>(tool)],
                                                   outputs[kDd256k]}) == 0;
                std::printf(" %s %s", kToolNames[tool], identical ? "identical" : "DIFFERENT");
                same = same && identical;
            }
            std::printf(" (round not counted)\n");
            for (const std::string& output : outputs) {
                ::unlink(output.c_str());
            }
            ::sync();
            if (!same) {
                throw std::runtime_error("the outputs differ");
            }
        }
    }

    double median[kTools] = {};
    double best[kTools] = {};
    std::printf("%-8s %9s %9s %11s %11s %9s %9s\n", "", "min s", "median s", "best MB/s",
                "median MB/s", "cpu min", "cpu med");
    for (const int tool : tools) {
        median[tool] = Median(seconds[tool]);
        best[tool] = *std::min_element(seconds[tool].begin(), seconds[tool].end());
        std::printf("%-8s %9.3f %9.3f %11.0f %11.0f %9.3f %9.3f\n", kToolNames[tool], best[tool],
                    median[tool], MegabytesPerSecond(layout.size, best[tool]),
                    MegabytesPerSecond(layout.size, median[tool]),
                    *std::min_element(cpu[tool].begin(), cpu[tool].end()), Median(cpu[tool]));
    }
    std::printf("program  of which the walk to the file %.1f ms on average; %llu pump steps\n",
                1000 * walkSum / runs, static_cast<unsigned long long>(pumps));
    const auto Ratio = [](double other, double program) {
        return program > 0 ? other / program : 0;
    };
    for (std::size_t i = 1; i < tools.size(); ++i) {
        std::printf("ratio          program / %-8s %.2f (best MB/s), %.2f (median MB/s)\n",
                    kToolNames[tools[i]], Ratio(best[tools[i]], best[kProgram]),
                    Ratio(median[tools[i]], median[kProgram]));
    }
    // Interference (other processes, the host) only ever adds time, so the best runs
    // say what each copy can do; the medians are shown beside them.
    const double fasterDd = std::min(best[kDd32k], best[kDd256k]);
    const double fasterDdMedian = std::min(median[kDd32k], median[kDd256k]);
    Verdict verdict;
    verdict.holds = Ratio(fasterDd, best[kProgram]) >= kTargetRatio;
    verdict.holdsMedian = Ratio(fasterDdMedian, median[kProgram]) >= kTargetRatio;
    std::printf(
        "target         program at least %.1f x the faster dd (best MB/s): %s (by medians: "
        "%s)\n",
        kTargetRatio, verdict.holds ? "holds" : "DOES NOT HOLD",
        verdict.holdsMedian ? "holds" : "does not hold");
    return verdict;
}

int Measure(const std::string& image, std::uint32_t runs, std::string folder) {
    if (runs == 0) {
        runs = 1;
    }
    const Layout layout = ReadLayout(image);
    const std::string startLoad = LoadAverage();
    if (folder.empty()) {
        folder = "/dev/shm";
    }
    std::printf("file           %s/%s, %llu bytes at byte %llu of %s\n", kFolder, kLongName,
                static_cast<unsigned long long>(layout.size),
                static_cast<unsigned long long>(layout.offset), image.c_str());
    const double warmSeconds = ReadRange(image, layout.offset, layout.size);
    std::printf("warm-up read   %.2f s (%.0f MB/s); %.1f %% of the range's pages cached after it\n",
                warmSeconds, MegabytesPerSecond(layout.size, warmSeconds),
                100 * CachedShare(image, layout.offset, layout.size));
    std::printf(
        "each run       output deleted and sync(2) after it, outside the timing; "
        "no fsync inside\n");
    ::sync();
    const Verdict null = MeasureInto(image, layout, runs, "");
    const Verdict files = MeasureInto(image, layout, runs, folder);
    std::printf("\nimage range    %.1f %% of its pages still cached after the runs\n",
                100 * CachedShare(image, layout.offset, layout.size));
    std::printf("load average   %s at the start, %s at the end\n", startLoad.c_str(),
                LoadAverage().c_str());
    std::printf("%llu bytes, %u rounds counted; MB = 10^6 bytes; cpu = user + system time\n",
                static_cast<unsigned long long>(layout.size), runs);
    std::printf("target         into /dev/null %s, into %s %s\n",
                null.holds ? "holds" : "DOES NOT HOLD", folder.c_str(),
                files.holds ? "holds" : "DOES NOT HOLD");
    return null.holds && files.holds ? 0 : 3;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: moravel-bench-copy make IMAGE [--size BYTES]\n"
                 "       moravel-bench-copy measure IMAGE [--runs N] [--out FOLDER]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string mode = argv[1];
    const std::string path = argv[2];
    std::uint64_t size = kDefaultSize;
    std::uint32_t runs = kDefaultRuns;
    std::string out;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        std::optional<std::uint64_t> value;
        if (mode == "make" && option == "--size" && hasValue &&
            (value = ParseNumber(argv[i + 1], kMaxSize)) && *value > 0) {
            size = *value;
            ++i;
        } else if (mode == "measure" && option == "--runs" && hasValue &&
                   (value = ParseNumber(argv[i + 1], 1000))) {
            runs = static_cast<std::uint32_t>(*value);
            ++i;
        } else if (mode == "measure" && option == "--out" && hasValue) {
            out = argv[++i];
        } else {
            return Usage();
        }
    }
    try {
        if (mode == "make") {
            return Make(path, size);
        }
        if (mode == "measure") {
            return Measure(path, runs, out);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "moravel-bench-copy: %s\n", error.what());
        return 1;
    }
    return Usage();
}
