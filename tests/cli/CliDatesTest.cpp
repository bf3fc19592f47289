#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "CliTestImages.h"
#include "support/Tools.h"

// Dates as the recorder kept them, checked against mtools: mcopy -m puts a host
// file's modification time into the entry, and what the listing shows and what a
// copy keeps must be that time again.
namespace moravel::testing {
namespace {

using ::testing::ElementsAre;

class CliDatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
        const std::string mkfs = FindTool("mkfs.fat");
        ASSERT_FALSE(mkfs.empty()) << "mkfs.fat (dosfstools) is not installed";
        ASSERT_FALSE(FindTool("mcopy").empty()) << "mtools is not installed";
        Run(mkfs + " -C -F 12 " + Quoted(m_image) + " 1440");
        // An even second: FAT keeps times in steps of two.
        AddFile("NEWS.TS", 3000, "2004-05-17 21:30:58");
        AddFile("Film Night.ts", 70'000, "2003-10-12 09:05:02");
    }

    void Run(const std::string& command) {
        int status = 0;
        const std::string output = RunCommand(command, status);
        ASSERT_EQ(status, 0) << command << "\n" << output;
    }

    void AddFile(const std::string& name, std::size_t bytes, const std::string& date) {
        const std::string host = m_dir.File(name);
        {
            std::ofstream out(host, std::ios::binary);
            for (std::size_t i = 0; i < bytes; ++i) {
                out.put(static_cast<char>(i * 7));
            }
        }
        Run("touch -d " + Quoted(date) + " " + Quoted(host));
        Run(FindTool("mcopy") + " -m -i " + Quoted(m_image) + " " + Quoted(host) + " ::/");
    }

    static std::time_t ModifiedOf(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info.st_mtime;
    }

    TempDir m_dir;
    std::string m_image = m_dir.File("floppy.img");
};

TEST_F(CliDatesTest, TheListingShowsEachEntrysLastChange) {
    const CliRun text = RunList({"--floppy", m_image, "list", "Floppy Disk 1/Root Directory"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_THAT(Lines(text.out),
                ElementsAre("NEWS    .TS \tfile\t2.9 KB\t3000\t2004-05-17 21:30",
                            "Film Night.ts\tfile\t68.4 KB\t70000\t2003-10-12 09:05"));
    const CliRun json =
        RunList({"--floppy", m_image, "list", "--json", "Floppy Disk 1/Root Directory"});
    const auto items = nlohmann::json::parse(json.out);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]["modified"], "2004-05-17T21:30:58");
    EXPECT_EQ(items[1]["modified"], "2003-10-12T09:05:02");
    // mtools stamps the entry's creation with the time it copied the file in.
    EXPECT_TRUE(items[0].contains("created"));
}

TEST_F(CliDatesTest, ACopyKeepsTheRecordingsDate) {
    const std::filesystem::path out = m_dir.Path() / "out";
    std::filesystem::create_directory(out);
    for (const std::string name : {"NEWS.TS", "Film Night.ts"}) {
        const CliRun run = RunList(
            {"--floppy", m_image, "copy", "Floppy Disk 1/Root Directory/" + name, out.string()});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(ModifiedOf((out / name).string()), ModifiedOf(m_dir.File(name))) << name;
    }
}

}  // namespace
}  // namespace moravel::testing
