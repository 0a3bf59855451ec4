// Action callbacks attached to objects and parameters, and how they are run.
#pragma once

#include <optional>
#include <vector>

#include <amxd/amxd_types.h>

#include "var_util.h"

namespace amxd {

struct Action {
    amxd_action_t reason;
    amxd_action_fn_t fn;
    VarPtr data;   // passed as priv; owned here
};

using ActionList = std::vector<Action>;

// A deep copy (the data of each action is copied); throws std::bad_alloc.
ActionList copy_actions(const ActionList& src);

bool has_action(const ActionList& list, amxd_action_t reason);

// Calls the callbacks registered for `reason` in the order they were added and stops at the
// first that does not return amxd_status_ok (unless `stop_at_failure` is false: then all run
// and the first failure is returned). nullopt when none is registered: the caller then
// runs the default behaviour. The tree holding `object` is locked while the callbacks run, so
// that they cannot delete objects or apply transactions on it.
std::optional<amxd_status_t> run_actions(const ActionList& list, amxd_action_t reason,
                                         amxd_object_t* object, amxd_param_t* param,
                                         const amxc_var_t* args, amxc_var_t* retval,
                                         bool stop_at_failure = true);

// Object actions accepted by amxd_object_add_action_cb, and whether a template keeps them for
// itself (add_inst, del_inst) or hands them to its instances.
bool is_object_action(amxd_action_t reason);
bool is_template_own_action(amxd_action_t reason);

} // namespace amxd
