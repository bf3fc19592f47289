// The files the program writes, on the machine's own file systems: one writer per
// output, published only as the file that was written, never in the place of
// anything but a regular file, and names fitted to what a file system takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "copy/CopyTarget.h"
#include "copy/PartNames.h"
#include "disk/PathText.h"
#include "support/TempDir.h"
#include "support/Tools.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace moravel::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::span<const std::uint8_t> BytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void Write(OutputFile& file, const std::string& text) {
    std::size_t written = 0;
    ASSERT_TRUE(file.Write(BytesOf(text), written));
    ASSERT_TRUE(file.Close());
}

TEST(OutputFileTest, TwoCopiesNeverShareAnOutput) {
    TempDir dir;
    const std::string path = dir.File("x.ts");
    FileSystemTarget first;
    FileSystemTarget second;
    Result<std::unique_ptr<OutputFile>> mine = first.Create(path);
    ASSERT_TRUE(mine) << mine.error().reason;
    Write(**mine, "first recording");

    // Written, not yet published: the working file is still this copy's.
    const Result<std::unique_ptr<OutputFile>> refused = second.Create(path);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().reason, "another copy is writing " + WorkingPath(path));
    EXPECT_FALSE(second.OpenPositioned(WorkingPath(path)));

    ASSERT_FALSE(first.Publish(path, std::nullopt));
    EXPECT_EQ(FileText(path), "first recording");
    EXPECT_FALSE(fs::exists(WorkingPath(path)));

    // Once published or released, the name is free for the next copy.
    Result<std::unique_ptr<OutputFile>> next = second.Create(path);
    ASSERT_TRUE(next) << next.error().reason;
    Write(**next, "second");
    second.Release(path);
    EXPECT_TRUE(first.Create(path));
}

#ifndef _WIN32
// (On Windows the handle held keeps the name: a file removed meanwhile waits for
// it, and no other can take the name.)
TEST(OutputFileTest, OnlyTheFileThisCopyWroteIsPublishedOrRemoved) {
    TempDir dir;
    const std::string path = dir.File("x.ts");
    FileSystemTarget target;
    Result<std::unique_ptr<OutputFile>> mine = target.Create(path);
    ASSERT_TRUE(mine);
    Write(**mine, "mine");
    // Another program puts a file of its own under the working name.
    fs::remove(WorkingPath(path));
    std::ofstream(WorkingPath(path)) << "theirs";

    const Failure published = target.Publish(path, std::nullopt);
    ASSERT_TRUE(published);
    EXPECT_THAT(published->reason, HasSubstr("is not the file this copy wrote"));
    EXPECT_FALSE(fs::exists(path));
    target.Discard(path);
    EXPECT_EQ(FileText(WorkingPath(path)), "theirs");
}

#endif

// A small file (a picture, a map) is whole or not there; what is left is named.
// The first lies at the end of a path longer than Windows' MAX_PATH: a recording's
// long name in a deep folder.
TEST(OutputFileTest, AWholeFileIsWrittenOrItsRemainsAreNamed) {
    TempDir dir;
    fs::path folder = dir.Path();
    for (int i = 0; i < 3; ++i) {
        folder /= std::string(90, static_cast<char>('a' + i));
    }
#ifdef _WIN32
    // Made in the long form, which std::filesystem takes as it is given.
    fs::create_directories(L"\\\\?\\" + fs::absolute(folder).make_preferred().wstring());
#else
    fs::create_directories(folder);
#endif
    const std::string path = Utf8FromPath(folder / (std::string(200, 'R') + ".png"));
    FileSystemTarget target;
    EXPECT_FALSE(WriteWholeFile(target, path, BytesOf("PNG bytes")));
    EXPECT_FALSE(target.Exists(WorkingPath(path)));
    const Result<std::uint64_t> size = target.SizeOf(path);
    ASSERT_TRUE(size) << size.error().reason;
    EXPECT_EQ(*size, 9u);

#ifndef _WIN32
    // A disk that fills up: half a picture is no picture, and none is left.
    WithFileSizeLimit(4, [&] {
        const Failure full = WriteWholeFile(target, dir.File("full.png"), BytesOf("PNG bytes"));
        ASSERT_TRUE(full);
        EXPECT_EQ(full->reason,
                  WorkingPath(dir.File("full.png")) + ": File too large; nothing was kept");
    });
    EXPECT_FALSE(fs::exists(WorkingPath(dir.File("full.png"))));
#endif
    fs::create_directory(dir.File("folder"));
    const Failure folderGiven = WriteWholeFile(target, dir.File("folder"), BytesOf("PNG"));
    ASSERT_TRUE(folderGiven);
    EXPECT_EQ(folderGiven->reason, dir.File("folder") + ": it is a folder");
    EXPECT_FALSE(fs::exists(WorkingPath(dir.File("folder"))));
}

#ifndef _WIN32
TEST(OutputFileTest, NothingButARegularFileIsEverReplaced) {
    TempDir dir;
    FileSystemTarget target;
    // A pipe appears where the copy is to go while it is written.
    const std::string path = dir.File("x.ts");
    Result<std::unique_ptr<OutputFile>> output = target.Create(path);
    ASSERT_TRUE(output);
    Write(**output, "bytes");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const Failure published = target.Publish(path, std::nullopt);
    ASSERT_TRUE(published);
    EXPECT_EQ(published->reason, path + " is no regular file");
    struct stat there {};
    ASSERT_EQ(::lstat(path.c_str(), &there), 0);
    EXPECT_TRUE(S_ISFIFO(there.st_mode));
    EXPECT_EQ(FileText(WorkingPath(path)), "bytes");

    // A working name that is a link is not followed to another file, nor is a
    // pipe there written or waited on.
    const std::string victim = dir.File("victim");
    std::ofstream(victim) << "keep me";
    fs::create_symlink(victim, WorkingPath(dir.File("y.ts")));
    const Result<std::unique_ptr<OutputFile>> linked = target.Create(dir.File("y.ts"));
    ASSERT_FALSE(linked);
    EXPECT_THAT(linked.error().reason, HasSubstr("symbolic link"));
    EXPECT_EQ(FileText(victim), "keep me");
    ASSERT_EQ(::mkfifo(WorkingPath(dir.File("z.ts")).c_str(), 0600), 0);
    const Result<std::unique_ptr<OutputFile>> piped = target.Create(dir.File("z.ts"));
    ASSERT_FALSE(piped);
    EXPECT_EQ(piped.error().reason, "it is no regular file");
}

#endif

TEST(FileNameLimitTest, NamesAreCutInTheirStemToFitWithTheirSuffixes) {
    const std::string longest = std::string(252, 'L') + ".ts";  // 255: as long as a name gets
    EXPECT_EQ(FitFileName(longest), longest);
    const std::string working = FitFileName(longest, ".part");
    EXPECT_EQ(FileNameLength(working), kFileNameLimit);
    EXPECT_THAT(working, StartsWith(std::string(200, 'L')));
    EXPECT_THAT(working, EndsWith(".ts.part"));
    EXPECT_EQ(FitFileName(longest, ".part"), working);  // the same cut every time
    EXPECT_EQ(WorkingPath("/media/usb/" + longest), "/media/usb/" + working);

    std::string umlauts;  // 600 bytes of UTF-8, 300 UTF-16 units: too long anywhere
    for (int i = 0; i < 300; ++i) {
        umlauts += "\u00c4";
    }
    const std::string fitted = FitFileName(umlauts + ".TS");
    EXPECT_LE(FileNameLength(fitted), kFileNameLimit);
    EXPECT_THAT(fitted, StartsWith("\u00c4\u00c4\u00c4"));
    EXPECT_THAT(fitted, EndsWith(".TS"));
    // Whole characters only: no byte of an "Ä" is left on its own.
    EXPECT_EQ(fitted.find("~") % 2, 0u);
    // Names that differ only past the cut stay different.
    EXPECT_NE(FitFileName(umlauts + "1.TS"), FitFileName(umlauts + "2.TS"));
    const std::string part = PartName(SplitFileName(umlauts + ".TS"), 12);
    EXPECT_LE(FileNameLength(part), kFileNameLimit);
    EXPECT_THAT(part, EndsWith("_12.TS"));
    EXPECT_EQ(FitFileName("Movie.ts", ".moravel-map"), "Movie.ts.moravel-map");
}

}  // namespace
}  // namespace moravel::testing
