// What counts as a name or an index in this data model.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace amxd {

// Longest object, parameter, function or instance name accepted.
inline constexpr std::size_t max_name_length = 255;

// Object, parameter, function and argument names: letters, digits, '_' and '-', not starting
// with a digit.
bool is_valid_name(std::string_view name);

// Instance names: letters, digits, '_' and '-', not made of digits only (that would read as an
// index in a path).
bool is_valid_instance_name(std::string_view name);

// An instance index written as decimal digits only, 1 .. UINT32_MAX; nullopt otherwise.
std::optional<uint32_t> parse_index(std::string_view text);

bool is_all_digits(std::string_view text);

// The index n when `name` is "<template_name>-<n>", the name exports give an unnamed instance.
std::optional<uint32_t> auto_name_index(std::string_view template_name, std::string_view name);

} // namespace amxd
