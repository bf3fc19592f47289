#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "disk/DriveAccess.h"
#include "support/TempDir.h"
#include "support/Tools.h"
#include "tree/BootSector.h"
#include "ui/headless/HeadlessFrontend.h"

namespace moravel {
namespace {

using testing::Quoted;
using testing::RunCommand;

// The boot sector fields as mtools' minfo reports them: "name: value" lines.
std::map<std::string, std::string> MinfoFields(const std::string& image) {
    int status = 0;
    const std::string output =
        RunCommand(Quoted(testing::FindTool("minfo")) + " -i " + Quoted(image) + " ::", status);
    EXPECT_EQ(status, 0) << output;
    std::map<std::string, std::string> fields;
    std::stringstream lines(output);
    std::string line;
    const std::regex field(R"(^([a-zA-Z ()]+?)\s*[:=]\s*(.*)$)");
    while (std::getline(lines, line)) {
        std::smatch match;
        if (std::regex_match(line, match, field)) {
            fields.emplace(match[1], match[2]);
        }
    }
    return fields;
}

std::uint32_t Number(const std::map<std::string, std::string>& fields, const std::string& key) {
    const auto found = fields.find(key);
    EXPECT_NE(found, fields.end()) << key;
    return found == fields.end() ? 0 : static_cast<std::uint32_t>(std::stoul(found->second));
}

struct Format {
    const char* name;
    const char* options;  // for mkfs.fat
    std::uint32_t kilobytes;
    FatKind expectedKind;
    const char* diskType;  // the FAT type that mkfs.fat wrote in the boot sector
};

class BootSectorOracleTest : public ::testing::TestWithParam<Format> {};

// Reads sector 0 of a volume that the real mkfs.fat made, through the program's
// own reader, and checks every decoded field against minfo.
TEST_P(BootSectorOracleTest, DecodesWhatMkfsWroteAsMinfoReadsIt) {
    const Format format = GetParam();
    const std::string mkfs = testing::FindTool("mkfs.fat");
    ASSERT_FALSE(mkfs.empty()) << "mkfs.fat (dosfstools) is not installed";
    ASSERT_FALSE(testing::FindTool("minfo").empty()) << "minfo (mtools) is not installed";

    testing::TempDir dir;
    const std::string image = dir.File("volume.img");
    int status = 0;
    RunCommand(mkfs + " -C " + format.options + " " + Quoted(image) + " " +
                   std::to_string(format.kilobytes),
               status);
    ASSERT_EQ(status, 0);

    HeadlessFrontend frontend;
    DriveAccessOptions options;
    options.sources.floppies = {image};
    DriveAccess access(frontend, options);
    ASSERT_TRUE(access.Open().empty());
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(access.ReadSectors(access.GetDisks()[0], nullptr, sector));
    const BootSector boot = DecodeBootSector(sector);

    const auto fields = MinfoFields(image);
    EXPECT_EQ(boot.bytesPerSector, Number(fields, "sector size"));
    EXPECT_EQ(boot.sectorsPerCluster, Number(fields, "cluster size"));
    EXPECT_EQ(boot.reservedSectors, Number(fields, "reserved (boot) sectors"));
    EXPECT_EQ(boot.fatCount, Number(fields, "fats"));
    EXPECT_EQ(boot.rootEntries, Number(fields, "max available root directory slots"));
    EXPECT_EQ(boot.totalSectors16, Number(fields, "small size"));
    // minfo leaves the 32-bit count out when the 16-bit one holds the size.
    EXPECT_EQ(boot.totalSectors32, fields.count("big size") ? Number(fields, "big size") : 0);
    EXPECT_EQ(boot.sectorsPerFat16, Number(fields, "sectors per fat"));
    EXPECT_EQ(boot.sectorsPerTrack, Number(fields, "sectors per track"));
    EXPECT_EQ(boot.heads, Number(fields, "heads"));
    EXPECT_LE(boot.TotalSectors(), format.kilobytes * 2);
    EXPECT_GT(boot.TotalSectors(), format.kilobytes * 2 - 128);
    if (format.expectedKind == FatKind::Fat32) {
        EXPECT_EQ(boot.sectorsPerFat32, Number(fields, "Big fatlen"));
        EXPECT_EQ(boot.rootCluster, Number(fields, "rootCluster"));
    }
    EXPECT_EQ(FatKindOf(boot), format.expectedKind);
    EXPECT_NE(fields.at("disk type").find(format.diskType), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    MkfsFat, BootSectorOracleTest,
    ::testing::Values(
        Format{"Floppy", "-F 12 -f 2 -r 224 -s 1 -S 512", 1440, FatKind::Fat12, "FAT12"},
        Format{"Fat16Small", "-F 16 -s 4 -R 4 -r 512", 32768, FatKind::Fat16, "FAT16"},
        Format{"Fat16OneFat", "-F 16 -s 8 -f 1 -r 1024", 200000, FatKind::Fat16, "FAT16"},
        Format{"Fat32", "-F 32 -s 8 -R 32", 300000, FatKind::Fat32, "FAT32"},
        Format{"Fat32OneFat", "-F 32 -s 1 -f 1 -R 8", 600000, FatKind::Fat32, "FAT32"}),
    [](const ::testing::TestParamInfo<Format>& param) { return std::string(param.param.name); });

// The kind by the clusters of the data region, as FAT defines it: a floppy's
// layout, then volumes on either side of 4085 clusters whose total sectors alone
// would say otherwise.
TEST(FatKindTest, FollowsTheDataRegionsClusterCountUnlessLaidOutAsFat32) {
    BootSector floppy;
    floppy.bytesPerSector = 512;
    floppy.sectorsPerCluster = 1;
    floppy.reservedSectors = 1;
    floppy.fatCount = 2;
    floppy.sectorsPerFat16 = 9;
    floppy.rootEntries = 224;
    floppy.totalSectors16 = 2880;
    EXPECT_EQ(DataClusters(floppy), 2880u - 1 - 18 - 14);
    EXPECT_EQ(FatKindOf(floppy), FatKind::Fat12);

    BootSector volume = floppy;
    volume.sectorsPerCluster = 4;
    volume.sectorsPerFat16 = 12;
    volume.rootEntries = 512;  // 32 sectors
    const std::uint32_t overhead = 1 + 2 * 12 + 32;
    volume.totalSectors16 = static_cast<std::uint16_t>(overhead + 4084 * 4 + 3);
    EXPECT_EQ(FatKindOf(volume), FatKind::Fat12);  // 4098 clusters by total sectors alone
    volume.totalSectors16 = static_cast<std::uint16_t>(overhead + 4085 * 4);
    EXPECT_EQ(FatKindOf(volume), FatKind::Fat16);
    volume.totalSectors16 = 0;
    volume.totalSectors32 = 65536 * 64;
    EXPECT_EQ(FatKindOf(volume), FatKind::Fat16);

    // Laid out as FAT32 (no 16-bit FAT size): FAT32 with a floppy's few clusters too.
    BootSector small = floppy;
    small.sectorsPerFat16 = 0;
    small.sectorsPerFat32 = 23;
    small.rootEntries = 0;
    EXPECT_EQ(FatKindOf(small), FatKind::Fat32);
}

TEST(FatKindTest, AnUndecodableBootSectorHasNoKind) {
    BootSector blank;
    blank.totalSectors16 = 2880;
    blank.bytesPerSector = 512;
    EXPECT_EQ(FatKindOf(blank), std::nullopt);  // 0 sectors per cluster
    blank.sectorsPerCluster = 1;
    blank.bytesPerSector = 0;
    EXPECT_EQ(FatKindOf(blank), std::nullopt);
}

}  // namespace
}  // namespace moravel
