// Object paths: writing them and finding objects by them.
#pragma once

#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>

#include "tree.h"

namespace amxd {

// Longest path text accepted by the finders.
inline constexpr std::size_t max_path_length = 65536;

// The name of one path component (see amxd_object_get_name).
const std::string& component_name(const amxd_object_t* object, uint32_t flags);

// "A.B.1" from the top-level object (a detached tree starts at its top); "" for a root.
// AMXD_OBJECT_TERMINATE adds a trailing ".". Throws std::bad_alloc.
std::string object_path(const amxd_object_t* object, uint32_t flags);

// One step down: a child by name; on a template, an instance by index (all digits) or by name,
// else a declared child by name.
amxd_object_t* lookup_component(const amxd_object_t* object, std::string_view component);

// Follows a dotted path from `base`. A trailing "." is optional and a doubled "." counts as
// one separator (paths are often built as "%s.%d." from a path that already ends in "."); a
// leading "." or an index beyond 32 bits is malformed. "" is `base` itself. NULL when
// malformed or when a component is missing.
amxd_object_t* resolve_path(const amxd_object_t* base, std::string_view path);

// printf-style formatting of a path; nullopt on a format error or a text longer than
// max_path_length. Throws std::bad_alloc.
std::optional<std::string> format_path(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));

} // namespace amxd
