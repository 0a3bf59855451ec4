#include "level_config.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>

namespace zebtrace {
namespace {

constexpr std::size_t zone_name_max = 64;
constexpr std::string_view default_name = "default";

std::string_view trim_blanks(std::string_view text) {
    const auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

bool is_zone_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
           c == ':' || c == '-';
}

bool is_zone_name(std::string_view name) {
    return !name.empty() && name.size() <= zone_name_max && std::all_of(name.begin(), name.end(), is_zone_char);
}

std::optional<int> parse_level(std::string_view text) {
    int value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<LevelSetting> parse_item(std::string_view item) {
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view name = trim_blanks(item.substr(0, equals));
    const std::optional<int> level = parse_level(trim_blanks(item.substr(equals + 1)));
    if (!level || !is_zone_name(name)) return std::nullopt;
    if (name == default_name) return LevelSetting{{}, true, *level};
    return LevelSetting{std::string(name), false, *level};
}

}  // namespace

std::optional<std::vector<LevelSetting>> parse_level_config(std::string_view text) {
    std::vector<LevelSetting> settings;
    std::unordered_set<std::string> named;
    if (trim_blanks(text).empty()) return settings;
    while (true) {
        const std::size_t comma = text.find(',');
        std::optional<LevelSetting> setting = parse_item(text.substr(0, comma));
        if (!setting) return std::nullopt;
        // The default's key is empty, which no zone name can be.
        if (!named.insert(setting->zone).second) return std::nullopt;
        settings.push_back(std::move(*setting));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return settings;
}

}  // namespace zebtrace
