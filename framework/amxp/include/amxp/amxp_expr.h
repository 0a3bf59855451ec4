/* Filter expressions: a boolean test over a variant table, compiled once and evaluated many
 * times (e.g. to filter the events a slot receives).
 *
 *     notification in ['dm:object-changed', 'dm:instance-added'] && contains('parameters.IPAddress')
 *
 * Language:
 *   literals     'text' or "text" (\' \" \\ escape the quote and the backslash; any other
 *                backslash is kept as written, so regular expressions need no doubling),
 *                decimal integers with an optional '-', true, false
 *   fields       names joined by dots (parameters.Enable.to), looked up in the data with
 *                amxc_var_get_path; a component may be a list index. A field that is not in
 *                the data is absent.
 *   comparisons  == != < > <= >=, a in [literal, ...], a matches 'ERE', a starts with b
 *   functions    contains('dotted.path'): true when the path exists in the data
 *   logic        ! or not, && or and, || or or, parentheses
 *   precedence   ! binds tightest, then comparisons, then &&, then ||
 *
 * Comparing: numbers (of any width or sign) compare by value, texts byte-wise, booleans only
 * for (in)equality. Values of different kinds (a text and a number, a number and a boolean)
 * are unequal and unordered. An absent field, a NULL value, a list or a table equals nothing:
 * "==" and every ordering give false, "!=" gives true. "matches" and "starts with" are true
 * only for texts. A value standing alone as a condition is true only when it is the boolean
 * true.
 *
 * Limits: an expression text is at most AMXP_EXPR_MAX_LENGTH bytes and nests parentheses and
 * negations at most AMXP_EXPR_MAX_DEPTH deep; longer or deeper texts are refused.
 *
 * Threads: an expression is not changed by evaluation; several threads may evaluate one
 * expression at once as long as none deletes it. */
#ifndef AMXP_EXPR_H
#define AMXP_EXPR_H

#include <stdbool.h>
#include <stddef.h>

#include <amxc/amxc_variant.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AMXP_EXPR_MAX_LENGTH 65536
#define AMXP_EXPR_MAX_DEPTH 64

/* A compiled expression; owned by the caller of amxp_expr_new. */
typedef struct _amxp_expr amxp_expr_t;

/* Opaque types stay above: their C++ insides are the library's own. */
#pragma GCC visibility push(default) /* the library hides all but its API */

typedef enum {
    amxp_expr_status_ok = 0,
    amxp_expr_status_syntax_error,    /* malformed text, too long or too deep */
    amxp_expr_status_field_not_found, /* reserved: an absent field is not an error */
    amxp_expr_status_invalid_regexp,  /* the pattern of a "matches" does not compile */
    amxp_expr_status_unknown_error    /* bad arguments, out of memory, a failing regex engine */
} amxp_expr_status_t;

/* Compiles `text` (copied) into *expr. On failure *expr is NULL and the status tells why;
 * amxp_expr_check gives the message and position. NULL or empty text: syntax error.
 * NULL expr: unknown error. */
amxp_expr_status_t amxp_expr_new(amxp_expr_t** expr, const char* text);

/* Frees *expr and sets it to NULL. NULL-safe. */
void amxp_expr_delete(amxp_expr_t** expr);

/* Evaluates `expr` against `data` (borrowed; normally a table; NULL = no fields at all).
 * Stores the status in *status when status is not NULL. Returns false whenever the status is
 * not ok: with a NULL expr (unknown error) or when the regex engine fails. */
bool amxp_expr_eval_var(amxp_expr_t* expr, const amxc_var_t* data, amxp_expr_status_t* status);

/* The text `expr` was compiled from, borrowed from expr; NULL for a NULL expr. */
const char* amxp_expr_get_string(const amxp_expr_t* expr);

/* Compiles `text` only to check it. Writes a message such as "expected ')' at 17" into
 * `message` (cut to message_size, always terminated when message_size > 0; "" when ok) and
 * the 0-based byte offset of the fault into *position (0 when ok). message and position may
 * be NULL. */
amxp_expr_status_t amxp_expr_check(const char* text, char* message, size_t message_size, size_t* position);

/* Compiles and evaluates in one go: false when `text` does not compile. */
bool amxp_expr_matches(const char* text, const amxc_var_t* data);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXP_EXPR_H */
