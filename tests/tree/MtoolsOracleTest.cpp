#include <gmock/gmock.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>
#include <sstream>

#include "TreeFixture.h"
#include "support/Tools.h"
#include "tree/FatDate.h"

// The drive tree against volumes that the real mkfs.fat formatted and mtools
// filled: names, order and sizes must be what mdir reports.
namespace moravel {
namespace {

using testing::Quoted;

struct MdirEntry {
    std::string name;  // the long name, or the short name as this program forms it
    std::string path;  // how mtools is given it
    std::uint64_t size = 0;
    bool directory = false;
    std::string modified;  // "YYYY-MM-DD HH:MM"
};

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string Extension(const std::string& text) {
    const std::string extension = Trimmed(text);
    return extension.empty() ? "" : "." + extension;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

struct Format {
    const char* name;
    std::uint8_t partitionType;  // 0: a volume without partition table
    const char* mkfsOptions;
    std::uint64_t bytes;
    bool floppy = true;           // without partition table: given as a floppy, else as a hard disk
    const char* volumeName = "";  // the name of a hard disk's volume
};

class MtoolsOracleTest : public testing::TreeFixture, public ::testing::WithParamInterface<Format> {
protected:
    void SetUp() override {
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
        m_mkfs = testing::FindTool("mkfs.fat");
        ASSERT_FALSE(m_mkfs.empty()) << "mkfs.fat (dosfstools) is not installed";
        ASSERT_FALSE(testing::FindTool("mcopy").empty()) << "mtools is not installed";
    }

    void Run(const std::string& command) {
        int status = 0;
        const std::string output = testing::RunCommand(command, status);
        ASSERT_EQ(status, 0) << command << "\n" << output;
    }

    // The image as mtools addresses it: with the partition's byte offset.
    std::string Drive() const {
        const std::string image = Quoted(m_dir.File("disk.img"));
        return GetParam().partitionType == 0 ? image : image + "@@" + std::to_string(2048 * 512);
    }

    void Mtools(const std::string& tool, const std::string& arguments) {
        Run(testing::FindTool(tool) + " -i " + Drive() + " " + arguments);
    }

    std::string HostFile(const std::string& name, std::size_t bytes) {
        const std::string path = m_dir.File("host/" + name);
        std::filesystem::create_directories(m_dir.Path() / "host");
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < bytes; ++i) {
            out.put(static_cast<char>(i * 31 + name.size()));
        }
        return path;
    }

    // Copied in with their modification time (mcopy -m): recordings of 2004, a
    // time before noon, a leap day, and whatever the clock says for the rest.
    void CopyIn(const std::string& name, std::size_t bytes, const std::string& folder) {
        static const char* const kDates[] = {"2004-05-17 21:30:58", "2003-10-12 09:05:02",
                                             "2008-02-29 23:59:58", nullptr};
        const std::string host = HostFile(name, bytes);
        const char* date = kDates[m_copies++ % 4];
        if (date != nullptr) {
            Run("touch -d " + Quoted(date) + " " + Quoted(host));
        }
        Mtools("mcopy", "-m " + Quoted(host) + " " + Quoted("::" + folder + "/"));
    }
    int m_copies = 0;

    std::vector<MdirEntry> Mdir(const std::string& folder) {
        int status = 0;
        const std::string output = testing::RunCommand(
            testing::FindTool("mdir") + " -i " + Drive() + " -a " + Quoted("::" + folder), status);
        EXPECT_EQ(status, 0) << output;
        static const std::regex line(
            R"(^(.{8}) (.{3}) +(<DIR>|\d+) +(\d{4}-\d\d-\d\d) +(\d+):(\d\d)(?:  (.+))?$)");
        std::vector<MdirEntry> entries;
        std::stringstream lines(output);
        std::string text;
        while (std::getline(lines, text)) {
            while (!text.empty() && text.back() == ' ') {
                text.pop_back();
            }
            std::smatch match;
            if (!std::regex_match(text, match, line)) {
                continue;
            }
            MdirEntry entry;
            // Short names are stored in capitals; mdir shows the case flags.
            entry.name = match[7].matched ? match[7].str()
                                          : Upper(match[1].str()) + "." + Upper(match[2].str());
            entry.path =
                match[7].matched ? match[7].str() : Trimmed(match[1]) + Extension(match[2]);
            const std::string hour = match[5].str();
            entry.modified =
                match[4].str() + " " + (hour.size() == 1 ? "0" : "") + hour + ":" + match[6].str();
            entry.directory = match[3] == "<DIR>";
            entry.size = entry.directory ? 0 : std::stoull(match[3]);
            if (entry.name != ".       .   " && entry.name != "..      .   ") {
                entries.push_back(entry);
            }
        }
        return entries;
    }

    // Compares a folder and everything below it; returns the number of entries seen.
    std::size_t Compare(DriveItem& directory, const std::string& folder) {
        std::vector<MdirEntry> ours;
        std::vector<DriveItem*> subfolders;
        for (DriveItem* child : Expand(directory)) {
            if ((child->m_attributes & layout::entry::kAttributeVolumeLabel) != 0) {
                continue;  // mdir names the label in its heading, not among the files
            }
            const auto modified = DecodeFatDateTime(child->m_writeDate, child->m_writeTime);
            ours.push_back({std::string(child->DisplayName()), "", child->m_fileSize,
                            child->IsDirectory(), modified ? ShortDateText(*modified) : "none"});
            if (child->IsDirectory()) {
                subfolders.push_back(child);
            }
        }
        const auto theirs = Mdir(folder);
        EXPECT_EQ(ours.size(), theirs.size()) << folder;
        for (std::size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i) {
            EXPECT_EQ(ours[i].name, theirs[i].name) << folder << " #" << i;
            EXPECT_EQ(ours[i].size, theirs[i].size) << folder << " " << theirs[i].name;
            EXPECT_EQ(ours[i].directory, theirs[i].directory) << folder << " " << theirs[i].name;
            EXPECT_EQ(ours[i].modified, theirs[i].modified) << folder << " " << theirs[i].name;
        }
        std::size_t seen = ours.size();
        for (DriveItem* sub : subfolders) {
            const auto match = std::find_if(theirs.begin(), theirs.end(), [&](const MdirEntry& e) {
                return e.name == sub->DisplayName();
            });
            if (match != theirs.end()) {
                seen += Compare(*sub, folder + "/" + match->path);
            }
        }
        return seen;
    }

    std::string m_mkfs;
};

TEST_P(MtoolsOracleTest, TheTreeListsWhatMdirLists) {
    const Format format = GetParam();
    const std::string image = m_dir.File("disk.img");
    testing::ImageFile disk(image, format.bytes);
    std::string offset;
    std::uint64_t blocks = format.bytes / 1024;
    if (format.partitionType != 0) {
        const auto sectors = static_cast<std::uint32_t>(format.bytes / 512 - 2048);
        disk.WriteSector(0, testing::PartitionSector({{format.partitionType, 2048, sectors}}));
        offset = " --offset=2048";
        blocks = sectors / 2;
    }
    Run(m_mkfs + offset + " " + format.mkfsOptions + " " + Quoted(image) + " " +
        std::to_string(blocks));

    Mtools("mlabel", "::RECORDER");
    Mtools("mmd", "::/RECORDS");
    Mtools("mmd", Quoted("::/RECORDS/Old recordings"));
    CopyIn("Evening News 2004-05-17.ts", 70'000, "/RECORDS");
    CopyIn("MOVIE.TS", 1000, "/RECORDS");
    CopyIn("short.ts", 513, "/RECORDS");
    CopyIn("A name that needs three long-name entries.ts", 4096, "/RECORDS");
    CopyIn("to be deleted.ts", 2000, "/RECORDS");
    for (int i = 0; i < 40; ++i) {
        CopyIn("Recording number " + std::to_string(i) + ".ts",
               100 + 37 * static_cast<std::size_t>(i), "/RECORDS/Old recordings");
    }
    CopyIn("README.TXT", 0, "");
    CopyIn("notes.txt", 12, "");
    Mtools("mdel", Quoted("::/RECORDS/to be deleted.ts"));

    const bool floppy = format.partitionType == 0 && format.floppy;
    Open(floppy ? std::vector<std::string>{} : std::vector<std::string>{image},
         floppy ? std::vector<std::string>{image} : std::vector<std::string>{});
    DriveItem& volume = floppy ? Disk(0) : *Expand(Disk(0)).at(0);
    if (!floppy) {
        EXPECT_EQ(Expand(Disk(0)).size(), 1u);
        EXPECT_EQ(volume.DisplayName(), format.volumeName);
    }
    // The root: RECORDS, README.TXT, notes.txt (the label aside); RECORDS: four files
    // and a folder (the deleted file aside); the folder: 40 files.
    EXPECT_EQ(Compare(Child(volume, "Root Directory"), ""), 3u + 5 + 40);
    EXPECT_TRUE(m_errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Mkfs, MtoolsOracleTest,
    ::testing::Values(
        Format{"Fat12Floppy", 0, "-F 12", 1'474'560},
        Format{"Fat16Partition", 0x06, "-F 16 -s 2", 40ull << 20, true, "16-Bit FAT Disk"},
        Format{"Fat32Partition", 0x0C, "-F 32 -s 1", 300ull << 20, true, "32-Bit FAT Disk"},
        // Formatted whole, without a partition table: a stick, a copy of one partition.
        Format{"Fat32Floppy", 0, "-F 32 -s 1", 300ull << 20},
        Format{"Fat16WholeDisk", 0, "-F 16 -s 2", 40ull << 20, false, "16-Bit FAT Disk"},
        Format{"Fat32WholeDisk", 0, "-F 32 -s 1", 300ull << 20, false, "32-Bit FAT Disk"},
        Format{"Fat12WholeDisk", 0, "-F 12", 1'474'560, false, "12-Bit FAT Disk"}),
    [](const ::testing::TestParamInfo<Format>& param) { return std::string(param.param.name); });

// Names as mtools writes them: long names in UTF-16 (from the UTF-8 names given
// to mcopy), short names in code page 850, mtools' default. (mtools stores only
// the low 16 bits of a character beyond U+FFFF, so surrogate pairs are tested
// on the image builder's names alone.)
class MtoolsNamesTest : public testing::TreeFixture {
protected:
    // A 100 MiB stick formatted FAT32 by mkfs.fat, and a small file to copy onto it.
    void SetUp() override {
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
        const std::string mkfs = testing::FindTool("mkfs.fat");
        ASSERT_FALSE(mkfs.empty()) << "mkfs.fat (dosfstools) is not installed";
        ASSERT_FALSE(testing::FindTool("mcopy").empty()) << "mtools is not installed";
        Run(mkfs + " -C -F 32 -s 1 " + Quoted(image) + " " + std::to_string(100 * 1024));
        std::ofstream(host) << "recording";
    }

    static void Run(const std::string& command) {
        int status = 0;
        const std::string output = testing::RunCommand("LC_ALL=C.UTF-8 " + command, status);
        EXPECT_EQ(status, 0) << command << "\n" << output;
    }

    const std::string image = m_dir.File("stick.img");
    const std::string host = m_dir.File("payload");
};

TEST_F(MtoolsNamesTest, LongNamesAreUnicodeAndShortNamesCodePage850) {
    // The longest name, 255 units in 20 long-name entries. (mtools garbles a long
    // name of many CJK characters, so that one is tested on the builder's images.)
    const std::string longest = std::string(251, 'r') + ".mpg";
    const std::vector<std::string> longNames = {"\u65E5\u672C\u8A9E\u306E\u756A\u7D44.ts",
                                                "News \u2013 Late Edition.ts",
                                                "Caf\u00E9 \u20AC.ts", longest};
    for (const std::string& name : longNames) {
        Run(testing::FindTool("mcopy") + " -i " + Quoted(image) + " " + Quoted(host) + " " +
            Quoted("::/" + name));
    }
    Run(testing::FindTool("mcopy") + " -i " + Quoted(image) + " " + Quoted(host) + " " +
        Quoted("::/R\u00C9SUM\u00C9.TXT"));

    Open({}, {image});
    std::vector<std::string> shown;
    std::string resumeShortName;
    for (DriveItem* child : Expand(Child(Disk(0), "Root Directory"))) {
        shown.emplace_back(child->DisplayName());
        if (child->DisplayName() == "R\u00C9SUM\u00C9  .TXT") {
            resumeShortName = child->ShortName();
            EXPECT_EQ(child->EntryName(), "R\u00C9SUM\u00C9.TXT");
        } else {
            EXPECT_EQ(child->EntryName(), child->DisplayName());
        }
    }
    std::vector<std::string> expected = longNames;
    expected.push_back("R\u00C9SUM\u00C9  .TXT");
    EXPECT_THAT(shown, ::testing::UnorderedElementsAreArray(expected));
    EXPECT_EQ(resumeShortName, "R\u00C9SUM\u00C9.TXT");
}

// A recorder that knows only short names renames a file that mcopy wrote: it
// rewrites the short entry in place and leaves the long-name entries before it.
// Their checksum is then another name's, and the file goes by its new short
// name, as mdir shows it.
TEST_F(MtoolsNamesTest, AShortEntryRenamedInPlaceLosesItsOldLongName) {
    Run(testing::FindTool("mcopy") + " -i " + Quoted(image) + " " + Quoted(host) + " " +
        Quoted("::/Evening News 2004-05-17.ts"));

    std::fstream disk(image, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes(4u << 20, '\0');
    disk.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::size_t at = bytes.find("EVENIN~1TS ");
    while (at != std::string::npos && at % 32 != 0) {
        at = bytes.find("EVENIN~1TS ", at + 1);
    }
    ASSERT_NE(at, std::string::npos) << "mcopy wrote no short entry EVENIN~1TS";
    disk.seekp(static_cast<std::streamoff>(at));
    disk.write("NEWS0001TS ", 11);
    disk.close();

    Open({}, {image});
    EXPECT_EQ(Names(Expand(Child(Disk(0), "Root Directory"))),
              std::vector<std::string>{"NEWS0001.TS "});
    int status = 0;
    const std::string listed =
        testing::RunCommand(testing::FindTool("mdir") + " -i " + Quoted(image) + " ::/", status);
    EXPECT_TRUE(std::regex_search(listed, std::regex(R"(\nNEWS0001 TS +9 [-0-9]+ +[0-9:]+ *\n)")))
        << listed;
}

// The test image builder against fsck.fat: what the other suites build is a
// consistent FAT volume, whichever kind.
TEST(FatVolumeBuilderTest, BuildsVolumesThatFsckAccepts) {
    const std::string fsck = testing::FindTool("fsck.fat");
    ASSERT_FALSE(fsck.empty()) << "fsck.fat (dosfstools) is not installed";
    for (const int bits : {12, 16, 32}) {
        testing::VolumeLayout layout;
        layout.fatBits = bits;
        layout.totalSectors = bits == 12 ? 2880 : bits == 16 ? 100'000 : 600'000;
        layout.sectorsPerCluster = bits == 32 ? 1 : 4;
        layout.reservedSectors = bits == 32 ? 32 : 1;
        layout.rootEntries = 224;
        testing::FatVolumeBuilder builder(layout);
        builder.AddVolumeLabel("RECORDER   ");
        const auto folder = builder.AddDirectory(builder.Root(), "RECORD~1   ", "Recordings");
        for (int i = 0; i < 30; ++i) {
            testing::FileLayout file;
            file.shortName = "REC" + std::to_string(10 + i) + "   TS ";
            file.longName = "Recording " + std::to_string(10 + i) + ".ts";
            file.size = 1000u * static_cast<unsigned>(i);
            builder.AddFile(folder, file);
        }
        testing::TempDir dir;
        const testing::ImageFile image(dir.File("volume.img"),
                                       std::uint64_t{layout.totalSectors} * 512);
        builder.Write(image, 0);
        int status = 0;
        const std::string output =
            testing::RunCommand(fsck + " -n " + Quoted(image.Path()), status);
        EXPECT_EQ(status, 0) << bits << "\n" << output;
    }
}

}  // namespace
}  // namespace moravel
