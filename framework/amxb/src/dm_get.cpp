// The get reply: matching objects, then their descendants down to the asked depth.
#include <cstdlib>
#include <memory>

#include "dm_ops.h"
#include "path.h"

namespace amxb {

namespace {

using owned_text = std::unique_ptr<char, decltype(&std::free)>;

// Adds `object` (or, for a template, its instances) and `levels` levels below it (-1: all).
// A template is transparent: its instances sit at its own level.
bool collect(amxd_object_t* object, int32_t levels, amxc_var_t* table) {
    if(amxd_object_get_type(object) == amxd_object_template) {
        amxd_object_for_each_instance(instance, object) {
            if(!collect(instance, levels, table)) {
                return false;
            }
        }
        return true;
    }
    const owned_text path(amxd_object_get_path(object, AMXD_OBJECT_INDEXED | AMXD_OBJECT_TERMINATE), &std::free);
    if(path == nullptr) {
        return false;
    }
    amxc_var_t* params = amxc_var_add_new_key_htable(table, path.get());
    if(params == nullptr || amxd_object_get_params(object, params) != amxd_status_ok) {
        return false;
    }
    if(levels == 0) {
        return true;
    }
    amxd_object_for_each_child(child, object) {
        if(!collect(child, levels < 0 ? -1 : levels - 1, table)) {
            return false;
        }
    }
    return true;
}

// A path without trailing dot may name a parameter: {"<object path>.": {name: value}}.
bool get_parameter(amxd_dm_t* dm, const std::string& path, amxc_var_t* table) {
    const std::size_t dot = path.rfind('.');
    if(path.empty() || path.back() == '.' || dot == std::string::npos) {
        return false;
    }
    const std::string name = path.substr(dot + 1);
    amxd_object_t* object = amxd_dm_findf(dm, "%s", path.substr(0, dot).c_str());
    if(object == nullptr || amxd_object_get_type(object) == amxd_object_template) {
        return false;
    }
    const amxc_var_t* value = amxd_object_get_param_value(object, name.c_str());
    if(value == nullptr) {
        return false;
    }
    const owned_text object_path(amxd_object_get_path(object, AMXD_OBJECT_INDEXED | AMXD_OBJECT_TERMINATE), &std::free);
    amxc_var_t* params = object_path == nullptr ? nullptr : amxc_var_add_new_key_htable(table, object_path.get());
    amxc_var_t* copy = params == nullptr ? nullptr : amxc_var_add_new_key(params, name.c_str());
    return copy != nullptr && amxc_var_copy(copy, value) == 0;
}

}  // namespace

Outcome dm_get(amxd_dm_t* dm, const std::string& path, int32_t depth, amxc_var_t* ret) {
    amxc_var_clean(ret);
    if(!path_is_valid(path)) {
        return refusal(amxd_status_invalid_path, path);
    }
    amxc_var_t reply;
    amxc_var_init(&reply);
    amxc_var_set_type(&reply, AMXC_VAR_ID_LIST);
    amxc_var_t* table = amxc_var_add_new_htable(&reply);
    amxd_object_t* object = amxd_dm_findf(dm, "%s", path.c_str());
    Outcome outcome;
    if(table == nullptr) {
        outcome = refusal(amxd_status_out_of_mem, path);
    } else if(object != nullptr && amxd_object_get_type(object) != amxd_object_root) {
        if(!collect(object, depth < 0 ? -1 : depth, table)) {
            outcome = refusal(amxd_status_out_of_mem, path);
        }
    } else if(!get_parameter(dm, path, table)) {
        outcome = refusal(amxd_status_object_not_found, path);
    }
    if(outcome.status == 0) {
        amxc_var_move(ret, &reply);
    }
    amxc_var_clean(&reply);
    return outcome;
}

}  // namespace amxb
