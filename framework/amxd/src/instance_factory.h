// New objects made from definitions: a template's instances, and copies of the objects a
// template declares for them.
#pragma once

#include <string_view>

#include "tree.h"

namespace amxd {

// Copies a function (name, return type, implementation, arguments); throws std::bad_alloc.
FunctionPtr clone_function(const amxd_function_t& source);

// Deep copy of a definition subtree: parameters, functions, actions, child objects. Instances
// are not copied. Throws std::bad_alloc.
ObjectPtr clone_tree(const amxd_object_t& source);

// A detached instance of `templ` with its own copies of everything the template declares.
// When `name` is given and the template declares an `Alias` parameter, Alias starts as the
// name. Throws std::bad_alloc.
ObjectPtr make_instance(const amxd_object_t& templ, uint32_t index, std::string_view name);

} // namespace amxd
