#include "level_table.h"

#include <algorithm>

namespace zebtrace {

int LevelTable::level_of(std::string_view zone) const {
    const auto found = zones_.find(zone);
    return found == zones_.end() ? default_level_ : found->second;
}

void LevelTable::set_default(int level) {
    default_level_ = level;
    recompute_ceiling();
}

void LevelTable::set_zone(std::string_view zone, int level) {
    const auto found = zones_.find(zone);
    if (found != zones_.end()) {
        found->second = level;
    } else {
        zones_.emplace(std::string(zone), level);
    }
    recompute_ceiling();
}

void LevelTable::clear_zone(std::string_view zone) {
    const auto found = zones_.find(zone);
    if (found == zones_.end()) return;
    zones_.erase(found);
    recompute_ceiling();
}

void LevelTable::recompute_ceiling() {
    int highest = default_level_;
    for (const auto& [zone, level] : zones_) highest = std::max(highest, level);
    ceiling_ = highest;
}

}  // namespace zebtrace
