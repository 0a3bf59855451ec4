#include "names.h"

#include <string>

namespace amxd {

namespace {
bool is_name_char(char c) {
    return ((c >= 'a') && (c <= 'z')) || ((c >= 'A') && (c <= 'Z')) || ((c >= '0') && (c <= '9')) ||
           (c == '_') || (c == '-');
}

bool has_only_name_chars(std::string_view name) {
    if(name.empty() || (name.size() > max_name_length)) {
        return false;
    }
    for(char c : name) {
        if(!is_name_char(c)) {
            return false;
        }
    }
    return true;
}
} // namespace

bool is_all_digits(std::string_view text) {
    if(text.empty()) {
        return false;
    }
    for(char c : text) {
        if((c < '0') || (c > '9')) {
            return false;
        }
    }
    return true;
}

bool is_valid_name(std::string_view name) {
    return has_only_name_chars(name) && !((name[0] >= '0') && (name[0] <= '9'));
}

bool is_valid_instance_name(std::string_view name) {
    return has_only_name_chars(name) && !is_all_digits(name);
}

std::optional<uint32_t> parse_index(std::string_view text) {
    if(!is_all_digits(text)) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for(char c : text) {
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if(value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    if(value == 0) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<uint32_t> auto_name_index(std::string_view template_name, std::string_view name) {
    if(!name.starts_with(template_name) || name.substr(template_name.size(), 1) != "-") {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(template_name.size() + 1);
    const std::optional<uint32_t> index = parse_index(digits);
    // Only the form an export writes ("7", not "07") names an index.
    if(!index || std::to_string(*index) != digits) {
        return std::nullopt;
    }
    return index;
}

} // namespace amxd
