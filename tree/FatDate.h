#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace moravel {

// A moment as a FAT directory entry keeps it: local time, two-second steps.
struct FatDateTime {
    int year = 1980;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Decodes a FAT date word (bits 15-9 years since 1980, 8-5 month, 4-0 day) and time
// word (15-11 hours, 10-5 minutes, 4-0 seconds / 2). Nothing for a date that is no
// day of the calendar (0, month 13, 30 February) or a time past 23:59:59.
std::optional<FatDateTime> DecodeFatDateTime(std::uint16_t date, std::uint16_t time);

// "YYYY-MM-DD HH:MM", and "YYYY-MM-DDTHH:MM:SS" (ISO 8601, local, no zone).
std::string ShortDateText(const FatDateTime& moment);
std::string IsoDateText(const FatDateTime& moment);

// The moment as seconds since the epoch, read as local time in this machine's
// zone (as mtools does); nothing when the zone has no such moment.
std::optional<std::time_t> LocalTimeOf(const FatDateTime& moment);

}  // namespace moravel
