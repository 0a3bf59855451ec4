/* Slots: functions connected to the signals of a manager (amxp_signal.h), optionally behind
 * a filter expression (amxp_expr.h) that the signal's data must satisfy.
 *
 * Results: 0 on success, a negative errno value on failure (-EINVAL bad argument or malformed
 * expression, -ENOENT nothing to disconnect, -ENOSPC, -ENOMEM).
 * Thread: the loop's thread only. */
#ifndef AMXP_SLOT_H
#define AMXP_SLOT_H

#include <amxc/amxc_variant.h>
#include <amxp/amxp_signal.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Called on delivery with the signal's name and data (both borrowed for the call; data may
 * be NULL) and the `priv` given at connection. */
typedef void (*amxp_slot_fn_t)(const char* const sig_name, const amxc_var_t* const data, void* const priv);

/* Connects `fn` with `priv` to `sig_name` of `mngr`; sig_name NULL or "*" connects it to every
 * signal of the manager (a signal not known yet is added). `expression` NULL delivers every
 * emission; otherwise only those whose data satisfies it. A malformed expression is refused
 * (-EINVAL) and nothing is connected. Connecting the same function and data twice gives two
 * connections, each called. */
int amxp_slot_connect(amxp_signal_mngr_t* mngr, const char* sig_name, const char* expression,
                      amxp_slot_fn_t fn, void* priv);

/* Disconnects `fn` from `sig_name` of `mngr`, whatever its data: sig_name NULL disconnects
 * every connection of fn in the manager, "*" only its every-signal connections, a name only
 * its connections to that signal. -ENOENT when none matched. */
int amxp_slot_disconnect(amxp_signal_mngr_t* mngr, const char* sig_name, amxp_slot_fn_t fn);

/* Disconnects every connection of `fn` with `priv` in `mngr`. -ENOENT when none matched. */
int amxp_slot_disconnect_with_priv(amxp_signal_mngr_t* mngr, amxp_slot_fn_t fn, void* priv);

/* Disconnects every connection of `fn` in every manager. -ENOENT when none matched. */
int amxp_slot_disconnect_all(amxp_slot_fn_t fn);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXP_SLOT_H */
