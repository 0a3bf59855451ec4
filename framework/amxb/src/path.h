// Dotted object paths as the bus takes them: "Hosts.Host.3" or "Hosts.Host.3.".
#ifndef AMXB_PATH_H
#define AMXB_PATH_H

#include <string>
#include <string_view>

namespace amxb {

// Non-empty components of letters, digits, '_' and '-' joined by single dots, with an optional
// trailing dot.
bool path_is_valid(std::string_view path);

// The path with exactly one trailing dot.
std::string path_terminated(std::string_view path);

// The first component with its dot ("Hosts." for "Hosts.Host.3").
std::string path_top(std::string_view path);

// Whether the terminated path `path` is `base` (terminated) or lies below it.
bool path_is_within(std::string_view path, std::string_view base);

}  // namespace amxb

#endif
