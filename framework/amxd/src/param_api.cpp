// The C API of parameters.
#include "c_boundary.h"
#include "names.h"
#include "object_tree.h"
#include "room.h"
#include "var_util.h"

using namespace amxd;

namespace {
bool is_param_type(uint32_t type) {
    switch(type) {
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
    case AMXC_VAR_ID_BOOL:
    case AMXC_VAR_ID_INT32:
    case AMXC_VAR_ID_UINT32:
    case AMXC_VAR_ID_INT64:
    case AMXC_VAR_ID_UINT64:
        return true;
    default:
        return false;
    }
}
} // namespace

extern "C" {

amxd_status_t amxd_param_new(amxd_param_t** param, const char* name, uint32_t type_id) {
    if((param == nullptr) || (name == nullptr)) {
        return amxd_status_invalid_arg;
    }
    *param = nullptr;
    if(!is_valid_name(name)) {
        return amxd_status_invalid_name;
    }
    if(!is_param_type(type_id)) {
        return amxd_status_invalid_type;
    }
    return guard_status([&] {
        *param = new amxd_param_t(name, type_id);
        return amxd_status_ok;
    });
}

void amxd_param_delete(amxd_param_t** param) {
    // A parameter belongs to its object once added and goes with it.
    if((param == nullptr) || (*param == nullptr) || ((*param)->owner != nullptr)) {
        return;
    }
    delete *param;
    *param = nullptr;
}

amxd_status_t amxd_object_add_param(amxd_object_t* const object, amxd_param_t* const param) {
    if((object == nullptr) || (param == nullptr) || (param->owner != nullptr) || (object->type == amxd_object_root)) {
        return amxd_status_invalid_arg;
    }
    if(find_param(object, param->name()) != nullptr) {
        return amxd_status_duplicate;
    }
    return guard_status([&] {
        attach_param(object, param);
        return amxd_status_ok;
    });
}

amxd_param_t* amxd_object_get_param_def(const amxd_object_t* const object, const char* name) {
    return ((object == nullptr) || (name == nullptr)) ? nullptr : find_param(object, name);
}

const char* amxd_param_get_name(const amxd_param_t* const param) {
    return param == nullptr ? nullptr : param->name().c_str();
}

uint32_t amxd_param_get_type(const amxd_param_t* const param) {
    return param == nullptr ? AMXC_VAR_ID_NULL : param->type();
}

amxd_object_t* amxd_param_get_owner(const amxd_param_t* const param) {
    return param == nullptr ? nullptr : param->owner;
}

amxd_status_t amxd_param_set_value(amxd_param_t* const param, const amxc_var_t* const value) {
    if((param == nullptr) || (value == nullptr)) {
        return amxd_status_invalid_arg;
    }
    amxc_var_t converted;
    amxc_var_init(&converted);
    amxd_status_t status = convert_var(&converted, value, param->type());
    if((status == amxd_status_ok) && !param->fits(&converted)) {
        status = amxd_status_invalid_value;
    }
    if(status != amxd_status_ok) {
        amxc_var_clean(&converted);
        return status;
    }
    status = guard_status([&] {
        param->take_value(&converted);
        return amxd_status_ok;
    });
    amxc_var_clean(&converted);
    return status;
}

const amxc_var_t* amxd_param_get_value(const amxd_param_t* const param) {
    return param == nullptr ? nullptr : &param->value();
}

amxd_status_t amxd_param_set_max_length(amxd_param_t* const param, size_t bytes) {
    if(param == nullptr) {
        return amxd_status_invalid_arg;
    }
    if((param->type() != AMXC_VAR_ID_CSTRING) && (param->type() != AMXC_VAR_ID_CSV_STRING)) {
        return amxd_status_invalid_type;
    }
    if(bytes == param->def().max_length) {
        return amxd_status_ok;
    }
    const std::size_t previous = param->def().max_length;
    return guard_status([&] {
        param->own_def().max_length = bytes;
        if(!param->fits(&param->value())) {
            param->own_def().max_length = previous;
            return amxd_status_invalid_value;
        }
        return amxd_status_ok;
    });
}

amxd_status_t amxd_param_set_attr(amxd_param_t* const param, const amxd_pattr_id_t attr, const bool enable) {
    if(param == nullptr) {
        return amxd_status_invalid_arg;
    }
    bool amxd::ParamDef::*flag = nullptr;
    switch(attr) {
    case amxd_pattr_read_only:
        flag = &amxd::ParamDef::read_only;
        break;
    case amxd_pattr_persistent:
        flag = &amxd::ParamDef::persistent;
        break;
    case amxd_pattr_key:
        flag = &amxd::ParamDef::key;
        break;
    }
    if(flag == nullptr) {
        return amxd_status_invalid_attr;
    }
    if(param->def().*flag == enable) {
        return amxd_status_ok;
    }
    return guard_status([&] {
        param->own_def().*flag = enable;
        return amxd_status_ok;
    });
}

bool amxd_param_is_attr_set(const amxd_param_t* const param, const amxd_pattr_id_t attr) {
    if(param == nullptr) {
        return false;
    }
    switch(attr) {
    case amxd_pattr_read_only:
        return param->def().read_only;
    case amxd_pattr_persistent:
        return param->def().persistent;
    case amxd_pattr_key:
        return param->def().key;
    }
    return false;
}

amxd_status_t amxd_param_add_action_cb(amxd_param_t* const param, const amxd_action_t reason,
                                       amxd_action_fn_t fn, amxc_var_t* data) {
    if((param == nullptr) || (fn == nullptr)) {
        return amxd_status_invalid_arg;
    }
    if(reason != action_param_validate) {
        return amxd_status_invalid_action;
    }
    return guard_status([&] {
        ActionList& actions = param->own_def().actions;
        reserve_one_more(actions);
        actions.push_back(Action{reason, fn, VarPtr(data)});
        return amxd_status_ok;
    });
}

} // extern "C"
