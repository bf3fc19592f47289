#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CliTestImages.h"
#include "cli/Listing.h"
#include "cli/TerminalFrontend.h"

namespace moravel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Json = nlohmann::json;

constexpr const char* kRecords = "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS";

// One recorder disk and one floppy for the whole suite: the disk is never
// written by the program, so every test can read the same image.
class CliListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<TempDir>();
        s_disk = std::make_unique<RecorderDisk>(*s_dir);
        s_floppy = MakeFloppy(*s_dir);
    }
    static void TearDownTestSuite() {
        s_disk.reset();
        s_dir.reset();
    }

    static std::vector<std::string> Args(std::vector<std::string> rest) {
        std::vector<std::string> args = {"--disk", s_disk->path};
        args.insert(args.end(), rest.begin(), rest.end());
        return args;
    }

    static Json ParseJson(const CliRun& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        return Json::parse(run.out);
    }

    static const Json* FindByName(const Json& array, const std::string& name) {
        for (const Json& object : array) {
            if (object["name"] == name) {
                return &object;
            }
        }
        return nullptr;
    }

    static void ForEachObject(const Json& array, const std::function<void(const Json&)>& visit) {
        for (const Json& object : array) {
            visit(object);
            if (object.contains("children")) {
                ForEachObject(object["children"], visit);
            }
        }
    }

    static inline std::unique_ptr<TempDir> s_dir;
    static inline std::unique_ptr<RecorderDisk> s_disk;
    static inline std::string s_floppy;
};

TEST_F(CliListTest, TopLevelListsTheDisksFloppiesFirst) {
    const CliRun run = RunList({"--floppy", s_floppy, "--disk", s_disk->path, "list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(Lines(run.out), ElementsAre("Floppy Disk 1\tvolume", "Hard Disk 1\tdisk"));
}

TEST_F(CliListTest, DiskListsItsPartitionsInTableOrder) {
    const CliRun run = RunList(Args({"list", "Hard Disk 1"}));
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(Lines(run.out),
                ElementsAre("32-Bit FAT Disk\tvolume", "16-Bit FAT Disk\tvolume",
                            "Extended DOS Partition\textended", "Unknown\tunknown"));
}

TEST_F(CliListTest, FolderListsFilesWithSizeTextAndByteCount) {
    const CliRun run = RunList(Args({"list", kRecords}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(
        Lines(run.out),
        ElementsAre("Movie.ts\tfile\t4.5 GB\t4831850553", "VIDEO.MPG\tfile\t2.0 KB\t2000",
                    "VIDEO   .MPG\tfile\t1.3 KB\t1280", "Same name.ts\tfile\t100 B\t100",
                    "Same name.ts\tfile\t200 B\t200", "Caf\u00E9 \u20AC.ts\tfile\t1023 B\t1023",
                    "R\u00C9SUM\u00C9  .TXT\tfile\t1.0 MB\t1048576", "a/b\tfile\t5 B\t5",
                    "SUB     .   \tdirectory"));
}

TEST_F(CliListTest, VolumeListsFatCopiesAndItsRoot) {
    EXPECT_THAT(Lines(RunList(Args({"list", "Hard Disk 1/32-Bit FAT Disk"})).out),
                ElementsAre("FAT 1\tfat", "FAT 2\tfat", "Root Directory\troot"));
    EXPECT_THAT(Lines(RunList(Args({"list", "Hard Disk 1/16-Bit FAT Disk"})).out),
                ElementsAre("FAT 1\tfat", "FAT 2\tfat", "Root Directory\troot"));
    // The fixed root skips the volume label.
    EXPECT_THAT(Lines(RunList(Args({"list", "Hard Disk 1/16-Bit FAT Disk/Root Directory"})).out),
                ElementsAre("NOTES   .TXT\tfile\t1.8 KB\t1792", "DOCS    .   \tdirectory"));
}

TEST_F(CliListTest, PathComponentsMayBeExactUnpaddedOrNumbered) {
    const std::vector<std::string> expected = {"Deep file.bin\tfile\t4.0 KB\t4096"};
    for (const std::string path :
         {"Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS .   /SUB     .   ",
          "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORDS/SUB", "#1/#1/#3/#1/#9",
          "/Hard Disk 1/#1/Root Directory/RECORDS/SUB/"}) {
        const CliRun run = RunList(Args({"list", path}));
        EXPECT_EQ(run.status, 0) << path << "\n" << run.err;
        EXPECT_EQ(Lines(run.out), expected) << path;
    }
}

// The path that leads nowhere says where it stopped, what is there, and the
// path it may have meant: a name a letter off, or a level left out.
TEST_F(CliListTest, AComponentThatMatchesNothingIsNamedWithWhatIsThere) {
    const CliRun run =
        RunList(Args({"list", "Hard Disk 1/32-Bit FAT Disk/Root Directory/FOO/BAR"}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "moravel-cli: no \"FOO\" in \"Hard Disk 1/32-Bit FAT Disk/Root Directory\", which "
              "holds \"RECORDS\", \"Long folder name\"\n");

    // The item is named by its printed path, whatever form the user gave.
    const CliRun numbered = RunList(Args({"list", "#1/#1/#3/RECORDS .   /FOO"}));
    EXPECT_EQ(numbered.status, 2);
    // Each named as a path names it: a name two entries share, or one with a
    // '/', by its number.
    EXPECT_EQ(numbered.err, "moravel-cli: no \"FOO\" in \"" + std::string(kRecords) +
                                "\", which holds \"Movie.ts\", \"VIDEO.MPG\", \"VIDEO   .MPG\", "
                                "\"Same name.ts\", \"#5\", \"Caf\u00E9 \u20AC.ts\", "
                                "\"R\u00C9SUM\u00C9.TXT\", \"#8\", \"SUB\"\n");

    const CliRun top = RunList(Args({"list", "Hard Disk 2"}));
    EXPECT_EQ(top.status, 2);
    EXPECT_EQ(top.err,
              "moravel-cli: no \"Hard Disk 2\" among the disks, which are \"Hard Disk 1\"\n");

    const CliRun leftOut = RunList(Args({"list", "Hard Disk 1/32-Bit FAT Disk/records/SUB"}));
    EXPECT_EQ(leftOut.status, 2);
    EXPECT_EQ(leftOut.err,
              "moravel-cli: no \"records\" in \"Hard Disk 1/32-Bit FAT Disk\", which holds "
              "\"FAT 1\", \"FAT 2\", \"Root Directory\"; did you mean \"Hard Disk 1/32-Bit FAT "
              "Disk/Root Directory/RECORDS/SUB\"?\n");
    EXPECT_THAT(RunList(Args({"list", "Hard Disk 1/32-Bit FAT Disk/Root Directory/RECORD S"})).err,
                HasSubstr("did you mean \"" + std::string(kRecords) + "\"?"));

    // Names match without regard to case; the numbers count from 1 up to the last child.
    EXPECT_EQ(RunList(Args({"list", "hard disk 1"})).status, 0);
    EXPECT_EQ(RunList(Args({"list", "hard disk"})).status, 2);
    EXPECT_EQ(RunList(Args({"list", "#0"})).status, 2);
    EXPECT_EQ(RunList(Args({"list", "Hard Disk 1/#5"})).status, 2);
    EXPECT_EQ(RunList(Args({"list", "Hard Disk 1/#4"})).status, 0);
}

// A TREEPATH that the shell split at its blanks: the usage error names the
// path to quote when the words joined lead somewhere, else gives the advice.
TEST_F(CliListTest, APathSplitByTheShellIsToBeQuoted) {
    const CliRun list = RunList(Args({"list", "Hard", "Disk", "1/32-Bit", "FAT", "Disk"}));
    EXPECT_EQ(list.status, 2);
    EXPECT_EQ(Lines(list.err).front(),
              "moravel-cli: list takes one TREEPATH, not 5; quote a TREEPATH that holds blanks: "
              "\"Hard Disk 1/32-Bit FAT Disk\"");
    const CliRun thumbnail = RunList(Args({"thumbnail", "Hard", "Disk", "1", "out.png"}));
    EXPECT_EQ(Lines(thumbnail.err).front(),
              "moravel-cli: thumbnail needs TREEPATH and OUT.png; quote a TREEPATH that holds "
              "blanks: \"Hard Disk 1\"");
    const CliRun two = RunList(Args({"info", "Hard Disk 1", "Hard Disk 1"}));
    EXPECT_EQ(Lines(two.err).front(),
              "moravel-cli: info takes one TREEPATH, not 2; quote a TREEPATH that holds blanks");
}

TEST_F(CliListTest, NamesAreShownAsUtf8AndFoundByIt) {
    const CliRun run = RunList(Args({"list", std::string(kRecords) + "/R\u00C9SUM\u00C9.TXT"}));
    EXPECT_EQ(run.status, 0) << run.err;
    // A Latin-1 spelling of the same name is not the name.
    EXPECT_EQ(RunList(Args({"list", std::string(kRecords) + "/R\xC9SUM\xC9.TXT"})).status, 2);
    // The short name's bytes are code page 850 unless another is named.
    const CliRun cyrillic = RunList(Args({"--codepage", "866", "list", kRecords}));
    EXPECT_THAT(cyrillic.out, HasSubstr("R\u0420SUM\u0420  .TXT\tfile"));
    EXPECT_THAT(cyrillic.out, HasSubstr("Caf\u00E9 \u20AC.ts\tfile"));  // long names are Unicode
    const CliRun unknown = RunList(Args({"--codepage", "12345", "list", kRecords}));
    EXPECT_EQ(unknown.status, 2);
    EXPECT_THAT(unknown.err, HasSubstr("--codepage takes the number of a code page"));

    const Json listing = ParseJson(RunList(Args({"list", "--json", kRecords})));
    const Json* cafe = FindByName(listing, "Caf\u00E9 \u20AC.ts");
    ASSERT_NE(cafe, nullptr) << listing.dump(2);
    EXPECT_EQ((*cafe)["path"], std::string(kRecords) + "/Caf\u00E9 \u20AC.ts");
}

TEST_F(CliListTest, JsonCarriesKindsSizesAndClusters) {
    const Json listing = ParseJson(RunList(Args({"list", "--json", kRecords})));
    ASSERT_TRUE(listing.is_array());
    ASSERT_EQ(listing.size(), 9u);
    for (const Json& object : listing) {
        for (const char* key : {"name", "path", "kind", "size", "attributes", "firstCluster"}) {
            EXPECT_TRUE(object.contains(key)) << key << " in " << object.dump();
        }
        EXPECT_FALSE(object.contains("children")) << object.dump();
    }
    const Json& movie = listing[0];
    EXPECT_EQ(movie["name"], "Movie.ts");
    EXPECT_EQ(movie["path"], std::string(kRecords) + "/Movie.ts");
    EXPECT_EQ(movie["kind"], "file");
    // The directory holds the size modulo 2^32; the chain gives the rest.
    EXPECT_EQ(movie["size"].get<std::uint64_t>(), RecorderDisk::kMovieSize);
    EXPECT_EQ(movie["attributes"], 0x20);
    EXPECT_EQ(movie["firstCluster"].get<std::uint32_t>(), s_disk->movieFirstCluster);

    const Json& sub = listing[8];
    EXPECT_EQ(sub["kind"], "directory");
    EXPECT_EQ(sub["attributes"], 0x10);
    EXPECT_EQ(sub["size"], 0);
    EXPECT_EQ(sub["path"], std::string(kRecords) + "/SUB");

    // Paths that cannot use the name: a short name whose unpadded form is a
    // sibling's name, twins, and a name with a slash.
    EXPECT_EQ(listing[1]["path"], std::string(kRecords) + "/VIDEO.MPG");
    EXPECT_EQ(listing[2]["path"], std::string(kRecords) + "/VIDEO   .MPG");
    // The first twin is what its name finds; the second one needs its number.
    EXPECT_EQ(listing[3]["path"], std::string(kRecords) + "/Same name.ts");
    EXPECT_EQ(listing[4]["path"], std::string(kRecords) + "/#5");
    EXPECT_EQ(listing[7]["name"], "a/b");
    EXPECT_EQ(listing[7]["path"], std::string(kRecords) + "/#8");
}

TEST_F(CliListTest, JsonMarksTheFat32RootAsRoot) {
    const Json volume = ParseJson(RunList(Args({"list", "--json", "Hard Disk 1/32-Bit FAT Disk"})));
    ASSERT_EQ(volume.size(), 3u);
    EXPECT_EQ(volume[0]["kind"], "fat");
    EXPECT_EQ(volume[2]["kind"], "root");
    EXPECT_EQ(volume[2]["attributes"], 0x10);
    EXPECT_EQ(volume[2]["firstCluster"], 2);  // the boot sector's root cluster
    const Json root =
        ParseJson(RunList(Args({"list", "--json", "Hard Disk 1/32-Bit FAT Disk/Root Directory"})));
    ASSERT_EQ(root.size(), 2u);
    EXPECT_EQ(root[0]["kind"], "directory");
    EXPECT_EQ(root[0]["firstCluster"].get<std::uint32_t>(), s_disk->recordsFirstCluster);
    EXPECT_EQ(root[1]["name"], "Long folder name");
}

TEST_F(CliListTest, RecursiveExpandsWhatHoldsChildrenAndNothingElse) {
    const Json tree = ParseJson(RunList(Args({"list", "-r", "--json"})));
    std::map<std::string, int> kinds;
    ForEachObject(tree, [&kinds](const Json& object) {
        const std::string kind = object["kind"];
        ++kinds[kind];
        const bool holder = kind == "disk" || kind == "extended" || kind == "volume" ||
                            kind == "root" || kind == "directory";
        EXPECT_EQ(object.contains("children"), holder) << object["path"];
    });
    EXPECT_EQ(kinds["disk"], 1);
    EXPECT_EQ(kinds["volume"], 3);  // FAT32, FAT16 and the logical FAT12 partition
    EXPECT_EQ(kinds["extended"], 1);
    EXPECT_EQ(kinds["unknown"], 1);
    EXPECT_EQ(kinds["fat"], 6);
    EXPECT_EQ(kinds["root"], 3);
    EXPECT_EQ(kinds["directory"], 4);  // RECORDS, Long folder name, SUB, DOCS
    EXPECT_EQ(kinds["file"], 12);

    // The logical partition sits inside the extended one.
    const Json& disk = tree[0];
    const Json* extended = FindByName(disk["children"], "Extended DOS Partition");
    ASSERT_NE(extended, nullptr);
    ASSERT_EQ((*extended)["children"].size(), 1u);
    EXPECT_EQ((*extended)["children"][0]["name"], "12-Bit FAT Disk");
    const Json& fat12Root = (*extended)["children"][0]["children"][2];
    ASSERT_EQ(fat12Root["children"].size(), 1u);
    EXPECT_EQ(fat12Root["children"][0]["name"], "SMALL   .DAT");
    EXPECT_EQ(fat12Root["children"][0]["path"],
              "Hard Disk 1/Extended DOS Partition/12-Bit FAT Disk/Root Directory/SMALL.DAT");
}

TEST_F(CliListTest, RecursiveTextIndentsSubtrees) {
    const CliRun run = RunList(Args({"list", "-r", "Hard Disk 1/16-Bit FAT Disk"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(Lines(run.out),
                ElementsAre("FAT 1\tfat", "FAT 2\tfat", "Root Directory\troot",
                            "  NOTES   .TXT\tfile\t1.8 KB\t1792", "  DOCS    .   \tdirectory",
                            "    Readme.txt\tfile\t10 B\t10"));
}

TEST_F(CliListTest, EveryPrintedPathLeadsBackToItsItem) {
    const Json tree = ParseJson(RunList(Args({"list", "-r", "--json"})));
    int checked = 0;
    ForEachObject(tree, [&](const Json& object) {
        const std::string path = object["path"];
        const CliRun run = RunList(Args({"list", "--json", path}));
        ASSERT_EQ(run.status, 0) << path << "\n" << run.err;
        const Json children = Json::parse(run.out);
        // What the path lists is what the item was expanded into.
        std::vector<std::string> expected;
        if (object.contains("children")) {
            for (const Json& child : object["children"]) {
                expected.push_back(child["path"].get<std::string>() + " " +
                                   child["firstCluster"].dump() + " " + child["size"].dump());
            }
        }
        std::vector<std::string> listed;
        for (const Json& child : children) {
            listed.push_back(child["path"].get<std::string>() + " " + child["firstCluster"].dump() +
                             " " + child["size"].dump());
        }
        EXPECT_EQ(listed, expected) << path;
        ++checked;
    });
    EXPECT_EQ(checked, 31);
}

// The same, by identity: in one walk over the tree, resolving each item's path
// gives back that very item, leaves included.
TEST_F(CliListTest, ResolvingAPathGivesTheSameItem) {
    std::ostringstream err;
    cli::TerminalFrontend frontend(err, false);
    DriveAccessOptions options;
    options.sources.hardDisks = {s_disk->path};
    options.sources.floppies = {s_floppy};
    DriveTree access(frontend, options);
    ASSERT_TRUE(access.Open().empty());
    cli::TreeWalker walker(access, frontend);
    const auto items = walker.List(cli::TreeWalker::Place{}, true);
    int checked = 0;
    std::function<void(const std::vector<cli::ListedItem>&)> check =
        [&](const std::vector<cli::ListedItem>& level) {
            for (const cli::ListedItem& listed : level) {
                std::string error;
                const auto place = walker.Resolve(listed.path, error);
                ASSERT_TRUE(place.has_value()) << listed.path << ": " << error;
                EXPECT_EQ(place->item, listed.item) << listed.path;
                EXPECT_EQ(place->path, listed.path);
                ++checked;
                check(listed.children);
            }
        };
    check(items);
    EXPECT_EQ(checked, 36);  // the disk's 31 items, the floppy with its 4
    EXPECT_EQ(err.str(), "");
}

TEST_F(CliListTest, ListingAFileOrAFatCopyPrintsNothing) {
    for (const std::string& path :
         {std::string(kRecords) + "/Movie.ts", std::string("Hard Disk 1/32-Bit FAT Disk/FAT 1"),
          std::string("Hard Disk 1/Unknown")}) {
        const CliRun run = RunList(Args({"list", path}));
        EXPECT_EQ(run.status, 0) << path;
        EXPECT_EQ(run.out, "") << path;
        EXPECT_EQ(RunList(Args({"list", "--json", path})).out, "[]\n") << path;
    }
}

TEST_F(CliListTest, FloppyIsAVolume) {
    const CliRun run = RunList({"--floppy", s_floppy, "list", "-r", "Floppy Disk 1"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(Lines(run.out), ElementsAre("FAT 1\tfat", "FAT 2\tfat", "Root Directory\troot",
                                            "  FLOPPY  .TXT\tfile\t300 B\t300"));
}

}  // namespace
}  // namespace moravel::testing
