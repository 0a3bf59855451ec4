#ifndef ZEBTRACE_LEVEL_CONFIG_H
#define ZEBTRACE_LEVEL_CONFIG_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zebtrace {

// One `name=level` item; an empty zone stands for the default level.
struct LevelSetting {
    std::string zone;
    bool is_default;
    int level;
};

// Parses "default=400,zone=500,..."; nullopt when any part of it is malformed.
std::optional<std::vector<LevelSetting>> parse_level_config(std::string_view text);

}  // namespace zebtrace

#endif
