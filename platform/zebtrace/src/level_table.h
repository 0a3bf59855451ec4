#ifndef ZEBTRACE_LEVEL_TABLE_H
#define ZEBTRACE_LEVEL_TABLE_H

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include <zebtrace/zebtrace.h>

namespace zebtrace {

// Level per zone with a default for the rest. Not locked: the caller serialises access.
class LevelTable {
public:
    int level_of(std::string_view zone) const;
    int default_level() const { return default_level_; }
    void set_default(int level);
    void set_zone(std::string_view zone, int level);
    void clear_zone(std::string_view zone);
    // The highest level of any zone: a line above it is dropped without a lookup.
    int ceiling() const { return ceiling_; }

private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    void recompute_ceiling();

    int default_level_ = TRACE_LEVEL_INFO;
    int ceiling_ = TRACE_LEVEL_INFO;
    std::unordered_map<std::string, int, TextHash, std::equal_to<>> zones_;
};

}  // namespace zebtrace

#endif
