#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ui/FormatSize.h"

namespace moravel {
namespace {

// The examples of the file list's size column.
TEST(FormatSizeTest, ShowsTheListedExamples) {
    const std::vector<std::pair<std::uint64_t, std::string>> examples = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KB"},
        {1280, "1.3 KB"},  // 1.25: an exact half goes up
        {1792, "1.8 KB"},  // 1.75: an exact half goes up (printf would give 1.8 too)
        {1048575, "1024.0 KB"},
        {1048576, "1.0 MB"},
        {1073741791, "1024.0 MB"},
        {1073741792, "1.0 GB"},  // the float of this size is 1024^3
        {4700000000, "4.4 GB"},
        {5368709120, "5.0 GB"},
        {1099511627776, "1024.0 GB"},
    };
    for (const auto& [bytes, text] : examples) {
        EXPECT_EQ(FormatSize(bytes), text) << bytes;
    }
}

TEST(FormatSizeTest, JustBelowOneMebibyteShowsAsKilobytes) {
    for (std::uint64_t bytes = 1048525; bytes <= 1048575; ++bytes) {
        EXPECT_EQ(FormatSize(bytes), "1024.0 KB") << bytes;
    }
    // One byte less is 1023.9492... KB.
    EXPECT_EQ(FormatSize(1048524), "1023.9 KB");
}

TEST(FormatSizeTest, ExactHalvesRoundUpInEveryUnit) {
    // Where printf would round to even ("0.2" and "2.2"), halves go up here.
    EXPECT_EQ(FormatSize(1024 + 256), "1.3 KB");             // 1.25 KB
    EXPECT_EQ(FormatSize(2 * 1024 + 256), "2.3 KB");         // 2.25 KB
    EXPECT_EQ(FormatSize(1048576 + 262144), "1.3 MB");       // 1.25 MB
    EXPECT_EQ(FormatSize(2359296), "2.3 MB");                // 2.25 MB
    EXPECT_EQ(FormatSize(1073741824ull * 9 / 4), "2.3 GB");  // 2.25 GB
    EXPECT_EQ(FormatSize(1073741824ull * 5 / 4), "1.3 GB");  // 1.25 GB
    // 1.05 is no exact half in binary (1075.2 bytes is no whole size either):
    // 1075 bytes is 1.0498 KB and 1076 bytes 1.0508 KB.
    EXPECT_EQ(FormatSize(1075), "1.0 KB");
    EXPECT_EQ(FormatSize(1076), "1.1 KB");
}

TEST(FormatSizeTest, UnitBoundariesFollowTheFloatValue) {
    // Below 2^24 every size is an exact float: the MB boundary is exact.
    EXPECT_EQ(FormatSize(1023), "1023 B");
    EXPECT_EQ(FormatSize(1024), "1.0 KB");
    EXPECT_EQ(FormatSize(1048576), "1.0 MB");
    // Near 2^30 floats are 64 apart: 2^30 - 33 rounds down to 2^30 - 64,
    // 2^30 - 32 is a tie that goes to the even 2^30.
    EXPECT_EQ(FormatSize(1073741760), "1024.0 MB");
    EXPECT_EQ(FormatSize(1073741791), "1024.0 MB");
    EXPECT_EQ(FormatSize(1073741792), "1.0 GB");
    EXPECT_EQ(FormatSize(1073741824), "1.0 GB");
}

TEST(FormatSizeTest, LargeSizesStayInGigabytes) {
    EXPECT_EQ(FormatSize(1099511627776ull * 1024), "1048576.0 GB");  // 1 PiB
    // 2^64 - 1 rounds to the float 2^64, which is 2^34 GB.
    EXPECT_EQ(FormatSize(UINT64_MAX), "17179869184.0 GB");
}

}  // namespace
}  // namespace moravel
