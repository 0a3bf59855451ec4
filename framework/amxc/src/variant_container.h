// Storing a prepared value into a container variant.
#pragma once

#include <amxc/amxc_variant.h>

namespace amxc {

// Appends a new element holding value's content (value is emptied); the
// element, or nullptr (value untouched) when list is no list or memory runs out.
amxc_var_t* store_element(amxc_var_t* list, amxc_var_t* value);

// Stores value's content under key: a new member at the end, or the existing
// member in place. The member, or nullptr with value untouched.
amxc_var_t* store_member(amxc_var_t* table, const char* key, amxc_var_t* value);

}  // namespace amxc
