#include <gtest/gtest.h>

#include "disk/DriveItem.h"
#include "support/TempDir.h"
#include "tree/Directory.h"

namespace moravel {
namespace {

using testing::Bytes;
using testing::DirectorySectors;
using testing::LongNameEntries;
using testing::ShortEntry;

// A directory buffer from entries given in storage order.
Bytes Directory(std::vector<Bytes> entries) {
    return DirectorySectors(entries);
}

const OemCodePage& Cp850() {
    static const OemCodePage page = OemCodePage::Load(850).value();
    return page;
}

// The checksum that a short entry's long-name entries carry, as the image builder
// computes it.
std::uint8_t ChecksumOf(const Bytes& shortEntry) {
    return testing::ShortNameChecksum(std::string(shortEntry.begin(), shortEntry.begin() + 11));
}

template <typename Name>
std::vector<Bytes> WithLongName(const Name& name, const Bytes& shortEntry) {
    auto entries = LongNameEntries(name, ChecksumOf(shortEntry));
    entries.push_back(shortEntry);
    return entries;
}

TEST(EntryNameTest, ShortNamesKeepTheirPaddingAndTheDot) {
    const Bytes video = ShortEntry("VIDEO   MPG", 0x20, 3, 100);
    EXPECT_EQ(ShortName(video, Cp850()), "VIDEO   .MPG");
    EXPECT_EQ(ShortName(ShortEntry("README  TXT", 0x20, 3, 1), Cp850()), "README  .TXT");
    EXPECT_EQ(ShortName(ShortEntry("RECORDS    ", 0x10, 3, 0), Cp850()), "RECORDS .   ");
    const Bytes directory = Directory({ShortEntry("A       TXT", 0x20, 0, 0), video});
    EXPECT_EQ(FormEntryName(directory, 1, Cp850()), "VIDEO   .MPG");
}

// The name a copy is given: what a file of the machine would be called.
TEST(EntryNameTest, FileNamesDropTheShortNamesPadding) {
    EXPECT_EQ(UnpaddedShortName(ShortEntry("NEWS0518TS ", 0x20, 3, 1), Cp850()), "NEWS0518.TS");
    EXPECT_EQ(UnpaddedShortName(ShortEntry("TRAILER TS ", 0x20, 3, 1), Cp850()), "TRAILER.TS");
    EXPECT_EQ(UnpaddedShortName(ShortEntry("README     ", 0x20, 3, 1), Cp850()), "README");
    EXPECT_EQ(UnpaddedShortName(ShortEntry("A B     C  ", 0x20, 3, 1), Cp850()), "A B.C");
    // The case flags of byte 12: small letters in the name, the extension, or both.
    Bytes flagged = ShortEntry("EMPTY   TS ", 0x20, 3, 1);
    const std::pair<std::uint8_t, const char*> cases[] = {
        {0x08, "empty.TS"}, {0x10, "EMPTY.ts"}, {0x18, "empty.ts"}};
    for (const auto& [flags, name] : cases) {
        flagged[12] = flags;
        EXPECT_EQ(UnpaddedShortName(flagged, Cp850()), name);
        EXPECT_EQ(ShortName(flagged, Cp850()), "EMPTY   .TS ");  // shown as stored
    }
    const Bytes directory =
        Directory(WithLongName("Evening News.ts ", ShortEntry("EVENIN~1TS ", 0x20, 3, 1)));
    EXPECT_EQ(FormFileName(directory, 2, Cp850()),
              "Evening News.ts ");  // after two long-name entries
    EXPECT_EQ(FormFileName(Directory({ShortEntry("VIDEO   MPG", 0x20, 3, 1)}), 0, Cp850()),
              "VIDEO.MPG");
}

TEST(EntryNameTest, LongNamesOfOneAndTwoEntries) {
    const std::string thirteen = "Evening News.";
    ASSERT_EQ(thirteen.size(), 13u);
    Bytes directory = Directory(WithLongName(thirteen, ShortEntry("EVENIN~1   ", 0x20, 5, 9)));
    EXPECT_EQ(FormEntryName(directory, 1, Cp850()), thirteen);

    const std::string twentySix = "Evening News 2004-05-17.ts";
    ASSERT_EQ(twentySix.size(), 26u);
    directory = Directory(WithLongName(twentySix, ShortEntry("EVENIN~1TS ", 0x20, 5, 9)));
    EXPECT_EQ(FormEntryName(directory, 2, Cp850()), twentySix);
}

TEST(EntryNameTest, TheEntryMarked0x40HoldsTheEndOfTheName) {
    // Storage order: 0x42 with characters 14..23 then the terminator and 0xFFFF
    // padding, then 0x01 with characters 1..13.
    const std::string name = "Recording of 2004-05-17";
    ASSERT_EQ(name.size(), 23u);
    const auto entries = LongNameEntries(name);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0][0], 0x42);
    EXPECT_EQ(entries[1][0], 0x01);
    const Bytes directory = Directory(WithLongName(name, ShortEntry("RECORD~1   ", 0x20, 7, 1)));
    EXPECT_EQ(AssembleLongName(directory, 2), name);
}

// Long names are UTF-16: every unit counts, a pair of surrogates is one character,
// and only a 0 unit ends the name.
TEST(EntryNameTest, LongNamesAreDecodedFromUtf16) {
    const auto named = [](const std::u16string& units) {
        const auto entries = WithLongName(units, ShortEntry("NAME    TS ", 0x20, 3, 1));
        return FormEntryName(Directory(entries), entries.size() - 1, Cp850());
    };
    EXPECT_EQ(named(u"Caf\u00E9 \u20AC.ts"), "Caf\u00E9 \u20AC.ts");
    EXPECT_EQ(named(u"\u65E5\u672C\u8A9E.ts"), "\u65E5\u672C\u8A9E.ts");
    EXPECT_EQ(named(u"News \u2013 Late.ts"), "News \u2013 Late.ts");  // an en dash, not 0x13
    EXPECT_EQ(named(u"Film \U0001F3AC.ts"), "Film \U0001F3AC.ts");    // a surrogate pair
    EXPECT_EQ(named(u"\u0100\u0200.ts"), "\u0100\u0200.ts");          // low bytes 0
    // Surrogates without their partner: U+FFFD each, the name goes on.
    EXPECT_EQ(named(std::u16string{u'a', char16_t{0xD83C}, u'b', char16_t{0xDFAC}}),
              "a\uFFFDb\uFFFD");
}

// 255 units, a character of three UTF-8 bytes each: nothing is cut.
TEST(EntryNameTest, TheLongestNameIsKeptWhole) {
    const std::u16string units(255, u'\u65E5');
    std::string expected;
    for (int i = 0; i < 255; ++i) {
        expected += "\u65E5";
    }
    const auto entries = WithLongName(units, ShortEntry("LONG    TS ", 0x20, 3, 1));
    const std::string formed = FormEntryName(Directory(entries), entries.size() - 1, Cp850());
    EXPECT_EQ(formed, expected);
    DriveItem item;
    item.SetEntryName(formed);
    EXPECT_EQ(item.EntryName(), expected);
}

// Short names are bytes of the OEM code page; the one in use decodes them.
TEST(EntryNameTest, ShortNamesAreDecodedInTheCodePage) {
    const Bytes resume = ShortEntry("R\x90SUM\x90  TXT", 0x20, 3, 1);
    EXPECT_EQ(UnpaddedShortName(resume, Cp850()), "R\u00C9SUM\u00C9.TXT");
    EXPECT_EQ(ShortName(resume, Cp850()), "R\u00C9SUM\u00C9  .TXT");
    EXPECT_EQ(UnpaddedShortName(resume, OemCodePage::Load(866).value()), "R\u0420SUM\u0420.TXT");
    EXPECT_EQ(UnpaddedShortName(ShortEntry("\x80URO    TS ", 0x20, 3, 1),
                                OemCodePage::Load(1252).value()),
              "\u20ACURO.TS");
    EXPECT_EQ(UnpaddedShortName(resume, OemCodePage::Unknown()), "R\uFFFDSUM\uFFFD.TXT");
    // 0x05 first stands for 0xE5 (Õ in code page 850), which would mean deleted.
    EXPECT_EQ(UnpaddedShortName(ShortEntry("\x05"
                                           "BER    TS ",
                                           0x20, 3, 1),
                                Cp850()),
              "\u00D5BER.TS");
}

TEST(EntryNameTest, TheFirstEntryOfTheBufferHasItsShortName) {
    const Bytes directory = Directory({ShortEntry("FIRST   TS ", 0x20, 3, 1)});
    EXPECT_EQ(FormEntryName(directory, 0, Cp850()), "FIRST   .TS ");
}

TEST(EntryNameTest, AWalkThatReachesTheBufferStartBeforeTheEndMarkGivesTheShortName) {
    auto entries = LongNameEntries("A name of two entries");
    entries.erase(entries.begin());  // the 0x40 entry is missing: an orphan
    entries.push_back(ShortEntry("ANAMEO~1   ", 0x20, 3, 1));
    EXPECT_EQ(FormEntryName(Directory(entries), 1, Cp850()), "ANAMEO~1.   ");
}

TEST(EntryNameTest, DeletedLongNameEntriesAreNotTakenAsTheName) {
    // A deleted file's name entries, then a live file without a long name.
    auto entries = LongNameEntries("Deleted recording.ts");
    for (auto& entry : entries) {
        entry[0] = 0xE5;
    }
    entries.push_back(ShortEntry("LIVE    TS ", 0x20, 3, 1));
    EXPECT_EQ(FormEntryName(Directory(entries), entries.size() - 1, Cp850()), "LIVE    .TS ");

    // One deleted entry inside an otherwise live run breaks it as well.
    auto broken = LongNameEntries("Recording of 2004-05-17");
    broken[1][0] = 0xE5;
    broken.push_back(ShortEntry("RECORD~1   ", 0x20, 3, 1));
    EXPECT_EQ(FormEntryName(Directory(broken), 2, Cp850()), "RECORD~1.   ");
}

TEST(EntryNameTest, AnOrphanAfterAnotherEntryGivesTheShortName) {
    auto entries = LongNameEntries("Twenty-six characters long");
    entries.erase(entries.begin());
    entries.insert(entries.begin(), ShortEntry("OTHER   TS ", 0x20, 4, 1));
    entries.push_back(ShortEntry("TWENTY~1   ", 0x20, 3, 1));
    EXPECT_EQ(FormEntryName(Directory(entries), 2, Cp850()), "TWENTY~1.   ");
}

TEST(EntryNameTest, NamesLongerThan255CharactersAreCut) {
    std::string name;
    for (int i = 0; i < 300; ++i) {
        name.push_back(static_cast<char>('a' + i % 26));
    }
    auto entries = WithLongName(name, ShortEntry("LONG    TS ", 0x20, 3, 1));
    EXPECT_EQ(FormEntryName(Directory(entries), entries.size() - 1, Cp850()), name.substr(0, 255));
}

// A writer that knows only short names renamed or replaced the file and left the
// old long-name entries in front of its entry: they carry another checksum, or
// their numbers are out of order, and the file keeps its own short name.
TEST(EntryNameTest, LongNameEntriesThatAreNotTheEntrysOwnAreNotUsed) {
    const Bytes renamed = ShortEntry("NEWS0001TS ", 0x20, 3, 1);
    auto stale = LongNameEntries("Evening News 2004-05-17.ts",
                                 ChecksumOf(ShortEntry("EVENIN~1TS ", 0x20, 3, 1)));
    stale.push_back(renamed);
    EXPECT_EQ(FormEntryName(Directory(stale), 2, Cp850()), "NEWS0001.TS ");

    const std::pair<std::size_t, std::uint8_t> misnumbered[] = {
        {0, 0x43}, {0, 0x02}, {1, 0x02}, {1, 0x81}};
    for (const auto& [at, sequence] : misnumbered) {
        auto entries = WithLongName("Evening News 2004-05-17.ts", renamed);
        entries[at][0] = sequence;
        EXPECT_EQ(FormEntryName(Directory(entries), 2, Cp850()), "NEWS0001.TS ")
            << "entry " << at << " numbered " << int{sequence};
    }
    const auto own = WithLongName("Evening News 2004-05-17.ts", renamed);
    EXPECT_EQ(FormEntryName(Directory(own), 2, Cp850()), "Evening News 2004-05-17.ts");
}

TEST(EntryNameTest, ALongNameWithoutCharactersLeavesTheShortName) {
    auto entries = LongNameEntries("x");
    entries[0][1] = 0;  // the first character is the terminator
    entries.push_back(ShortEntry("EMPTY   TS ", 0x20, 3, 1));
    EXPECT_EQ(FormEntryName(Directory(entries), 1, Cp850()), "EMPTY   .TS ");
}

TEST(EntryFilterTest, TheTwoKindsOfDirectoryFilterDifferently) {
    const Bytes label = ShortEntry("RECORDER   ", 0x08, 0, 0);
    const Bytes dot = ShortEntry(".          ", 0x10, 5, 0);
    const Bytes dotDot = ShortEntry("..         ", 0x10, 0, 0);
    const Bytes file = ShortEntry("MOVIE   TS ", 0x20, 5, 10);
    Bytes deleted = file;
    deleted[0] = 0xE5;
    Bytes leftOut = file;
    leftOut[0] = 0x05;
    const Bytes longName = LongNameEntries("Movie.ts")[0];
    const Bytes end(32, 0);

    EXPECT_EQ(FilterEntry(label, false), EntryVerdict::Skip);
    EXPECT_EQ(FilterEntry(label, true), EntryVerdict::Keep);
    EXPECT_EQ(FilterEntry(dot, true), EntryVerdict::Skip);
    EXPECT_EQ(FilterEntry(dotDot, true), EntryVerdict::Skip);
    EXPECT_EQ(FilterEntry(dot, false), EntryVerdict::Keep);
    for (bool chain : {false, true}) {
        EXPECT_EQ(FilterEntry(file, chain), EntryVerdict::Keep);
        EXPECT_EQ(FilterEntry(deleted, chain), EntryVerdict::Skip);
        EXPECT_EQ(FilterEntry(leftOut, chain), EntryVerdict::Keep);  // a name that begins with 0xE5
        EXPECT_EQ(FilterEntry(longName, chain), EntryVerdict::Skip);
        EXPECT_EQ(FilterEntry(end, chain), EntryVerdict::End);
    }
}

TEST(EntryFieldsTest, TheHighClusterWordCountsOnFat32Only) {
    const Bytes entry = ShortEntry("MOVIE   TS ", 0x20, 0x00031234, 7);
    EXPECT_EQ(EntryFirstCluster(entry, FatKind::Fat32), 0x00031234u);
    EXPECT_EQ(EntryFirstCluster(entry, FatKind::Fat16), 0x1234u);
    EXPECT_EQ(EntryFirstCluster(entry, FatKind::Fat12), 0x1234u);
    EXPECT_EQ(EntrySize(entry), 7u);
}

TEST(FileSizeTest, TheChainGivesTheWholeFourGiBUnits) {
    // 1,000,000 in the entry, 131,103 clusters of 64 x 512 bytes.
    EXPECT_EQ(FileSizeFromChain(1'000'000, 131'103ull * 64 * 512), 4'295'967'296u);
    // 3,000,000,000 bytes stay below 2^32 allocated.
    EXPECT_EQ(FileSizeFromChain(3'000'000'000u, 91'553ull * 32768), 3'000'000'000u);
    EXPECT_EQ(FileSizeFromChain(0, 0), 0u);
    // 4 GiB - 1000 bytes in exactly 4 GiB of clusters is what the entry says.
    EXPECT_EQ(FileSizeFromChain(4'294'966'296u, 131'072ull * 32768), 4'294'966'296u);
    // Exactly 4 GiB: the entry holds 0, the chain 131,072 clusters of 32 KiB.
    EXPECT_EQ(FileSizeFromChain(0, 131'072ull * 32768), 4'294'967'296u);
    // 10 GiB + 5 in whole clusters.
    EXPECT_EQ(
        FileSizeFromChain(static_cast<std::uint32_t>((10ull << 30) + 5), (10ull << 30) + 32768),
        (10ull << 30) + 5);
    // A chain shorter than the entry claims: the entry's size.
    EXPECT_EQ(FileSizeFromChain(100'000, 32768), 100'000u);
}

}  // namespace
}  // namespace moravel
