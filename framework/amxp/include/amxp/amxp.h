/* libamxp: the event loop, its clock and timers, signals and slots, filter expressions. */
#ifndef AMXP_H
#define AMXP_H

#include <amxp/amxp_clock.h>
#include <amxp/amxp_expr.h>
#include <amxp/amxp_loop.h>
#include <amxp/amxp_signal.h>
#include <amxp/amxp_slot.h>
#include <amxp/amxp_timer.h>

#endif /* AMXP_H */
