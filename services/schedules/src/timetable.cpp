#include "timetable.h"

#include <algorithm>
#include <exception>

namespace schedules {
namespace {

using std::chrono::days;
using std::chrono::minutes;
using std::chrono::seconds;
using LocalSeconds = date::local_time<seconds>;

// Days looked ahead: a week of windows plus the overnight tail of the last one.
constexpr int kHorizonDays = 8;

// The instants at which the wall clock shows `local`: none in a skipped hour (the transition
// instant stands for it, and is a candidate of its own), two in a repeated hour.
void instants_of(const date::time_zone* zone, LocalSeconds local, std::vector<Seconds>& out) {
    const date::local_info info = zone->get_info(local);
    const Seconds first{local.time_since_epoch() - info.first.offset};
    switch (info.result) {
    case date::local_info::unique:
        out.push_back(first);
        break;
    case date::local_info::ambiguous:
        out.push_back(first);
        out.push_back(Seconds{local.time_since_epoch() - info.second.offset});
        break;
    default:
        out.push_back(info.second.begin);
        break;
    }
}

}  // namespace

bool Timetable::active_at(Seconds when) const {
    const LocalSeconds local = zone->to_local(when);
    const auto day = std::chrono::floor<days>(local);
    const int weekday = static_cast<int>(date::weekday(date::local_days(day.time_since_epoch())).iso_encoding()) - 1;
    const int second_of_day = static_cast<int>((local - day).count());
    return std::any_of(windows.begin(), windows.end(),
                       [&](const Window& w) { return w.covers(weekday, second_of_day); });
}

Seconds Timetable::next_change(Seconds now) const {
    const bool active = active_at(now);
    const Seconds horizon = now + days(7);
    const auto today = std::chrono::floor<days>(zone->to_local(now));
    std::vector<Seconds> candidates;
    // Day by day, so that the usual answer (within a day) costs a handful of lookups.
    for (int d = 0; d <= kHorizonDays; ++d) {
        candidates.clear();
        const LocalSeconds midnight = today + days(d);
        for (const Window& w : windows) {
            instants_of(zone, midnight + minutes(w.start), candidates);
            instants_of(zone, midnight + minutes(w.end), candidates);
        }
        // Clock changes of this day: the wall clock jumps there, and may jump into or out of a
        // window.
        std::vector<Seconds> day_edges;
        instants_of(zone, midnight, day_edges);
        instants_of(zone, midnight + days(1), day_edges);
        for (date::sys_info info = zone->get_info(day_edges.front()); info.end <= day_edges.back();
             info = zone->get_info(info.end)) {
            candidates.push_back(info.end);
        }
        std::sort(candidates.begin(), candidates.end());
        for (const Seconds candidate : candidates) {
            if (candidate > now && candidate <= horizon && active_at(candidate) != active) {
                return candidate;
            }
        }
    }
    return horizon;
}

std::optional<Seconds> parse_utc(std::string_view text) {
    static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != kShape.size()) {
        return std::nullopt;
    }
    int fields[6] = {};
    int field = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] != 'd') {
            if (text[i] != kShape[i]) {
                return std::nullopt;
            }
            ++field;
        } else if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        } else {
            fields[field] = fields[field] * 10 + (text[i] - '0');
        }
    }
    const date::year_month_day day{date::year(fields[0]), date::month(static_cast<unsigned>(fields[1])),
                                   date::day(static_cast<unsigned>(fields[2]))};
    if (!day.ok() || fields[3] > 23 || fields[4] > 59 || fields[5] > 59) {
        return std::nullopt;
    }
    return Seconds{date::sys_days(day).time_since_epoch() + std::chrono::hours(fields[3]) +
                   minutes(fields[4]) + seconds(fields[5])};
}

const date::time_zone* find_zone(const std::string& name, std::string& why) {
    try {
        return name.empty() ? date::current_zone() : date::locate_zone(name);
    } catch (const std::exception& e) {
        why = name.empty() ? std::string("the system's local time zone is unknown: ") + e.what()
                           : "unknown time zone '" + name.substr(0, 64) + "'";
        return nullptr;
    }
}

}  // namespace schedules
