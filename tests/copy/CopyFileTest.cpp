#include <fstream>
#include <iterator>
#include <optional>
#include <tuple>

#include "CopyFixture.h"
#include "copy/CopyTexts.h"
#include "copy/PartNames.h"
#include "support/Tools.h"

namespace moravel {
namespace {

using testing::Content;
using testing::ContentByte;
using testing::CopyFixture;
using ::testing::ElementsAre;
using testing::EndsContent;
using testing::ExpectContent;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::kPartitionStart;
using testing::MemoryTarget;
using ::testing::StartsWith;

constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;
constexpr char kSucceeded[] = "The file was succesfully copied";
#ifdef _WIN32
constexpr char kJoinMovie[] = "copy /b Movie_1.ts + Movie_2.ts Movie.ts";
#else
constexpr char kJoinMovie[] = "cat Movie_1.ts Movie_2.ts > Movie.ts";
#endif
constexpr char kInParts[] = " in 2 parts in /media/usb/: Movie_1.ts, Movie_2.ts";

std::string SucceededTo(const std::string& path) {
    return std::string(kSucceeded) + " to " + path;
}
constexpr char kFailed[] = "The file copying failed.";

// The status of a copy that ended before its last byte, with its output kept.
std::string KeptText(const std::string& kept) {
    const auto slash = kept.find_last_of("/\\");
    return "What was copied is kept as " + kept.substr(slash + 1) + " in " +
           kept.substr(0, slash + 1) + ".";
}

std::string KeptFailed(const std::string& kept) {
    return std::string(kFailed) + " " + KeptText(kept);
}

// The box of a failed copy: the reason, then what is kept where.
std::string FailedBox(const std::string& reason, const std::string& kept) {
    return reason + "\n\n" + KeptText(kept);
}

class CopyTest : public CopyFixture {
protected:
    // The positions the copy gave the bar, from the moment it showed "Copying".
    std::vector<int> ProgressPositionsSet() const {
        std::vector<int> positions;
        bool copying = false;
        for (const auto& call : m_frontend.Calls()) {
            copying = copying || call.rfind("SetStatusText(Copying ", 0) == 0;
            if (copying && call.rfind("SetProgressPosition(", 0) == 0) {
                positions.push_back(std::stoi(call.substr(20)));
            }
        }
        return positions;
    }
    bool SelectionEnabled() const {
        return m_frontend.IsEnabled(res::kFolderTree) && m_frontend.IsEnabled(res::kFileList);
    }
};

TEST_F(CopyTest, WithoutASelectedFileOnlyAsksForOne) {
    AddRecording("MOVIE   TS ", 1000);
    MemoryTarget target("NTFS");
    Start(target);
    m_frontend.UserClickCopyFile();
    ASSERT_EQ(m_frontend.Messages().size(), 1u);
    const auto& message = m_frontend.Messages()[0];
    EXPECT_EQ(message.text, "Please select the file to be copied");
    EXPECT_EQ(message.buttons, MessageButtons::Ok);
    EXPECT_EQ(message.icon, MessageIcon::Exclamation);
    EXPECT_EQ(message.caption, "Veltrano Harddisk Recorder Utility");
    EXPECT_THAT(m_frontend.SaveDialogs(), IsEmpty());
    EXPECT_EQ(target.volumeQueries, 0);
}

TEST_F(CopyTest, CancelInTheSaveDialogEndsEverything) {
    AddRecording("MOVIE   TS ", 1000, "Movie.ts");
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Movie.ts");
    m_frontend.UserClickCopyFile();                                  // no answer queued: Cancel
    EXPECT_THAT(m_frontend.SaveDialogs(), ElementsAre("Movie.ts"));  // the entry's name offered
    EXPECT_EQ(target.volumeQueries, 0);
    EXPECT_THAT(target.created, IsEmpty());
    EXPECT_TRUE(m_frontend.Messages().empty());
    EXPECT_TRUE(SelectionEnabled());
}

TEST_F(CopyTest, OldFatDrivesAreRefused) {
    AddRecording("MOVIE   TS ", 1000, "Movie.ts");
    for (const char* fileSystem : {"FAT", "FAT12", "FAT16"}) {
        MemoryTarget target(fileSystem, "/media/stick/");
        Start(target);
        SelectFile("Movie.ts");
        const std::size_t before = m_frontend.Messages().size();
        CopyTo("/media/stick/Movie.ts");
        ASSERT_EQ(m_frontend.Messages().size(), before + 1);
        const auto& message = m_frontend.Messages().back();
        EXPECT_EQ(message.text, std::string("The destination drive /media/stick/ uses the ") +
                                    fileSystem +
                                    " file system.\nOnly FAT32 and NTFS file stystems are "
                                    "supported.");
        EXPECT_EQ(message.caption, "Veltrano Harddisk Recorder Utility");
        EXPECT_EQ(message.icon, MessageIcon::Hand);
        EXPECT_THAT(target.created, IsEmpty());
        EXPECT_TRUE(SelectionEnabled());
        EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
    }
}

// A mount point is the user's to name: one holding "%s" shows as it is.
TEST_F(CopyTest, TheRefusalShowsAMountPointWithPercentSAsItIs) {
    AddRecording("MOVIE   TS ", 1000, "Movie.ts");
    MemoryTarget target("FAT16", "/media/a%s%sb/");
    Start(target);
    SelectFile("Movie.ts");
    CopyTo("/media/a%s%sb/Movie.ts");
    ASSERT_EQ(m_frontend.Messages().size(), 1u);
    EXPECT_EQ(m_frontend.Messages()[0].text,
              "The destination drive /media/a%s%sb/ uses the FAT16 file system.\nOnly FAT32 and "
              "NTFS file stystems are supported.");
}

// The Save dialog offers the name from the disk as a file name that stays in the
// folder it is saved to.
TEST_F(CopyTest, TheSaveDialogOffersANameThatStaysInItsFolder) {
    AddRecording("SLASH   TS ", 1000, "../rec/\x1b[2J.ts");
    AddRecording("DOTDOT     ", 1000, "..");
    MemoryTarget target("NTFS");
    Start(target);
    for (const char* name : {"../rec/\x1b[2J.ts", ".."}) {
        SelectFile(name);
        m_frontend.UserClickCopyFile();  // no answer queued: the dialog is cancelled
    }
    EXPECT_THAT(m_frontend.SaveDialogs(), ElementsAre(".._rec__[2J.ts", "__"));
    EXPECT_THAT(target.created, IsEmpty());
}

TEST_F(CopyTest, AnyOtherFileSystemTakesTheFileWhole) {
    const auto seed = AddRecording("MOVIE   TS ", 100'000, "Movie.ts", Content::Full);
    for (const char* fileSystem : {"NTFS", "ext4", "CDFS", ""}) {
        MemoryTarget target(fileSystem);
        Start(target);
        SelectFile("Movie.ts");
        CopyTo("/media/usb/Movie.ts");
        ASSERT_THAT(target.created, ElementsAre("/media/usb/Movie.ts")) << fileSystem;
        // On its device before it was named as the copy, and nothing else left.
        ASSERT_EQ(target.files.size(), 1u);
        EXPECT_EQ(target.files["/media/usb/Movie.ts"].syncs, 1);
        ExpectContent(target.files["/media/usb/Movie.ts"], 100'000,
                      [&](std::uint64_t o) { return ContentByte(seed, o); });
        EXPECT_EQ(m_frontend.StatusText(), SucceededTo("/media/usb/Movie.ts"));
        EXPECT_TRUE(m_frontend.IsVisible(res::kStatusLine));
        EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));
        EXPECT_EQ(m_frontend.ProgressPosition(), 0);
        EXPECT_TRUE(SelectionEnabled());
    }
    EXPECT_TRUE(m_frontend.Messages().empty());
}

TEST_F(CopyTest, Fat32TakesFourGiBLessOneByteAsOneFile) {
    const std::uint64_t size = kFourGiB - 1;
    const auto seed = AddRecording("BIG     TS ", size, "Big.ts");
    MemoryTarget target("FAT32");
    Start(target);
    SelectFile("Big.ts");
    CopyTo("/media/usb/Big.ts");
    EXPECT_TRUE(m_frontend.Messages().empty());  // no split notice
    ASSERT_THAT(target.created, ElementsAre("/media/usb/Big.ts"));
    ExpectContent(target.files["/media/usb/Big.ts"], size,
                  [&](std::uint64_t o) { return EndsContent(seed, size, ClusterBytes(), o); });
    EXPECT_EQ(m_frontend.StatusText(), SucceededTo("/media/usb/Big.ts"));
}

// A FAT32 file holds at most 4 GiB - 1 byte: exactly 4 GiB goes in parts too.
TEST_F(CopyTest, Fat32TakesFourGiBAndMoreInParts) {
    for (const std::uint64_t size : {kFourGiB, kFourGiB + 1}) {
        m_volume.reset();
        const auto seed = AddRecording("BIG     TS ", size, "Movie.ts");
        MemoryTarget target("FAT32", "/media/usb/");
        Start(target);
        SelectFile("Movie.ts");
        const std::size_t before = m_frontend.Messages().size();
        CopyTo("/media/usb/Movie.ts");
        ASSERT_EQ(m_frontend.Messages().size(), before + 1);
        const auto& notice = m_frontend.Messages().back();
        EXPECT_EQ(notice.text,
                  "The destination drive /media/usb/ uses the FAT32 file system. This limits the "
                  "maximum file size to 4GB.\nThe file will be copied in multiple parts.\n\n"
                  "It goes in 2 parts: Movie_1.ts, Movie_2.ts.\nTo play them as one, join them "
                  "on a drive that takes large files (" +
                      std::string(kJoinMovie) + "), or open them in turn in a player.");
        EXPECT_EQ(notice.buttons, MessageButtons::OkCancel);
        EXPECT_EQ(notice.icon, MessageIcon::Exclamation);
        EXPECT_EQ(notice.caption, ApplicationTitle());

        // 32 KiB clusters: part 1 holds 131,071 of them.
        ASSERT_THAT(target.created, ElementsAre("/media/usb/Movie_1.ts", "/media/usb/Movie_2.ts"));
        const std::uint64_t first = 131'071ull * 32768;
        EXPECT_EQ(first, 4'294'934'528u);
        auto expected = [&](std::uint64_t o) { return EndsContent(seed, size, ClusterBytes(), o); };
        ExpectContent(target.files["/media/usb/Movie_1.ts"], first, expected);
        ExpectContent(target.files["/media/usb/Movie_2.ts"], size - first, expected, first);
        EXPECT_EQ(target.files["/media/usb/Movie_1.ts"].syncs, 1);
        EXPECT_EQ(target.files["/media/usb/Movie_2.ts"].syncs, 1);
        EXPECT_EQ(target.files.size(), 2u);  // the chosen name itself never
        EXPECT_EQ(m_frontend.StatusText(), std::string(kSucceeded) + kInParts);
    }
}

// The entry's last change is every output file's modification time: each part
// keeps it, not only the last one; an entry without a valid date leaves the time
// of the copy.
TEST_F(CopyTest, EveryPartKeepsTheEntrysDate) {
    AddRecording("BIG     TS ", kFourGiB + 1, "Movie.ts");
    MemoryTarget target("FAT32", "/media/usb/");
    Start(target);
    SelectFile("Movie.ts");
    DriveItem& entry = *m_frontend.ListRowData(m_frontend.SelectedListRow());
    entry.m_writeDate = static_cast<std::uint16_t>((24 << 9) | (5 << 5) | 17);    // 2004-05-17
    entry.m_writeTime = static_cast<std::uint16_t>((21 << 11) | (30 << 5) | 29);  // 21:30:58
    std::tm local{};
    local.tm_year = 104;
    local.tm_mon = 4;
    local.tm_mday = 17;
    local.tm_hour = 21;
    local.tm_min = 30;
    local.tm_sec = 58;
    local.tm_isdst = -1;
    const std::time_t expected = std::mktime(&local);
    CopyTo("/media/usb/Movie.ts");
    ASSERT_THAT(target.created, ElementsAre("/media/usb/Movie_1.ts", "/media/usb/Movie_2.ts"));
    for (const auto& [path, file] : target.files) {
        EXPECT_EQ(file.modified, std::optional<std::time_t>(expected)) << path;
    }

    MemoryTarget again("NTFS", "/media/usb/");
    Start(again);
    SelectFile("Movie.ts");
    DriveItem& undated = *m_frontend.ListRowData(m_frontend.SelectedListRow());
    undated.m_writeDate = static_cast<std::uint16_t>((24 << 9) | (2 << 5) | 30);  // 30 February
    undated.m_writeTime = static_cast<std::uint16_t>((21 << 11) | (30 << 5) | 29);
    CopyTo("/media/usb/Movie.ts");
    ASSERT_EQ(again.files.size(), 1u);
    EXPECT_FALSE(again.files.begin()->second.modified.has_value());
}

// The Save dialog asked about the name typed there; the parts that are there
// already are asked about by name, and kept when the user says no.
TEST_F(CopyTest, PartsThatAreThereAlreadyAreReplacedOnlyWhenTheUserSaysSo) {
    AddRecording("BIG     TS ", kFourGiB + 5, "Movie.ts");
    for (const auto answer : {MessageAnswer::Cancel, MessageAnswer::Ok}) {
        MemoryTarget target("FAT32", "/media/usb/");
        target.files["/media/usb/Movie_1.ts"].size = 7;
        target.files["/media/usb/Movie_2.ts"].size = 8;
        target.files["/media/usb/Movie_3.ts"].size = 9;  // not a part of this copy
        Start(target);
        SelectFile("Movie.ts");
        const std::size_t before = m_frontend.Messages().size();
        m_frontend.QueueAnswer(MessageAnswer::Ok);  // the split notice
        m_frontend.QueueAnswer(answer);
        CopyTo("/media/usb/Movie.ts");
        ASSERT_GE(m_frontend.Messages().size(), before + 2);
        const auto& question = m_frontend.Messages()[before + 1];
        EXPECT_EQ(question.text,
                  "These files are in /media/usb/ already and will be replaced:\nMovie_1.ts\n"
                  "Movie_2.ts\nReplace them?");
        EXPECT_EQ(question.buttons, MessageButtons::OkCancel);
        if (answer == MessageAnswer::Cancel) {
            EXPECT_THAT(target.created, IsEmpty());
            EXPECT_EQ(target.files["/media/usb/Movie_1.ts"].size, 7u);
        } else {
            EXPECT_EQ(target.files["/media/usb/Movie_1.ts"].size, 4'294'934'528u);
            EXPECT_EQ(target.files["/media/usb/Movie_2.ts"].size, kFourGiB + 5 - 4'294'934'528u);
            EXPECT_EQ(m_frontend.StatusText(), std::string(kSucceeded) + kInParts);
        }
        EXPECT_EQ(target.files["/media/usb/Movie_3.ts"].size, 9u);
    }
}

TEST_F(CopyTest, CancellingTheSplitNoticeCreatesNothing) {
    AddRecording("BIG     TS ", kFourGiB + 5, "Movie.ts");
    MemoryTarget target("FAT32");
    Start(target);
    SelectFile("Movie.ts");
    m_frontend.QueueAnswer(MessageAnswer::Cancel);
    CopyTo("/media/usb/Movie.ts");
    EXPECT_THAT(target.created, IsEmpty());
    EXPECT_TRUE(SelectionEnabled());
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
}

TEST(PartNamesTest, PartsAreNumberedBeforeTheLastDot) {
    const std::pair<const char*, const char*> cases[] = {
        {"Movie.ts", "Movie_1.ts"}, {"Movie", "Movie_1"},     {"rec.2004.ts", "rec.2004_1.ts"},
        {".ts", "_1.ts"},           {"100%.ts", "100%_1.ts"}, {"a%d%s.ts", "a%d%s_1.ts"},
    };
    for (const auto& [chosen, part1] : cases) {
        EXPECT_EQ(PartName(SplitFileName(chosen), 1), part1) << chosen;
    }
    EXPECT_EQ(PartName(SplitFileName("Movie.ts"), 12), "Movie_12.ts");
    EXPECT_EQ(FolderOf("/media/usb/Movie.ts"), "/media/usb/");
    EXPECT_EQ(FolderOf("Movie.ts"), "");
    EXPECT_TRUE(IsRefusedFileSystem("FAT16"));
    EXPECT_FALSE(IsRefusedFileSystem("fat16"));  // the names are compared exactly
    EXPECT_FALSE(IsRefusedFileSystem("FAT32"));
    EXPECT_FALSE(NeedsParts("FAT32", kFourGiB - 1));
    EXPECT_TRUE(NeedsParts("FAT32", kFourGiB));
    EXPECT_FALSE(NeedsParts("NTFS", 10 * kFourGiB));
}

// Many parts are named by the first three and the last; the line that joins
// them quotes a name as a shell needs it.
TEST(PartNamesTest, TheNoticeNamesThePartsAndHowToJoinThem) {
    std::vector<std::string> paths;
    for (int i = 1; i <= 9; ++i) {
        paths.push_back("/m/" + PartName(SplitFileName("Film.ts"), i));
    }
    EXPECT_EQ(PartNamesText(paths), "Film_1.ts, Film_2.ts, Film_3.ts, ..., Film_9.ts");
    CopyPlan plan;
    plan.name = SplitFileName("It's on.ts");
    plan.outputs = {{"/m/" + PartName(plan.name, 1), 1}, {"/m/" + PartName(plan.name, 2), 1}};
#ifndef _WIN32
    EXPECT_THAT(PartsPlanText(plan),
                HasSubstr("(cat 'It'\\''s on_1.ts' 'It'\\''s on_2.ts' > 'It'\\''s on.ts')"));
#endif
}

TEST(PartStartsTest, PartsTakeWholeClustersAndTheLastPartialOneWhereItFits) {
    constexpr std::uint64_t kCluster = 32768;
    // 4 GiB - 2 bytes holds 131,071 whole 32 KiB clusters.
    EXPECT_THAT(PartStarts(5'000'000'000, kCluster, true), ::testing::ElementsAre(0u, 4294934528u));
    EXPECT_THAT(PartStarts(5'000'000'000, kCluster, false), ::testing::ElementsAre(0u));
    // A last cluster of 100 bytes still fits after the whole ones.
    EXPECT_THAT(PartStarts(4294934528u + 100, kCluster, true), ::testing::ElementsAre(0u));
    EXPECT_THAT(PartStarts(4294934528u + 32767, kCluster, true),
                ::testing::ElementsAre(0u, 4294934528u));
    constexpr std::uint64_t kWhole = 4294934528u;
    EXPECT_THAT(PartStarts(3 * kWhole + 1, kCluster, true),
                ::testing::ElementsAre(0u, kWhole, 2 * kWhole));
    EXPECT_THAT(PartStarts(3 * kWhole + kCluster, kCluster, true),
                ::testing::ElementsAre(0u, kWhole, 2 * kWhole, 3 * kWhole));
}

TEST_F(CopyTest, PartNamesKeepAPercentSign) {
    AddRecording("BIG     TS ", kFourGiB + 100, "Movie.ts");
    MemoryTarget target("FAT32");
    Start(target);
    SelectFile("Movie.ts");
    CopyTo("/media/usb/100% news.2004.ts");
    EXPECT_THAT(target.created,
                ElementsAre("/media/usb/100% news.2004_1.ts", "/media/usb/100% news.2004_2.ts"));
}

// A folder's names are listed before its files' sizes, which follow into their
// rows as the chains are walked. A copy of a row whose size is still pending
// walks that row's chain only, and copies the true size.
TEST_F(CopyTest, NamesComeFirstAndACopyWaitsOnlyForItsOwnRow) {
    Volume();
    const auto more = m_volume->AddDirectory(m_volume->Root(), "MORE       ");
    for (const auto& [shortName, name, size] : {std::tuple{"BIG     TS ", "Big.ts", kFourGiB + 1},
                                                {"SMALL   TS ", "Small.ts", 5 * 32768}}) {
        testing::FileLayout file;
        file.shortName = shortName;
        file.longName = name;
        file.size = size;
        file.content = Content::Ends;
        m_volume->AddFile(more, file);
    }
    MemoryTarget target("NTFS");
    Start(target);
    std::vector<std::string> atFirstRead;
    std::vector<std::string> afterTheCopy;
    m_frontend.OnPumpStep([&] {
        if (!atFirstRead.empty() || m_frontend.Rows().size() != 2) {
            return;
        }
        for (const auto& row : m_frontend.Rows()) {
            atFirstRead.push_back(row.texts[1] + "|" + row.texts[2]);
        }
        SelectFile("Small.ts");
        CopyTo("/media/usb/Small.ts");
        afterTheCopy.push_back(m_frontend.Rows()[0].texts[1] + "|" + m_frontend.Rows()[1].texts[1]);
    });
    const TreeItemHandle root = m_frontend.FindTreeItem(
        m_frontend.FindTreeItem(m_frontend.FindTreeItem(kTreeTop, "Hard Disk 1"),
                                "32-Bit FAT Disk"),
        "Root Directory");
    m_frontend.UserSelectTreeItem(m_frontend.FindTreeItem(root, "MORE"));
    m_frontend.OnPumpStep(nullptr);
    // Big.ts's chain runs through FAT pieces not read yet: the first read of
    // one is served while both sizes are pending.
    EXPECT_THAT(atFirstRead, ElementsAre(std::string(kSizePendingText) + "|",
                                         std::string(kSizePendingText) + "|"));
    EXPECT_THAT(afterTheCopy, ElementsAre(std::string(kSizePendingText) + "|160.0 KB"));
    EXPECT_EQ(target.files["/media/usb/Small.ts"].size, 5 * 32768u);
    EXPECT_EQ(m_frontend.Rows()[0].texts[1], "4.0 GB");
    EXPECT_EQ(m_frontend.Rows()[0].texts[2], std::to_string(kFourGiB + 1));
}

TEST_F(CopyTest, AnEmptyFileIsCreatedEmpty) {
    AddRecording("EMPTY   TS ", 0, "Empty.ts");
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Empty.ts");
    m_opener.Log().reads.clear();
    CopyTo("/media/usb/Empty.ts");
    ASSERT_THAT(target.created, ElementsAre("/media/usb/Empty.ts"));
    EXPECT_EQ(target.files["/media/usb/Empty.ts"].size, 0u);
    EXPECT_EQ(target.files["/media/usb/Empty.ts"].writes, 0);
    EXPECT_TRUE(m_opener.Log().reads.empty());  // the listing read its FAT; no cluster
    EXPECT_EQ(m_frontend.StatusText(), SucceededTo("/media/usb/Empty.ts"));
}

TEST_F(CopyTest, AFileSmallerThanAClusterIsOneWrite) {
    const auto seed = AddRecording("SMALL   TS ", 1000, "Small.ts", Content::Full);
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Small.ts");
    CopyTo("/media/usb/Small.ts");
    EXPECT_EQ(target.files["/media/usb/Small.ts"].writes, 1);
    ExpectContent(target.files["/media/usb/Small.ts"], 1000,
                  [&](std::uint64_t o) { return ContentByte(seed, o); });
    EXPECT_THAT(ProgressPositionsSet(), ElementsAre(0, 0, 0));  // start, the write, the end
}

TEST_F(CopyTest, TenClustersAndOneByteMoveTheBarBy10) {
    Volume(8);  // 4 KiB clusters
    AddRecording("TEN     TS ", 10 * 4096 + 1, "Ten.ts", Content::Full);
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Ten.ts");
    CopyTo("/media/usb/Ten.ts");
    EXPECT_EQ(target.files["/media/usb/Ten.ts"].writes, 11);
    EXPECT_THAT(ProgressPositionsSet(),
                ElementsAre(0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 0));
}

TEST_F(CopyTest, ClustersThatLieTogetherAreReadTogether) {
    Volume(8);  // 4 KiB clusters
    testing::FileLayout file;
    file.shortName = "SCATTER TS ";
    file.longName = "Scattered.ts";
    file.size = 7 * 4096 - 100;
    file.content = Content::Full;
    file.clusters = std::vector<std::uint32_t>{300, 301, 302, 303, 900, 901, 50};
    const auto seed = m_volume->AddFile(m_records, file);
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Scattered.ts");
    m_opener.Log().reads.clear();
    CopyTo("/media/usb/Scattered.ts");
    EXPECT_EQ(m_frontend.StatusText(), SucceededTo("/media/usb/Scattered.ts"));
    ExpectContent(target.files["/media/usb/Scattered.ts"], file.size,
                  [&](std::uint64_t o) { return ContentByte(seed, o); });
    // The listing read the FAT: one read for each run of clusters that follow one
    // another, and nothing else.
    const auto& reads = m_opener.Log().reads;
    ASSERT_EQ(reads.size(), 3u);
    const std::size_t first = 0;
    EXPECT_EQ(reads[first].bytes, 4u * 4096);
    EXPECT_EQ(reads[first + 1].bytes, 2u * 4096);
    EXPECT_EQ(reads[first + 2].bytes, 1u * 4096);
    EXPECT_EQ(target.files["/media/usb/Scattered.ts"].writes, 7);  // still one per cluster
}

// Reading on is the recovery, but a copy with filled sectors is no success: the
// status line says how many, and a warning box where they lie in the file.
TEST_F(CopyTest, AnUnreadableSectorIsCopiedAsE5AndReportedNotAsSuccess) {
    Volume(8);
    const auto seed = AddRecording("DAMAGED TS ", 5 * 4096, "Damaged.ts", Content::Full);
    MemoryTarget target("NTFS");
    Start(target);  // lays the volume out
    // The third sector of the file's second cluster cannot be read.
    const std::uint32_t second = m_volume->FileClusters(seed)[1];
    m_opener.MarkBad(m_image->Path(),
                     kPartitionStart + m_volume->DataStart() + std::uint64_t{second - 2} * 8 + 2);
    Reopen(target);
    SelectFile("Damaged.ts");
    CopyTo("/media/usb/Damaged.ts");
    EXPECT_EQ(m_frontend.StatusText(),
              "The file was copied incompletely. 1 unreadable sector was filled with 0xE5 bytes. "
              "It was copied to /media/usb/Damaged.ts.");
    ASSERT_EQ(m_frontend.Messages().size(), 1u);
    EXPECT_EQ(m_frontend.Messages()[0].icon, MessageIcon::Exclamation);
    EXPECT_THAT(m_frontend.Messages()[0].text,
                HasSubstr("\n\n1 sector could not be read and was filled with 0xE5 bytes: bytes "
                          "5120-5631.\n\n"));
    ExpectContent(target.files["/media/usb/Damaged.ts"], 5 * 4096, [&](std::uint64_t o) {
        return o >= 4096 + 1024 && o < 4096 + 1536 ? std::uint8_t{0xE5} : ContentByte(seed, o);
    });
}

TEST_F(CopyTest, AnUnreadableOneSectorClusterIsCopiedAsE5) {
    Volume(1, 2'000'000);
    const auto seed = AddRecording("DAMAGED TS ", 4 * 512, "Damaged.ts", Content::Full);
    MemoryTarget target("NTFS");
    Start(target);
    const std::uint32_t second = m_volume->FileClusters(seed)[1];
    m_opener.MarkBad(m_image->Path(), kPartitionStart + m_volume->DataStart() + second - 2);
    Reopen(target);
    SelectFile("Damaged.ts");
    CopyTo("/media/usb/Damaged.ts");
    EXPECT_THAT(m_frontend.MessageTexts(),
                ElementsAre(HasSubstr("1 sector could not be read and was filled with 0xE5 bytes: "
                                      "bytes 512-1023.")));
    // Not the first cluster's data again: 0xE5 in the second cluster's place.
    ExpectContent(target.files["/media/usb/Damaged.ts"], 4 * 512, [&](std::uint64_t o) {
        return o >= 512 && o < 1024 ? std::uint8_t{0xE5} : ContentByte(seed, o);
    });
}

// Unreadable sectors in many places: the first ten byte ranges are named, then "...".
TEST_F(CopyTest, ManyFilledRangesAreCountedAndTheFirstTenNamed) {
    Volume(8);
    const auto seed = AddRecording("DAMAGED TS ", 20 * 4096, "Damaged.ts", Content::Full);
    MemoryTarget target("NTFS");
    Start(target);
    const auto clusters = m_volume->FileClusters(seed);
    // Two sectors side by side in each of twelve clusters, and the file's last sector.
    for (std::size_t i = 0; i < 12; ++i) {
        const std::uint64_t sector =
            kPartitionStart + m_volume->DataStart() + std::uint64_t{clusters[i] - 2} * 8 + 4;
        m_opener.MarkBad(m_image->Path(), sector);
        m_opener.MarkBad(m_image->Path(), sector + 1);
    }
    Reopen(target);
    SelectFile("Damaged.ts");
    CopyTo("/media/usb/Damaged.ts");
    std::string ranges;
    for (std::uint64_t i = 0; i < 10; ++i) {
        ranges += (i == 0 ? "" : ", ") + std::to_string(i * 4096 + 2048) + "-" +
                  std::to_string(i * 4096 + 3071);
    }
    EXPECT_EQ(m_frontend.StatusText(),
              "The file was copied incompletely. 24 unreadable sectors were filled with 0xE5 "
              "bytes. It was copied to /media/usb/Damaged.ts.");
    EXPECT_THAT(m_frontend.MessageTexts(),
                ElementsAre(HasSubstr("24 sectors could not be read and were filled with 0xE5 "
                                      "bytes: bytes " +
                                      ranges + ", ...")));
    ExpectContent(target.files["/media/usb/Damaged.ts"], 20 * 4096, [&](std::uint64_t o) {
        const bool filled = o < 12 * 4096 && o % 4096 >= 2048 && o % 4096 < 3072;
        return filled ? std::uint8_t{0xE5} : ContentByte(seed, o);
    });
}

// A disk pulled out during a copy: the copy stops at the first read that fails,
// says why, and keeps what it copied as .part; it does not read on sector by sector.
TEST_F(CopyTest, ADiskPulledOutStopsTheCopyWhichKeepsItsPart) {
    Volume(8);
    AddRecording("MOVIE   TS ", 20'000'000, "Movie.ts", Content::Full);
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Movie.ts");
    const std::size_t reads = m_opener.Log().reads.size();
    m_opener.PullAfter(m_image->Path(), 10);  // the FAT and some of the file are read
    CopyTo("/media/usb/Movie.ts");
    ASSERT_EQ(m_frontend.Messages().size(), 1u);
    EXPECT_EQ(
        m_frontend.Messages()[0].text,
        FailedBox("The disk " + m_image->Path() +
                      " no longer answers: it was pulled out, or it failed. The copy stopped.",
                  "/media/usb/Movie.ts.part"));
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed("/media/usb/Movie.ts.part"));
    EXPECT_EQ(target.files.count("/media/usb/Movie.ts"), 0u);
    EXPECT_GT(target.files["/media/usb/Movie.ts.part"].size, 0u);
    EXPECT_LT(m_opener.Log().reads.size() - reads, 20u);  // no sector-by-sector reading
}

// A file system may report a failed write only when the file is closed.
TEST_F(CopyTest, AFailureToCloseTheOutputFailsTheCopy) {
    AddRecording("MOVIE   TS ", 100'000, "Movie.ts", Content::Full);
    MemoryTarget target("NTFS");
    target.failClose.insert("/media/usb/Movie.ts");
    Start(target);
    SelectFile("Movie.ts");
    CopyTo("/media/usb/Movie.ts");
    ASSERT_EQ(m_frontend.Messages().size(), 1u);
    EXPECT_EQ(
        m_frontend.Messages()[0].text,
        FailedBox(std::string(kWriteFailed) + "\n/media/usb/Movie.ts.part: Input/output error",
                  "/media/usb/Movie.ts.part"));
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed("/media/usb/Movie.ts.part"));
    EXPECT_EQ(target.files["/media/usb/Movie.ts.part"].closes, 1);
    EXPECT_EQ(target.files.count("/media/usb/Movie.ts"), 0u);
}

TEST_F(CopyTest, ADamagedFirstFatIsReplacedByTheSecond) {
    const auto seed = AddRecording("MOVIE   TS ", 300'000, "Movie.ts", Content::Full);
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Movie.ts");
    m_opener.MarkBad(m_image->Path(), kPartitionStart + 32 + 3);
    // The marks count for sources opened from now on: open the disk again.
    Reopen(target);
    SelectFile("Movie.ts");
    CopyTo("/media/usb/Movie.ts");
    EXPECT_TRUE(m_frontend.Messages().empty());
    ExpectContent(target.files["/media/usb/Movie.ts"], 300'000,
                  [&](std::uint64_t o) { return ContentByte(seed, o); });
}

TEST_F(CopyTest, AFullDiskKeepsWhatWasWritten) {
    const auto seed = AddRecording("MOVIE   TS ", 1'000'000, "Movie.ts", Content::Full);
    MemoryTarget target("NTFS");
    target.failAfterBytes = 100'000;
    Start(target);
    SelectFile("Movie.ts");
    CopyTo("/media/usb/Movie.ts");
    ASSERT_EQ(m_frontend.Messages().size(), 1u);
    EXPECT_EQ(
        m_frontend.Messages()[0].text,
        FailedBox(std::string(kWriteFailed) + "\n/media/usb/Movie.ts.part: No space left on device",
                  "/media/usb/Movie.ts.part"));
    EXPECT_EQ(m_frontend.Messages()[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed("/media/usb/Movie.ts.part"));
    EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));
    EXPECT_EQ(m_frontend.ProgressPosition(), 0);
    EXPECT_TRUE(SelectionEnabled());
    EXPECT_EQ(target.files.count("/media/usb/Movie.ts"), 0u);
    ExpectContent(target.files["/media/usb/Movie.ts.part"], 100'000,
                  [&](std::uint64_t o) { return ContentByte(seed, o); });
}

TEST_F(CopyTest, APartThatCannotBeCreatedEndsTheCopy) {
    AddRecording("BIG     TS ", kFourGiB + 10, "Movie.ts");
    MemoryTarget target("FAT32");
    target.refused.insert("/media/usb/Movie_2.ts");
    Start(target);
    SelectFile("Movie.ts");
    CopyTo("/media/usb/Movie.ts");
    ASSERT_EQ(m_frontend.Messages().size(), 2u);  // the split notice, then the failure
    EXPECT_EQ(m_frontend.Messages()[1].text,
              FailedBox(std::string(kCannotCreate) + "\n/media/usb/Movie_2.ts: Permission denied",
                        "/media/usb/Movie_1.ts.part"));
    EXPECT_EQ(m_frontend.Messages()[1].icon, MessageIcon::Hand);
    // Whole, but the copy is not: it keeps its working name.
    EXPECT_EQ(target.files["/media/usb/Movie_1.ts.part"].size, 4'294'934'528u);
    EXPECT_EQ(target.files.count("/media/usb/Movie_1.ts"), 0u);
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed("/media/usb/Movie_1.ts.part"));
    EXPECT_TRUE(SelectionEnabled());
}

TEST_F(CopyTest, AFirstOutputThatCannotBeCreated) {
    AddRecording("MOVIE   TS ", 1000, "Movie.ts");
    MemoryTarget target("NTFS");
    target.refused.insert("/media/usb/Movie.ts");
    Start(target);
    SelectFile("Movie.ts");
    CopyTo("/media/usb/Movie.ts");
    ASSERT_THAT(m_frontend.MessageTexts(), ElementsAre(std::string(kCannotCreate) +
                                                       "\n/media/usb/Movie.ts: Permission denied"));
    EXPECT_EQ(m_frontend.Messages()[0].icon, MessageIcon::Hand);
    EXPECT_TRUE(SelectionEnabled());
    EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));
}

TEST_F(CopyTest, AChainShorterThanTheSizeCopiesWhatItHasAndFails) {
    testing::FileLayout file;
    Volume();
    file.shortName = "CUT     TS ";
    file.longName = "Cut.ts";
    file.size = 3 * 32768;
    file.content = Content::Full;
    const auto seed = m_volume->AddFile(m_records, file);
    MemoryTarget target("NTFS");
    Start(target);
    // The chain now ends after two clusters; the entry still says three.
    const std::uint32_t second = m_volume->FileClusters(seed)[1];
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        m_image->Write(
            (kPartitionStart + 32 + std::uint64_t{copy} * m_volume->SectorsPerFat()) * 512 +
                4ull * second,
            {0xFF, 0xFF, 0xFF, 0x0F});
    }
    Reopen(target);
    SelectFile("Cut.ts");
    CopyTo("/media/usb/Cut.ts");
    ASSERT_EQ(m_frontend.Messages().size(), 1u);
    EXPECT_NE(m_frontend.Messages()[0].text.find("cluster chain"), std::string::npos);
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed("/media/usb/Cut.ts.part"));
    ExpectContent(target.files["/media/usb/Cut.ts.part"], 2 * 32768,
                  [&](std::uint64_t o) { return ContentByte(seed, o); });
}

// The scan measured the file with the first FAT; by the time of the copy the disk
// can no longer read the sector of it that holds the end of the first part, and
// the second copy's sector holds a chain that ends there. The copy fails there,
// without creating a second, empty part.
TEST_F(CopyTest, AChainThatEndsWithAPartLeavesNoEmptyPart) {
    const auto seed = AddRecording("BIG     TS ", kFourGiB + 1, "Movie.ts");
    MemoryTarget target("FAT32", "/media/usb/");
    Start(target);
    const auto clusters = m_volume->FileClusters(seed);
    const std::uint32_t lastOfPart = clusters[131'070];
    m_image->Write(
        (kPartitionStart + 32 + std::uint64_t{m_volume->SectorsPerFat()}) * 512 + 4ull * lastOfPart,
        {0xFF, 0xFF, 0xFF, 0x0F});
    SelectFile("Movie.ts");
    m_dialog->Drives().HoldFatUpTo(0);  // the copy reads its FAT pieces again
    // That sector of the first FAT, from now on.
    m_opener.MarkBad(m_image->Path(), kPartitionStart + 32 + 4ull * lastOfPart / 512);
    CopyTo("/media/usb/Movie.ts");
    EXPECT_THAT(target.created, ElementsAre("/media/usb/Movie_1.ts"));
    EXPECT_EQ(target.files["/media/usb/Movie_1.ts.part"].size, 131'071ull * 32768);
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed("/media/usb/Movie_1.ts.part"));
}

TEST_F(CopyTest, OutOfMemoryAndAnUnreadableFat) {
    Volume();
    AddRecording("MOVIE   TS ", 1000, "Movie.ts");
    MemoryTarget target("NTFS");
    const std::pair<unsigned, const char*> cases[] = {{1, "internal error 00025"},
                                                      {2, "internal error 00027"}};
    for (const auto& [allocation, text] : cases) {
        Start(target);
        SelectFile("Movie.ts");
        const std::size_t before = m_frontend.Messages().size();
        FailNthAllocation(allocation);
        CopyTo("/media/usb/Movie.ts");
        FailNthAllocation(0);
        ASSERT_EQ(m_frontend.Messages().size(), before + 1);
        EXPECT_EQ(m_frontend.Messages().back().text, text);
        EXPECT_EQ(target.files.at("/media/usb/Movie.ts.part").size, 0u);  // created, left empty
        EXPECT_TRUE(SelectionEnabled());
        EXPECT_FALSE(m_frontend.IsVisible(res::kStatusLine));  // as before the command
    }
}

// The folder was read; now both copies of the FAT sector that holds the file's
// entries have gone bad. Its first cluster is known, and copied; where the chain
// goes on is not, and the copy fails naming that sector, its part kept.
TEST_F(CopyTest, AFatSectorLostInBothCopiesCutsTheCopy) {
    const auto seed = AddRecording("MOVIE   TS ", 1000, "Movie.ts");
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Movie.ts");
    m_dialog->Drives().HoldFatUpTo(0);  // the copy reads its FAT pieces again
    m_opener.MarkBad(m_image->Path(), kPartitionStart + 32);
    m_opener.MarkBad(m_image->Path(), kPartitionStart + 32 + m_volume->SectorsPerFat());
    CopyTo("/media/usb/Movie.ts");
    EXPECT_THAT(m_frontend.MessageTexts(),
                ElementsAre("Error: The file's cluster chain runs into sector 0 of the FAT (disk "
                            "sector " +
                            std::to_string(kPartitionStart + 32) + " of the first copy, " +
                            std::to_string(kPartitionStart + 32 + m_volume->SectorsPerFat()) +
                            " of the second), which could not be read from either copy: where "
                            "it goes on after 1 cluster is not known.\nNote that the fragment "
                            "of the file that was succesfully copied may still be used.\n\n" +
                            KeptText("/media/usb/Movie.ts.part")));
    EXPECT_EQ(target.files.at("/media/usb/Movie.ts.part").size, 1000u);
    EXPECT_EQ(target.files.count("/media/usb/Movie.ts"), 0u);
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed("/media/usb/Movie.ts.part"));
    EXPECT_TRUE(SelectionEnabled());
    EXPECT_NE(seed, 0u);
}

TEST_F(CopyTest, AClusterReadThatThrowsEndsTheCopyWithAFatalError) {
    Volume(8);
    const auto seed = AddRecording("MOVIE   TS ", 6 * 4096, "Movie.ts", Content::Full);
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Movie.ts");
    const std::uint32_t third = m_volume->FileClusters(seed)[2];
    m_opener.MarkThrowing(m_image->Path(),
                          kPartitionStart + m_volume->DataStart() + std::uint64_t{third - 2} * 8);
    CopyTo("/media/usb/Movie.ts");
    EXPECT_THAT(m_frontend.MessageTexts(),
                ElementsAre(FailedBox(
                    "Fatal Error: Funtion m_driveAccess.ReadSectors() caused an exeption.",
                    "/media/usb/Movie.ts.part")));
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed("/media/usb/Movie.ts.part"));
    EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));
    EXPECT_TRUE(SelectionEnabled());
    ExpectContent(target.files["/media/usb/Movie.ts.part"], 2 * 4096,
                  [&](std::uint64_t o) { return ContentByte(seed, o); });
}

// While it copies, Copy File says Stop, and a click stops the copy: what was
// copied stays under its working name, and the status line says where.
TEST_F(CopyTest, CopyFileBecomesStopAndStopsTheCopy) {
    Volume(8);
    AddRecording("MOVIE   TS ", 20 * 4096, "Movie.ts");
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Movie.ts");
    std::string buttonInside;
    std::vector<std::string> statusInside;
    bool openImageInside = true;
    m_frontend.OnPumpStep([&] {
        if (buttonInside.empty() && m_frontend.IsVisible(res::kProgressBar)) {
            buttonInside = m_frontend.ControlText(res::kCopyFileButton);
            statusInside.push_back(m_frontend.StatusText());
            // Its dialog would hold the copy up: Open Disk Image waits, also by its key.
            openImageInside = m_dialog->CommandEnabled(res::kOpenImageCommand);
            m_frontend.UserSystemCommand(res::kOpenImageCommand);
            m_frontend.UserClickCopyFile();
        }
    });
    CopyTo("/media/usb/Movie.ts");
    m_frontend.OnPumpStep(nullptr);
    EXPECT_EQ(buttonInside, "Stop");
    EXPECT_FALSE(openImageInside);
    EXPECT_EQ(m_frontend.DiskImageDialogs(), 0);
    EXPECT_THAT(statusInside,
                ElementsAre("Copying Movie.ts  0 B of 80.0 KB  --.- MB/s  ETA --:--"));
    EXPECT_EQ(m_frontend.ControlText(res::kCopyFileButton), "Copy File");
    EXPECT_EQ(m_frontend.SaveDialogs().size(), 1u);
    EXPECT_EQ(target.files.count("/media/usb/Movie.ts"), 0u);
    EXPECT_EQ(m_frontend.StatusText(),
              "The copy was stopped. What was copied is kept as Movie.ts.part in /media/usb/.");
}

// A close while the FAT is read (in several pieces here) or while clusters are
// copied: the copy stops at the next pump step, and the window then closes.
TEST_F(CopyTest, ClosingTheWindowDuringACopyStopsItAndThenCloses) {
    Volume(8);
    const auto seed = AddRecording("MOVIE   TS ", 20 * 4096, "Movie.ts", Content::Full);
    for (const bool whileCopying : {false, true}) {
        MemoryTarget target("NTFS");
        Start(target);
        SelectFile("Movie.ts");
        std::optional<bool> closedAtOnce;
        int fatReads = 0;
        m_frontend.OnPumpStep([&] {
            if (!closedAtOnce && m_frontend.IsVisible(res::kProgressBar) == whileCopying) {
                fatReads = static_cast<int>(m_opener.Log().reads.size());
                m_frontend.UserClose();
                closedAtOnce = m_frontend.Closed();
            }
        });
        m_dialog->Drives().HoldFatUpTo(0);  // so that the copy reads its FAT piece
        m_opener.Log().reads.clear();
        CopyTo("/media/usb/Movie.ts");
        m_frontend.OnPumpStep(nullptr);
        EXPECT_EQ(closedAtOnce, false);
        EXPECT_TRUE(m_frontend.Closed());
        ASSERT_EQ(m_frontend.Messages().size(), 1u);  // asked first; no answer queued is OK
        EXPECT_EQ(m_frontend.Messages()[0].text, kStopAndCloseQuestion);
        // What was copied is kept under its working name: it is not the recording.
        EXPECT_EQ(target.files.count("/media/usb/Movie.ts"), 0u);
        if (whileCopying) {
            // The cluster being copied when the close came was finished, and kept.
            ExpectContent(target.files["/media/usb/Movie.ts.part"], 4096,
                          [&](std::uint64_t o) { return ContentByte(seed, o); });
        } else {
            // Not one piece of the FAT more is read, nor any cluster.
            EXPECT_EQ(m_opener.Log().reads.size(), static_cast<std::size_t>(fatReads));
            EXPECT_EQ(target.files.at("/media/usb/Movie.ts.part").size, 0u);
        }
    }
}

// Asked whether to stop, the user says no: the copy goes on to its end, and the
// window stays.
TEST_F(CopyTest, ACloseDuringACopyThatIsCancelledLetsTheCopyFinish) {
    Volume(8);
    AddRecording("MOVIE   TS ", 20 * 4096, "Movie.ts", Content::Full);
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Movie.ts");
    bool asked = false;
    m_frontend.OnPumpStep([&] {
        if (!asked && m_frontend.IsVisible(res::kProgressBar)) {
            asked = true;
            m_frontend.QueueAnswer(MessageAnswer::Cancel);
            m_frontend.UserClose();
        }
    });
    CopyTo("/media/usb/Movie.ts");
    m_frontend.OnPumpStep(nullptr);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(m_frontend.Closed());
    EXPECT_EQ(m_frontend.StatusText(), SucceededTo("/media/usb/Movie.ts"));
    EXPECT_EQ(target.files.at("/media/usb/Movie.ts").size, 20u * 4096);
}

TEST_F(CopyTest, ADoubleClickOnARowCopiesIt) {
    AddRecording("MOVIE   TS ", 1000, "Movie.ts");
    MemoryTarget target("NTFS");
    Start(target);
    SelectFile("Movie.ts");
    m_frontend.QueueSaveAnswer(SaveChoice{"/media/usb/Movie.ts", "Movie.ts"});
    m_frontend.UserDoubleClickList();
    EXPECT_EQ(m_frontend.SaveDialogs().size(), 1u);
    EXPECT_EQ(m_frontend.StatusText(), SucceededTo("/media/usb/Movie.ts"));
}

TEST_F(CopyTest, TheDiskBeingReadIsNeverOverwritten) {
    Volume(8);
    AddRecording("MOVIE   TS ", 5000, "Movie.ts", Content::Full);
    FileSystemTarget files;
    Start(files);
    const auto before = std::filesystem::file_size(m_image->Path());
    const auto firstSector = m_image->Read(0, 512);
    SelectFile("Movie.ts");
    CopyTo(m_image->Path());
    EXPECT_THAT(m_frontend.MessageTexts(),
                ElementsAre(std::string(kCannotCreate) + "\n" + m_image->Path() +
                            ": it is a disk being read"));
    EXPECT_FALSE(std::filesystem::exists(m_image->Path() + ".part"));
    EXPECT_EQ(std::filesystem::file_size(m_image->Path()), before);
    EXPECT_EQ(m_image->Read(0, 512), firstSector);
    EXPECT_TRUE(SelectionEnabled());
}

// Rows selected together go into a folder the user chooses, with one progress
// for all and one summary; Rescue Copy takes one file only.
TEST_F(CopyTest, SeveralRowsAreCopiedIntoAChosenFolderWithOneProgress) {
    Volume(8);
    const auto first = AddRecording("FIRST   TS ", 3 * 4096 + 5, "First.ts", Content::Full);
    const auto second = AddRecording("SECOND  TS ", 2 * 4096, "Second.ts", Content::Full);
    AddRecording("THIRD   TS ", 100, "Third.ts");
    FileSystemTarget files;
    Start(files);
    m_frontend.UserSelectListRows({"First.ts", "Second.ts"});
    EXPECT_FALSE(m_dialog->CommandEnabled(res::kRescueCopyCommand));
    const std::string folder = m_dir.File("out");
    std::filesystem::create_directory(folder);
    std::ofstream(folder + "/Second.ts") << "older";
    m_frontend.QueueFolderAnswer(folder);
    m_frontend.QueueAnswer(MessageAnswer::Ok);  // replace the one there already
    m_frontend.UserClickCopyFile();

    EXPECT_EQ(m_frontend.FolderDialogs(), 1);
    EXPECT_TRUE(m_frontend.SaveDialogs().empty());
    EXPECT_THAT(m_frontend.MessageTexts(),
                ElementsAre("1 file is in " + folder + " already. Replace it, or skip it?"));
    EXPECT_THAT(m_frontend.Messages()[0].verbs, ElementsAre("Replace", "Skip", "Cancel"));
    for (const auto& [name, seed, size] : {std::tuple{"First.ts", first, 3u * 4096 + 5},
                                           std::tuple{"Second.ts", second, 2u * 4096}}) {
        std::ifstream in(folder + "/" + name, std::ios::binary);
        const std::vector<char> copied{std::istreambuf_iterator<char>(in), {}};
        ASSERT_EQ(copied.size(), size) << name;
        EXPECT_EQ(static_cast<std::uint8_t>(copied.back()), ContentByte(seed, size - 1)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/Third.ts"));
    EXPECT_EQ(m_frontend.StatusText(), "Copied 2 of 2 files. The copies are in " + folder + ".");
    const auto& calls = m_frontend.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(),
                        "SetStatusText(File 1/2 First.ts  0 B of 20.0 KB  --.- MB/s  ETA --:--)"),
              calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "SetProgressPosition(100)"), calls.end());
    EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));
    EXPECT_EQ(m_frontend.ControlText(res::kCopyFileButton), "Copy File");
    EXPECT_TRUE(SelectionEnabled());

    // Skip, as --skip-existing does: what is there whole stays, the rest is copied.
    std::ofstream(folder + "/First.ts") << "older";
    m_frontend.QueueFolderAnswer(folder);
    m_frontend.QueueChoice(1);
    m_frontend.UserClickCopyFile();
    EXPECT_EQ(m_frontend.MessageTexts().back(),
              "2 files are in " + folder + " already. Replace them, or skip them?");
    EXPECT_EQ(std::filesystem::file_size(folder + "/First.ts"), 3u * 4096 + 5);
    EXPECT_EQ(m_frontend.StatusText(),
              "Copied 1 of 2 files, skipped 1 already there. The copies "
              "are in " +
                  folder + ".");

    m_frontend.UserSelectListRows({"Third.ts"});
    EXPECT_TRUE(m_dialog->CommandEnabled(res::kRescueCopyCommand));
}

// Copy Folder takes the folder selected in the tree whole, under its own name;
// Cancel in the folder dialog copies nothing.
TEST_F(CopyTest, CopyFolderTakesTheSelectedFolderWhole) {
    Volume(8);
    AddRecording("ONE     TS ", 5000, "One.ts");
    AddRecording("TWO     TS ", 70, "Two.ts");
    FileSystemTarget files;
    Start(files);  // RECORDS is selected
    ASSERT_TRUE(m_dialog->CommandEnabled(res::kCopyFolderCommand));
    const std::string folder = m_dir.File("out");
    std::filesystem::create_directory(folder);
    EXPECT_TRUE(m_frontend.UserSystemCommand(res::kCopyFolderCommand));  // no answer: Cancel
    EXPECT_EQ(m_frontend.FolderDialogs(), 1);
    EXPECT_TRUE(std::filesystem::is_empty(folder));

    m_frontend.QueueFolderAnswer(folder);
    m_frontend.UserSystemCommand(res::kCopyFolderCommand);
    EXPECT_EQ(std::filesystem::file_size(folder + "/RECORDS/One.ts"), 5000u);
    EXPECT_EQ(std::filesystem::file_size(folder + "/RECORDS/Two.ts"), 70u);
    EXPECT_THAT(m_frontend.StatusText(), StartsWith("Copied 2 of 2 files."));
    EXPECT_TRUE(m_frontend.MessageTexts().empty());
}

// The real output files: byte for byte what the recorder's disk holds, and on a
// full disk everything that fitted.
TEST_F(CopyTest, RealFilesAreByteExactAndAFullDiskKeepsThem) {
    Volume(8);
    const auto seed = AddRecording("MOVIE   TS ", 50 * 4096 + 77, "Movie.ts", Content::Full);
    FileSystemTarget files;
    Start(files);
    SelectFile("Movie.ts");
    CopyTo(m_dir.File("Movie.ts"));
    ASSERT_EQ(m_frontend.StatusText(), SucceededTo(m_dir.File("Movie.ts")))
        << ::testing::PrintToString(m_frontend.MessageTexts());
    std::ifstream in(m_dir.File("Movie.ts"), std::ios::binary);
    const std::vector<char> copied{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(copied.size(), 50u * 4096 + 77);
    for (std::size_t i = 0; i < copied.size(); ++i) {
        ASSERT_EQ(static_cast<std::uint8_t>(copied[i]), ContentByte(seed, i)) << i;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("Movie.ts.part")));

#ifndef _WIN32
    // A file-size limit (Linux's RLIMIT_FSIZE) stands in for a full disk.
    testing::WithFileSizeLimit(10'000, [&] {
        SelectFile("Movie.ts");
        CopyTo(m_dir.File("Again.ts"));
    });
    const std::string kept = m_dir.File("Again.ts.part");
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed(kept));
    // The system's reason follows the message, with the file it was writing.
    EXPECT_THAT(
        m_frontend.MessageTexts(),
        ElementsAre(FailedBox(std::string(kWriteFailed) + "\n" + kept + ": File too large", kept)));
    EXPECT_EQ(std::filesystem::file_size(kept), 10'000u);
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("Again.ts")));
#endif
}

// Something that throws inside a copy's pump step ends the copy as failed: the
// output still holds, for every cluster written before, the bytes of the disk,
// handed on from a buffer that was still there; the window says why, gives the
// tree and the list back, and lives on.
TEST_F(CopyTest, AHandlerThatThrowsInAPumpStepFailsTheCopyAndLeavesWhatWasWritten) {
    Volume(8);
    const auto seed = AddRecording("MOVIE   TS ", 50 * 4096, "Movie.ts", Content::Full);
    FileSystemTarget files;
    Start(files);
    SelectFile("Movie.ts");
    // The first pump step after the copy began follows the first cluster, which
    // the output may still hold then, unwritten, in the copy's buffer.
    bool thrown = false;
    m_frontend.OnPumpStep([&] {
        if (!thrown && m_frontend.IsVisible(res::kProgressBar)) {
            thrown = true;
            throw std::runtime_error("a handler failed");
        }
    });
    EXPECT_NO_THROW(CopyTo(m_dir.File("Movie.ts")));
    EXPECT_EQ(m_frontend.StatusText(), KeptFailed(m_dir.File("Movie.ts.part")));
    EXPECT_THAT(m_frontend.MessageTexts(), ElementsAre("This could not be done: a handler failed"));
    EXPECT_TRUE(m_frontend.IsEnabled(res::kFolderTree));
    EXPECT_TRUE(m_frontend.IsEnabled(res::kFileList));
    EXPECT_FALSE(m_frontend.IsVisible(res::kProgressBar));
    std::ifstream in(m_dir.File("Movie.ts.part"), std::ios::binary);
    const std::vector<char> copied{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(copied.size(), 4096u);
    for (std::size_t i = 0; i < copied.size(); ++i) {
        ASSERT_EQ(static_cast<std::uint8_t>(copied[i]), ContentByte(seed, i)) << i;
    }
    // The window no longer takes a copy to be running: it closes at once.
    EXPECT_TRUE(m_dialog->OnClose());
}

}  // namespace
}  // namespace moravel
