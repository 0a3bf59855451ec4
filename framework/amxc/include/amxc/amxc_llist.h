/* Intrusive doubly linked list.
 *
 * The list never allocates its items: a caller embeds an amxc_llist_it_t in
 * its own struct and maps an item back with amxc_container_of. An item is in
 * at most one list at a time; linking it elsewhere unlinks it first.
 * Nothing here is thread-safe: one list belongs to one thread at a time. */
#ifndef AMXC_LLIST_H
#define AMXC_LLIST_H

#include <stdbool.h>
#include <stddef.h>

#include <amxc/amxc_common.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Link embedded in a list item. `llist` is the list it is in, or NULL. */
typedef struct _amxc_llist_it {
    struct _amxc_llist_it* next;
    struct _amxc_llist_it* prev;
    struct _amxc_llist* llist;
} amxc_llist_it_t;

/* A list: borrowed pointers to its first and last links, and how many links it
 * holds (amxc_llist_size without a walk: a list of thousands of elements is
 * counted each time a module rebuilds from it). */
typedef struct _amxc_llist {
    amxc_llist_it_t* head;
    amxc_llist_it_t* tail;
    size_t size;
} amxc_llist_t;

/* Called for each item when a list is cleaned; the item is already unlinked
 * and the callback may free the struct that holds it. */
typedef void (*amxc_llist_it_delete_t)(amxc_llist_it_t* it);

/* Ordering of two items: negative, zero or positive like strcmp. */
typedef int (*amxc_llist_it_cmp_t)(amxc_llist_it_t* it1, amxc_llist_it_t* it2);

/* Allocates an empty list into *llist. 0 on success; non-zero (and *llist
 * untouched) when llist is NULL or memory runs out. */
int amxc_llist_new(amxc_llist_t** llist);

/* Cleans the list with `func` (may be NULL: items are only unlinked), frees
 * it and sets *llist to NULL. NULL-safe. */
void amxc_llist_delete(amxc_llist_t** llist, amxc_llist_it_delete_t func);

/* Makes `llist` empty without looking at its old content. 0, or non-zero
 * when llist is NULL. */
int amxc_llist_init(amxc_llist_t* llist);

/* Unlinks every item, first to last, and hands each to `func` (may be
 * NULL). The list is empty and usable afterwards. NULL-safe. */
void amxc_llist_clean(amxc_llist_t* llist, amxc_llist_it_delete_t func);

/* Links `it` at the end / the start of `llist`, unlinking it first from the
 * list it is in (which may be this one). 0, or non-zero on a NULL argument. */
int amxc_llist_append(amxc_llist_t* llist, amxc_llist_it_t* it);
int amxc_llist_prepend(amxc_llist_t* llist, amxc_llist_it_t* it);

/* Borrowed first / last item, or NULL when empty or llist is NULL. */
amxc_llist_it_t* amxc_llist_get_first(const amxc_llist_t* llist);
amxc_llist_it_t* amxc_llist_get_last(const amxc_llist_t* llist);

/* Borrowed item at position `index` (0 is the first), NULL when out of
 * range. Walks the list: O(index). */
amxc_llist_it_t* amxc_llist_get_at(const amxc_llist_t* llist, unsigned int index);

/* Number of items (walks the list: O(n)); 0 for NULL. */
size_t amxc_llist_size(const amxc_llist_t* llist);

/* True when the list has no item or llist is NULL. */
bool amxc_llist_is_empty(const amxc_llist_t* llist);

/* Unlinks and returns the first item (the caller now owns it), or NULL. */
amxc_llist_it_t* amxc_llist_take_first(amxc_llist_t* llist);
/* Same for the last item. */
amxc_llist_it_t* amxc_llist_take_last(amxc_llist_t* llist);

/* Sorts in place with `cmp`; stable (equal items keep their order),
 * O(n log n), allocates nothing. 0, or non-zero on a NULL argument. */
int amxc_llist_sort(amxc_llist_t* llist, amxc_llist_it_cmp_t cmp);

/* Makes `it` an unlinked item. Do not call on a linked item: use
 * amxc_llist_it_take. 0, or non-zero when it is NULL. */
int amxc_llist_it_init(amxc_llist_it_t* it);

/* Unlinks `it` and hands it to `func` (may be NULL). NULL-safe. */
void amxc_llist_it_clean(amxc_llist_it_t* it, amxc_llist_it_delete_t func);

/* Unlinks `it` from its list; harmless when it is in none or NULL. */
void amxc_llist_it_take(amxc_llist_it_t* it);

/* Neighbours of `it` in its list, NULL at the ends or when it is NULL. */
amxc_llist_it_t* amxc_llist_it_get_next(const amxc_llist_it_t* it);
amxc_llist_it_t* amxc_llist_it_get_previous(const amxc_llist_it_t* it);

/* Links `it` just before / after `reference`, which must be in a list;
 * `it` is unlinked first from wherever it is. Non-zero (nothing changed) on a
 * NULL argument, an unlinked reference or it == reference. */
int amxc_llist_it_insert_before(amxc_llist_it_t* reference, amxc_llist_it_t* it);
int amxc_llist_it_insert_after(amxc_llist_it_t* reference, amxc_llist_it_t* it);

/* True when `it` is linked in a list. */
bool amxc_llist_it_is_in_list(const amxc_llist_it_t* it);

/* Loops over a list, first to last, declaring `it`. The current item may be
 * unlinked or freed inside the body; its successor may not. */
#define amxc_llist_for_each(it, list) \
    for(amxc_llist_it_t* it = amxc_llist_get_first(list), \
        * it ## _next = amxc_llist_it_get_next(it); \
        it != NULL; \
        it = it ## _next, it ## _next = amxc_llist_it_get_next(it))

/* Same, last to first. */
#define amxc_llist_for_each_reverse(it, list) \
    for(amxc_llist_it_t* it = amxc_llist_get_last(list), \
        * it ## _prev = amxc_llist_it_get_previous(it); \
        it != NULL; \
        it = it ## _prev, it ## _prev = amxc_llist_it_get_previous(it))

/* Loops over a list, first to last, declaring `it`; the body must not unlink
 * the current item. */
#define amxc_llist_iterate(it, list) \
    for(amxc_llist_it_t* it = amxc_llist_get_first(list); it != NULL; it = it->next)

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXC_LLIST_H */
