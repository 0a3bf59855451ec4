// One weekly time window of a schedule, and the texts it is written with: Days
// ("Mon,Tue,...", any order, no repeats), StartTime and EndTime ("HH:MM", 24-hour). An end at
// or before the start belongs to the next day, so "21:00"-"07:00" runs overnight and equal
// times make a window of 24 hours.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace schedules {

struct Window {
    std::uint8_t days = 0;  // bit 0 Monday ... bit 6 Sunday: the days the window starts on
    int start = 0;          // minutes after local midnight
    int end = 0;

    // Whether local wall time `second_of_day` (0..86399) of the day with index `weekday`
    // (0 Monday ... 6 Sunday) lies inside the window, counting a start on the day before.
    bool covers(int weekday, int second_of_day) const;
    bool overnight() const { return end <= start; }
};

// Parsers of the written texts; nullopt, with a reason in `why`, for anything else.
std::optional<std::uint8_t> parse_days(std::string_view text, std::string& why);
std::optional<int> parse_time(std::string_view text, std::string& why);

}  // namespace schedules
