// Helpers shared by the variant sources.
#pragma once

#include <amxc/amxc_variant.h>

#include <cstdint>

namespace amxc {

// Recursive walks (copy, compare, text of a list) stop at this depth so that
// a hostile tree cannot exhaust the stack; deleting has no such limit.
constexpr int max_depth = 1024;

inline bool is_text(std::uint32_t id) {
    return id == AMXC_VAR_ID_CSTRING || id == AMXC_VAR_ID_CSV_STRING;
}

inline bool is_container(std::uint32_t id) {
    return id == AMXC_VAR_ID_LIST || id == AMXC_VAR_ID_HTABLE;
}

inline bool is_known_type(std::uint32_t id) {
    return id <= AMXC_VAR_ID_CSV_STRING;
}

inline amxc_var_t* var_of_element(const amxc_llist_it_t* link) {
    return amxc_container_of(link, amxc_var_t, lit);
}

inline amxc_var_t* var_of_member(const amxc_htable_it_t* link) {
    return amxc_container_of(link, amxc_var_t, hit);
}

// Heap variant, NULL-typed and unlinked; nullptr when memory runs out.
amxc_var_t* allocate_var();

// Deep copy of src into dest, which must be NULL-typed and own nothing.
// On failure dest is NULL-typed again. `depth` counts nesting so far.
int copy_content(amxc_var_t* dest, const amxc_var_t* src, int depth);

// Hands src's content to dest (NULL-typed, owning nothing); src becomes
// NULL-typed. Fixes the back-links of list elements and table members.
void move_content(amxc_var_t* dest, amxc_var_t* src);

// True when `var` is `ancestor` or lies somewhere inside it.
bool is_within(const amxc_var_t* var, const amxc_var_t* ancestor);

// var itself (DEFAULT), or an owned deep copy (COPY) or nullptr.
amxc_var_t* borrow_or_copy(const amxc_var_t* var, int flags);

// Replaces var's content with tmp's (tmp is emptied).
void replace_content(amxc_var_t* var, amxc_var_t* tmp);

}  // namespace amxc
