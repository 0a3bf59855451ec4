/* Timers on the event loop.
 *
 * A timer is created stopped and one-shot. Started, it expires once its delay has passed on
 * the loop's clock (amxp_clock.h) and its callback runs on the loop. Starting a timer that is
 * already armed restarts its full delay. With an interval, an expired timer re-arms itself to
 * expire every interval; an expiry that comes late does not catch up missed ones.
 * Timers due at the same time expire in the order they were (re)started.
 *
 * A callback may start, stop or delete any timer, including its own.
 * Results: 0 on success, a negative errno value on failure (-EINVAL for a NULL argument).
 * Thread: the loop's thread only. */
#ifndef AMXP_TIMER_H
#define AMXP_TIMER_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _amxp_timer amxp_timer_t; /* opaque; owned by whoever created it */

/* Opaque types stay above: their C++ insides are the library's own. */
#pragma GCC visibility push(default) /* the library hides all but its API */

typedef void (*amxp_timer_cb_t)(amxp_timer_t* timer, void* priv);

typedef enum {
    amxp_timer_off,     /* not armed: new, stopped, or disarmed by amxp_loop_reset() */
    amxp_timer_started, /* armed, waiting for its first expiry */
    amxp_timer_running, /* interval timer that expired and is armed for its next expiry */
    amxp_timer_expired, /* one-shot timer whose expiry has come (its callback may be running) */
    amxp_timer_deleted  /* deleted from inside its own callback; freed when the callback returns */
} amxp_timer_state_t;

/* Creates a stopped one-shot timer in *timer, owned by the caller (amxp_timer_delete).
 * `cb` may be NULL (the timer then only expires). -ENOMEM when out of memory. */
int amxp_timer_new(amxp_timer_t** timer, amxp_timer_cb_t cb, void* priv);

/* Stops and frees *timer and sets *timer to NULL; NULL or *timer NULL is a no-op.
 * Safe from inside the timer's own callback: it is then freed when the callback returns. */
void amxp_timer_delete(amxp_timer_t** timer);

/* Arms the timer to expire `timeout_msec` from now, restarting the full delay when it is
 * already armed. 0 makes it due at once (it runs at the next iteration, never recursively).
 * -EINVAL also for a timer deleted from inside its own callback. */
int amxp_timer_start(amxp_timer_t* timer, unsigned int timeout_msec);

/* Disarms the timer (state off); a stopped timer's callback does not run. Stopping a timer
 * that is not armed is not an error. */
int amxp_timer_stop(amxp_timer_t* timer);

/* After its first expiry, the timer repeats every `interval_msec`; 0 makes it one-shot.
 * Takes effect at the next expiry. */
int amxp_timer_set_interval(amxp_timer_t* timer, unsigned int interval_msec);

/* Milliseconds until the next expiry; 0 when not armed, already due, or NULL. */
unsigned int amxp_timer_remaining_time(const amxp_timer_t* timer);

/* The timer's state; amxp_timer_off for NULL. */
amxp_timer_state_t amxp_timer_get_state(const amxp_timer_t* timer);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXP_TIMER_H */
