// The C API of objects: building the tree, navigating it, identity, private data, reads,
// actions.
#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "c_boundary.h"
#include "event_data.h"
#include "names.h"
#include "object_tree.h"
#include "path.h"
#include "room.h"
#include "teardown.h"
#include "var_util.h"

using namespace amxd;

namespace {

// The parameter a typed read reads; NULL, with the reason in `result`, when there is none.
const amxd_param_t* param_to_read(const amxd_object_t* object, const char* name, amxd_status_t& result) {
    const amxd_param_t* param = ((object == nullptr) || (name == nullptr)) ? nullptr : find_param(object, name);
    result = param != nullptr ? amxd_status_ok
        : ((object == nullptr) || (name == nullptr)) ? amxd_status_invalid_arg : amxd_status_parameter_not_found;
    return param;
}

// Converts a parameter's value for a typed read; false when absent or not convertible.
bool read_as(const amxd_object_t* object, const char* name, uint32_t type, amxc_var_t* out, amxd_status_t* status) {
    amxd_status_t result = amxd_status_ok;
    const amxd_param_t* param = param_to_read(object, name, result);
    if(param != nullptr) {
        result = convert_var(out, &param->value(), type);
    }
    if(status != nullptr) {
        *status = result;
    }
    return result == amxd_status_ok;
}

template <typename T>
T read_scalar(const amxd_object_t* object, const char* name, uint32_t type, T (*getter)(const amxc_var_t*),
              amxd_status_t* status) {
    ScopedVar value;
    return read_as(object, name, type, value.get(), status) ? getter(value.get()) : T{};
}

} // namespace

extern "C" {

amxd_status_t amxd_object_new(amxd_object_t** object, amxd_object_type_t type, const char* name) {
    if((object == nullptr) || (name == nullptr)) {
        return amxd_status_invalid_arg;
    }
    *object = nullptr;
    if((type != amxd_object_singleton) && (type != amxd_object_template)) {
        return amxd_status_invalid_type;
    }
    if(!is_valid_name(name)) {
        return amxd_status_invalid_name;
    }
    return guard_status([&] {
        *object = new amxd_object_t(type, name);
        return amxd_status_ok;
    });
}

amxd_status_t amxd_object_add_object(amxd_object_t* const parent, amxd_object_t* const child) {
    if((parent == nullptr) || (child == nullptr) || (child->parent != nullptr) ||
       (child->type == amxd_object_root) || (child->type == amxd_object_instance) ||
       (parent->type == amxd_object_invalid) || is_within(parent, child)) {
        return amxd_status_invalid_arg;
    }
    if(is_locked(parent) || is_locked(child)) {
        return amxd_status_recursion;
    }
    if(find_child(parent, child->name) != nullptr) {
        return amxd_status_duplicate;
    }
    return guard_status([&] {
        attach_child(parent, child);
        return amxd_status_ok;
    });
}

void amxd_object_delete(amxd_object_t** object) {
    if((object == nullptr) || (*object == nullptr)) {
        return;
    }
    amxd_object_t* target = *object;
    if((target->type == amxd_object_root) || is_locked(target)) {
        return;
    }
    ObjectPtr owned;
    if(target->parent == nullptr) {
        owned.reset(target);
    } else if(target->removed) {
        return;   // already on its way out with a transaction
    } else if(target->type == amxd_object_instance) {
        owned = std::move(detach_instance(target).node.mapped());
    } else {
        owned = detach_child(target);
    }
    target->removed = target->parent != nullptr;
    *object = nullptr;
    destroy_detached(std::move(owned));
}

amxd_object_t* amxd_object_get_parent(const amxd_object_t* const object) {
    return object == nullptr ? nullptr : object->parent;
}

amxd_object_t* amxd_object_get_root(const amxd_object_t* const object) {
    if(object == nullptr) {
        return nullptr;
    }
    amxd_object_t* top = top_of(object);
    return top->type == amxd_object_root ? top : nullptr;
}

amxd_dm_t* amxd_object_get_dm(const amxd_object_t* const object) {
    return object == nullptr ? nullptr : dm_of(object);
}

amxd_object_t* amxd_object_get_child(const amxd_object_t* const object, const char* name) {
    return ((object == nullptr) || (name == nullptr)) ? nullptr : find_child(object, name);
}

amxd_object_t* amxd_object_get_instance(const amxd_object_t* const templ, const char* name, uint32_t index) {
    if((templ == nullptr) || (templ->type != amxd_object_template)) {
        return nullptr;
    }
    return ((name != nullptr) && (name[0] != '\0')) ? find_instance(templ, name) : find_instance(templ, index);
}

amxd_object_t* amxd_object_get(const amxd_object_t* const object, const char* name) {
    if((object == nullptr) || (name == nullptr) || (std::strchr(name, '.') != nullptr)) {
        return nullptr;
    }
    return lookup_component(object, name);
}

amxd_object_t* amxd_object_findf(const amxd_object_t* const object, const char* rel_path_fmt, ...) {
    if(object == nullptr) {
        return nullptr;
    }
    va_list args;
    va_start(args, rel_path_fmt);
    std::optional<std::string> path = guard_value(std::optional<std::string>(), [&] {
        return format_path(rel_path_fmt, args);
    });
    va_end(args);
    return path ? resolve_path(object, *path) : nullptr;
}

amxd_object_t* amxd_object_first_instance(const amxd_object_t* const templ) {
    if((templ == nullptr) || templ->members().instances.empty()) {
        return nullptr;
    }
    return templ->members().instances.begin()->second.get();
}

amxd_object_t* amxd_object_next_instance(const amxd_object_t* const instance) {
    if((instance == nullptr) || (instance->type != amxd_object_instance) || (instance->parent == nullptr) ||
       instance->removed) {
        return nullptr;
    }
    auto next = std::next(instance->instance_pos);
    return next == instance->parent->members().instances.end() ? nullptr : next->second.get();
}

uint32_t amxd_object_get_instance_count(const amxd_object_t* const templ) {
    return templ == nullptr ? 0 : static_cast<uint32_t>(templ->members().instances.size());
}

amxd_object_t* amxd_object_first_child(const amxd_object_t* const object) {
    if((object == nullptr) || object->members().children.empty()) {
        return nullptr;
    }
    return object->members().children.front().get();
}

amxd_object_t* amxd_object_next_child(const amxd_object_t* const child) {
    if((child == nullptr) || (child->parent == nullptr) || (child->type == amxd_object_instance) || child->removed) {
        return nullptr;
    }
    auto next = std::next(child->child_pos);
    return next == child->parent->members().children.end() ? nullptr : next->get();
}

amxd_object_type_t amxd_object_get_type(const amxd_object_t* const object) {
    return object == nullptr ? amxd_object_invalid : object->type;
}

const char* amxd_object_get_name(const amxd_object_t* const object, const uint32_t flags) {
    return object == nullptr ? nullptr : component_name(object, flags).c_str();
}

uint32_t amxd_object_get_index(const amxd_object_t* const object) {
    return object == nullptr ? 0 : object->index;
}

uint32_t amxd_object_get_last_index(const amxd_object_t* const templ) {
    return (templ == nullptr) || (templ->type != amxd_object_template) ? 0 : templ->members().last_index;
}

amxd_status_t amxd_object_raise_last_index(amxd_object_t* const templ, uint32_t index) {
    if((templ == nullptr) || (templ->type != amxd_object_template)) {
        return amxd_status_invalid_type;
    }
    if(index > AMXD_MAX_INDEX) {
        return amxd_status_invalid_value;
    }
    return guard_status([&] {
        Members& members = templ->own_members();
        members.last_index = std::max(members.last_index, index);
        return amxd_status_ok;
    });
}

char* amxd_object_get_path(const amxd_object_t* const object, const uint32_t flags) {
    if(object == nullptr) {
        return nullptr;
    }
    return guard_value(static_cast<char*>(nullptr), [&] {
        std::string path = object_path(object, flags);
        char* text = static_cast<char*>(std::malloc(path.size() + 1));
        if(text != nullptr) {
            std::memcpy(text, path.c_str(), path.size() + 1);
        }
        return text;
    });
}

void* amxd_object_get_priv(const amxd_object_t* const object) {
    return object == nullptr ? nullptr : object->priv;
}

void amxd_object_set_priv(amxd_object_t* const object, void* priv) {
    if(object != nullptr) {
        object->priv = priv;
    }
}

const amxc_var_t* amxd_object_get_param_value(const amxd_object_t* const object, const char* name) {
    if((object == nullptr) || (name == nullptr)) {
        return nullptr;
    }
    const amxd_param_t* param = find_param(object, name);
    return param == nullptr ? nullptr : &param->value();
}

amxd_status_t amxd_object_get_param(const amxd_object_t* const object, const char* name, amxc_var_t* const value) {
    if((object == nullptr) || (name == nullptr) || (value == nullptr)) {
        return amxd_status_invalid_arg;
    }
    const amxd_param_t* param = find_param(object, name);
    if(param == nullptr) {
        return amxd_status_parameter_not_found;
    }
    return amxc_var_copy(value, &param->value()) == 0 ? amxd_status_ok : amxd_status_out_of_mem;
}

amxd_status_t amxd_object_get_params(const amxd_object_t* const object, amxc_var_t* const params) {
    if((object == nullptr) || (params == nullptr)) {
        return amxd_status_invalid_arg;
    }
    auto* target = const_cast<amxd_object_t*>(object);
    return guard_status([&] {
        std::optional<amxd_status_t> custom =
            run_actions(target->actions, action_object_read, target, nullptr, nullptr, params);
        return custom ? *custom : amxd_action_object_read(target, nullptr, action_object_read, nullptr, params, nullptr);
    });
}

char* amxd_object_get_cstring_t(const amxd_object_t* const object, const char* name, amxd_status_t* status) {
    amxd_status_t result = amxd_status_ok;
    const amxd_param_t* param = param_to_read(object, name, result);
    char* text = nullptr;
    if(param != nullptr) {
        // A text is copied once, straight from the parameter; other types are converted first.
        if(const char* own = amxc_var_constcast(cstring_t, &param->value()); own != nullptr) {
            text = strdup(own);
        } else {
            ScopedVar value;
            result = convert_var(value.get(), &param->value(), AMXC_VAR_ID_CSTRING);
            text = result == amxd_status_ok ? amxc_var_get_cstring_t(value.get()) : nullptr;
        }
        if((result == amxd_status_ok) && (text == nullptr)) {
            result = amxd_status_out_of_mem;
        }
    }
    if(status != nullptr) {
        *status = result;
    }
    return text;
}

bool amxd_object_get_bool(const amxd_object_t* const object, const char* name, amxd_status_t* status) {
    return read_scalar<bool>(object, name, AMXC_VAR_ID_BOOL, amxc_var_get_const_bool, status);
}

int32_t amxd_object_get_int32_t(const amxd_object_t* const object, const char* name, amxd_status_t* status) {
    return read_scalar<int32_t>(object, name, AMXC_VAR_ID_INT32, amxc_var_get_const_int32_t, status);
}

uint32_t amxd_object_get_uint32_t(const amxd_object_t* const object, const char* name, amxd_status_t* status) {
    return read_scalar<uint32_t>(object, name, AMXC_VAR_ID_UINT32, amxc_var_get_const_uint32_t, status);
}

int64_t amxd_object_get_int64_t(const amxd_object_t* const object, const char* name, amxd_status_t* status) {
    return read_scalar<int64_t>(object, name, AMXC_VAR_ID_INT64, amxc_var_get_const_int64_t, status);
}

uint64_t amxd_object_get_uint64_t(const amxd_object_t* const object, const char* name, amxd_status_t* status) {
    return read_scalar<uint64_t>(object, name, AMXC_VAR_ID_UINT64, amxc_var_get_const_uint64_t, status);
}

amxd_status_t amxd_object_add_action_cb(amxd_object_t* const object, const amxd_action_t reason,
                                        amxd_action_fn_t fn, amxc_var_t* data) {
    if((object == nullptr) || (fn == nullptr)) {
        return amxd_status_invalid_arg;
    }
    if(!is_object_action(reason)) {
        return amxd_status_invalid_action;
    }
    const bool for_template = object->type == amxd_object_template;
    if(is_template_own_action(reason) && !for_template) {
        return amxd_status_not_a_template;
    }
    return guard_status([&] {
        ActionList& list =
            (for_template && !is_template_own_action(reason)) ? object->own_members().instance_actions : object->actions;
        reserve_one_more(list);
        list.push_back(Action{reason, fn, VarPtr(data)});   // cannot throw after the reserve
        return amxd_status_ok;
    });
}

} // extern "C"
