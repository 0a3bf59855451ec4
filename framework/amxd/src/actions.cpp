#include "actions.h"

#include "object_tree.h"

namespace amxd {

ActionList copy_actions(const ActionList& src) {
    ActionList copy;
    copy.reserve(src.size());
    for(const Action& action : src) {
        copy.push_back(Action{action.reason, action.fn, action.data ? copy_var(action.data.get()) : nullptr});
    }
    return copy;
}

bool has_action(const ActionList& list, amxd_action_t reason) {
    for(const Action& action : list) {
        if(action.reason == reason) {
            return true;
        }
    }
    return false;
}

std::optional<amxd_status_t> run_actions(const ActionList& list, amxd_action_t reason,
                                         amxd_object_t* object, amxd_param_t* param,
                                         const amxc_var_t* args, amxc_var_t* retval,
                                         bool stop_at_failure) {
    if(!has_action(list, reason)) {
        return std::nullopt;
    }
    TreeLock lock(object);
    amxd_status_t result = amxd_status_ok;
    // Indexes, not iterators: a callback may add actions to this very list.
    for(std::size_t i = 0; i < list.size(); ++i) {
        if(list[i].reason != reason) {
            continue;
        }
        amxd_action_fn_t fn = list[i].fn;
        void* priv = list[i].data.get();
        amxd_status_t status = fn(object, param, reason, args, retval, priv);
        if((status != amxd_status_ok) && (result == amxd_status_ok)) {
            result = status;
            if(stop_at_failure) {
                break;
            }
        }
    }
    return result;
}

bool is_object_action(amxd_action_t reason) {
    switch(reason) {
    case action_object_read:
    case action_object_write:
    case action_object_validate:
    case action_object_add_inst:
    case action_object_del_inst:
    case action_object_destroy:
        return true;
    default:
        return false;
    }
}

bool is_template_own_action(amxd_action_t reason) {
    return (reason == action_object_add_inst) || (reason == action_object_del_inst);
}

} // namespace amxd
