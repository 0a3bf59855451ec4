// Lookup by a key that is not NUL-terminated (a component of a path).
#pragma once

#include <amxc/amxc_htable.h>

#include <cstddef>
#include <string_view>

namespace amxc {

amxc_htable_it_t* find_key(const amxc_htable_t* ht, std::string_view key);

// amxc_htable_insert() for a caller that already knows `key` is not in `ht` (it just looked, or
// copies the members of another table).
int insert_new(amxc_htable_t* ht, const char* key, amxc_htable_it_t* it);

// The size of the bucket array a table of `items` items has: 0 for a small one, which a lookup
// walks in insertion order.
std::size_t capacity_for(std::size_t items);

// For a table whose bucket array (capacity_for() of its final size, or none) and items belong to
// someone else: links `it` under `key`, which no other item has, borrowing the key. Allocates
// nothing; such a table is read, never cleaned.
void link_borrowed(amxc_htable_t* ht, const char* key, amxc_htable_it_t* it);

// Empties `ht`, handing each item to `each` out of the table (its key valid during the call,
// freed after it; `each` may free the item), without unlinking items from their buckets one by
// one: amxc_htable_clean() with a context.
void drain(amxc_htable_t* ht, void (*each)(const char* key, amxc_htable_it_t* it, void* context), void* context);

}  // namespace amxc
