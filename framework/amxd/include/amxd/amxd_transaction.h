#ifndef AMXD_TRANSACTION_H
#define AMXD_TRANSACTION_H

/* Transactions: the only way the data model changes while it runs.
 *
 * A transaction is a list of operations recorded against a selection (an object chosen with
 * amxd_trans_select_object/amxd_trans_select_pathf, or the instance added last). Nothing
 * happens until amxd_trans_apply, which is all-or-nothing: every operation runs in order,
 * validations run (parameter validate actions on each new value, object validate actions on
 * every changed or added object, read-only checks), and the first failure undoes every change
 * of the transaction and returns that failure's status. On success the events go out on the
 * loop in operation order (see amxd_dm.h); instances removed by the transaction are destroyed
 * (destroy actions) after the apply succeeded. A transaction can be applied once.
 *
 * Recording functions check their arguments and record nothing when they fail (a NULL or
 * empty name, a NULL value: amxd_status_invalid_arg); the caller decides whether to go on.
 * Running out of memory while recording, or more than 1,048,576 operations, marks the
 * transaction failed: its apply then fails with that status and changes nothing.
 *
 * Applying is refused with amxd_status_recursion while the data model is busy: from an action
 * callback, or while another transaction of it is being applied. Transactions may be applied
 * from event handlers and deferred calls. */

#include <amxd/amxd_types.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

typedef struct _amxd_trans {
    void* impl;              /* private */
    uint32_t attributes;     /* bit set of amxd_tattr_id_t */
    amxd_status_t status;    /* status of the last apply */
} amxd_trans_t;

amxd_status_t amxd_trans_init(amxd_trans_t* const trans);
void amxd_trans_clean(amxd_trans_t* const trans);
amxd_status_t amxd_trans_new(amxd_trans_t** trans);
void amxd_trans_delete(amxd_trans_t** trans);

amxd_status_t amxd_trans_set_attr(amxd_trans_t* trans, amxd_tattr_id_t attr, bool enable);

/* Selection: following operations act on this object. A path is resolved at apply time from
 * the data model's root, so it may name an instance added earlier in the same transaction. */
amxd_status_t amxd_trans_select_object(amxd_trans_t* trans, const amxd_object_t* const object);
amxd_status_t amxd_trans_select_pathf(amxd_trans_t* const trans, const char* path_fmt, ...)
    __attribute__((format(printf, 2, 3)));

/* Sets a parameter of the selected object. The value is copied. */
amxd_status_t amxd_trans_set_param(amxd_trans_t* const trans, const char* param_name, amxc_var_t* const value);
amxd_status_t amxd_trans_set_cstring_t(amxd_trans_t* const trans, const char* name, const char* value);
amxd_status_t amxd_trans_set_csv_string_t(amxd_trans_t* const trans, const char* name, const char* value);
amxd_status_t amxd_trans_set_bool(amxd_trans_t* const trans, const char* name, bool value);
amxd_status_t amxd_trans_set_int32_t(amxd_trans_t* const trans, const char* name, int32_t value);
amxd_status_t amxd_trans_set_uint32_t(amxd_trans_t* const trans, const char* name, uint32_t value);
amxd_status_t amxd_trans_set_int64_t(amxd_trans_t* const trans, const char* name, int64_t value);
amxd_status_t amxd_trans_set_uint64_t(amxd_trans_t* const trans, const char* name, uint64_t value);
#define amxd_trans_set_value(type, trans, name, value) amxd_trans_set_ ## type(trans, name, value)

/* Adds an instance to the selected template: `index` 0 lets the data model pick the next
 * index (one above the highest it ever gave, so indexes of deleted instances are not reused;
 * once that passes AMXD_MAX_INDEX, the lowest free one), `name` NULL or "" gives an unnamed
 * instance. The new instance becomes the selection. An index above AMXD_MAX_INDEX is refused
 * (amxd_status_invalid_value). Index and name must be unique among the template's instances
 * (amxd_status_duplicate); a name is letters, digits, "_" and "-", not digits only
 * (amxd_status_invalid_name). "<Template>-<n>" is the name exports give the unnamed instance
 * n, so it is refused (amxd_status_duplicate) for any instance but n. Runs the template's
 * add-instance action. */
amxd_status_t amxd_trans_add_inst(amxd_trans_t* const trans, const uint32_t index, const char* name);

/* Deletes an instance of the selected template, by name when `name` is non-empty, else by
 * index. Runs the template's delete-instance action. */
amxd_status_t amxd_trans_del_inst(amxd_trans_t* const trans, const uint32_t index, const char* name);

/* Applies the transaction on `dm` (see above). Statuses: amxd_status_ok; the status of the
 * first failing operation or validation (amxd_status_read_only, amxd_status_invalid_value,
 * amxd_status_object_not_found, amxd_status_parameter_not_found, amxd_status_duplicate,
 * amxd_status_not_a_template, ...); amxd_status_recursion (see above); amxd_status_invalid_action
 * for a second apply; amxd_status_out_of_mem when memory or the loop's queue ran out. Whatever
 * the failure, the data model is exactly as before and nothing is emitted. */
amxd_status_t amxd_trans_apply(amxd_trans_t* const trans, amxd_dm_t* const dm);

/* After a successful apply: the indexed path, with a trailing ".", of the last instance the
 * transaction added; NULL when it added none. Borrowed from the transaction. */
const char* amxd_trans_get_added_path(const amxd_trans_t* const trans);

/* A short text describing why the last apply failed ("Device.X.AccessControl.1.Status is
 * read-only", "invalid value for Device.X.PortForwardingRule.1.Protocol"); "" when it did not
 * fail. Borrowed from the transaction. */
const char* amxd_trans_get_error(const amxd_trans_t* const trans);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
