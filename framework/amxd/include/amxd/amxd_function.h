#ifndef AMXD_FUNCTION_H
#define AMXD_FUNCTION_H

/* Data-model methods ("_Import", "_Export", ...): named functions on an object, called with a
 * table of arguments and returning a variant. */

#include <amxd/amxd_types.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* A new detached function; `impl` may be NULL (not implemented). Owned by the caller until
 * added to an object. */
amxd_status_t amxd_function_new(amxd_function_t** func, const char* name, uint32_t ret_type, amxd_object_fn_t impl);

/* Frees a detached function and sets *func to NULL; a function added to an object belongs to
 * it and the call does nothing. */
void amxd_function_delete(amxd_function_t** func);

/* Declares a named argument. A mandatory argument missing at a call fails the call with
 * amxd_status_invalid_function_argument; a given argument is converted to `type_id`
 * (AMXC_VAR_ID_ANY keeps it as it is). */
amxd_status_t amxd_function_add_arg(amxd_function_t* const func, const char* name, uint32_t type_id, bool mandatory);

/* Adds the function to an object (which takes ownership on success). On a template the
 * function is also given, as a copy, to each instance created afterwards.
 * amxd_status_duplicate when the object has a function of that name. */
amxd_status_t amxd_object_add_function(amxd_object_t* const object, amxd_function_t* const func);
amxd_function_t* amxd_object_get_function(const amxd_object_t* const object, const char* name);
const char* amxd_function_get_name(const amxd_function_t* const func);
amxd_object_t* amxd_function_get_owner(const amxd_function_t* const func);

/* Calls a function of `object`. `args` must be a table (or NULL: no arguments; anything else
 * gives amxd_status_invalid_function_argument); declared arguments are converted in place,
 * others are passed on as they are. `ret` (may be NULL) receives the return value.
 * amxd_status_function_not_found when there is no such function,
 * amxd_status_function_not_implemented when it has no implementation; otherwise the
 * implementation's status. The implementation may apply transactions. */
amxd_status_t amxd_object_invoke_function(amxd_object_t* const object, const char* func_name,
                                          amxc_var_t* const args, amxc_var_t* const ret);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
