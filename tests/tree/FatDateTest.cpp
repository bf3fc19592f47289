#include <gtest/gtest.h>

#include <cstdlib>

#include "tree/FatDate.h"

namespace moravel {
namespace {

std::uint16_t Date(int year, int month, int day) {
    return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

std::uint16_t Time(int hour, int minute, int second) {
    return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

TEST(FatDateTest, DecodesDateAndTimeWords) {
    const auto moment = DecodeFatDateTime(Date(2004, 5, 17), Time(21, 30, 58));
    ASSERT_TRUE(moment.has_value());
    EXPECT_EQ(ShortDateText(*moment), "2004-05-17 21:30");
    EXPECT_EQ(IsoDateText(*moment), "2004-05-17T21:30:58");
    // The last moment a FAT entry can hold.
    const auto last = DecodeFatDateTime(0xFF9F, Time(23, 59, 58));
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(IsoDateText(*last), "2107-12-31T23:59:58");
}

TEST(FatDateTest, NoDayOfTheCalendarIsNoDate) {
    EXPECT_FALSE(DecodeFatDateTime(0, 0));  // an entry that never had a date
    EXPECT_FALSE(DecodeFatDateTime(Date(2004, 13, 1), 0));
    EXPECT_FALSE(DecodeFatDateTime(Date(2004, 0, 1), 0));
    EXPECT_FALSE(DecodeFatDateTime(Date(2005, 2, 29), 0));
    EXPECT_TRUE(DecodeFatDateTime(Date(2004, 2, 29), 0));
    EXPECT_FALSE(DecodeFatDateTime(Date(2100, 2, 29), 0));  // no leap year
    EXPECT_TRUE(DecodeFatDateTime(Date(2000, 2, 29), 0));   // but this one is
    EXPECT_FALSE(DecodeFatDateTime(Date(2004, 4, 31), 0));
    EXPECT_FALSE(DecodeFatDateTime(Date(2004, 5, 17), Time(24, 0, 0)));
    EXPECT_FALSE(DecodeFatDateTime(Date(2004, 5, 17), Time(23, 60, 0)));
    EXPECT_FALSE(DecodeFatDateTime(Date(2004, 5, 17), Time(23, 59, 60)));
}

TEST(FatDateTest, LocalTimeFollowsTheZone) {
#ifdef _WIN32
    GTEST_SKIP() << "the C library of Windows takes no time-zone rules (M3.5.0) in TZ";
#else
    const char* old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    const auto utc = LocalTimeOf(*DecodeFatDateTime(Date(2004, 5, 17), Time(21, 30, 58)));
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    const auto berlin = LocalTimeOf(*DecodeFatDateTime(Date(2004, 5, 17), Time(21, 30, 58)));
    if (old != nullptr) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
    ASSERT_TRUE(utc && berlin);
    EXPECT_EQ(*utc, 1084829458);          // date -u -d '2004-05-17 21:30:58' +%s
    EXPECT_EQ(*utc - *berlin, 2 * 3600);  // summer time there: two hours ahead
#endif
}

}  // namespace
}  // namespace moravel
