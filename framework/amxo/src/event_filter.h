// Filter expressions that scope an event binding to the object it is declared in.
//
// Events of the data model carry the indexed path of their object ("Device.X.Rule.3."). A
// binding in object O must see the events of O only: O's own path, and for a table also the
// paths of its instances. Tables above O contribute "any index" at their level. The pattern is
// a regular expression on "path", ANDed with the binding's own filter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <amxd/amxd_types.h>

namespace amxo {

// `text` with every regular-expression metacharacter escaped.
std::string regex_quote(std::string_view text);

// The pattern prefix of the paths of objects directly below `root` (empty for the data
// model's root). Throws std::bad_alloc.
std::string child_prefix_of(const amxd_object_t* root);

// The pattern prefix of the paths of objects directly below an object named `name` whose own
// parent's children start with `parent_prefix`.
std::string child_prefix_of(const std::string& parent_prefix, std::string_view name, bool is_template);

// The anchored pattern matching the object (and, for a table, its instances).
std::string path_pattern(const std::string& parent_prefix, std::string_view name, bool is_template);

// "path matches '<pattern>'", and "&& (<filter>)" when a filter is given. The filter must have
// been checked on its own first: wrapping an unbalanced text could change its meaning.
std::string scoped_expression(const std::string& pattern, const std::optional<std::string>& filter);

}  // namespace amxo
