#ifndef AMXD_DM_H
#define AMXD_DM_H

/* A data model: one tree of objects and the source of its events.
 *
 * Events. After a transaction is applied, the data model emits, on the loop (deferred, in the
 * order of the transaction's operations; the events of one transaction are queued on the loop
 * as one entry and delivered one after the other, so slots see them in order and whatever a
 * slot emits comes after them), through its signal manager:
 *   "dm:object-changed"   {notification, path, object, parameters: {P: {from, to}, ...}}
 *                          only the parameters whose value really changed
 *   "dm:instance-added"   {notification, path (the template), object, index, name,
 *                          parameters: {all parameters of the new instance}}
 *   "dm:instance-removed" {notification, path (the template), object, index, name, parameters}
 * "path" is the indexed path with a trailing dot ("Device.X.AccessControl.1."), "object" the
 * named path with a trailing dot, "notification" the event name again. "name" is "" for an
 * instance without a name. An instance added and deleted by the same transaction sends
 * nothing; an object changed and then deleted sends only its instance-removed. */

#include <amxd/amxd_types.h>
#include <amxp/amxp_signal.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Creates an empty data model (an invisible root object). Owned by the caller. */
amxd_status_t amxd_dm_new(amxd_dm_t** dm);

/* Tears the tree down: destroy actions run for every object, children before parents
 * (instances before their template), then everything is freed and *dm is set to NULL.
 * Events still queued for this data model are dropped (a delivery in progress stops after the
 * current slot). Refused (nothing happens) while the tree is busy: from inside an action
 * callback or a transaction's apply. NULL-safe. */
void amxd_dm_delete(amxd_dm_t** dm);

/* The invisible root; its children are the top-level objects ("Device", "Hosts"). Borrowed. */
amxd_object_t* amxd_dm_get_root(amxd_dm_t* const dm);

/* Finds an object by path. Components are separated by "."; a trailing "." is optional; an
 * instance is named by its index (all digits) or by its name. A doubled "." counts as one
 * separator, so that a path built as "%s.%d." from an event's "path" (which ends in ".")
 * works. Returns NULL when any component is missing or the path is malformed (a leading ".",
 * three dots in a row, an index of 0 or beyond 32 bits, a text over 64 KiB). "" is the root.
 * Lookups go by hash or ordered map, never by scanning siblings. The result is borrowed. */
amxd_object_t* amxd_dm_findf(amxd_dm_t* const dm, const char* path_fmt, ...)
    __attribute__((format(printf, 2, 3)));

/* The object an event is about: the object named by the event data's "path". Borrowed;
 * NULL when the data carries no path or the object no longer exists. */
amxd_object_t* amxd_dm_signal_get_object(amxd_dm_t* const dm, const amxc_var_t* const signal_data);

/* The signal manager through which the data model's events go out (borrowed). Slots connected
 * here receive every event of this data model; use a filter expression on "path". */
amxp_signal_mngr_t* amxd_dm_get_sigmngr(amxd_dm_t* const dm);

/* Chooses the index of every instance a transaction adds, for a loader that re-creates saved
 * instances at the indices they had. Called during the apply with the template, the requested
 * name ("" for none; both borrowed for the call) and the requested index (0: the next one);
 * returns the index to give, or 0 to let the data model pick the next one as usual. An index
 * that is taken fails the addition as a duplicate. One hook per data model; `fn` NULL removes
 * it. */
typedef uint32_t (*amxd_index_hook_fn_t)(const amxd_object_t* templ, const char* name, uint32_t requested,
                                         void* priv);
void amxd_dm_set_index_hook(amxd_dm_t* const dm, amxd_index_hook_fn_t fn, void* priv);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
