/* Signal managers: named signals, and their delivery to the slots connected to them
 * (amxp_slot.h).
 *
 * A signal is delivered either at once (amxp_sigmngr_trigger) or through the loop's work queue
 * (amxp_sigmngr_emit), which keeps emissions in order with each other and with deferred calls.
 * Delivery calls the manager's slots in connection order. A slot disconnected before or during
 * a delivery, or whose manager is deleted, is not called afterwards; a slot connected during a
 * delivery does not get that delivery.
 *
 * Names: a non-empty text other than "*" (which stands for "every signal" in amxp_slot.h).
 * A manager knows at most AMXP_SIGMNGR_MAX_SIGNALS names.
 * Results: 0 on success, a negative errno value on failure (-EINVAL bad argument, -EEXIST,
 * -ENOSPC limit reached, -ENOMEM).
 * Thread: the loop's thread only. */
#ifndef AMXP_SIGNAL_H
#define AMXP_SIGNAL_H

#include <stdbool.h>

#include <amxc/amxc_variant.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AMXP_SIGMNGR_MAX_SIGNALS 4096

/* Opaque. Wherever a manager is asked for, NULL means the process-wide manager, which exists
 * for the whole process and cannot be deleted. */
typedef struct _amxp_signal_mngr amxp_signal_mngr_t;

/* Opaque types stay above: their C++ insides are the library's own. */
#pragma GCC visibility push(default) /* the library hides all but its API */

/* Creates an empty manager in *mngr, owned by the caller (amxp_sigmngr_delete). */
int amxp_sigmngr_new(amxp_signal_mngr_t** mngr);

/* Deletes *mngr and sets it to NULL; NULL or *mngr NULL is a no-op. Its slots are
 * disconnected and its queued emissions dropped. Safe from inside one of its own slots: the
 * delivery in progress stops after that slot. */
void amxp_sigmngr_delete(amxp_signal_mngr_t** mngr);

/* Declares a signal. -EEXIST when the manager knows it already. */
int amxp_sigmngr_add_signal(amxp_signal_mngr_t* mngr, const char* name);

/* Whether the manager knows the signal (added, emitted, triggered or connected to). */
bool amxp_sigmngr_has_signal(const amxp_signal_mngr_t* mngr, const char* name);

/* Queues a delivery of `name` on the loop, after everything already queued there (also when
 * called from a slot). `data` (borrowed, may be NULL) is copied now; slots get the copy.
 * A signal the manager does not know yet is added. -ENOSPC when the loop's queue is full
 * (AMXP_LOOP_QUEUE_MAX): nothing is queued. */
int amxp_sigmngr_emit(amxp_signal_mngr_t* mngr, const char* name, const amxc_var_t* data);

/* Delivers `name` at once, before returning; slots get `data` itself (borrowed, may be NULL).
 * A signal the manager does not know yet is added. */
int amxp_sigmngr_trigger(amxp_signal_mngr_t* mngr, const char* name, const amxc_var_t* data);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXP_SIGNAL_H */
