/* Growable text buffer.
 *
 * The string owns `buffer` (malloc'd, NUL-terminated whenever it is not
 * NULL). Every change that runs out of memory returns non-zero and leaves the
 * text as it was. A text argument may point into the string's own buffer.
 * Nothing here is thread-safe. */
#ifndef AMXC_STRING_H
#define AMXC_STRING_H

#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>

#include <amxc/amxc_common.h>
#include <amxc/amxc_llist.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* buffer: owned, NULL until something is stored; length: bytes allocated;
 * last_used: length of the text; it: link for lists of strings. */
typedef struct _amxc_string {
    char* buffer;
    size_t length;
    size_t last_used;
    amxc_llist_it_t it;
} amxc_string_t;

/* Maps a list link back to its string. */
#define amxc_string_from_llist_it(ll_it) amxc_container_of(ll_it, amxc_string_t, it)

/* Allocates an empty string with room for `length` bytes of text into *s.
 * 0, or non-zero (*s untouched) on NULL or when memory runs out. */
int amxc_string_new(amxc_string_t** s, size_t length);

/* Unlinks the string from its list, frees it, sets *s to NULL. NULL-safe. */
void amxc_string_delete(amxc_string_t** s);

/* Makes `s` empty with room for `length` bytes of text, without looking at
 * its old content. 0, or non-zero on NULL or when memory runs out (s is then
 * an empty string without buffer). */
int amxc_string_init(amxc_string_t* s, size_t length);

/* Frees the buffer; the string is empty, without buffer. Does not unlink.
 * NULL-safe. */
void amxc_string_clean(amxc_string_t* s);

/* Empties the text, keeping the buffer for reuse. NULL-safe. */
void amxc_string_reset(amxc_string_t* s);

/* Replaces the text with `text`. 0, or non-zero on NULL / out of memory. */
int amxc_string_set(amxc_string_t* s, const char* text);

/* Appends at most `length` bytes of `text` (stops early at a NUL). */
int amxc_string_append(amxc_string_t* s, const char* text, size_t length);

/* Replaces / extends the text with printf-style formatting. Non-zero, with
 * the text unchanged, on NULL, a formatting error or out of memory. */
int amxc_string_setf(amxc_string_t* s, const char* fmt, ...) AMXC_PRINTF(2, 3);
int amxc_string_appendf(amxc_string_t* s, const char* fmt, ...) AMXC_PRINTF(2, 3);
int amxc_string_vsetf(amxc_string_t* s, const char* fmt, va_list args) AMXC_PRINTF(2, 0);
int amxc_string_vappendf(amxc_string_t* s, const char* fmt, va_list args) AMXC_PRINTF(2, 0);

/* Borrowed text from byte `offset` on: "" for an empty string, NULL when s
 * is NULL or offset is past the end of the text. Valid until the next
 * change of the string. */
const char* amxc_string_get(const amxc_string_t* s, size_t offset);

/* Hands the buffer to the caller (free() it) and leaves the string empty
 * without buffer. An empty string yields a fresh "". NULL on NULL or when
 * memory runs out. */
char* amxc_string_take_buffer(amxc_string_t* s);

/* Length of the text in bytes; 0 for NULL. */
size_t amxc_string_text_length(const amxc_string_t* s);

/* True for an empty text or NULL. */
bool amxc_string_is_empty(const amxc_string_t* s);

/* Removes the characters for which `is_blank` is true from both ends / the
 * start / the end. NULL `is_blank` means isspace. NULL-safe. */
void amxc_string_trim(amxc_string_t* s, int (*is_blank)(int));
void amxc_string_triml(amxc_string_t* s, int (*is_blank)(int));
void amxc_string_trimr(amxc_string_t* s, int (*is_blank)(int));

/* Byte index of the first `needle` at or after `start`, or -1 (also on NULL
 * arguments and when the index would not fit an int). An empty needle is
 * found at `start` when start is within the text. */
int amxc_string_search(const amxc_string_t* s, const char* needle, size_t start);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXC_STRING_H */
