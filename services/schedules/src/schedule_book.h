// The schedules whose Status is computed, by instance index: what each one needs to know
// (time table, or why it cannot be used), the Status it was last given, and when it changes
// next. Pure computation: the clock's reading comes in, the changed verdicts go out.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "timetable.h"

namespace schedules {

// What a schedule is while the clock is not known to be right.
enum class UnsyncedPolicy { inactive, active };

struct Plan {
    bool enabled = true;
    std::optional<Timetable> table;  // empty: `error` says why
    std::string error;
};

struct Verdict {
    std::string status;  // "Active", "Inactive" or "Error"
    std::string info;    // why, when not plainly in or out of a window
    bool operator==(const Verdict&) const = default;
};

class ScheduleBook {
public:
    using Changes = std::vector<std::pair<std::uint32_t, Verdict>>;

    explicit ScheduleBook(UnsyncedPolicy policy) : policy_(policy) {}

    // Adds or replaces a schedule; it is judged at the next recompute.
    void set(std::uint32_t id, Plan plan);
    void remove(std::uint32_t id);
    bool contains(std::uint32_t id) const { return entries_.count(id) != 0; }
    std::size_t size() const { return entries_.size(); }

    // Judges the schedules that are due at `now` (all of them with `all`, after the clock
    // jumped or its synchronisation changed) and returns those whose verdict changed.
    Changes recompute(Seconds now, bool synced, bool all);

    // The earliest instant a verdict may change; nullopt when none ever does by itself.
    std::optional<Seconds> next_due() const;

private:
    struct Entry {
        Plan plan;
        std::optional<Verdict> given;  // none before the first recompute
        std::optional<Seconds> due;    // none: nothing but a change of its data or of the clock
        bool stale = true;             // plan changed since it was last judged
    };
    Verdict judge(Entry& entry, Seconds now, bool synced) const;

    UnsyncedPolicy policy_;
    std::map<std::uint32_t, Entry> entries_;
};

}  // namespace schedules
