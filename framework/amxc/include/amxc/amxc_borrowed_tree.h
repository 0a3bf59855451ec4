/* A variant tree to read, built without an allocation per member (C++ callers: the libraries'
 * insides). */
#ifndef AMXC_AMXC_BORROWED_TREE_H
#define AMXC_AMXC_BORROWED_TREE_H

#ifdef __cplusplus

#include <amxc/amxc_variant.h>

#include <cstddef>
#include <cstdint>
#include <memory_resource>

namespace amxc {

#pragma GCC visibility push(default)

// Builds a variant tree whose variants, and the bucket arrays of its larger tables, come from
// `memory`, and whose texts and keys are borrowed from storage that outlives the tree. Every
// reading function of the variant API works on it; nothing of it may be changed, cleaned or
// deleted, and it is dropped by releasing `memory` once its readers are done. An owned tree
// costs three allocations and three frees per member (the variant, its key, its text): a tree
// handed to a few readers and dropped, such as the data of an event, costs none of them.
//
// Each call throws what `memory` throws when it runs out (std::bad_alloc).
class BorrowedTree {
public:
    explicit BorrowedTree(std::pmr::memory_resource& memory) noexcept : memory_(memory) {}

    // A NULL-typed variant.
    amxc_var_t* new_var();
    // `var`, NULL-typed, becomes an empty table with room for `members` members.
    void make_table(amxc_var_t* var, std::size_t members);
    // A NULL-typed member of `table` under `key`, which no other member of it has; no more
    // than make_table() made room for.
    amxc_var_t* add_member(amxc_var_t* table, const char* key);
    // A NULL-typed element at the end of `list` (a variant of type AMXC_VAR_ID_LIST).
    amxc_var_t* add_element(amxc_var_t* list);
    // `var`, NULL-typed, holds `text` as `type` (AMXC_VAR_ID_CSTRING or AMXC_VAR_ID_CSV_STRING).
    static void set_text(amxc_var_t* var, uint32_t type, const char* text) noexcept;

private:
    std::pmr::memory_resource& memory_;
};

#pragma GCC visibility pop

}  // namespace amxc

#endif

#endif
