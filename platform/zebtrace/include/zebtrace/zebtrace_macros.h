#ifndef ZEBTRACE_ZEBTRACE_MACROS_H
#define ZEBTRACE_ZEBTRACE_MACROS_H

/*
 * Guard clauses: test a condition and, when it holds, jump to a cleanup label; the traced forms
 * write a line first (zone ME, see zebtrace.h). Typical use:
 *
 *     when_null_trace(obj, exit, TRACE_LEVEL_ERROR, "no object for %s", path);
 *
 * The traced forms take the level, then the printf-style format and its arguments. The
 * condition is evaluated once. The untraced forms (when_null, when_failed, ...) come from the
 * framework's macro header, included here.
 */

#include <stddef.h>

#include <zebtrace/zebtrace.h>

/* The untraced forms are the framework's own. */
#include <amxc/amxc_macros.h>

#define when_null_trace(x, label, level, ...)                                                  \
    do {                                                                                       \
        if ((x) == NULL) {                                                                     \
            zebTrace(level, __VA_ARGS__);                                                      \
            goto label;                                                                        \
        }                                                                                      \
    } while (0)

/* "Failed" means a non-zero result. */
#define when_failed_trace(x, label, level, ...)                                                \
    do {                                                                                       \
        if ((x) != 0) {                                                                        \
            zebTrace(level, __VA_ARGS__);                                                      \
            goto label;                                                                        \
        }                                                                                      \
    } while (0)

/* "Empty" means NULL or "". */
#define when_str_empty_trace(x, label, level, ...)                                             \
    do {                                                                                       \
        const char* const when_str_ = (x);                                                     \
        if ((when_str_ == NULL) || (*when_str_ == '\0')) {                                     \
            zebTrace(level, __VA_ARGS__);                                                      \
            goto label;                                                                        \
        }                                                                                      \
    } while (0)

#define when_false_trace(x, label, level, ...)                                                 \
    do {                                                                                       \
        if (!(x)) {                                                                            \
            zebTrace(level, __VA_ARGS__);                                                      \
            goto label;                                                                        \
        }                                                                                      \
    } while (0)

#define when_true_trace(x, label, level, ...)                                                  \
    do {                                                                                       \
        if (x) {                                                                               \
            zebTrace(level, __VA_ARGS__);                                                      \
            goto label;                                                                        \
        }                                                                                      \
    } while (0)

#endif /* ZEBTRACE_ZEBTRACE_MACROS_H */
