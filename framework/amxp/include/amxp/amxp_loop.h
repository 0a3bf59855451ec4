/* The event loop: one per process, running every callback of the process on one thread.
 *
 * One iteration (amxp_loop_run_once) does, in this order:
 *   1. drains the work queue (deferred calls and queued signal deliveries, FIFO),
 *   2. runs the timers that are due, then drains the work they queued,
 *   3. waits for file descriptors (not at all when step 1 or 2 did something), dispatches
 *      them, and runs steps 1 and 2 again for whatever became due meanwhile.
 *
 * Results: functions returning int give 0 (or a count) on success and a negative errno value
 * on failure (-EINVAL bad argument, -EEXIST already there, -ENOENT not found, -ENOSPC queue
 * full, -EBUSY not allowed from here, or the error of the failing system call).
 *
 * Thread: every function must be called from the loop's thread, except amxp_loop_stop()
 * (also from another thread or a POSIX signal handler) and amxp_loop_is_running() (any
 * thread). */
#ifndef AMXP_LOOP_H
#define AMXP_LOOP_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* File-descriptor events. READ and WRITE are asked for; HUP and ERR are always reported. */
#define AMXP_FD_READ 1u
#define AMXP_FD_WRITE 2u
#define AMXP_FD_HUP 4u
#define AMXP_FD_ERR 8u

/* Most entries the work queue (deferred calls and queued signals together) holds; further
 * amxp_loop_defer() and amxp_sigmngr_emit() calls are refused with -ENOSPC. */
#define AMXP_LOOP_QUEUE_MAX 65536

/* A drain runs the entries queued when it starts, in order, then the entries queued while it
 * runs (after those), but no more than AMXP_LOOP_DRAIN_EXTRA_MAX entries beyond the number it
 * started with; the rest wait for the next drain, and the loop does not block while any are
 * queued. This keeps a callback that defers itself again from starving timers and file
 * descriptors. */
#define AMXP_LOOP_DRAIN_EXTRA_MAX 4096

/* Called when `fd` is ready. `events` holds the AMXP_FD_* bits that are ready. */
typedef void (*amxp_fd_cb_t)(int fd, uint32_t events, void* priv);

/* A deferred call. */
typedef void (*amxp_deferred_fn_t)(void* priv);

/* Runs iterations until amxp_loop_stop() is called. Also returns, with 0, when nothing could
 * ever wake the loop again: no file descriptor watched, nothing queued, and no timer armed
 * (with the manual clock: no timer due, since waiting never moves that clock).
 * Returns 0, a negative errno when waiting fails, or -EBUSY when called from a callback of
 * a running amxp_loop_run(). */
int amxp_loop_run(void);

/* Runs one iteration (see the top of this file). timeout_ms: -1 waits until something
 * happens, 0 only polls, >0 waits at most that long. A wait that only a timer could end is
 * bounded by that timer's due time; with the manual clock such a wait is not made at all
 * (a timer armed on the manual clock never counts as a reason to block), and with nothing
 * that could ever end it (no file descriptor, nothing queued, nothing due) the call returns
 * 0 at once instead of blocking forever.
 * Returns the number of callbacks run (deferred calls, signal deliveries, timer expiries, file
 * descriptor callbacks), or a negative errno (-EINVAL for timeout_ms < -1). May be called from
 * a callback (a nested iteration), not while a callback is paused (-EBUSY, see below). */
int amxp_loop_run_once(int timeout_ms);

/* Runs everything that is due now without waiting for file descriptors: the work queue,
 * the due timers, and the work queued by those timers. Returns the number of callbacks run. */
int amxp_loop_run_pending(void);

/* Makes amxp_loop_run() return once the current iteration ends (a blocked wait is woken).
 * Has no effect unless amxp_loop_run() is running: a stop that comes before it is forgotten.
 * Safe from another thread and from a POSIX signal handler. */
void amxp_loop_stop(void);

/* Whether amxp_loop_run() is running. */
bool amxp_loop_is_running(void);

/* Watches `fd` (not owned; remove it before closing it) for `events` (AMXP_FD_READ and/or
 * AMXP_FD_WRITE; 0 watches only for hang-up and error). `cb` is called on the loop, with
 * `priv`, while the condition lasts (level-triggered).
 * Errors: -EBADF for fd < 0, -EINVAL for a NULL cb or unknown event bits, -EEXIST when `fd`
 * is already watched, or the error of epoll (e.g. -EPERM for a regular file). */
int amxp_loop_add_fd(int fd, uint32_t events, amxp_fd_cb_t cb, void* priv);

/* Changes the events watched on `fd`. -ENOENT when it is not watched. */
int amxp_loop_modify_fd(int fd, uint32_t events);

/* Stops watching `fd`. Safe from any callback, also from the one of `fd` itself: once this
 * returns, the callback of `fd` is not called again, not even for events already collected in
 * the current iteration. -ENOENT when it is not watched. */
int amxp_loop_remove_fd(int fd);

/* Queues `fn(priv)` to run on the next drain, after everything queued before it (deferred
 * calls and signal deliveries share one FIFO). -EINVAL for a NULL fn, -ENOSPC when the queue
 * holds AMXP_LOOP_QUEUE_MAX entries. */
int amxp_loop_defer(amxp_deferred_fn_t fn, void* priv);

/* Removes every queued, not yet started call of `fn` with `priv` (for an object that dies
 * before its deferred call runs). Returns how many were removed (0 is not an error). */
int amxp_loop_cancel_deferred(amxp_deferred_fn_t fn, void* priv);

/* Long work and the loop's other clients.
 *
 * Every callback runs on a stack of the loop's own, apart from the stack of whoever runs the
 * loop, so that a callback doing long work can pause in its middle: it calls
 * amxp_loop_slice_point() between its steps, and once it has run for AMXP_LOOP_SLICE_MS since
 * the loop last had the thread, the call pauses it. The loop then runs the callbacks of the
 * ready file descriptors marked with amxp_loop_serve_while_paused(), again while more of them
 * become ready within 2 ms (a client let in sends its request a moment later), and continues
 * the paused callback. Nothing else runs meanwhile (no timer, no queued work, no other
 * descriptor), so those callbacks must leave what the paused work uses as it stands: a server
 * there answers the requests that only read and holds the others until the loop runs as usual
 * again (amxp_loop_is_paused() tells it).
 * Where no stack can be had (out of memory), callbacks run unsliced on the caller's stack. */
#define AMXP_LOOP_SLICE_MS 20

/* A point in long work where everything outside the work may be read: pauses when the slice
 * is used up (see above); does nothing outside a callback or within a hold. The loop's own
 * work queue passes one between two callbacks. */
void amxp_loop_slice_point(void);

/* The same, reading the clock at once: amxp_loop_slice_point() reads it every few calls only,
 * which after one step that took long by itself (a kernel's commit) would let the work run on
 * past its slice. */
void amxp_loop_slice_point_now(void);

/* Bracket code in whose middle nothing may be read (a data model being changed): slice points
 * within do not pause. Holds nest; each hold is released once. */
void amxp_loop_hold_slices(void);
void amxp_loop_release_slices(void);

/* Whether a callback is paused now: true only in the callbacks of descriptors served while
 * paused, run during a pause. amxp_loop_run_once() and amxp_loop_run_pending() then return
 * -EBUSY. */
bool amxp_loop_is_paused(void);

/* Whether the watched `fd` is also served while a callback is paused (not by default).
 * -ENOENT when `fd` is not watched, or the error of epoll. */
int amxp_loop_serve_while_paused(int fd, bool serve);

/* For tests: forgets every watched file descriptor, disarms every timer (state off) and drops
 * every queued deferred call and signal delivery. Nothing is freed that callers own: timers
 * and signal managers stay valid (and slots stay connected); the caller still deletes them. */
void amxp_loop_reset(void);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXP_LOOP_H */
