#include "schedule_book.h"

namespace schedules {

void ScheduleBook::set(std::uint32_t id, Plan plan) {
    Entry& entry = entries_[id];
    entry.plan = std::move(plan);
    entry.stale = true;
}

void ScheduleBook::remove(std::uint32_t id) { entries_.erase(id); }

Verdict ScheduleBook::judge(Entry& entry, Seconds now, bool synced) const {
    entry.due.reset();
    if (!entry.plan.enabled) {
        return {"Inactive", "disabled"};
    }
    if (!entry.plan.table) {
        return {"Error", entry.plan.error};
    }
    if (!synced) {
        const bool active = policy_ == UnsyncedPolicy::active;
        return {active ? "Active" : "Inactive",
                std::string("the clock is not synchronised yet: ") + (active ? "active" : "inactive") + " until it is"};
    }
    entry.due = entry.plan.table->next_change(now);
    return {entry.plan.table->active_at(now) ? "Active" : "Inactive", ""};
}

ScheduleBook::Changes ScheduleBook::recompute(Seconds now, bool synced, bool all) {
    Changes changes;
    for (auto& [id, entry] : entries_) {
        if (!all && !entry.stale && !(entry.due && *entry.due <= now)) {
            continue;
        }
        entry.stale = false;
        Verdict verdict = judge(entry, now, synced);
        if (entry.given != verdict) {
            entry.given = verdict;
            changes.emplace_back(id, std::move(verdict));
        }
    }
    return changes;
}

std::optional<Seconds> ScheduleBook::next_due() const {
    std::optional<Seconds> next;
    for (const auto& [id, entry] : entries_) {
        if (entry.due && (!next || *entry.due < *next)) {
            next = entry.due;
        }
    }
    return next;
}

}  // namespace schedules
