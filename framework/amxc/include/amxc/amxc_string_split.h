/* Splitting a text into a list of strings and joining it back. */
#ifndef AMXC_STRING_SPLIT_H
#define AMXC_STRING_SPLIT_H

#include <amxc/amxc_llist.h>
#include <amxc/amxc_string.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Splits the text of `string` at every `separator` and appends one new
 * amxc_string_t per piece to `list` (through its `it` link), each trimmed of
 * blanks (isspace). A text that is empty or only blanks yields no item; "a,,b"
 * yields "a", "" and "b"; "a," yields "a" and "". The items belong to the
 * caller: clean the list with amxc_string_list_it_free. 0, or non-zero on a
 * NULL argument, a NUL separator or out of memory (then nothing is added). */
int amxc_string_split_to_llist(const amxc_string_t* string, amxc_llist_t* list, const char separator);

/* Appends the texts of the amxc_string_t items of `list` to `string`, with
 * `separator` between two items and none at the end. An empty list appends
 * nothing. 0, or non-zero on a NULL argument, a NUL separator or out of memory
 * (then the string keeps its old text). */
int amxc_string_join_llist(amxc_string_t* string, const amxc_llist_t* list, const char separator);

/* amxc_llist_it_delete_t for lists of heap strings (as made by the split):
 * unlinks and deletes the string that holds `it`. NULL-safe. */
void amxc_string_list_it_free(amxc_llist_it_t* it);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXC_STRING_SPLIT_H */
