#include "FatDate.h"

#include <cstdio>

namespace moravel {

namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

std::optional<FatDateTime> DecodeFatDateTime(std::uint16_t date, std::uint16_t time) {
    FatDateTime moment;
    moment.year = 1980 + (date >> 9);
    moment.month = (date >> 5) & 0x0F;
    moment.day = date & 0x1F;
    moment.hour = time >> 11;
    moment.minute = (time >> 5) & 0x3F;
    moment.second = (time & 0x1F) * 2;
    if (moment.month < 1 || moment.month > 12 || moment.day < 1 ||
        moment.day > DaysInMonth(moment.year, moment.month) || moment.hour > 23 ||
        moment.minute > 59 || moment.second > 59) {
        return std::nullopt;
    }
    return moment;
}

std::string ShortDateText(const FatDateTime& moment) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", moment.year, moment.month,
                  moment.day, moment.hour, moment.minute);
    return text;
}

std::string IsoDateText(const FatDateTime& moment) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", moment.year, moment.month,
                  moment.day, moment.hour, moment.minute, moment.second);
    return text;
}

std::optional<std::time_t> LocalTimeOf(const FatDateTime& moment) {
    std::tm parts{};
    parts.tm_year = moment.year - 1900;
    parts.tm_mon = moment.month - 1;
    parts.tm_mday = moment.day;
    parts.tm_hour = moment.hour;
    parts.tm_min = moment.minute;
    parts.tm_sec = moment.second;
    parts.tm_isdst = -1;  // the zone knows whether summer time applied then
    const std::time_t seconds = std::mktime(&parts);
    if (seconds == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return seconds;
}

}  // namespace moravel
