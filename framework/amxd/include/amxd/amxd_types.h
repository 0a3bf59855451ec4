#ifndef AMXD_TYPES_H
#define AMXD_TYPES_H

/* Types shared by every part of the data model: statuses, object kinds, action reasons,
 * path flags and the opaque handles. Everything here runs on the runtime's one loop thread. */

#include <stdbool.h>
#include <stdint.h>

#include <amxc/amxc_variant.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result of every data-model operation; the numbers are part of the module contract. */
typedef enum _amxd_status {
    amxd_status_ok = 0,
    amxd_status_unknown_error = 1,
    amxd_status_object_not_found = 2,
    amxd_status_function_not_found = 3,
    amxd_status_parameter_not_found = 4,
    amxd_status_function_not_implemented = 5,
    amxd_status_invalid_function = 6,
    amxd_status_invalid_function_argument = 7,
    amxd_status_invalid_name = 8,
    amxd_status_invalid_attr = 9,
    amxd_status_invalid_value = 10,
    amxd_status_invalid_action = 11,
    amxd_status_invalid_type = 12,
    amxd_status_duplicate = 13,
    amxd_status_deferred = 14,
    amxd_status_read_only = 15,
    amxd_status_missing_key = 16,
    amxd_status_file_not_found = 17,
    amxd_status_invalid_arg = 18,
    amxd_status_out_of_mem = 19,
    amxd_status_recursion = 20,
    amxd_status_invalid_path = 21,
    amxd_status_invalid_expr = 22,
    amxd_status_permission_denied = 23,
    amxd_status_not_supported = 24,
    amxd_status_not_instantiated = 25,
    amxd_status_not_a_template = 26,
    amxd_status_timeout = 27,
    amxd_status_last
} amxd_status_t;

/* Kind of an object in the tree. */
typedef enum _amxd_object_type {
    amxd_object_root = 0,      /* the invisible root of a data model */
    amxd_object_singleton,     /* a plain object ("object X { }") */
    amxd_object_template,      /* a multi-instance table ("object X[] { }") */
    amxd_object_instance,      /* an instance of a template, named by index and optional name */
    amxd_object_invalid
} amxd_object_type_t;

/* Why an action callback is called; the numbers are part of the module contract. */
typedef enum _amxd_action {
    action_any = 0,
    action_param_read = 1,
    action_param_write = 2,
    action_param_validate = 3,
    action_param_describe = 4,
    action_param_destroy = 5,
    action_object_read = 6,
    action_object_write = 7,
    action_object_validate = 8,
    action_object_list = 9,
    action_object_describe = 10,
    action_object_tree = 11,
    action_object_add_inst = 12,
    action_object_del_inst = 13,
    action_object_destroy = 14,
    action_max = action_object_destroy
} amxd_action_t;

/* Flags of amxd_object_get_path and friends. */
#define AMXD_OBJECT_NAMED     0x01  /* instances written by name when they have one */
/* Highest instance index given or accepted: clients that keep indices as signed 32-bit
 * numbers read every one right. */
#define AMXD_MAX_INDEX 2147483647u

#define AMXD_OBJECT_INDEXED   0x02  /* instances written by index */
#define AMXD_OBJECT_TERMINATE 0x04  /* end the path with a "." */

/* Transaction attributes (amxd_trans_set_attr). */
typedef enum _amxd_tattr_id {
    amxd_tattr_change_ro = 0,   /* the transaction may write read-only parameters */
    amxd_tattr_change_priv,     /* reserved: private parameters */
    amxd_tattr_change_prot      /* reserved: protected parameters */
} amxd_tattr_id_t;

/* Parameter attributes (amxd_param_set_attr). */
typedef enum _amxd_pattr_id {
    amxd_pattr_read_only = 0,   /* clients may not write; the module may, with amxd_tattr_change_ro */
    amxd_pattr_persistent,      /* part of the saved configuration */
    amxd_pattr_key              /* identifies an instance; unique among siblings */
} amxd_pattr_id_t;

typedef struct _amxd_dm amxd_dm_t;             /* a data model: one tree, one event source */
typedef struct _amxd_object amxd_object_t;     /* a node of the tree, owned by its parent */
typedef struct _amxd_param amxd_param_t;       /* a typed parameter, owned by its object */
typedef struct _amxd_function amxd_function_t; /* a data-model method, owned by its object */

/* Opaque types stay above: their C++ insides are the library's own. */
#pragma GCC visibility push(default) /* the library hides all but its API */

/* Object or parameter action. `object` is the object acted on (for a parameter action, the
 * parameter's object), `param` the parameter or NULL, `args` the reason's input (the new value
 * for action_param_validate; a table {"index": n, "name": s} for action_object_del_inst), `retval`
 * an output variant or NULL, `priv` the data given when the action was added (borrowed). */
typedef amxd_status_t (* amxd_action_fn_t)(amxd_object_t* object, amxd_param_t* param,
                                           amxd_action_t reason, const amxc_var_t* const args,
                                           amxc_var_t* const retval, void* priv);

/* Data-model method. `args` is a table of named arguments (borrowed, may be modified), `ret`
 * receives the return value. */
typedef amxd_status_t (* amxd_object_fn_t)(amxd_object_t* object, amxd_function_t* func,
                                           amxc_var_t* args, amxc_var_t* ret);

/* Human-readable text of a status ("ok", "invalid value", ...); never NULL. */
const char* amxd_status_string(amxd_status_t status);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
