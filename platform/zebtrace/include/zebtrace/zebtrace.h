#ifndef ZEBTRACE_ZEBTRACE_H
#define ZEBTRACE_ZEBTRACE_H

/*
 * Trace lines for the gateway's services.
 *
 * Every line names a zone (a short text per source unit, e.g. "networksettings"), a level, a
 * message and the place in the source that wrote it:
 *
 *     network - [i]service started - networksettings_start(src/main.cpp@131)
 *
 * The zone is cut or blank-padded to 7 characters, the level is shown as a one-letter mark.
 * Each zone has a level; lines above it are dropped before any formatting (and, through the
 * macros below, before their arguments are evaluated). Zones without a level of their own use
 * the default level, TRACE_LEVEL_INFO at start.
 *
 * Lines go to one output at a time: stderr (at start), syslog or a file. A test may also
 * capture every emitted line.
 *
 * Thread: meant to be called from one thread (the service's loop). Every function may still be
 * called from several threads at once without corrupting state or interleaving lines.
 */

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Levels: lower is more important. A level between two of these shows the mark of the
 * nearest lower one; a negative level shows the fatal mark. */
#define TRACE_LEVEL_FATAL 0      /* mark "X" */
#define TRACE_LEVEL_ERROR 100    /* mark "x" */
#define TRACE_LEVEL_WARNING 200  /* mark "!" */
#define TRACE_LEVEL_NOTICE 300   /* mark "n" */
#define TRACE_LEVEL_APP_INFO 350 /* mark "I" */
#define TRACE_LEVEL_INFO 400     /* mark "i" */
#define TRACE_LEVEL_DEBUG 500    /* mark "d" */

/* Longest message kept in a line, in bytes; a longer message is cut and ends in "...". */
#define ZEBTRACE_MESSAGE_MAX 16384

/* ---- Writing lines (normally through the macros at the end of this header) ---- */

/* True when a line of `level` in `zone` would be written (level <= the zone's level).
 * `zone` NULL stands for the empty zone. Cheap: no allocation, no formatting. */
bool zebtrace_is_enabled(int level, const char* zone);

/* Formats and writes one line if `level` passes the zone's filter.
 * `zone`, `function` and `file` may be NULL (written as empty texts); `format` NULL writes an
 * empty message. Control characters of the message are written as \xNN so that one call is
 * always one line. Never fails visibly: a line that cannot be written is lost. */
void zebtrace_write(int level, const char* zone, const char* function, const char* file, int line,
                    const char* format, ...) __attribute__((format(printf, 6, 7)));

/* Writes the function entry (">>>>>>>>>>") or exit ("<<<<<<<<<<") line of `zone` at debug
 * level, with the same filtering as zebtrace_write. */
void zebtrace_write_enter(const char* zone, const char* function, const char* file, int line);
void zebtrace_write_exit(const char* zone, const char* function, const char* file, int line);

/* ---- Filtering ---- */

/* Sets the level of `zone` (copied), or with `zone` NULL the default level of every zone
 * that has none of its own. Any int is accepted; a negative level silences the zone.
 * Returns 0, or -1 when the table cannot grow (out of memory; nothing changed). */
int zebtrace_set_level(const char* zone, int level);

/* The level in force for `zone`: its own, or the default. `zone` NULL gives the default. */
int zebtrace_get_level(const char* zone);

/* Makes `zone` follow the default level again. No effect for NULL or an unknown zone. */
void zebtrace_clear_level(const char* zone);

/* Applies a level configuration written as comma-separated `name=level` items, e.g.
 * "default=400,firewall_rule=500,networksettings=300". "default" names the default level;
 * other names are zones ([A-Za-z0-9_.:-], at most 64 bytes). Levels are decimal integers,
 * optionally negative. Blanks around names, levels and commas are ignored. An empty text
 * changes nothing.
 * Returns 0 when every item was applied; -1 when `levels` is NULL or malformed (an empty item,
 * a missing '=', a bad name or level, a name given twice) — then nothing is applied. */
int zebtrace_configure(const char* levels);

/* The same, but what `levels` does not name goes back to the state at start: zones follow the
 * default, and the default is TRACE_LEVEL_INFO unless named. For reloading a configuration.
 * Returns as zebtrace_configure; on -1 nothing changed. */
int zebtrace_reconfigure(const char* levels);

/* ---- Outputs ---- */

/* Sends lines to syslog (facility daemon) under `ident` (copied; NULL = the program name),
 * closing a file opened before. Returns 0. */
int zebtrace_open_syslog(const char* ident);

/* Appends lines to the file at `path` (created with mode 0644 if missing), closing the output
 * used before. Returns 0, or -1 when `path` is NULL or the file cannot be opened; the output
 * in use before is then kept. */
int zebtrace_open_file(const char* path);

/* Sends lines to stderr again (the output at start), closing a file or syslog. */
void zebtrace_use_stderr(void);

/* True when stderr is the systemd journal's stream (JOURNAL_STREAM names stderr's device and
 * inode); stderr lines then start with their syslog priority, "<3>" for errors, so the
 * journal tells errors from information. Checked at start and by zebtrace_use_stderr. */
bool zebtrace_stderr_is_journal(void);

/* ---- Capture (tests) ---- */

/* Receives each emitted line, without newline; `line` and `zone` are borrowed for the call.
 * Called with the library's lock held: it may write trace lines itself (they are captured
 * too), but must not wait for another thread that traces. */
typedef void (*zebtrace_capture_fn_t)(int level, const char* zone, const char* line, void* priv);

/* Installs `fn` (NULL removes the capture) with its `priv`, which stays the caller's. */
void zebtrace_set_capture(zebtrace_capture_fn_t fn, void* priv);

/* When quiet, lines are not written to the output, only handed to the capture if one is set. */
void zebtrace_set_quiet(bool quiet);

/* Back to the state at start: default level TRACE_LEVEL_INFO, no zone levels, stderr, no
 * capture, not quiet. For tests. */
void zebtrace_reset(void);

/* ---- Macros ----
 * zebTrace uses the zone named by the macro ME, which each source file defines before use:
 *     #define ME "networksettings"
 * The line's place is the calling function, __FILE__ and __LINE__. When the level is
 * filtered out, nothing after the level test is evaluated (not even the arguments). */

#define zebTraceZ(level, zone, ...)                                                            \
    do {                                                                                       \
        const int zebtrace_level_ = (level);                                                   \
        const char* const zebtrace_zone_ = (zone);                                             \
        if (zebtrace_is_enabled(zebtrace_level_, zebtrace_zone_)) {                            \
            zebtrace_write(zebtrace_level_, zebtrace_zone_, __func__, __FILE__, __LINE__,      \
                           __VA_ARGS__);                                                       \
        }                                                                                      \
    } while (0)

#define zebTrace(level, ...) zebTraceZ(level, ME, __VA_ARGS__)

#define zebTraceZIn(zone) zebtrace_write_enter((zone), __func__, __FILE__, __LINE__)
#define zebTraceZOut(zone) zebtrace_write_exit((zone), __func__, __FILE__, __LINE__)

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* ZEBTRACE_ZEBTRACE_H */
