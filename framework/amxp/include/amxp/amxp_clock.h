/* The time base of the loop and its timers: monotonic milliseconds.
 *
 * A test can switch to a manual clock that stands still until it is advanced, so that
 * second-long delays are tested without waiting. Advancing the clock runs nothing by itself:
 * timers that became due run at the next amxp_loop_run_pending() or loop iteration.
 *
 * Thread: the loop's thread only. */
#ifndef AMXP_CLOCK_H
#define AMXP_CLOCK_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Milliseconds on a monotonic time line (not wall-clock time). Never goes backwards, also
 * across switches between the real and the manual clock. */
uint64_t amxp_clock_now_ms(void);

/* true: freeze time at its current value; it then moves only with amxp_clock_advance().
 * false: follow real time again, continuing from the manual value if that is ahead (so time
 * never goes backwards). Switching to the mode already in force changes nothing. */
void amxp_clock_set_manual(bool manual);

/* Whether the manual clock is in force. */
bool amxp_clock_is_manual(void);

/* Moves the manual clock forward by `ms` (saturating at the largest value). Ignored while the
 * real clock is in force. */
void amxp_clock_advance(uint64_t ms);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXP_CLOCK_H */
