#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numeric>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "CliTestImages.h"
#include "disk/ByteOrder.h"
#include "support/TestSources.h"
#include "support/Tools.h"

// What list --json and info tell of a file's clusters, a volume and a disk:
// checked against mkfs.fat and mtools (mshowfat names the clusters of a file,
// minfo the boot sector, mdir the short names), against the bytes the named
// sectors hold, and on disks the image builder laid out and then damaged.
namespace moravel::testing {
namespace {

using Json = nlohmann::json;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::uint32_t kStart = 2048;
constexpr char kRoot16[] = "Hard Disk 1/16-Bit FAT Disk/Root Directory";
constexpr char kRoot32[] = "Hard Disk 1/32-Bit FAT Disk/Root Directory";

using ClusterRun = std::pair<std::uint32_t, std::uint32_t>;  // first and last cluster

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) {
        text.pop_back();
    }
    return text;
}

// A FAT16 partition at sector 2048 that mkfs.fat formatted (4 sectors a cluster,
// label RECORDER) and mtools filled: A.TS, B.TS and C.TS side by side, B.TS
// deleted, then "Film night.ts", larger than the hole B.TS left, written.
class CliInfoMtoolsTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kSectors = 40960;

    void SetUp() override {
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
        const std::string mkfs = FindTool("mkfs.fat");
        ASSERT_FALSE(mkfs.empty()) << "mkfs.fat (dosfstools) is not installed";
        ASSERT_FALSE(FindTool("mshowfat").empty()) << "mtools is not installed";
        const ImageFile disk(m_image, (kStart + std::uint64_t{kSectors}) * 512);
        disk.WriteSector(0, PartitionSector({{0x06, kStart, kSectors}}));
        Shell(mkfs + " --offset=" + std::to_string(kStart) + " -F 16 -s 4 -n RECORDER " +
              Quoted(m_image) + " " + std::to_string(kSectors / 2));
        CopyIn("A.TS", 6000);
        CopyIn("B.TS", 10'000);
        CopyIn("C.TS", 6000);
        Mtools("mdel", "::/B.TS");
        CopyIn("Film night.ts", 30'000);
    }

    std::string Shell(const std::string& command) {
        int status = 0;
        const std::string output = RunCommand(command, status);
        EXPECT_EQ(status, 0) << command << "\n" << output;
        return output;
    }

    std::string Mtools(const std::string& tool, const std::string& arguments) {
        return Shell(FindTool(tool) + " -i " + Quoted(m_image) + "@@" +
                     std::to_string(kStart * 512) + " " + arguments);
    }

    // Bytes that differ from sector to sector, so that a sector taken from the
    // wrong place shows.
    void CopyIn(const std::string& name, std::size_t bytes) {
        const std::string host = m_dir.File(name);
        std::ofstream out(host, std::ios::binary);
        for (std::size_t i = 0; i < bytes; ++i) {
            out.put(static_cast<char>(i * 131 + i / 512 + name.size()));
        }
        out.close();
        Mtools("mcopy", Quoted(host) + " ::/");
    }

    // The runs of a file's chain as mshowfat prints them: "::/A.TS <2-4> <10>".
    std::vector<ClusterRun> Showfat(const std::string& name) {
        const std::string output = Mtools("mshowfat", Quoted("::/" + name));
        static const std::regex run(R"(<(\d+)(?:-(\d+))?>)");
        std::vector<ClusterRun> runs;
        for (auto it = std::sregex_iterator(output.begin(), output.end(), run);
             it != std::sregex_iterator(); ++it) {
            const auto first = static_cast<std::uint32_t>(std::stoul((*it)[1]));
            const auto last =
                (*it)[2].matched ? static_cast<std::uint32_t>(std::stoul((*it)[2])) : first;
            runs.emplace_back(first, last);
        }
        return runs;
    }

    // A field of minfo's boot sector information ("cluster size: 4 sectors",
    // "disk label=\"RECORDER   \""), without quotes.
    std::string Minfo(const std::string& key) {
        std::stringstream lines(Mtools("minfo", ""));
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind(key, 0) == 0 && line.size() > key.size() &&
                (line[key.size()] == ':' || line[key.size()] == '=')) {
                std::string value = line.substr(key.size() + 1);
                value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
                return Trimmed(value.substr(value.find_first_not_of(' ')));
            }
        }
        ADD_FAILURE() << "minfo has no " << key;
        return "";
    }

    // The short name mdir shows beside a long name ("FILMNI~1 TS ... Film night.ts").
    std::string MdirShortName(const std::string& longName) {
        std::stringstream lines(Mtools("mdir", "::/"));
        std::string line;
        while (std::getline(lines, line)) {
            line = Trimmed(line);
            if (line.size() > 13 + longName.size() &&
                line.compare(line.size() - longName.size(), longName.size(), longName) == 0) {
                const std::string extension = Trimmed(line.substr(9, 3));
                return Trimmed(line.substr(0, 8)) + (extension.empty() ? "" : "." + extension);
            }
        }
        ADD_FAILURE() << "mdir does not list " << longName;
        return "";
    }

    static std::uint64_t ClusterCount(const std::vector<ClusterRun>& runs) {
        std::uint64_t count = 0;
        for (const auto& [first, last] : runs) {
            count += last - first + 1;
        }
        return count;
    }

    TempDir m_dir;
    std::string m_image = m_dir.File("disk.img");
};

TEST_F(CliInfoMtoolsTest, ListingCountsClustersAndFragmentsAsMshowfatDoes) {
    ASSERT_EQ(Showfat("Film night.ts").size(), 2u) << "mtools no longer fills the hole first";
    const CliRun run = RunList({"--disk", m_image, "list", "--json", kRoot16});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json items = Json::parse(run.out);
    ASSERT_EQ(items.size(), 3u);
    for (const Json& item : items) {
        const std::string name = item["fileName"];
        const std::vector<ClusterRun> runs = Showfat(name);
        ASSERT_FALSE(runs.empty()) << name;
        EXPECT_EQ(item["clusters"], ClusterCount(runs)) << name;
        EXPECT_EQ(item["fragments"], runs.size()) << name;
        EXPECT_EQ(item["directorySize"], std::filesystem::file_size(m_dir.File(name))) << name;
        EXPECT_EQ(item["sizeFromChain"], false) << name;
        // Only an entry with a long name has a short name beside it.
        EXPECT_EQ(item.contains("shortName"), name == "Film night.ts") << name;
    }
    EXPECT_EQ(items[2]["shortName"], MdirShortName("Film night.ts"));
    EXPECT_EQ(items[2]["fileName"], "Film night.ts");
}

TEST_F(CliInfoMtoolsTest, TheVolumeAndTheDiskAreWhatMinfoAndTheImageSay) {
    const CliRun disks = RunList({"--disk", m_image, "list", "--json"});
    ASSERT_EQ(disks.status, 0) << disks.err;
    const Json disk = Json::parse(disks.out).at(0);
    EXPECT_EQ(disk["source"], m_image);
    EXPECT_EQ(disk["size"], std::filesystem::file_size(m_image));
    // An image is its own device, with no model, serial or bus.
    EXPECT_EQ(disk["device"], m_image);
    for (const char* unknown : {"model", "serial", "bus"}) {
        EXPECT_TRUE(disk.at(unknown).is_null()) << unknown;
    }

    const CliRun volumes = RunList({"--disk", m_image, "list", "--json", "Hard Disk 1"});
    ASSERT_EQ(volumes.status, 0) << volumes.err;
    const Json volume = Json::parse(volumes.out).at(0);
    const std::uint64_t sectors = std::stoull(Minfo("small size"));
    EXPECT_EQ(volume["startLba"], kStart);
    EXPECT_EQ(volume["partitionType"], 0x06);
    EXPECT_EQ(volume["sectors"], sectors);
    EXPECT_EQ(volume["size"], sectors * std::stoull(Minfo("sector size")));
    EXPECT_EQ(volume["clusterSize"],
              std::stoull(Minfo("cluster size")) * std::stoull(Minfo("sector size")));
    EXPECT_EQ("FAT" + std::to_string(volume["fatKind"].get<int>()), Minfo("disk type"));
    EXPECT_EQ(volume["label"], Minfo("disk label"));
    EXPECT_FALSE(volume.contains("source"));  // a partition, not a disk of its own

    const CliRun info = RunList({"--disk", m_image, "info", "Hard Disk 1/16-Bit FAT Disk"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_THAT(info.out, AllOf(HasSubstr("\nLabel:          " + Minfo("disk label") + "\n"),
                                HasSubstr("\nPartition type: 0x06\n"),
                                HasSubstr("\nFAT:            " + Minfo("disk type") + "\n")));
}

// Each fragment's sectors hold the file's bytes at that place: the host file
// mtools copied in is read back from the image at the sectors info names.
TEST_F(CliInfoMtoolsTest, InfoNamesEachFragmentsClustersAndSectors) {
    const std::string path = std::string(kRoot16) + "/Film night.ts";
    const std::vector<ClusterRun> runs = Showfat("Film night.ts");
    ASSERT_EQ(runs.size(), 2u);
    const CliRun json = RunList({"--disk", m_image, "info", "--json", path});
    ASSERT_EQ(json.status, 0) << json.err;
    const Json item = Json::parse(json.out);
    const Json& fragments = item["fragmentList"];
    ASSERT_EQ(fragments.size(), runs.size());
    EXPECT_FALSE(item.contains("fragmentsLeftOut"));
    EXPECT_EQ(item["firstLba"], fragments[0]["firstLba"]);

    std::ifstream image(m_image, std::ios::binary);
    const Bytes host = ReadBytes(m_dir.File("Film night.ts"));
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Json& fragment = fragments[i];
        EXPECT_EQ(fragment["firstCluster"], runs[i].first);
        EXPECT_EQ(fragment["lastCluster"], runs[i].second);
        const std::uint64_t from = fragment["firstLba"].get<std::uint64_t>() * 512;
        const std::uint64_t bytes = (fragment["lastLba"].get<std::uint64_t>() + 1) * 512 - from;
        const std::uint64_t compared = std::min<std::uint64_t>(bytes, host.size() - offset);
        std::string stored(compared, '\0');
        image.seekg(static_cast<std::streamoff>(from));
        image.read(stored.data(), static_cast<std::streamsize>(compared));
        EXPECT_TRUE(image.good()) << "fragment " << i;
        EXPECT_TRUE(std::equal(host.begin() + static_cast<std::ptrdiff_t>(offset),
                               host.begin() + static_cast<std::ptrdiff_t>(offset + compared),
                               reinterpret_cast<const std::uint8_t*>(stored.data())))
            << "fragment " << i;
        offset += bytes;
    }
    EXPECT_GE(offset, host.size());

    const CliRun text = RunList({"--disk", m_image, "info", path});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_THAT(text.out, HasSubstr("\nShort name:     " + MdirShortName("Film night.ts") + "\n"));
    EXPECT_THAT(text.out, HasSubstr("\nFragments:      2\n"));
    for (const auto& [first, last] : runs) {
        EXPECT_THAT(text.out, HasSubstr(": clusters " + std::to_string(first) + "-" +
                                        std::to_string(last) + " ("));
    }
}

// A recording of 4.5 GiB + 12,345 bytes in 32 KiB clusters: its entry holds the
// size modulo 4 GiB, its chain the rest.
TEST(CliInfoTest, ARecordingOver4GiBTakesItsSizeFromTheChain) {
    TempDir dir;
    const RecorderDisk disk(dir);
    const std::string records = std::string(kRoot32) + "/RECORDS";
    const CliRun run = RunList({"--disk", disk.path, "list", "--json", records});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json items = Json::parse(run.out);
    const Json& movie = items.at(0);
    ASSERT_EQ(movie["name"], "Movie.ts");
    EXPECT_EQ(movie["size"], RecorderDisk::kMovieSize);
    EXPECT_EQ(movie["directorySize"], RecorderDisk::kMovieSize % (1ull << 32));
    EXPECT_EQ(movie["sizeFromChain"], true);
    EXPECT_EQ(movie["clusters"], (RecorderDisk::kMovieSize + 32767) / 32768);
    EXPECT_EQ(movie["fragments"], 1);
    EXPECT_EQ(movie["shortName"], "MOVIE.TS");
    for (std::size_t i = 1; i < items.size(); ++i) {
        EXPECT_EQ(items[i]["sizeFromChain"], false) << items[i]["name"];
    }
    const Json& plain = items.at(2);  // "VIDEO   MPG", no long name
    EXPECT_EQ(plain["fileName"], "VIDEO.MPG");
    EXPECT_FALSE(plain.contains("shortName"));

    const CliRun info = RunList({"--disk", disk.path, "info", records + "/Movie.ts"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_THAT(info.out,
                AllOf(HasSubstr("\nDirectory size: " +
                                std::to_string(RecorderDisk::kMovieSize % (1ull << 32)) + " bytes"),
                      HasSubstr("\nNote:           The directory entry holds only the size "
                                "modulo 4 GiB"),
                      HasSubstr("so the file is 4 GiB longer: " +
                                std::to_string(RecorderDisk::kMovieSize) + " bytes.")));

    // A folder: its own entry and chain.
    const CliRun folder = RunList({"--disk", disk.path, "info", "--json", records});
    EXPECT_EQ(folder.status, 0) << folder.err;
    const Json folderInfo = Json::parse(folder.out);
    EXPECT_EQ(folderInfo["kind"], "directory");
    EXPECT_EQ(folderInfo["directorySize"], 0);
    EXPECT_EQ(folderInfo["clusters"], 1);
    EXPECT_EQ(folderInfo["fragmentList"][0]["firstCluster"], disk.recordsFirstCluster);

    // A disk through the BIOS services: no size to tell, and it says so.
    const CliRun bios = RunList({"--bios-services", "--disk", disk.path, "info", "Hard Disk 1"});
    EXPECT_EQ(bios.status, 0) << bios.err;
    EXPECT_THAT(bios.out, HasSubstr("\nSize:           not known"));

    const CliRun nothing = RunList({"--disk", disk.path, "info", records + "/nothing"});
    EXPECT_EQ(nothing.status, 2);
    EXPECT_EQ(nothing.out, "");
    EXPECT_EQ(RunList({"--disk", disk.path, "info", ""}).status, 2);
}

// A path is bytes: one that is no UTF-8 still gives JSON, its stray byte shown
// as U+FFFD.
TEST(CliInfoTest, ADiskPathThatIsNoUtf8StillGivesJson) {
    TempDir dir;
    const ImageFile image(dir.File("Caf\xE9.img"), 1 << 20);
    image.WriteSector(0, PartitionSector({{0x83, 2048, 100}}));
    const CliRun list = RunList({"--disk", image.Path(), "list", "--json"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(Json::parse(list.out).at(0)["source"], dir.File("Caf\xEF\xBF\xBD.img"));
    const CliRun info = RunList({"--disk", image.Path(), "info", "--json", "Hard Disk 1/#1"});
    EXPECT_EQ(info.status, 0) << info.err;
    const Json partition = Json::parse(info.out);
    EXPECT_EQ(partition["partitionType"], 0x83);
    EXPECT_EQ(partition["startLba"], 2048);
}

// A partition at sector 2048 that the builder lays out and a test then damages.
struct BuiltDisk {
    BuiltDisk(const TempDir& dir, int bits, std::uint32_t sectors)
        : image(dir.File("built.img"), (kStart + std::uint64_t{sectors}) * 512),
          volume([&] {
              VolumeLayout layout;
              layout.fatBits = bits;
              layout.totalSectors = sectors;
              layout.sectorsPerCluster = 1;
              layout.reservedSectors = 4;
              return layout;
          }()),
          fatBits(bits) {
        image.WriteSector(
            0, PartitionSector(
                   {{fatBits == 32 ? std::uint8_t{0x0C} : std::uint8_t{0x06}, kStart, sectors}}));
    }

    void Write() { volume.Write(image, kStart); }

    std::uint64_t FatSector(std::uint32_t copy) const {
        return kStart + 4 + std::uint64_t{copy} * volume.SectorsPerFat();
    }

    // Sets a cluster's entry in both FAT copies.
    void SetFatEntry(std::uint32_t cluster, std::uint32_t value) const {
        const std::size_t width = fatBits == 32 ? 4 : 2;
        Bytes entry(width);
        if (width == 4) {
            WriteLe32(entry, 0, value);
        } else {
            WriteLe16(entry, 0, static_cast<std::uint16_t>(value));
        }
        for (std::uint32_t copy = 0; copy < 2; ++copy) {
            image.Write(FatSector(copy) * 512 + width * cluster, entry);
        }
    }

    ImageFile image;
    FatVolumeBuilder volume;
    int fatBits;
};

std::vector<std::uint32_t> Clusters(std::uint32_t first, std::uint32_t count) {
    std::vector<std::uint32_t> clusters(count);
    std::iota(clusters.begin(), clusters.end(), first);
    return clusters;
}

// A chain that runs back into itself ends before its first repeated cluster; a
// chain longer than its entry's size is told as such; a chain of 1,100 fragments
// is named up to the 1,000th; and a folder whose entries all lead into the same
// long chain is not followed without end.
TEST(CliInfoTest, DamagedChainsAreCutAndSaidToBe) {
    TempDir dir;
    BuiltDisk disk(dir, 32, 70'000);
    const auto root = disk.volume.Root();
    FileLayout loop = FileEntry("LOOP    TS ", 2048);
    loop.clusters = std::vector<std::uint32_t>{100, 101, 200, 201};
    disk.volume.AddFile(root, loop);
    FileLayout slack = FileEntry("SLACK   TS ", 3 * 512);
    slack.directorySize = 100;  // the chain has 3 clusters, the entry asks for one
    slack.clusters = std::vector<std::uint32_t>{300, 301, 302};
    disk.volume.AddFile(root, slack);
    FileLayout longFile = FileEntry("LONG    TS ", 60'000ull * 512);
    longFile.content = Content::Ends;
    longFile.clusters = Clusters(1000, 60'000);
    disk.volume.AddFile(root, longFile);
    // Every other cluster: 1,100 fragments, more than info names one by one.
    FileLayout scattered = FileEntry("SCATTER TS ", 1100ull * 512);
    scattered.clusters = std::vector<std::uint32_t>();
    for (std::uint32_t i = 0; i < 1100; ++i) {
        scattered.clusters->push_back(62'000 + 2 * i);
    }
    disk.volume.AddFile(root, scattered);
    // A folder whose entry holds a size: no folder's size is taken from it.
    disk.volume.AddRawEntry(root, ShortEntry("ODD        ", 0x10, 300, 1234));
    for (int i = 0; i < 20; ++i) {  // entries that lead into LONG.TS's chain
        disk.volume.AddRawEntry(
            root, ShortEntry("SAME" + std::to_string(10 + i) + "  TS ", 0x20, 1000, 0));
    }
    disk.Write();
    disk.SetFatEntry(201, 101);  // 100 101 200 201 101 ...

    const CliRun info =
        RunList({"--disk", disk.image.Path(), "info", "--json", std::string(kRoot32) + "/LOOP.TS"});
    EXPECT_EQ(info.status, 0) << info.err;
    const Json loopInfo = Json::parse(info.out);
    EXPECT_EQ(loopInfo["clusters"], 4);
    ASSERT_EQ(loopInfo["fragmentList"].size(), 2u);
    EXPECT_EQ(loopInfo["fragmentList"][0]["firstCluster"], 100);
    EXPECT_EQ(loopInfo["fragmentList"][0]["lastCluster"], 101);
    EXPECT_EQ(loopInfo["fragmentList"][1]["firstCluster"], 200);
    EXPECT_EQ(loopInfo["fragmentList"][1]["lastCluster"], 201);

    const CliRun slackInfo =
        RunList({"--disk", disk.image.Path(), "info", std::string(kRoot32) + "/SLACK.TS"});
    EXPECT_EQ(slackInfo.status, 0) << slackInfo.err;
    EXPECT_THAT(slackInfo.out,
                HasSubstr("The cluster chain is 2 clusters longer than the size needs (1 "
                          "cluster)."));

    const std::string scatter = std::string(kRoot32) + "/SCATTER.TS";
    const CliRun scatterJson = RunList({"--disk", disk.image.Path(), "info", "--json", scatter});
    EXPECT_EQ(scatterJson.status, 0) << scatterJson.err;
    const Json scatterInfo = Json::parse(scatterJson.out);
    EXPECT_EQ(scatterInfo["fragments"], 1100);
    EXPECT_EQ(scatterInfo["fragmentList"].size(), 1000u);
    EXPECT_EQ(scatterInfo["fragmentList"][999]["firstCluster"], 62'000 + 2 * 999);
    EXPECT_EQ(scatterInfo["fragmentsLeftOut"], 100);
    const CliRun scatterText = RunList({"--disk", disk.image.Path(), "info", scatter});
    EXPECT_THAT(scatterText.out,
                AllOf(HasSubstr("\n                1000: clusters 63998-63998 (1)"),
                      Not(HasSubstr("1001:")), HasSubstr("\n                ... 100 more\n")));

    const CliRun oddInfo =
        RunList({"--disk", disk.image.Path(), "info", std::string(kRoot32) + "/ODD"});
    EXPECT_EQ(oddInfo.status, 0) << oddInfo.err;
    EXPECT_THAT(oddInfo.out, HasSubstr("\nNote:           The folder's entry holds a size of "
                                       "1234 bytes"));

    const CliRun list = RunList({"--disk", disk.image.Path(), "list", "--json", kRoot32});
    EXPECT_EQ(list.status, 1);
    EXPECT_THAT(list.err, HasSubstr("run into one another"));
    const Json items = Json::parse(list.out);
    ASSERT_EQ(items.size(), 25u);
    EXPECT_EQ(items[0]["clusters"], 4);
    EXPECT_EQ(items[2]["clusters"], 60'000);
    EXPECT_EQ(items[3]["fragments"], 1100);
    const Json& odd = items[4];
    EXPECT_EQ(odd["kind"], "directory");
    EXPECT_EQ(odd["directorySize"], 1234);
    EXPECT_EQ(odd["size"], 0);
    EXPECT_EQ(odd["sizeFromChain"], false);
    EXPECT_EQ(items[5]["clusters"], 60'000);  // the first that leads into it is counted
    EXPECT_FALSE(items.back().contains("clusters"));
    EXPECT_FALSE(items.back().contains("fragments"));
    EXPECT_EQ(items.back()["fileName"], "SAME29.TS");  // the entry itself is still there
}

// Both copies of a FAT16 volume's FAT unreadable: the root (which needs no FAT)
// is listed, its entries without clusters or fragments, and the listing says why
// once and ends with 1; the text listing, which shows no chains, is untouched.
TEST(CliInfoTest, AnUnreadableFatLeavesTheChainsOut) {
    TempDir dir;
    BuiltDisk disk(dir, 16, 40'960);
    disk.volume.AddFile(disk.volume.Root(), FileEntry("NOTES   TXT", 1792));
    disk.volume.AddFile(disk.volume.Root(), FileEntry("OTHER   TXT", 700));
    disk.Write();
    TestOpener opener;
    opener.MarkBad(disk.image.Path(), disk.FatSector(0));
    opener.MarkBad(disk.image.Path(), disk.FatSector(1));
    cli::CliEnvironment environment;
    environment.opener = opener.Opener();

    const CliRun list =
        RunIn({"--disk", disk.image.Path(), "list", "--json", kRoot16}, environment);
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(list.err, "moravel-cli: \"" + std::string(kRoot16) +
                            "\": the volume's FAT could not be read; clusters and fragments are "
                            "left out\n");
    const Json items = Json::parse(list.out);
    ASSERT_EQ(items.size(), 2u);
    for (const Json& item : items) {
        EXPECT_FALSE(item.contains("clusters")) << item["name"];
        EXPECT_FALSE(item.contains("fragments")) << item["name"];
    }
    EXPECT_EQ(items[0]["directorySize"], 1792);

    const CliRun text = RunIn({"--disk", disk.image.Path(), "list", kRoot16}, environment);
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "NOTES   .TXT\tfile\t1.8 KB\t1792\nOTHER   .TXT\tfile\t700 B\t700\n");

    const std::string notes = std::string(kRoot16) + "/NOTES.TXT";
    const CliRun info = RunIn({"--disk", disk.image.Path(), "info", notes}, environment);
    EXPECT_EQ(info.status, 1);
    EXPECT_THAT(info.out, HasSubstr("\nClusters:       not known"));
    EXPECT_THAT(info.out, Not(HasSubstr("Fragments:")));
    EXPECT_THAT(info.err, HasSubstr("FAT could not be read"));
    const CliRun json = RunIn({"--disk", disk.image.Path(), "info", "--json", notes}, environment);
    EXPECT_EQ(json.status, 1);
    EXPECT_FALSE(Json::parse(json.out).contains("fragmentList"));
}

}  // namespace
}  // namespace moravel::testing
