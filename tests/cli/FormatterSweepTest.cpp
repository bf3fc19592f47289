#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/Tools.h"

// The program against volumes as people's disks come: formatted by mkfs.fat
// (across sizes, cluster sizes, FAT counts, reserved sectors and alignment),
// by mformat, and by the image builder with FATs larger than their clusters
// need; filled by mcopy; in a primary or a logical partition, formatted whole
// as a hard disk, or as a floppy. mtools is the oracle: every file mdir lists is
// listed by moravel-cli with mdir's size, and copied byte for byte as mtype
// prints it.
namespace moravel::testing {
namespace {

using Json = nlohmann::json;

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = kKiB << 10;
constexpr std::uint64_t kGiB = kMiB << 10;
constexpr std::uint64_t kTiB = kGiB << 10;
constexpr std::uint32_t kPartitionStart = 2048;  // the primary partition's, and the logical
                                                 // one's from its extended partition

enum class Formatter { MkfsFat, Mformat, Builder };
enum class Placement { Partition, Logical, WholeDisk, Floppy };

struct Case {
    std::string name;
    Formatter formatter = Formatter::MkfsFat;
    int fatBits = 32;
    std::uint64_t volumeBytes = 0;  // the image holds the partition tables before it too
    unsigned sectorsPerCluster = 1;
    unsigned fats = 2;
    Placement placement = Placement::Partition;
    std::uint8_t partitionType = 0x0C;
    std::string options;           // the formatter's, besides the volume's size and offset
    std::uint64_t mkfsBlocks = 0;  // mkfs.fat's block count when not the whole volume
    unsigned reservedSectors = 1;  // the builder's
    unsigned spareFatSectors = 0;  // the builder's
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

std::uint32_t VolumeStart(Placement placement) {
    return placement == Placement::Partition ? kPartitionStart
           : placement == Placement::Logical ? 2 * kPartitionStart
                                             : 0;
}

std::uint64_t ImageBytes(const Case& c) {
    return c.volumeBytes + VolumeStart(c.placement) * 512;
}

std::string SizeText(std::uint64_t bytes) {
    for (const auto& [unit, suffix] :
         {std::pair{kTiB, "T"}, std::pair{kGiB, "G"}, std::pair{kMiB, "M"}}) {
        if (bytes % unit == 0) {
            return std::to_string(bytes / unit) + suffix;
        }
    }
    return std::to_string(bytes / kKiB) + "K";
}

const char* PlacementText(Placement placement) {
    return placement == Placement::Partition   ? "Partition"
           : placement == Placement::Logical   ? "Logical"
           : placement == Placement::WholeDisk ? "WholeDisk"
                                               : "Floppy";
}

std::uint8_t PartitionTypeFor(int fatBits, std::uint64_t volumeBytes, bool alternative) {
    if (fatBits == 12) {
        return 0x01;
    }
    if (fatBits == 16) {
        return volumeBytes < 32 * kMiB ? 0x04 : alternative ? 0x0E : 0x06;
    }
    return alternative ? 0x0B : 0x0C;
}

// Volume sizes of each FAT kind as mkfs.fat is asked for them, from floppies to a
// 1 TB disk, each with every cluster size (-s 1 to 128 sectors, up to 64 KiB) whose
// clusters, counted over the whole volume, lie in the range given: the kind's own
// and a little beyond it, where the FATs and the root take what goes over (and
// mkfs.fat may refuse: kRefusedByMkfs). Nothing below 64 clusters, to leave room
// for the files; no FAT above 64 MB, as a 1 TB disk of 64 KiB clusters has. FAT32
// stays clear of its lower limit: below it mkfs.fat still makes FAT32 (with a
// warning), but mtools takes such a volume as FAT16 and cannot fill it.
struct SizesOfKind {
    int fatBits;
    std::vector<std::uint64_t> volumeBytes;
    std::uint64_t fewestClusters;
    std::uint64_t mostClusters;
};

const SizesOfKind kMkfsSizes[] = {
    {12,
     {360 * kKiB, 1440 * kKiB, 2880 * kKiB, 8 * kMiB, 15 * kMiB, 30 * kMiB, 60 * kMiB, 127 * kMiB,
      250 * kMiB},
     64,
     4096},
    {16,
     {4 * kMiB, 16 * kMiB, 31 * kMiB, 100 * kMiB, 256 * kMiB, 512 * kMiB, 1000 * kMiB, 2047 * kMiB,
      4000 * kMiB},
     4096,
     65'536},
    {32,
     {33 * kMiB, 40 * kMiB, 128 * kMiB, 320 * kMiB, 600 * kMiB, 1 * kGiB, 4 * kGiB, 8 * kGiB,
      33 * kGiB, 250 * kGiB, 1 * kTiB},
     65'600,
     16 * kMiB},
};

// The other axes turn over the sizes and cluster sizes of each kind (the i-th of
// the kind), so that every value of each meets every kind: 2 or 1 FATs, reserved
// sectors and FAT12/16 root entries (0: mkfs.fat's default), data region aligned or
// not (-a), and where the
// volume is: a primary or a logical partition, a disk formatted whole (with or
// without the one-entry partition table mkfs.fat can put in its boot sector), or
// a floppy.
Case MkfsCase(int fatBits, std::uint64_t bytes, unsigned cluster, unsigned i) {
    constexpr unsigned kReserved[2][5] = {{0, 2, 7, 16, 33}, {0, 2, 9, 16, 64}};
    constexpr unsigned kRootEntries[4] = {0, 16, 112, 1024};
    constexpr Placement kPlacements[] = {Placement::Partition, Placement::WholeDisk,
                                         Placement::Floppy};
    Case c;
    c.fatBits = fatBits;
    c.volumeBytes = bytes;
    c.sectorsPerCluster = cluster;
    c.fats = i % 2 == 0 ? 2 : 1;
    const unsigned reserved = kReserved[fatBits == 32][i % 5];
    const unsigned rootEntries = fatBits == 32 ? 0 : kRootEntries[(i / 5) % 4];
    const bool aligned = (i / 2) % 2 == 0;
    const bool alternative = (i / 3) % 2 == 1;
    c.placement = kPlacements[i % 3];
    if (c.placement == Placement::Floppy && bytes > 4 * kGiB) {
        c.placement = Placement::Partition;  // a recorder's disk, not a stick
    }
    if (c.placement == Placement::Partition && alternative) {
        c.placement = Placement::Logical;
    }
    const bool fakeMbr = c.placement == Placement::WholeDisk && alternative;
    c.partitionType = PartitionTypeFor(fatBits, bytes, (i / 6) % 2 == 1);
    c.options = (reserved != 0 ? "-R " + std::to_string(reserved) : "") +
                (rootEntries != 0 ? " -r " + std::to_string(rootEntries) : "") +
                (aligned ? "" : " -a") + (fakeMbr ? " --mbr=y" : "");
    c.name = "Mkfs_Fat" + std::to_string(fatBits) + "_" + SizeText(bytes) + "_s" +
             std::to_string(cluster) + "_f" + std::to_string(c.fats) + "_R" +
             (reserved != 0 ? std::to_string(reserved) : "def") +
             (rootEntries != 0 ? "_r" + std::to_string(rootEntries) : "") +
             (aligned ? "_aligned_" : "_unaligned_") + PlacementText(c.placement) +
             (fakeMbr ? "WithMbr" : "");
    return c;
}

std::vector<Case> MkfsSweep() {
    std::vector<Case> cases;
    for (const SizesOfKind& kind : kMkfsSizes) {
        unsigned i = 0;
        for (const std::uint64_t bytes : kind.volumeBytes) {
            for (unsigned cluster = 1; cluster <= 128; cluster *= 2) {
                const std::uint64_t clusters = bytes / (cluster * 512);
                if (clusters >= kind.fewestClusters && clusters <= kind.mostClusters) {
                    cases.push_back(MkfsCase(kind.fatBits, bytes, cluster, i++));
                }
            }
        }
    }
    return cases;
}

std::vector<Case> MkfsEdges() {
    Case fat32In320M;  // one block short of its partition; the FAT-size check refused it
    fat32In320M.name = "Mkfs_Fat32_320M_s8_PartitionOneBlockShort";
    fat32In320M.volumeBytes = 320 * kMiB - kPartitionStart * 512;
    fat32In320M.sectorsPerCluster = 8;
    fat32In320M.mkfsBlocks = 326'655;
    // The largest FAT12 volume mkfs.fat makes of 512-byte clusters (4083 of them)
    // and the smallest FAT16 one (4087): the kind goes by the cluster count.
    Case largestFat12;
    largestFat12.name = "Mkfs_Fat12_Largest_s1_unaligned_Floppy";
    largestFat12.fatBits = 12;
    largestFat12.volumeBytes = 2070 * kKiB;
    largestFat12.placement = Placement::Floppy;
    largestFat12.options = "-a";
    Case smallestFat16 = largestFat12;
    smallestFat16.name = "Mkfs_Fat16_Smallest_s1_unaligned_WholeDisk";
    smallestFat16.fatBits = 16;
    smallestFat16.volumeBytes = 2076 * kKiB;
    smallestFat16.placement = Placement::WholeDisk;
    return {fat32In320M, largestFat12, smallestFat16};
}

// A volume of a formatter other than mkfs.fat, in a partition of its kind's usual type.
Case OtherFormatterCase(Formatter formatter, int bits, std::uint64_t sectors, unsigned cluster,
                        unsigned fats, Placement placement) {
    Case c;
    c.formatter = formatter;
    c.fatBits = bits;
    c.volumeBytes = sectors * 512;
    c.sectorsPerCluster = cluster;
    c.fats = fats;
    c.placement = placement;
    c.partitionType = PartitionTypeFor(bits, c.volumeBytes, false);
    return c;
}

std::vector<Case> MformatCases() {
    const auto make = [](const char* name, int bits, std::uint64_t sectors, unsigned cluster,
                         unsigned fats, Placement placement, const char* options) {
        Case c = OtherFormatterCase(Formatter::Mformat, bits, sectors, cluster, fats, placement);
        c.name = std::string("Mformat_") + name;
        c.options = options;
        return c;
    };
    return {
        make("Fat12_1440K_Floppy", 12, 2880, 1, 2, Placement::Floppy, "-f 1440"),
        make("Fat12_4000K_c2_d1_Partition", 12, 8000, 2, 1, Placement::Partition,
             "-T 8000 -h 2 -s 18 -c 2 -d 1"),
        make("Fat16_99M_c8_d1_R8_WholeDisk", 16, 202'752, 8, 1, Placement::WholeDisk,
             "-T 202752 -h 16 -s 63 -c 8 -d 1 -R 8"),
        make("Fat16_99M_c4_Logical", 16, 202'752, 4, 2, Placement::Logical,
             "-T 202752 -h 16 -s 63 -c 4"),
        make("Fat32_99M_c1_Partition", 32, 202'752, 1, 2, Placement::Partition,
             "-T 202752 -h 16 -s 63 -c 1 -F"),
        make("Fat32_2G_c8_Floppy", 32, 4'194'304, 8, 2, Placement::Floppy,
             "-T 4194304 -h 255 -s 63 -c 8 -F"),
    };
}

// Other formatters leave a FAT larger than its clusters need (they align the data
// region, or round the FAT's size up): the builder leaves 1 to 64 sectors spare.
std::vector<Case> BuilderCases() {
    const auto make = [](int bits, std::uint64_t sectors, unsigned cluster, unsigned reserved,
                         unsigned fats, unsigned spare, Placement placement) {
        Case c = OtherFormatterCase(Formatter::Builder, bits, sectors, cluster, fats, placement);
        c.name = "Builder_Fat" + std::to_string(bits) + "_" + std::to_string(sectors) +
                 "sectors_s" + std::to_string(cluster) + "_f" + std::to_string(fats) + "_spare" +
                 std::to_string(spare) + "_" + PlacementText(placement);
        c.reservedSectors = reserved;
        c.spareFatSectors = spare;
        return c;
    };
    return {
        make(12, 2880, 1, 1, 2, 1, Placement::Floppy),
        make(12, 16'000, 4, 1, 1, 64, Placement::Partition),
        make(16, 100'000, 4, 1, 2, 7, Placement::WholeDisk),
        make(16, 200'000, 8, 4, 1, 33, Placement::Logical),
        make(32, 600'000, 1, 32, 2, 64, Placement::Partition),
        make(32, 2'000'000, 8, 32, 1, 1, Placement::Floppy),
        // The most clusters a FAT12 volume has (4084) and the fewest of a FAT16 one (4085).
        make(12, 4129, 1, 1, 2, 3, Placement::Floppy),
        make(16, 4139, 1, 1, 1, 5, Placement::WholeDisk),
    };
}

std::vector<Case> AllCases() {
    std::vector<Case> cases = MkfsSweep();
    for (auto more : {MkfsEdges(), MformatCases(), BuilderCases()}) {
        cases.insert(cases.end(), more.begin(), more.end());
    }
    return cases;
}

// Combinations of the sweep that mkfs.fat refuses, by name: these are skipped,
// and a refusal of any other fails its case, so the sweep cannot shrink unseen.
const std::set<std::string> kRefusedByMkfs = {
    "Mkfs_Fat16_4M_s2_f1_R2_aligned_WholeDisk",  // fewer clusters than mkfs.fat's FAT16 needs
};

// A pattern that does not repeat with the cluster, so a cluster read from the
// wrong place shows.
std::string Pattern(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<char>(x >> 24);
    }
    return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// Where a copy first differs from what it should hold; empty when it does not.
// (The bytes themselves would flood the failure message.)
std::string Difference(const std::string& copy, const std::string& expected) {
    if (copy == expected) {
        return "";
    }
    const auto size = std::min(copy.size(), expected.size());
    const auto at = static_cast<std::size_t>(
        std::mismatch(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(size),
                      expected.begin())
            .first -
        copy.begin());
    const std::string from = "first difference at byte " + std::to_string(at);
    return copy.size() == expected.size() ? from
                                          : std::to_string(copy.size()) + " bytes instead of " +
                                                std::to_string(expected.size()) + ", " + from;
}

// A file or folder by its path below the root ("SUB/inner.ts").
struct Entry {
    std::uint64_t size = 0;
    bool directory = false;
    bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& entry, std::ostream* out) {
    *out << (entry.directory ? "<DIR>" : std::to_string(entry.size));
}

// mdir -/ lists every folder below the root, each after a "Directory for" line.
std::map<std::string, Entry> ParseMdir(const std::string& output) {
    static const std::regex folderLine(R"(^Directory for ::/(.*)$)");
    static const std::regex entryLine(
        R"(^(.{8}) (.{3}) +(<DIR>|\d+) +\d{4}-\d\d-\d\d +\d+:\d\d(?:  (.+))?$)");
    const auto trimmed = [](std::string text) {
        return text.erase(text.find_last_not_of(' ') + 1);
    };
    std::map<std::string, Entry> entries;
    std::string folder;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        std::smatch match;
        if (std::regex_match(line, match, folderLine)) {
            folder = match[1].str().empty() ? "" : match[1].str() + "/";
        } else if (std::regex_match(line, match, entryLine)) {
            const std::string extension = trimmed(match[2]);
            const std::string name =
                match[4].matched ? match[4].str()
                                 : trimmed(match[1]) + (extension.empty() ? "" : "." + extension);
            if (name != "." && name != "..") {
                const bool directory = match[3] == "<DIR>";
                entries[folder + name] = {directory ? 0 : std::stoull(match[3]), directory};
            }
        }
    }
    return entries;
}

// Every item of one kind in the listing, at any depth.
void Collect(const Json& items, const std::string& kind, std::vector<const Json*>& found) {
    for (const Json& item : items) {
        if (item.value("kind", "") == kind) {
            found.push_back(&item);
        }
        if (item.contains("children")) {
            Collect(item["children"], kind, found);
        }
    }
}

std::vector<const Json*> ItemsOfKind(const Json& listing, const std::string& kind) {
    std::vector<const Json*> found;
    Collect(listing, kind, found);
    return found;
}

// The files and folders below a folder of the listing, by the names a copy gets,
// with the tree path of each file.
void ListedFiles(const Json& folder, const std::string& prefix, std::map<std::string, Entry>& files,
                 std::map<std::string, std::string>& treePaths) {
    for (const Json& child : folder.value("children", Json::array())) {
        const std::string path = prefix + child.value("fileName", "?");
        const bool directory = child.value("kind", "") == "directory";
        files[path] = {directory ? 0 : child.value("size", std::uint64_t{0}), directory};
        if (directory) {
            ListedFiles(child, path + "/", files, treePaths);
        } else {
            treePaths[path] = child.value("path", "");
        }
    }
}

class FormatterSweepTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
        for (const char* tool : {"mkfs.fat", "mformat", "mcopy", "mdir", "mtype"}) {
            ASSERT_FALSE(FindTool(tool).empty())
                << tool << " (dosfstools, mtools) is not installed";
        }
    }

    // The image as mtools addresses it: with the partition's byte offset.
    std::string Drive() const {
        const std::uint32_t start = VolumeStart(GetParam().placement);
        return Quoted(m_image) +
               (start != 0 ? "@@" + std::to_string(std::uint64_t{start} * 512) : "");
    }

    // Runs a command with its standard error in its output; returns its exit status.
    static int Run(const std::string& command, std::string& output) {
        int status = -1;
        output = RunCommand("(" + command + ") 2>&1", status);
        return status;
    }

    void Mtools(const std::string& tool, const std::string& arguments, std::string& output) {
        const std::string command = FindTool(tool) + " -i " + Drive() + " " + arguments;
        int status = -1;
        output = RunCommand(command + " 2>" + Quoted(m_dir.File("err")), status);
        ASSERT_EQ(status, 0) << command << "\n" << ReadFile(m_dir.File("err"));
    }

    // Formats the volume; says why not when mkfs.fat refuses a combination it is known to.
    void Format(std::string& refusal) {
        const Case& c = GetParam();
        const ImageFile image(m_image, ImageBytes(c));
        WritePartitions(image);
        if (c.formatter == Formatter::Builder) {
            Build(image);
            return;
        }
        std::string command;
        if (c.formatter == Formatter::Mformat) {
            command = FindTool("mformat") + " -i " + Drive() + " " + c.options + " ::";
        } else {
            const std::uint64_t blocks = c.mkfsBlocks != 0 ? c.mkfsBlocks : c.volumeBytes / kKiB;
            command = FindTool("mkfs.fat") + " -F " + std::to_string(c.fatBits) + " -s " +
                      std::to_string(c.sectorsPerCluster) + " -f " + std::to_string(c.fats) + " " +
                      c.options +
                      (VolumeStart(c.placement) != 0
                           ? " --offset " + std::to_string(VolumeStart(c.placement))
                           : "") +
                      " " + Quoted(m_image) + " " + std::to_string(blocks);
        }
        std::string output;
        const int status = Run(command, output);
        const bool listed = kRefusedByMkfs.count(c.name) != 0;
        if (status != 0 && listed) {
            refusal = "mkfs.fat refuses this combination, as listed: " + output;
        } else if (status != 0) {
            ADD_FAILURE() << command << "\n" << output;
        } else if (listed) {
            ADD_FAILURE() << "mkfs.fat makes " << c.name << ": take it off kRefusedByMkfs";
        }
    }

    // A logical partition's extended partition starts where a primary one would,
    // its boot record there, the volume 2048 sectors on.
    void WritePartitions(const ImageFile& image) const {
        const Case& c = GetParam();
        const auto sectors = static_cast<std::uint32_t>(c.volumeBytes / 512);
        if (c.placement == Placement::Partition) {
            image.WriteSector(0, PartitionSector({{c.partitionType, kPartitionStart, sectors}}));
        } else if (c.placement == Placement::Logical) {
            image.WriteSector(
                0, PartitionSector({{0x0F, kPartitionStart, kPartitionStart + sectors}}));
            image.WriteSector(kPartitionStart,
                              PartitionSector({{c.partitionType, kPartitionStart, sectors}}));
        }
    }

    void Build(const ImageFile& image) const {
        const Case& c = GetParam();
        VolumeLayout layout;
        layout.fatBits = c.fatBits;
        layout.totalSectors = static_cast<std::uint32_t>(c.volumeBytes / 512);
        layout.sectorsPerCluster = static_cast<std::uint8_t>(c.sectorsPerCluster);
        layout.reservedSectors = static_cast<std::uint16_t>(c.reservedSectors);
        layout.fatCount = static_cast<std::uint8_t>(c.fats);
        layout.rootEntries = c.fatBits == 12 ? 224 : 512;
        layout.spareFatSectors = c.spareFatSectors;
        FatVolumeBuilder builder(layout);
        builder.Write(image, VolumeStart(c.placement));
    }

    // A file with a long name, a short-named one in a sub-folder (lower case, as
    // mcopy keeps it with the entry's case flags), one of 3.5 clusters and an
    // empty one, all copied in by one mcopy.
    std::map<std::string, std::string> FillWithMcopy() {
        const std::size_t cluster = std::size_t{GetParam().sectorsPerCluster} * 512;
        const std::map<std::string, std::string> files = {
            {"A recording with a long name.ts", Pattern(1000, 1)},
            {"SUB/inner.ts", Pattern(2 * cluster, 2)},
            {"BIG.TS", Pattern(cluster * 7 / 2, 3)},
            {"EMPTY.TXT", ""},
        };
        const std::filesystem::path host = m_dir.Path() / "host";
        std::string sources;
        for (const auto& [path, bytes] : files) {
            WriteFile(host / path, bytes);
        }
        for (const auto& top : std::filesystem::directory_iterator(host)) {
            sources += " " + Quoted(top.path().string());
        }
        std::string output;
        Mtools("mcopy", "-s" + sources + " ::/", output);
        return files;
    }

    Json ListJson() {
        const Case& c = GetParam();
        const std::string option = c.placement == Placement::Floppy ? "--floppy " : "--disk ";
        int status = -1;
        const std::string out = RunCommand(Quoted(MORAVEL_CLI) + " " + option + Quoted(m_image) +
                                               " list -r --json 2>" + Quoted(m_dir.File("err")),
                                           status);
        EXPECT_EQ(status, 0) << ReadFile(m_dir.File("err"));
        return Json::parse(out, nullptr, false);
    }

    void ExpectVolumeAsFormatted(const Json& listing) {
        const Case& c = GetParam();
        const auto volumes = ItemsOfKind(listing, "volume");
        ASSERT_EQ(volumes.size(), 1u) << listing.dump(1);
        const Json& volume = *volumes[0];
        EXPECT_EQ(volume.value("fatKind", 0), c.fatBits);
        EXPECT_EQ(volume.value("clusterSize", 0u), c.sectorsPerCluster * 512);
        EXPECT_EQ(volume.value("startLba", 1u), VolumeStart(c.placement));
        EXPECT_EQ(ItemsOfKind(listing, "fat").size(), c.fats);
    }

    // One run of the program copies every file into one folder.
    bool CopyAll(const std::map<std::string, std::string>& treePaths, const std::string& into) {
        const Case& c = GetParam();
        std::string command = Quoted(MORAVEL_CLI) +
                              (c.placement == Placement::Floppy ? " --floppy " : " --disk ") +
                              Quoted(m_image) + " copy";
        for (const auto& [path, treePath] : treePaths) {
            command += " " + Quoted(treePath);
        }
        std::filesystem::create_directories(into);
        int status = -1;
        const std::string out = RunCommand(
            command + " " + Quoted(into + "/") + " 2>" + Quoted(m_dir.File("err")), status);
        EXPECT_EQ(status, 0) << out << ReadFile(m_dir.File("err"));
        return status == 0;
    }

    TempDir m_dir;
    std::string m_image = m_dir.File("disk.img");
};

TEST_P(FormatterSweepTest, ListsWhatMdirListsAndCopiesWhatMtypePrints) {
    std::string refusal;
    Format(refusal);
    ASSERT_FALSE(HasFailure());
    if (!refusal.empty()) {
        GTEST_SKIP() << refusal;
    }
    const std::map<std::string, std::string> written = FillWithMcopy();
    ASSERT_FALSE(HasFailure());

    std::string mdir;
    Mtools("mdir", "-/ -a -f ::", mdir);
    const std::map<std::string, Entry> theirs = ParseMdir(mdir);
    // The oracle itself: what mcopy was given, as mdir reads it back.
    std::map<std::string, Entry> expected = {{"SUB", {0, true}}};
    for (const auto& [path, bytes] : written) {
        expected[path] = {bytes.size(), false};
    }
    ASSERT_EQ(theirs, expected) << mdir;

    const Json listing = ListJson();
    ASSERT_TRUE(listing.is_array());
    ExpectVolumeAsFormatted(listing);
    const auto roots = ItemsOfKind(listing, "root");
    ASSERT_EQ(roots.size(), 1u);
    std::map<std::string, Entry> ours;
    std::map<std::string, std::string> treePaths;
    ListedFiles(*roots[0], "", ours, treePaths);
    EXPECT_EQ(ours, theirs);

    const std::string into = m_dir.File("copies");
    ASSERT_TRUE(CopyAll(treePaths, into));
    for (const auto& [path, bytes] : written) {
        std::string printed;
        Mtools("mtype", Quoted("::/" + path), printed);
        ASSERT_EQ(Difference(printed, bytes), "") << "mtype, of what mcopy wrote: " << path;
        const std::string copy = into + "/" + std::filesystem::path(path).filename().string();
        ASSERT_TRUE(std::filesystem::is_regular_file(copy)) << path << " was not copied";
        EXPECT_EQ(Difference(ReadFile(copy), printed), "") << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Formatters, FormatterSweepTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return param.param.name;
                         });

}  // namespace
}  // namespace moravel::testing
