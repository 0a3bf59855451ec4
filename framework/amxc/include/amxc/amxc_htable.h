/* Intrusive hash table keyed by text, iterated in insertion order.
 *
 * A caller embeds an amxc_htable_it_t in its own struct. The table copies
 * each key into the item (the item owns that copy until it is cleaned) and
 * keeps the items in a list in insertion order. Lookup and insertion are
 * O(1) on average; the bucket array doubles as the table fills.
 * Nothing here is thread-safe: one table belongs to one thread at a time. */
#ifndef AMXC_HTABLE_H
#define AMXC_HTABLE_H

#include <stdbool.h>
#include <stddef.h>

#include <amxc/amxc_common.h>
#include <amxc/amxc_llist.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Link embedded in a table item.
 * ait: link in the table's insertion-order list (never touch it directly);
 * next: next item in the same bucket; key: owned copy of the key, kept after
 * the item is taken out of a table; ht: the table it is in, or NULL. */
typedef struct _amxc_htable_it {
    amxc_llist_it_t ait;
    struct _amxc_htable_it* next;
    char* key;
    struct _amxc_htable* ht;
} amxc_htable_it_t;

/* A table. order: items in insertion order, which it counts; table: bucket
 * array of `capacity` entries (NULL while capacity is 0: a small table has
 * none, and a lookup walks `order`). */
typedef struct _amxc_htable {
    amxc_llist_t order;
    amxc_htable_it_t** table;
    size_t capacity;
} amxc_htable_t;

/* Called for each item when a table is cleaned. The item is already out of
 * the table; `key` stays valid during the call and is freed after it. The
 * callback may free the struct that holds the item. */
typedef void (*amxc_htable_it_delete_t)(const char* key, amxc_htable_it_t* it);

/* Allocates an empty table with room for `reserve` items before it grows.
 * 0 on success; non-zero (and *ht untouched) on a NULL argument or when
 * memory runs out. */
int amxc_htable_new(amxc_htable_t** ht, size_t reserve);

/* Cleans the table with `func` (may be NULL), frees it, sets *ht to NULL.
 * NULL-safe. */
void amxc_htable_delete(amxc_htable_t** ht, amxc_htable_it_delete_t func);

/* Makes `ht` an empty table, without looking at its old content, with room
 * for `reserve` items (a few allocate nothing). 0, or non-zero on a NULL
 * argument or when memory runs out (ht is then an empty table of capacity 0). */
int amxc_htable_init(amxc_htable_t* ht, size_t reserve);

/* Takes every item out, in insertion order, handing each to `func` (may be
 * NULL), and releases the bucket array. The table is empty and usable
 * afterwards. NULL-safe. */
void amxc_htable_clean(amxc_htable_t* ht, amxc_htable_it_delete_t func);

/* Links `it` (initialised once with amxc_htable_it_init) under a copy of
 * `key`, at the end of the insertion order. `it` is taken out of the table
 * it was in first. Non-zero, with nothing changed,
 * on a NULL argument, a key already present, or when memory runs out. */
int amxc_htable_insert(amxc_htable_t* ht, const char* key, amxc_htable_it_t* it);

/* Borrowed item stored under `key`, or NULL. */
amxc_htable_it_t* amxc_htable_get(const amxc_htable_t* ht, const char* key);

/* Takes the item stored under `key` out of the table and returns it (the
 * caller owns it; it keeps its key until cleaned), or NULL. */
amxc_htable_it_t* amxc_htable_take(amxc_htable_t* ht, const char* key);

/* True when `key` is present. */
bool amxc_htable_contains(const amxc_htable_t* ht, const char* key);

/* Number of items; 0 for NULL. */
size_t amxc_htable_size(const amxc_htable_t* ht);

/* True when the table has no item or ht is NULL. */
bool amxc_htable_is_empty(const amxc_htable_t* ht);

/* Borrowed first / last item in insertion order, or NULL. */
amxc_htable_it_t* amxc_htable_get_first(const amxc_htable_t* ht);
amxc_htable_it_t* amxc_htable_get_last(const amxc_htable_t* ht);

/* Makes `it` an unlinked item without a key. Do not call on a linked item.
 * 0, or non-zero when it is NULL. */
int amxc_htable_it_init(amxc_htable_it_t* it);

/* Takes `it` out of its table, hands it to `func` (may be NULL) with its
 * key, then frees the key. NULL-safe. */
void amxc_htable_it_clean(amxc_htable_it_t* it, amxc_htable_it_delete_t func);

/* Takes `it` out of its table; it keeps its key. Harmless when it is in no
 * table or NULL. */
void amxc_htable_it_take(amxc_htable_it_t* it);

/* Puts `new_it` in the place of `old_it`: same key, same bucket, same
 * position in the insertion order. `new_it` is first taken out of its own
 * table and its old key freed; the key moves from old_it to new_it, and
 * old_it leaves the table without a key. Allocates nothing. 0, or non-zero
 * (nothing changed) on a NULL argument, an unlinked old_it or
 * old_it == new_it. */
int amxc_htable_it_replace(amxc_htable_it_t* old_it, amxc_htable_it_t* new_it);

/* Borrowed key of `it`, or NULL when it has none. */
const char* amxc_htable_it_get_key(const amxc_htable_it_t* it);

/* Neighbours of `it` in insertion order, NULL at the ends or when NULL. */
amxc_htable_it_t* amxc_htable_it_get_next(const amxc_htable_it_t* it);
amxc_htable_it_t* amxc_htable_it_get_previous(const amxc_htable_it_t* it);

/* Loops over a table in insertion order, declaring `it`. The current item
 * may be taken out or freed inside the body; its successor may not. */
#define amxc_htable_for_each(it, htable) \
    for(amxc_htable_it_t* it = amxc_htable_get_first(htable), \
        * it ## _next = amxc_htable_it_get_next(it); \
        it != NULL; \
        it = it ## _next, it ## _next = amxc_htable_it_get_next(it))

/* Loops over a table in insertion order, declaring `it`; the body must not
 * take the current item out. */
#define amxc_htable_iterate(it, htable) \
    for(amxc_htable_it_t* it = amxc_htable_get_first(htable); \
        it != NULL; \
        it = amxc_htable_it_get_next(it))

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXC_HTABLE_H */
