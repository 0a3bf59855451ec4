// The behaviour an object has for a reason when no callback replaces it. Callbacks that
// replace one can still call it, usually as their last step.
#include <string_view>

#include "apply_context.h"
#include "c_boundary.h"
#include "event_data.h"
#include "object_tree.h"

using namespace amxd;

namespace {
std::string_view name_arg(const amxc_var_t* args) {
    const char* name = amxc_var_get_const_cstring_t(amxc_var_get_key(args, "name", AMXC_VAR_FLAG_DEFAULT));
    return name == nullptr ? std::string_view() : std::string_view(name);
}

uint32_t index_arg(const amxc_var_t* args) {
    return amxc_var_get_uint32_t(amxc_var_get_key(args, "index", AMXC_VAR_FLAG_DEFAULT));
}
} // namespace

extern "C" {

amxd_status_t amxd_action_object_add_inst(amxd_object_t* object, amxd_param_t* /*param*/,
                                          amxd_action_t /*reason*/, const amxc_var_t* const args,
                                          amxc_var_t* const retval, void* /*priv*/) {
    return guard_status([&] {
        ApplyContext* apply = object == nullptr ? nullptr : running_apply(object);
        if(apply == nullptr) {
            return amxd_status_invalid_action;
        }
        amxd_status_t status = apply->create_instance(object, index_arg(args), name_arg(args));
        if((status == amxd_status_ok) && (retval != nullptr)) {
            amxc_var_set_uint32_t(retval, apply->last_added()->index);
        }
        return status;
    });
}

amxd_status_t amxd_action_object_del_inst(amxd_object_t* object, amxd_param_t* /*param*/,
                                          amxd_action_t /*reason*/, const amxc_var_t* const args,
                                          amxc_var_t* const /*retval*/, void* /*priv*/) {
    return guard_status([&] {
        ApplyContext* apply = object == nullptr ? nullptr : running_apply(object);
        if(apply == nullptr) {
            return amxd_status_invalid_action;
        }
        return apply->remove_instance(object, index_arg(args), name_arg(args));
    });
}

amxd_status_t amxd_action_object_write(amxd_object_t* object, amxd_param_t* /*param*/,
                                       amxd_action_t /*reason*/, const amxc_var_t* const args,
                                       amxc_var_t* const /*retval*/, void* /*priv*/) {
    return guard_status([&] {
        ApplyContext* apply = object == nullptr ? nullptr : running_apply(object);
        if(apply == nullptr) {
            return amxd_status_invalid_action;
        }
        if(amxc_var_type_of(args) != AMXC_VAR_ID_HTABLE) {
            return amxd_status_invalid_arg;
        }
        amxc_var_for_each(value, args) {
            amxd_param_t* param = find_param(object, amxc_var_key(value));
            if(param == nullptr) {
                return amxd_status_parameter_not_found;
            }
            amxd_status_t status = apply->write_param(object, param, value);
            if(status != amxd_status_ok) {
                return status;
            }
        }
        return amxd_status_ok;
    });
}

amxd_status_t amxd_action_object_read(amxd_object_t* object, amxd_param_t* /*param*/,
                                      amxd_action_t /*reason*/, const amxc_var_t* const /*args*/,
                                      amxc_var_t* const retval, void* /*priv*/) {
    return guard_status([&] {
        if((object == nullptr) || (retval == nullptr)) {
            return amxd_status_invalid_arg;
        }
        ScopedVar params;
        if(amxc_var_set_type(params.get(), AMXC_VAR_ID_HTABLE) != 0) {
            return amxd_status_out_of_mem;
        }
        copy_params_into(params.get(), object);
        amxc_var_move(retval, params.get());
        return amxd_status_ok;
    });
}

amxd_status_t amxd_action_object_destroy(amxd_object_t* /*object*/, amxd_param_t* /*param*/,
                                         amxd_action_t /*reason*/, const amxc_var_t* const /*args*/,
                                         amxc_var_t* const /*retval*/, void* /*priv*/) {
    return amxd_status_ok;
}

} // extern "C"
