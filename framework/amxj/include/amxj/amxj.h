/* JSON text to and from variants.
 *
 * Mapping. null <-> NULL, true/false <-> BOOL, integers <-> INT32/UINT32/INT64/UINT64,
 * strings <-> CSTRING (CSV_STRING is written as a plain string), arrays <-> LIST,
 * objects <-> HTABLE (members in insertion order). The data model has no floating point,
 * so numbers with a fraction or an exponent are refused when read.
 *
 * Reading is strict RFC 8259 JSON with these limits: nesting deeper than AMXJ_MAX_DEPTH,
 * invalid UTF-8, "\u0000" (a text variant cannot hold a NUL) and anything after the value
 * (other than blanks) are refused. The caller bounds the size by what it passes in.
 *
 * Errors. Both functions return 0 on success and non-zero on failure; on failure the output
 * variant or string is left exactly as it was.
 *
 * Threads. No shared state: calls on different variants may run on different threads. */
#ifndef AMXJ_H
#define AMXJ_H

#include <stdbool.h>
#include <stddef.h>

#include <amxc/amxc_string.h>
#include <amxc/amxc_variant.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Deepest nesting of arrays and objects that is read or written (the top-level value counts
 * as depth 1 when it is an array or object). */
#define AMXJ_MAX_DEPTH 128

/* Replaces the text of `out` with the JSON text of `var` (borrowed). `pretty` adds newlines
 * and two-blank indentation; otherwise the text is compact. Control characters, '"' and '\'
 * are escaped; other characters, non-ASCII included, are written as their UTF-8 bytes.
 * Fails on a NULL argument, a text that is not valid UTF-8, nesting deeper than
 * AMXJ_MAX_DEPTH, or when memory runs out. */
int amxj_write(const amxc_var_t* var, amxc_string_t* out, bool pretty);

/* Parses the `length` bytes at `text` (no NUL terminator needed; a NUL byte inside is an
 * error) as one JSON value and stores it in `var`, replacing its content.
 * Integers that fit int64 become INT64, larger ones up to UINT64_MAX become UINT64; strings
 * become CSTRING; objects become HTABLE, a repeated key keeping its first position and its
 * last value.
 * On failure, when `error` is not NULL and `error_size` > 0, a NUL-terminated message of the
 * form "line:column: what" is written there (cut to fit); lines and columns count from 1,
 * columns in bytes. */
int amxj_read(amxc_var_t* var, const char* text, size_t length, char* error, size_t error_size);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXJ_H */
