// When a schedule is in force: its windows read on the wall clock of its time zone. The time
// zone rules are the system's tzdata, read through the date library.
//
// The wall clock decides, also across daylight-saving changes: a window that starts in the hour
// skipped in spring starts when the clock jumps past its start, and a window inside the hour
// repeated in autumn is in force both times the clock shows it.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <date/tz.h>

#include "window.h"

namespace schedules {

using Seconds = std::chrono::sys_seconds;

struct Timetable {
    const date::time_zone* zone = nullptr;  // from the tz database, never null once built
    std::vector<Window> windows;

    bool active_at(Seconds when) const;

    // The first instant after `now` at which active_at() changes; `now` + one week when it
    // never changes within a week (a window of every day's 24 hours, say), so that the caller
    // looks again then.
    Seconds next_change(Seconds now) const;
};

// "YYYY-MM-DDTHH:MM:SSZ" (UTC); nullopt for anything else.
std::optional<Seconds> parse_utc(std::string_view text);

// The zone of a TimeZone text: "" is the system's local zone. nullptr, with a reason, when
// the tz database has no such zone.
const date::time_zone* find_zone(const std::string& name, std::string& why);

}  // namespace schedules
