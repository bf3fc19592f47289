#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "CopyFixture.h"
#include "copy/RescueMap.h"
#include "support/Tools.h"

// The rescue copy: its map on its own, then whole rescues through the window of a
// disk whose chosen sectors fail, against the normal copy of the same file.
namespace moravel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The rescue map in the file at path.
Result<RescueMapFile> MapIn(const std::string& path) {
    return ParseRescueMap(FileText(path));
}

TEST(RescueMapTest, MarksSplitAndJoinRangesAndKeepTheCounts) {
    RescueMap map(10'000);
    map.Mark(1024, 2048, RescueState::Copied);
    map.Mark(2048, 4096, RescueState::Copied);  // joins the range before
    map.Mark(3000, 3512, RescueState::Bad);     // splits it
    ASSERT_EQ(map.RangeCount(), 5u);
    EXPECT_EQ(map.Bytes(RescueState::Copied), 3072u - 512u);
    EXPECT_EQ(map.Bytes(RescueState::Bad), 512u);
    EXPECT_EQ(map.Bytes(RescueState::Untried), 10'000u - 3072u);
    EXPECT_EQ(map.StateAt(3511), RescueState::Bad);
    EXPECT_EQ(map.StateAt(3512), RescueState::Copied);
    const auto next = map.Next(RescueState::Untried, 1500);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->first, 4096u);
    EXPECT_EQ(next->end, 10'000u);
    EXPECT_EQ(map.Next(RescueState::Trimmed, 0), std::nullopt);

    map.Mark(0, 20'000, RescueState::Copied);  // cut at the end
    EXPECT_EQ(map.RangeCount(), 1u);
    EXPECT_EQ(map.Bytes(RescueState::Copied), 10'000u);
}

RescueMapFile SampleMapFile() {
    RescueMapFile file;
    file.source = {"Hard Disk 1 (/dev/sdb)", 2048, 1234, 5'000'000'000, 0xfedcba9876543210u};
    file.pass = RescuePass::Trim;
    file.position = 65536;
    file.map = RescueMap(file.source.size);
    file.map.Mark(0, 1 << 20, RescueState::Copied);
    file.map.Mark(1 << 20, (1 << 20) + 512, RescueState::Bad);
    return file;
}

TEST(RescueMapTest, AMapReadsBackAsItWasWritten) {
    const RescueMapFile file = SampleMapFile();
    const auto read = ParseRescueMap(FormatRescueMap(file));
    ASSERT_TRUE(read) << read.error().reason;
    EXPECT_EQ(read->source.disk, file.source.disk);
    EXPECT_EQ(RescueSourceMismatch(read->source, file.source), std::nullopt);
    EXPECT_EQ(read->pass, RescuePass::Trim);
    EXPECT_EQ(read->position, 65536u);
    EXPECT_EQ(FormatRescueMap(*read), FormatRescueMap(file));
}

// A map is a file the user may have edited, cut or swapped: what does not hold
// together is refused, never half used.
TEST(RescueMapTest, DamagedMapsAreRefusedWithTheReason) {
    const std::string good = FormatRescueMap(SampleMapFile());
    const auto refusal = [](const std::string& text) {
        const auto map = ParseRescueMap(text);
        EXPECT_FALSE(map) << text;
        return map ? std::string() : map.error().reason;
    };
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    EXPECT_THAT(refusal("hello\n"), HasSubstr("no rescue map"));
    EXPECT_THAT(refusal(""), HasSubstr("no rescue map"));
    EXPECT_THAT(refusal(replaced("1048576 512 bad", "1048576 512 fine")), HasSubstr("no range"));
    EXPECT_THAT(refusal(replaced("1048576 512 bad", "1048000 512 bad")), HasSubstr("do not cover"));
    EXPECT_THAT(refusal(replaced("size 5000000000", "size 4000000000")), HasSubstr("do not cover"));
    EXPECT_THAT(refusal(replaced("size 5000000000\n", "")), HasSubstr("size"));
    EXPECT_THAT(refusal(replaced("pass trim", "pass later")), HasSubstr("not understood"));
    EXPECT_THAT(refusal(replaced("0 1048576 copied", "0 18446744073709551615 copied")),
                HasSubstr("do not cover"));

    RescueSource other = SampleMapFile().source;
    other.chainHash ^= 1;
    EXPECT_THAT(RescueSourceMismatch(SampleMapFile().source, other).value_or(""),
                HasSubstr("another recording"));
}

// 4 KiB clusters; a recording of 400 clusters with a bad area of 300 sectors and
// five scattered bad sectors, one of them in the last cluster.
class RescueTest : public CopyFixture {
protected:
    void SetUp() override {
        Volume(8);
        m_seed = AddRecording("DAMAGED TS ", kSize, "Damaged.ts", Content::Full);
        Start(m_files);
        const auto clusters = m_volume->FileClusters(m_seed);
        for (const std::uint32_t cluster : clusters) {
            for (std::uint64_t i = 0; i < 8; ++i) {
                m_fileSectors.insert(kPartitionStart + m_volume->DataStart() +
                                     std::uint64_t{cluster - 2} * 8 + i);
            }
        }
        for (std::uint64_t offset : BadOffsets()) {
            const std::uint32_t cluster = clusters[offset / 4096];
            m_bad.insert(kPartitionStart + m_volume->DataStart() + std::uint64_t{cluster - 2} * 8 +
                         offset % 4096 / 512);
        }
        for (std::uint64_t sector : m_bad) {
            m_opener.MarkBad(m_image->Path(), sector);
        }
    }

    static std::vector<std::uint64_t> BadOffsets() {
        std::vector<std::uint64_t> offsets;
        for (std::uint64_t o = 300'000; o < 300'000 + 300 * 512; o += 512) {
            offsets.push_back(o / 512 * 512);
        }
        for (const std::uint64_t o :
             {std::uint64_t{5 * 4096 + 1024}, std::uint64_t{90'000}, std::uint64_t{700'000},
              std::uint64_t{1'000'000}, kSize - 100}) {
            offsets.push_back(o / 512 * 512);
        }
        return offsets;
    }

    void Rescue(const std::string& path) {
        m_frontend.QueueSaveAnswer(SaveChoice{path, path.substr(path.find_last_of("/\\") + 1)});
        SelectFile("Damaged.ts");
        m_dialog->OnRescueCopy();
    }

    // The sectors of the recording's clusters that the log's reads brought, as often
    // as they were brought.
    std::vector<std::uint64_t> DeliveredSectors(std::size_t fromRead = 0) const {
        std::vector<std::uint64_t> delivered;
        const auto& reads = m_opener.Log().reads;
        for (std::size_t i = fromRead; i < reads.size(); ++i) {
            if (m_fileSectors.count(reads[i].offset / 512) == 0) {
                continue;  // the partition table, boot sector, FAT, folders
            }
            for (std::uint64_t s = reads[i].offset / 512;
                 s < (reads[i].offset + reads[i].bytes) / 512; ++s) {
                if (m_bad.count(s) != 0) {
                    break;  // a read stops at a bad sector
                }
                delivered.push_back(s);
            }
        }
        return delivered;
    }

    static constexpr std::uint64_t kSize = 400 * 4096 - 1000;
    std::uint32_t m_seed = 0;
    FileSystemTarget m_files;
    std::set<std::uint64_t> m_bad;
    std::set<std::uint64_t> m_fileSectors;
};

// The rescue ends with what the normal copy ends with (the same bytes, 0xE5 in
// every bad sector, the same report), having read every good sector once.
TEST_F(RescueTest, ARescueEndsWithTheNormalCopysBytesAndReadsEachGoodSectorOnce) {
    Reopen(m_files);
    SelectFile("Damaged.ts");
    CopyTo(m_dir.File("normal.ts"));
    std::string normalStatus = m_frontend.StatusText();
    ASSERT_THAT(normalStatus, HasSubstr(" 305 unreadable sectors were filled"));
    normalStatus.replace(normalStatus.find("normal.ts"), 9, "rescued.ts");

    Reopen(m_files);
    const std::size_t before = m_opener.Log().reads.size();
    Rescue(m_dir.File("rescued.ts"));
    EXPECT_EQ(m_frontend.StatusText(), normalStatus);
    // The rescue's warning points to its map, not to a rescue.
    EXPECT_THAT(m_frontend.MessageTexts(), ElementsAre(HasSubstr(kRescueAgainAdvice)));
    EXPECT_EQ(FileBytes(m_dir.File("rescued.ts")), FileBytes(m_dir.File("normal.ts")));

    const std::vector<std::uint64_t> delivered = DeliveredSectors(before);
    const std::set<std::uint64_t> distinct(delivered.begin(), delivered.end());
    EXPECT_EQ(delivered.size(), distinct.size()) << "a good sector was read twice";
    EXPECT_EQ(distinct.size(), (kSize + 511) / 512 - 305);

    const std::string text = FileText(m_dir.File("rescued.ts.moravel-map"));
    // The test's disk is read only through the cache, and the map says so.
    EXPECT_THAT(text, HasSubstr("\n# Reads: through the system's cache (no other way here)\n"));
    const auto map = ParseRescueMap(text);
    ASSERT_TRUE(map) << map.error().reason;
    EXPECT_EQ(map->pass, RescuePass::Done);
    EXPECT_EQ(map->map.Bytes(RescueState::Bad), 305u * 512);
    EXPECT_EQ(map->map.Bytes(RescueState::Copied) + map->map.Bytes(RescueState::Bad), kSize);
}

// The bad area costs a few reads, not one per sector more than once: the copy pass
// skips it, the trim pass finds its edges, the scrape and retry passes read each
// of its sectors alone.
TEST_F(RescueTest, ABadAreaIsReadSectorBySectorOnlyInTheLastPasses) {
    Reopen(m_files);
    const std::size_t before = m_opener.Log().reads.size();
    Rescue(m_dir.File("rescued.ts"));
    std::map<std::uint64_t, int> triesOfBad;
    const auto& reads = m_opener.Log().reads;
    for (std::size_t i = before; i < reads.size(); ++i) {
        const std::uint64_t first = reads[i].offset / 512;
        if (m_bad.count(first) != 0) {
            ++triesOfBad[first];  // a read that began at a bad sector: it was tried
        }
    }
    // Scrape (or trim) once, retry once: a bad sector is tried twice, or three times
    // where the copy or trim pass ran into it first.
    int tries = 0;
    for (const auto& [sector, count] : triesOfBad) {
        EXPECT_LE(count, 4) << sector;
        tries += count;
    }
    EXPECT_EQ(triesOfBad.size(), m_bad.size());
    // Twice each (scrape and retry), and a few more where the copy and trim passes
    // ran into the bad places: not once more per sector of the bad area.
    EXPECT_LE(tries, static_cast<int>(2 * m_bad.size()) + 40) << tries;
}

// Through a bridge that fails a whole request for one bad sector in it, and with
// a weak sector that reads on its second try: when the scrape pass begins, every
// good sector is in but the weak one (lone bad sectors beyond the bad area do
// not hide the good ones between); when the retry pass begins, none is held bad;
// a sector is bad only where a read of it alone failed; and few reads failed
// beyond one per bad sector.
TEST_F(RescueTest, BehindABridgeThatFailsWholeRequestsEveryGoodSectorIsInBeforeAnyRetry) {
    Reopen(m_files);
    SelectFile("Damaged.ts");
    CopyTo(m_dir.File("normal.ts"));

    const std::uint64_t weak = *std::next(m_fileSectors.begin(), 1000);
    ASSERT_EQ(m_bad.count(weak), 0u);
    m_opener.FailWholeRequests(m_image->Path());
    m_opener.MarkWeak(m_image->Path(), weak, 1);
    Reopen(m_files);
    const auto& reads = m_opener.Log().reads;
    const std::size_t before = reads.size();
    const std::string mapPath = m_dir.File("rescued.ts.moravel-map");
    std::optional<RescueMapFile> atScrape;
    std::optional<RescueMapFile> atRetry;
    std::size_t readsBeforeRetry = 0;
    const auto mapNow = [&] { return MapIn(mapPath); };
    m_frontend.OnPumpStep([&] {
        if (atRetry || !std::filesystem::exists(mapPath)) {
            return;
        }
        if (auto map = mapNow(); map && map->pass == RescuePass::Scrape && !atScrape) {
            atScrape = std::move(*map);
        } else if (map && map->pass == RescuePass::Retry) {
            atRetry = std::move(*map);
            readsBeforeRetry = reads.size();
        }
    });
    Rescue(m_dir.File("rescued.ts"));
    EXPECT_EQ(FileBytes(m_dir.File("rescued.ts")), FileBytes(m_dir.File("normal.ts")));
    ASSERT_TRUE(atScrape && atRetry);
    const auto done = mapNow();
    ASSERT_TRUE(done);
    EXPECT_GE(atScrape->map.Bytes(RescueState::Copied) + 512, done->map.Bytes(RescueState::Copied));
    // The weak sector may have been read on its second try before.
    EXPECT_GE(atRetry->map.Bytes(RescueState::Bad), m_bad.size() * 512);
    EXPECT_LE(atRetry->map.Bytes(RescueState::Bad), (m_bad.size() + 1) * 512);
    std::set<std::uint64_t> readAlone;
    for (std::size_t i = before; i < readsBeforeRetry; ++i) {
        if (reads[i].bytes == 512) {
            readAlone.insert(reads[i].offset / 512);
        }
    }
    EXPECT_TRUE(std::includes(readAlone.begin(), readAlone.end(), m_bad.begin(), m_bad.end()));
    const auto failed = std::count_if(
        reads.begin() + static_cast<std::ptrdiff_t>(before),
        reads.begin() + static_cast<std::ptrdiff_t>(readsBeforeRetry), [&](const auto& read) {
            const auto bad = m_bad.lower_bound(read.offset / 512);
            return bad != m_bad.end() && *bad * 512 < read.offset + read.bytes;
        });
    EXPECT_LE(failed, static_cast<std::ptrdiff_t>(m_bad.size()) + 12) << failed;
}

// Stopped in the middle (the window closed), the rescue leaves its map; run
// again, it goes on: the output ends as a whole run's would, and no good sector
// was read in both runs.
TEST_F(RescueTest, AStoppedRescueGoesOnWhereItStoppedWithItsMap) {
    Reopen(m_files);
    const std::size_t before = m_opener.Log().reads.size();
    int steps = 0;
    m_frontend.OnPumpStep([&] {
        if (m_frontend.IsVisible(res::kProgressBar) && ++steps == 40) {
            m_dialog->OnClose();
        }
    });
    Rescue(m_dir.File("rescued.ts"));
    // Until its passes have ended, the output has holes: it keeps its working name.
    EXPECT_EQ(m_frontend.StatusText(),
              "The copy was stopped. What was copied is kept as "
              "rescued.ts.part in " +
                  m_dir.File("") + ".");
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("rescued.ts")));
    const auto stopped = MapIn(m_dir.File("rescued.ts.moravel-map"));
    ASSERT_TRUE(stopped) << stopped.error().reason;
    EXPECT_NE(stopped->pass, RescuePass::Done);
    EXPECT_GT(stopped->map.Bytes(RescueState::Copied), 0u);

    Reopen(m_files);
    Rescue(m_dir.File("rescued.ts"));
    EXPECT_THAT(m_frontend.StatusText(), HasSubstr(" 305 unreadable sectors were filled"));
    const std::vector<std::uint64_t> delivered = DeliveredSectors(before);
    const std::set<std::uint64_t> distinct(delivered.begin(), delivered.end());
    EXPECT_EQ(delivered.size(), distinct.size()) << "a good sector was read in both runs";
    EXPECT_EQ(distinct.size(), (kSize + 511) / 512 - 305);

    Reopen(m_files);
    SelectFile("Damaged.ts");
    CopyTo(m_dir.File("normal.ts"));
    EXPECT_EQ(FileBytes(m_dir.File("rescued.ts")), FileBytes(m_dir.File("normal.ts")));
}

// A disk that drops off the bus during a rescue (a cache still answering for its
// first sectors): the rescue stops and says so, keeps its .part and a map that
// calls no sector bad that was not read alone while the disk was there; run again
// with the disk back, it goes on and ends as a whole rescue does.
TEST_F(RescueTest, ADiskThatGoesAwayStopsTheRescueWhichGoesOnWhenItIsBack) {
    Reopen(m_files);
    m_opener.PullAfter(m_image->Path(), 8);
    const std::size_t before = m_opener.Log().reads.size();
    Rescue(m_dir.File("rescued.ts"));
    EXPECT_LT(m_opener.Log().reads.size() - before, 60u);
    ASSERT_EQ(m_frontend.Messages().size(), 1u);
    EXPECT_THAT(m_frontend.Messages()[0].text,
                HasSubstr("The disk " + m_image->Path() + " no longer answers"));
    EXPECT_THAT(m_frontend.Messages()[0].text, HasSubstr("run the same copy again"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("rescued.ts")));
    EXPECT_TRUE(std::filesystem::exists(m_dir.File("rescued.ts.part")));
    const auto stopped = MapIn(m_dir.File("rescued.ts.moravel-map"));
    ASSERT_TRUE(stopped) << stopped.error().reason;
    EXPECT_NE(stopped->pass, RescuePass::Done);
    EXPECT_GT(stopped->map.Bytes(RescueState::Untried), 0u);
    const std::vector<std::uint64_t> bad = BadOffsets();
    for (const RescueRange& range : stopped->map.Ranges()) {
        for (std::uint64_t o = range.first; range.state == RescueState::Bad && o < range.end;
             o += 512) {
            EXPECT_NE(std::find(bad.begin(), bad.end(), o), bad.end())
                << "marked bad after the disk went: " << o;
        }
    }

    m_opener.PlugIn(m_image->Path());
    Reopen(m_files);
    Rescue(m_dir.File("rescued.ts"));
    EXPECT_THAT(m_frontend.StatusText(), HasSubstr(" 305 unreadable sectors were filled"));
    Reopen(m_files);
    SelectFile("Damaged.ts");
    CopyTo(m_dir.File("normal.ts"));
    EXPECT_EQ(FileBytes(m_dir.File("rescued.ts")), FileBytes(m_dir.File("normal.ts")));
}

// A map says which bytes its output holds: without that output (removed, or
// another file in its place) its holes would pass for copied bytes.
TEST_F(RescueTest, AMapWhoseOutputIsGoneIsRefused) {
    Reopen(m_files);
    int steps = 0;
    m_frontend.OnPumpStep([&] {
        if (m_frontend.IsVisible(res::kProgressBar) && ++steps == 40) {
            m_dialog->OnClose();
        }
    });
    Rescue(m_dir.File("rescued.ts"));
    ASSERT_TRUE(std::filesystem::exists(m_dir.File("rescued.ts.moravel-map")));
    std::filesystem::remove(m_dir.File("rescued.ts.part"));

    Reopen(m_files);
    Rescue(m_dir.File("rescued.ts"));
    ASSERT_EQ(m_frontend.MessageTexts().size(), 1u);
    EXPECT_THAT(m_frontend.MessageTexts()[0], HasSubstr("is missing or has another size"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("rescued.ts")));
}

// On a destination that fills up, the rescue fails saying so, and leaves no map
// that it could not write whole: its unfinished output, and the last map that
// went in whole, which the next rescue goes on from.
TEST_F(RescueTest, AFullDestinationLeavesNoHalfWrittenMap) {
    MemoryTarget full("FAT32");
    full.failAfterBytes = 100'000;
    Reopen(full);
    Rescue("/media/usb/rescued.ts");
    EXPECT_THAT(m_frontend.StatusText(), HasSubstr("The file copying failed."));
    std::vector<std::string> names;
    for (const auto& [name, file] : full.files) {
        names.push_back(name);
    }
    ASSERT_THAT(names,
                ElementsAre("/media/usb/rescued.ts.moravel-map", "/media/usb/rescued.ts.part"));
    const auto map = ParseRescueMap(*full.ReadAll(names[0]));
    ASSERT_TRUE(map) << map.error().reason;
    EXPECT_GT(map->map.Bytes(RescueState::Copied), 0u);
    EXPECT_LE(map->map.Bytes(RescueState::Copied), full.files[names[1]].size);
}

// A map left by another recording's rescue must not steer this one: the rescue
// is refused before anything is read or written.
TEST_F(RescueTest, AMapOfAnotherRecordingIsRefused) {
    AddRecording("OTHER   TS ", 8192, "Other.ts", Content::Full);
    Start(m_files);
    SelectFile("Other.ts");
    m_frontend.QueueSaveAnswer(SaveChoice{m_dir.File("out.ts"), "out.ts"});
    m_dialog->OnRescueCopy();
    ASSERT_THAT(m_frontend.StatusText(), HasSubstr("succesfully"));
    const auto otherOutput = FileBytes(m_dir.File("out.ts"));

    Rescue(m_dir.File("out.ts"));
    ASSERT_EQ(m_frontend.MessageTexts().size(), 1u);
    EXPECT_THAT(m_frontend.MessageTexts()[0],
                HasSubstr("The rescue map " + m_dir.File("out.ts.moravel-map") +
                          " cannot be used: it belongs to another recording"));
    EXPECT_EQ(FileBytes(m_dir.File("out.ts")), otherOutput);
}

}  // namespace
}  // namespace moravel::testing
