#ifndef AMXD_PARAMETER_H
#define AMXD_PARAMETER_H

/* Typed parameters. Supported types: AMXC_VAR_ID_CSTRING, AMXC_VAR_ID_CSV_STRING,
 * AMXC_VAR_ID_BOOL, AMXC_VAR_ID_INT32, AMXC_VAR_ID_UINT32 (and the 64-bit integers). A value
 * written to a parameter is converted to its type; a value that does not convert is refused
 * with amxd_status_invalid_value and the old value stays. */

#include <stddef.h>

#include <amxd/amxd_types.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* A new detached parameter holding the empty value of its type. Owned by the caller until
 * added to an object. amxd_status_invalid_name (letters, digits, "_", "-", not starting with a
 * digit), amxd_status_invalid_type for any other type. */
amxd_status_t amxd_param_new(amxd_param_t** param, const char* name, uint32_t type_id);

/* Frees a detached parameter and sets *param to NULL. A parameter added to an object belongs
 * to it: the call then does nothing. */
void amxd_param_delete(amxd_param_t** param);

/* Adds the parameter to an object (the object takes ownership on success; on failure it stays
 * the caller's). On a template the parameter is declared for every future instance.
 * amxd_status_duplicate when the name exists, amxd_status_invalid_arg when the parameter
 * already belongs to an object. */
amxd_status_t amxd_object_add_param(amxd_object_t* const object, amxd_param_t* const param);

/* The parameter definition of an object, NULL when absent. Borrowed. */
amxd_param_t* amxd_object_get_param_def(const amxd_object_t* const object, const char* name);

const char* amxd_param_get_name(const amxd_param_t* const param);
uint32_t amxd_param_get_type(const amxd_param_t* const param);
amxd_object_t* amxd_param_get_owner(const amxd_param_t* const param);

/* Sets the value directly (definition time: the default). Converts to the parameter's type;
 * runs no action and emits no event. */
amxd_status_t amxd_param_set_value(amxd_param_t* const param, const amxc_var_t* const value);
/* Borrowed until the parameter is next written. */
const amxc_var_t* amxd_param_get_value(const amxd_param_t* const param);

/* Text values (string, csv_string) longer than their parameter's bound are refused with
 * amxd_status_invalid_value, naming the parameter and the bound, whoever writes them. The bound
 * is AMXD_PARAM_MAX_LENGTH bytes unless the definition sets another (tighter, or wider for a
 * list the module computes). amxd_status_invalid_type for a parameter of another type,
 * amxd_status_invalid_value when the current value does not fit. */
#define AMXD_PARAM_MAX_LENGTH 4096
amxd_status_t amxd_param_set_max_length(amxd_param_t* const param, size_t bytes);

amxd_status_t amxd_param_set_attr(amxd_param_t* const param, const amxd_pattr_id_t attr, const bool enable);
bool amxd_param_is_attr_set(const amxd_param_t* const param, const amxd_pattr_id_t attr);

/* Adds a parameter action; action_param_validate is the one reason accepted (others:
 * amxd_status_invalid_action). `data` (may be NULL; a heap variant) is TAKEN on success and
 * passed as `priv`; a validate action receives the candidate value, already converted to the
 * parameter's type, as `args` (the parameter still holds its old value) and refuses it by
 * returning anything but amxd_status_ok, which fails the transaction with that status (and
 * may set `retval` to a text saying why: amxd_trans_get_error then ends with it). A
 * template's parameter actions are copied, data included, to each instance created
 * afterwards. */
amxd_status_t amxd_param_add_action_cb(amxd_param_t* const param, const amxd_action_t reason,
                                       amxd_action_fn_t fn, amxc_var_t* data);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
