#ifndef AMXD_OBJECT_H
#define AMXD_OBJECT_H

/* Objects of the tree: creation, navigation, identity, parameter reads, private data.
 *
 * Ownership: an object belongs to its parent (the data model's root for top-level objects);
 * pointers handed out are borrowed and stay valid until the object is deleted. Templates
 * ("object X[]") declare the parameters, actions and child objects of their instances; each new
 * instance receives a copy of them with the declared defaults. */

#include <amxd/amxd_types.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* --- building the tree (definition loader, runtime, tests) --- */

/* A new detached object of the given kind (singleton or template). Owned by the caller until
 * added to a parent. Names: letters, digits, "_" and "-", not starting with a digit. */
amxd_status_t amxd_object_new(amxd_object_t** object, amxd_object_type_t type, const char* name);

/* Adds `child` under `parent` (the parent takes ownership on success only). Fails with
 * amxd_status_duplicate when the parent already has a child of that name, amxd_status_invalid_arg
 * when `child` already has a parent or `parent` lies inside `child`, amxd_status_recursion while
 * either tree is busy (see amxd_object_delete). Adding under a template declares the child
 * object of every future instance. */
amxd_status_t amxd_object_add_object(amxd_object_t* const parent, amxd_object_t* const child);

/* Deletes a detached object or removes and deletes an attached one (destroy actions run,
 * children first). Sets *object to NULL. No event is emitted: use a transaction for that.
 * Refused (nothing happens, *object is left as it is) for a data model's root and while the
 * object's tree is busy: inside an action callback, during a transaction's apply or a
 * teardown. */
void amxd_object_delete(amxd_object_t** object);

/* --- navigation --- */
amxd_object_t* amxd_object_get_parent(const amxd_object_t* const object);
amxd_object_t* amxd_object_get_root(const amxd_object_t* const object);   /* the dm's root */
amxd_dm_t* amxd_object_get_dm(const amxd_object_t* const object);          /* NULL when detached */

/* A singleton or template child by name. */
amxd_object_t* amxd_object_get_child(const amxd_object_t* const object, const char* name);

/* An instance of `templ`: by `name` when it is non-NULL and non-empty, else by `index`. */
amxd_object_t* amxd_object_get_instance(const amxd_object_t* const templ, const char* name, uint32_t index);

/* A child by name, or, for a template, an instance by name or (all digits) by index, falling
 * back to a declared child of that name. */
amxd_object_t* amxd_object_get(const amxd_object_t* const object, const char* name);

/* Finds an object by a path relative to `object` (same rules as amxd_dm_findf). */
amxd_object_t* amxd_object_findf(const amxd_object_t* const object, const char* rel_path_fmt, ...)
    __attribute__((format(printf, 2, 3)));

/* Instances of a template in index order, and singleton/template children in declaration order.
 * The for_each macros allow deleting the current element. */
amxd_object_t* amxd_object_first_instance(const amxd_object_t* const templ);
amxd_object_t* amxd_object_next_instance(const amxd_object_t* const instance);
uint32_t amxd_object_get_instance_count(const amxd_object_t* const templ);
amxd_object_t* amxd_object_first_child(const amxd_object_t* const object);
amxd_object_t* amxd_object_next_child(const amxd_object_t* const child);

#define amxd_object_for_each_instance(inst, templ) \
    for (amxd_object_t* inst = amxd_object_first_instance(templ), \
         * inst ## _next = amxd_object_next_instance(inst); \
         inst != NULL; \
         inst = inst ## _next, inst ## _next = amxd_object_next_instance(inst))

#define amxd_object_for_each_child(child, object) \
    for (amxd_object_t* child = amxd_object_first_child(object), \
         * child ## _next = amxd_object_next_child(child); \
         child != NULL; \
         child = child ## _next, child ## _next = amxd_object_next_child(child))

/* --- identity --- */
amxd_object_type_t amxd_object_get_type(const amxd_object_t* const object);

/* The name; for an instance with AMXD_OBJECT_INDEXED (or no flag) its index as text, with
 * AMXD_OBJECT_NAMED alone its name (its index as text when it has none). "" for a root.
 * Borrowed; valid while the object lives. NULL for a NULL object. */
const char* amxd_object_get_name(const amxd_object_t* const object, const uint32_t flags);

uint32_t amxd_object_get_index(const amxd_object_t* const object);   /* 0 for non-instances */
/* The highest index a template ever gave (the next one is above it); 0 for non-templates. */
uint32_t amxd_object_get_last_index(const amxd_object_t* const templ);
/* Raises that counter to `index` (never lowers it), so that a restored tree does not give out
 * again an index its earlier life gave; amxd_status_invalid_value above AMXD_MAX_INDEX,
 * amxd_status_invalid_type for a non-template. */
amxd_status_t amxd_object_raise_last_index(amxd_object_t* const templ, uint32_t index);

/* The full path from the top-level object ("Device.X.AccessControl.1"), instances written by
 * index (AMXD_OBJECT_INDEXED, the default) or by name (AMXD_OBJECT_NAMED), with a trailing "."
 * when AMXD_OBJECT_TERMINATE is given; "" for a root, and a detached tree starts at its top
 * object. Owned by the caller (free()). NULL on error. */
char* amxd_object_get_path(const amxd_object_t* const object, const uint32_t flags);

/* --- private data: one pointer per object, never touched by the data model --- */
void* amxd_object_get_priv(const amxd_object_t* const object);
void amxd_object_set_priv(amxd_object_t* const object, void* priv);

/* --- parameter reads --- */

/* The parameter's current value, borrowed until the parameter is next written (an unwritten
 * parameter reads a value it shares with its template); NULL when the object has no such
 * parameter. */
const amxc_var_t* amxd_object_get_param_value(const amxd_object_t* const object, const char* name);

/* Copies the value into `value`. amxd_status_parameter_not_found when absent. */
amxd_status_t amxd_object_get_param(const amxd_object_t* const object, const char* name, amxc_var_t* const value);

/* All parameters as a table name -> value (copies), in declaration order, through the
 * object's read action when it has one. */
amxd_status_t amxd_object_get_params(const amxd_object_t* const object, amxc_var_t* const params);

/* Typed reads with conversion. The text is OWNED by the caller (free()); NULL when the
 * parameter is absent or cannot be converted. `status` may be NULL. */
char* amxd_object_get_cstring_t(const amxd_object_t* const object, const char* name, amxd_status_t* status);
bool amxd_object_get_bool(const amxd_object_t* const object, const char* name, amxd_status_t* status);
int32_t amxd_object_get_int32_t(const amxd_object_t* const object, const char* name, amxd_status_t* status);
uint32_t amxd_object_get_uint32_t(const amxd_object_t* const object, const char* name, amxd_status_t* status);
int64_t amxd_object_get_int64_t(const amxd_object_t* const object, const char* name, amxd_status_t* status);
uint64_t amxd_object_get_uint64_t(const amxd_object_t* const object, const char* name, amxd_status_t* status);
#define amxd_object_get_value(type, object, name, status) amxd_object_get_ ## type(object, name, status)

/* --- actions ---
 *
 * What an action callback may do: read anything (parameters, paths, private data), change
 * private data, and call the default actions below. It may not change the structure of the
 * tree it runs in: while it runs, amxd_object_delete and amxd_object_add_object on that tree
 * are refused, and so is amxd_trans_apply on its data model (amxd_status_recursion); a
 * transaction that needs to follow from an action is applied later, for example from a
 * deferred call or an event handler. Callbacks run on the loop's thread. */

/* Adds an action callback for `reason` on the object. `data` (may be NULL; a heap variant from
 * amxc_var_new) is TAKEN on success: it is passed as `priv` to the callback and freed with the
 * object; on failure it stays the caller's. On a template, validate, destroy, read and write
 * actions apply to its instances (copied, with a copy of the data, to each instance created
 * afterwards; the template itself keeps none of them), while add_inst and del_inst actions
 * stay on the template. When an object has a callback for a reason, the callback runs instead
 * of the default behaviour; the default actions below let it run that behaviour itself.
 * Several callbacks for one reason run in the order added, until one fails (destroy: all run).
 * Reasons accepted: action_object_read, _write, _validate, _add_inst, _del_inst (templates
 * only, else amxd_status_not_a_template), _destroy; others give amxd_status_invalid_action.
 *
 * What each reason receives and when it runs:
 *   validate  args NULL; after all operations of a transaction, on each object it changed or
 *             added; a failure rolls the whole transaction back. A refusing callback may set
 *             retval to a text saying why; amxd_trans_get_error then ends with it.
 *   destroy   args NULL; when the object is torn down (children first): instances deleted by
 *             a successful transaction, amxd_object_delete, amxd_dm_delete. Not for an
 *             instance whose addition was rolled back (it never existed outside the
 *             transaction), nor for the declared children of a template (definitions).
 *   add_inst  on the template, args {"index": n (0: next free), "name": s}, retval receives the
 *             new index; the default creates the instance.
 *   del_inst  on the template, args {"index": n, "name": s} of the instance to delete.
 *   write     args {parameter: new value} for each parameter a transaction sets; the default
 *             converts, checks read-only and runs the parameter's validate actions.
 *   read      retval receives the table of parameters (amxd_object_get_params). */
amxd_status_t amxd_object_add_action_cb(amxd_object_t* const object, const amxd_action_t reason,
                                        amxd_action_fn_t fn, amxc_var_t* data);

/* What the definition of `object` says, for clients that list a tree. Fills `out` with a
 * table {"kind": "root"|"object"|"table"|"instance", "parameters": [{"name", "type" (the
 * definition language's word), "read-only", "max-length" (only when not the default), "validate"
 * (the data of each validate action, NULL when it has none)}], "functions": [{"name",
 * "return", "arguments": [{"name", "type", "mandatory"}]}]}, in declaration order.
 * amxd_status_invalid_arg for NULL arguments. */
amxd_status_t amxd_object_describe(const amxd_object_t* const object, amxc_var_t* const out);

/* Default add-instance action: inside a running transaction, creates the instance described by
 * args {"index", "name"} under the template `object` (it becomes the transaction's
 * selection) and sets retval (if not NULL) to its index. amxd_status_invalid_action outside a
 * transaction. */
amxd_status_t amxd_action_object_add_inst(amxd_object_t* object, amxd_param_t* param,
                                          amxd_action_t reason, const amxc_var_t* const args,
                                          amxc_var_t* const retval, void* priv);

/* Default delete-instance action: called on a template with args {"index": n} (or {"name": s},
 * which wins when non-empty), marks that instance for removal by the running transaction: it
 * leaves the template at once, and is destroyed when the transaction succeeds or put back
 * when it fails. amxd_status_object_not_found when there is no such instance,
 * amxd_status_invalid_action outside a transaction. */
amxd_status_t amxd_action_object_del_inst(amxd_object_t* object, amxd_param_t* param,
                                          amxd_action_t reason, const amxc_var_t* const args,
                                          amxc_var_t* const retval, void* priv);

/* Default destroy action: nothing to release beyond what the data model frees itself. */
amxd_status_t amxd_action_object_destroy(amxd_object_t* object, amxd_param_t* param,
                                         amxd_action_t reason, const amxc_var_t* const args,
                                         amxc_var_t* const retval, void* priv);

/* Default write action: inside a running transaction, writes each member of the table `args`
 * to the parameter of that name (conversion, read-only check, parameter validate actions).
 * amxd_status_invalid_action outside a transaction. */
amxd_status_t amxd_action_object_write(amxd_object_t* object, amxd_param_t* param,
                                       amxd_action_t reason, const amxc_var_t* const args,
                                       amxc_var_t* const retval, void* priv);

/* Default read action: sets retval to a table of copies of the object's parameters. */
amxd_status_t amxd_action_object_read(amxd_object_t* object, amxd_param_t* param,
                                      amxd_action_t reason, const amxc_var_t* const args,
                                      amxc_var_t* const retval, void* priv);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
