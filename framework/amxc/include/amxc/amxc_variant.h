/* Variants: a typed value that is text, a number, a boolean, a list of
 * variants or a table of variants keyed by text.
 *
 * Ownership. A variant owns its content (texts, elements, members). An
 * element of a list or a member of a table is a heap variant owned by its
 * container: deleting the container deletes it, and amxc_var_delete or
 * amxc_var_take_it takes it out. A variant may sit on the stack
 * (amxc_var_init / amxc_var_clean) as long as it is not put into a container
 * by ownership transfer.
 *
 * Errors. Functions returning int give 0 on success and non-zero on failure;
 * functions returning a pointer give NULL. NULL arguments are refused. A
 * failed call (bad argument, failed conversion, out of memory) leaves every
 * container as it was.
 *
 * Threads. Nothing is thread-safe: one variant tree belongs to one thread at a
 * time. */
#ifndef AMXC_VARIANT_H
#define AMXC_VARIANT_H

#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include <amxc/amxc_common.h>
#include <amxc/amxc_htable.h>
#include <amxc/amxc_llist.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Type ids. CSV_STRING is text that holds a comma-separated list; it behaves
 * as CSTRING everywhere but keeps its own id. ANY, as a conversion target,
 * keeps the source type. */
#define AMXC_VAR_ID_NULL 0
#define AMXC_VAR_ID_CSTRING 1
#define AMXC_VAR_ID_INT32 2
#define AMXC_VAR_ID_UINT32 3
#define AMXC_VAR_ID_INT64 4
#define AMXC_VAR_ID_UINT64 5
#define AMXC_VAR_ID_BOOL 6
#define AMXC_VAR_ID_LIST 7
#define AMXC_VAR_ID_HTABLE 8
#define AMXC_VAR_ID_CSV_STRING 9
#define AMXC_VAR_ID_ANY 0xFFFF

/* lit: link while the variant is an element of a list variant.
 * hit: link (and key) while the variant is a member of a table variant; the
 *      table's insertion order runs through hit.ait.
 * data: s for both text types (owned; NULL means ""), vl for lists, vm for
 *       tables, the scalar fields for numbers and booleans.
 * Read and change variants only through the functions below. */
typedef struct _amxc_var {
    amxc_llist_it_t lit;
    amxc_htable_it_t hit;
    uint32_t type_id;
    union {
        char* s;
        bool b;
        int32_t i32;
        uint32_t ui32;
        int64_t i64;
        uint64_t ui64;
        amxc_llist_t vl;
        amxc_htable_t vm;
        void* data;
    } data;
} amxc_var_t;

/* ---- Lifecycle ---------------------------------------------------------- */

/* Allocates a NULL-typed variant into *var (free with amxc_var_delete). */
int amxc_var_new(amxc_var_t** var);

/* Takes the variant out of its container, frees its content and itself, and
 * sets *var to NULL. NULL-safe. */
void amxc_var_delete(amxc_var_t** var);

/* Makes `var` an unlinked NULL variant without looking at its old content. */
int amxc_var_init(amxc_var_t* var);

/* Frees the content; the type becomes NULL. The variant stays where it is in
 * its container. NULL-safe. */
void amxc_var_clean(amxc_var_t* var);

/* Cleans `var` and gives it the empty value of `type_id` ("", 0, false,
 * empty list or table). Non-zero, nothing changed, for an unknown id. */
int amxc_var_set_type(amxc_var_t* var, uint32_t type_id);

/* Type id of `var`; AMXC_VAR_ID_NULL for a NULL pointer. */
uint32_t amxc_var_type_of(const amxc_var_t* var);

/* Name of the type ("null", "cstring_t", "int32_t", "uint32_t", "int64_t",
 * "uint64_t", "bool", "amxc_llist_t", "amxc_htable_t", "csv_string_t");
 * static text, NULL for a NULL pointer or an unknown id. */
const char* amxc_var_type_name_of(const amxc_var_t* var);
const char* amxc_var_get_type_name_from_id(uint32_t type_id);

/* True for a NULL-typed variant and for a NULL pointer. */
bool amxc_var_is_null(const amxc_var_t* var);

/* ---- Copy, move, convert, compare --------------------------------------- */

/* Replaces dest's content by a deep copy of src. dest keeps its place in its
 * container. dest and src may be related (one inside the other). */
int amxc_var_copy(amxc_var_t* dest, const amxc_var_t* src);

/* Moves src's content into dest (dest's old content is freed); src becomes
 * NULL-typed and stays where it is. Fails when dest lies inside src. */
int amxc_var_move(amxc_var_t* dest, amxc_var_t* src);

/* Stores in dest the value of src converted to `type_id` (dest != src).
 * On failure dest is NULL-typed. Conversions:
 *   text -> bool: "true", "1", "yes", "on" / "false", "0", "no", "off",
 *                 any case, blanks around allowed; anything else fails.
 *   text -> integers: decimal, optional sign ('+' only for unsigned),
 *                 blanks around allowed, whole text, in range; else fails.
 *   text -> list: split at ',', each piece trimmed, each a CSTRING element;
 *                 an empty (or blank) text gives an empty list.
 *   numbers <-> numbers: fails when out of range of the target.
 *   bool <-> numbers: false 0, true 1; only 0 and 1 convert to bool.
 *   scalar -> text: decimal, "true"/"false"; NULL -> "".
 *   list -> text: elements as text joined with ','; fails on a nested
 *                 list or table.
 *   table -> list: the member values in order; table -> text fails;
 *   list -> table fails; text -> table fails; containers -> scalars fail.
 *   NULL -> list/table: empty; NULL -> bool: false; NULL -> numbers: 0.
 *   anything -> NULL: NULL; anything -> ANY or its own type: a copy.
 * CSV_STRING converts like CSTRING, in both directions. */
int amxc_var_convert(amxc_var_t* dest, const amxc_var_t* src, uint32_t type_id);

/* Converts `var` in place; on failure var is unchanged. */
int amxc_var_cast(amxc_var_t* var, uint32_t type_id);

/* Compares two variants and stores <0, 0 or >0 in *result.
 * NULL sorts before everything else; numbers and booleans compare by value
 * whatever their widths; two texts compare byte-wise; a text and a number or
 * boolean compare by value when the text converts, else as texts; lists
 * compare element by element, then by size; tables are equal when they have
 * the same keys with equal values (else the result is non-zero, ordered by
 * size first). Non-zero return (result untouched) on NULL arguments or
 * values that do not compare (a container with a scalar, a list with a
 * table). */
int amxc_var_compare(const amxc_var_t* a, const amxc_var_t* b, int* result);

/* ---- Typed getters ------------------------------------------------------ */

/* OWNED text of any scalar or list (see amxc_var_convert); free() it. NULL for
 * a NULL pointer, a table, or a failed conversion. */
char* amxc_var_get_cstring_t(const amxc_var_t* var);
char* amxc_var_get_csv_string_t(const amxc_var_t* var);

/* BORROWED text of a CSTRING or CSV_STRING variant ("" when empty), NULL for
 * every other type. Valid until the variant changes. */
const char* amxc_var_get_const_cstring_t(const amxc_var_t* var);
const char* amxc_var_get_const_csv_string_t(const amxc_var_t* var);

/* Value converted to the type; false / 0 when the conversion fails. */
bool amxc_var_get_bool(const amxc_var_t* var);
int32_t amxc_var_get_int32_t(const amxc_var_t* var);
uint32_t amxc_var_get_uint32_t(const amxc_var_t* var);
int64_t amxc_var_get_int64_t(const amxc_var_t* var);
uint64_t amxc_var_get_uint64_t(const amxc_var_t* var);

/* Value only when the variant has exactly that type, else false / 0. */
bool amxc_var_get_const_bool(const amxc_var_t* var);
int32_t amxc_var_get_const_int32_t(const amxc_var_t* var);
uint32_t amxc_var_get_const_uint32_t(const amxc_var_t* var);
int64_t amxc_var_get_const_int64_t(const amxc_var_t* var);
uint64_t amxc_var_get_const_uint64_t(const amxc_var_t* var);

/* BORROWED container of a list / table variant, NULL for other types. */
const amxc_llist_t* amxc_var_get_const_amxc_llist_t(const amxc_var_t* var);
const amxc_htable_t* amxc_var_get_const_amxc_htable_t(const amxc_var_t* var);

/* ---- Typed setters ------------------------------------------------------ */

/* Replace the content with a value of the type (texts are copied; a NULL
 * text is refused). On failure the variant is unchanged. */
int amxc_var_set_cstring_t(amxc_var_t* var, const char* value);
int amxc_var_set_csv_string_t(amxc_var_t* var, const char* value);
/* The same, taking `value` (from malloc) instead of copying it, so that a text of megabytes
 * exists once; the variant frees it. On failure (a NULL argument) `value` stays the caller's. */
int amxc_var_push_cstring_t(amxc_var_t* var, char* value);
int amxc_var_set_bool(amxc_var_t* var, bool value);
int amxc_var_set_int32_t(amxc_var_t* var, int32_t value);
int amxc_var_set_uint32_t(amxc_var_t* var, uint32_t value);
int amxc_var_set_int64_t(amxc_var_t* var, int64_t value);
int amxc_var_set_uint64_t(amxc_var_t* var, uint64_t value);

/* ---- Generic accessors by type name ------------------------------------- */

/* Borrowed/exact value: amxc_var_constcast(int32_t, v). */
#define amxc_var_constcast(type, var) amxc_var_get_const_ ## type(var)
/* Converted value: amxc_var_dyncast(cstring_t, v) (owned text). */
#define amxc_var_dyncast(type, var) amxc_var_get_ ## type(var)
/* Setter: amxc_var_set(bool, v, true). */
#define amxc_var_set(type, var, value) amxc_var_set_ ## type(var, value)
/* Appends a new element to a list variant; the element, or NULL. */
#define amxc_var_add(type, list_var, value) amxc_var_add_new_ ## type(list_var, value)
/* Stores a new member in a table variant, replacing the value of an existing
 * key in place; the member, or NULL. */
#define amxc_var_add_key(type, table_var, key, value) \
    amxc_var_add_new_key_ ## type(table_var, key, value)

/* ---- Containers --------------------------------------------------------- */

/* Appends a new NULL element to a list variant; borrowed element or NULL. */
amxc_var_t* amxc_var_add_new(amxc_var_t* list);
/* Appends a new empty list / table element to a list variant. */
amxc_var_t* amxc_var_add_new_list(amxc_var_t* list);
amxc_var_t* amxc_var_add_new_htable(amxc_var_t* list);

/* Returns a NULL-typed member under `key` of a table variant: a new member at
 * the end, or the existing one emptied in place. Borrowed, or NULL. */
amxc_var_t* amxc_var_add_new_key(amxc_var_t* table, const char* key);
/* Same, with an empty list / table as value. */
amxc_var_t* amxc_var_add_new_key_list(amxc_var_t* table, const char* key);
amxc_var_t* amxc_var_add_new_key_htable(amxc_var_t* table, const char* key);

/* Typed element / member constructors used by amxc_var_add and
 * amxc_var_add_key. On failure nothing changes and NULL is returned. */
amxc_var_t* amxc_var_add_new_cstring_t(amxc_var_t* list, const char* value);
amxc_var_t* amxc_var_add_new_csv_string_t(amxc_var_t* list, const char* value);
amxc_var_t* amxc_var_add_new_bool(amxc_var_t* list, bool value);
amxc_var_t* amxc_var_add_new_int32_t(amxc_var_t* list, int32_t value);
amxc_var_t* amxc_var_add_new_uint32_t(amxc_var_t* list, uint32_t value);
amxc_var_t* amxc_var_add_new_int64_t(amxc_var_t* list, int64_t value);
amxc_var_t* amxc_var_add_new_uint64_t(amxc_var_t* list, uint64_t value);
amxc_var_t* amxc_var_add_new_key_cstring_t(amxc_var_t* table, const char* key, const char* value);
amxc_var_t* amxc_var_add_new_key_csv_string_t(amxc_var_t* table, const char* key, const char* value);
amxc_var_t* amxc_var_add_new_key_bool(amxc_var_t* table, const char* key, bool value);
amxc_var_t* amxc_var_add_new_key_int32_t(amxc_var_t* table, const char* key, int32_t value);
amxc_var_t* amxc_var_add_new_key_uint32_t(amxc_var_t* table, const char* key, uint32_t value);
amxc_var_t* amxc_var_add_new_key_int64_t(amxc_var_t* table, const char* key, int64_t value);
amxc_var_t* amxc_var_add_new_key_uint64_t(amxc_var_t* table, const char* key, uint64_t value);

/* Member of a table variant under `key`. flags DEFAULT: borrowed or NULL;
 * COPY: a new owned copy (amxc_var_delete it) or NULL. */
amxc_var_t* amxc_var_get_key(const amxc_var_t* table, const char* key, int flags);

/* Stores `data` under `key` in a table variant.
 * Without COPY the table takes `data`, which must come from amxc_var_new; it
 * is taken out of its former container first, and becomes the member. With
 * COPY a deep copy is stored and `data` stays the caller's.
 * An existing key: with UPDATE the value is replaced keeping its position
 * (without COPY the old member is deleted and `data` takes its place; with
 * COPY the existing member receives the copy); without UPDATE the call
 * fails and nothing changes. Also fails when `data` is the table or one of
 * its ancestors (without COPY). */
int amxc_var_set_key(amxc_var_t* table, const char* key, amxc_var_t* data, int flags);

/* Element of a list variant, or member of a table variant, at `index` in
 * order; a negative index counts from the end (-1 is the last). DEFAULT:
 * borrowed or NULL; COPY: an owned copy or NULL. */
amxc_var_t* amxc_var_get_index(const amxc_var_t* list_or_table, int64_t index, int flags);

/* Stores `data` in a list variant at `index` (negative counts from the
 * end, -1 being the last element). Without UPDATE `data` is inserted before
 * the element at `index`, or appended when index equals the size; with
 * UPDATE it replaces the element at `index`. Ownership of `data` follows
 * COPY as for amxc_var_set_key. Fails, nothing changed, on an index out of
 * range. */
int amxc_var_set_index(amxc_var_t* list, int64_t index, amxc_var_t* data, int flags);

/* Variant at a dotted path below `var`: each component is a key in a table,
 * or a decimal index in a list ("0.Device.Name" on a list of tables). A
 * trailing '.' is ignored; an empty path is `var` itself; an empty component
 * in between ("a..b") finds nothing. Keys that contain '.' cannot be
 * addressed. DEFAULT: borrowed or NULL; COPY: owned copy or NULL. */
amxc_var_t* amxc_var_get_path(const amxc_var_t* var, const char* path, int flags);
/* Same, with the path built printf-style. */
amxc_var_t* amxc_var_get_pathf(const amxc_var_t* var, int flags, const char* fmt, ...) AMXC_PRINTF(3, 4);

/* First / last element or member of a container variant, NULL when empty or
 * not a container. Borrowed. */
amxc_var_t* amxc_var_get_first(const amxc_var_t* container);
amxc_var_t* amxc_var_get_last(const amxc_var_t* container);

/* Neighbour of an element or member in its container, or NULL. Borrowed. */
amxc_var_t* amxc_var_get_next(const amxc_var_t* member);
amxc_var_t* amxc_var_get_previous(const amxc_var_t* member);

/* The list or table variant that holds `member`, or NULL. Borrowed. */
amxc_var_t* amxc_var_get_parent(const amxc_var_t* member);

/* Key of a table member (borrowed), NULL when not in a table. */
const char* amxc_var_key(const amxc_var_t* member);

/* Takes `member` out of its container; the caller owns it now (delete it
 * with amxc_var_delete). Returns member, or NULL when member is NULL. */
amxc_var_t* amxc_var_take_it(amxc_var_t* member);

/* Number of elements / members of a container variant, 0 otherwise. */
size_t amxc_var_size(const amxc_var_t* var);

/* Loops over the elements of a list variant or the members of a table
 * variant, in order, declaring `item`. The current item may be deleted or
 * taken inside the body; its successor may not. */
#define amxc_var_for_each(item, container) \
    for(amxc_var_t* item = amxc_var_get_first(container), \
        * item ## _next = amxc_var_get_next(item); \
        item != NULL; \
        item = item ## _next, item ## _next = amxc_var_get_next(item))

/* Same, last to first. */
#define amxc_var_for_each_reverse(item, container) \
    for(amxc_var_t* item = amxc_var_get_last(container), \
        * item ## _prev = amxc_var_get_previous(item); \
        item != NULL; \
        item = item ## _prev, item ## _prev = amxc_var_get_previous(item))

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXC_VARIANT_H */
