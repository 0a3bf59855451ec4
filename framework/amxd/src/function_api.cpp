// The C API of data-model functions.
#include "c_boundary.h"
#include "names.h"
#include "object_tree.h"

using namespace amxd;

namespace {

// Checks and converts the declared arguments in place; undeclared ones pass through.
amxd_status_t prepare_args(const amxd_function_t* func, amxc_var_t* args) {
    for(const FunctionArg& arg : func->args) {
        amxc_var_t* given = amxc_var_get_key(args, arg.name.c_str(), AMXC_VAR_FLAG_DEFAULT);
        if(given == nullptr) {
            if(arg.mandatory) {
                return amxd_status_invalid_function_argument;
            }
            continue;
        }
        if((arg.type == AMXC_VAR_ID_ANY) || (amxc_var_type_of(given) == arg.type)) {
            continue;
        }
        if(amxc_var_cast(given, arg.type) != 0) {
            return amxd_status_invalid_function_argument;
        }
    }
    return amxd_status_ok;
}

} // namespace

extern "C" {

amxd_status_t amxd_function_new(amxd_function_t** func, const char* name, uint32_t ret_type, amxd_object_fn_t impl) {
    if((func == nullptr) || (name == nullptr)) {
        return amxd_status_invalid_arg;
    }
    *func = nullptr;
    if(!is_valid_name(name)) {
        return amxd_status_invalid_name;
    }
    return guard_status([&] {
        auto created = std::make_unique<amxd_function_t>();
        created->name = name;
        created->ret_type = ret_type;
        created->impl = impl;
        *func = created.release();
        return amxd_status_ok;
    });
}

void amxd_function_delete(amxd_function_t** func) {
    // A function belongs to its object once added and goes with it.
    if((func == nullptr) || (*func == nullptr) || ((*func)->owner != nullptr)) {
        return;
    }
    delete *func;
    *func = nullptr;
}

amxd_status_t amxd_function_add_arg(amxd_function_t* const func, const char* name, uint32_t type_id, bool mandatory) {
    if((func == nullptr) || (name == nullptr)) {
        return amxd_status_invalid_arg;
    }
    if(!is_valid_name(name)) {
        return amxd_status_invalid_name;
    }
    if((type_id != AMXC_VAR_ID_ANY) && (amxc_var_get_type_name_from_id(type_id) == nullptr)) {
        return amxd_status_invalid_type;
    }
    for(const FunctionArg& arg : func->args) {
        if(arg.name == name) {
            return amxd_status_duplicate;
        }
    }
    return guard_status([&] {
        func->args.push_back(FunctionArg{name, type_id, mandatory});
        return amxd_status_ok;
    });
}

amxd_status_t amxd_object_add_function(amxd_object_t* const object, amxd_function_t* const func) {
    if((object == nullptr) || (func == nullptr) || (func->owner != nullptr) || (object->type == amxd_object_root)) {
        return amxd_status_invalid_arg;
    }
    if(find_function(object, func->name) != nullptr) {
        return amxd_status_duplicate;
    }
    return guard_status([&] {
        attach_function(object, func);
        return amxd_status_ok;
    });
}

amxd_function_t* amxd_object_get_function(const amxd_object_t* const object, const char* name) {
    return ((object == nullptr) || (name == nullptr)) ? nullptr : find_function(object, name);
}

const char* amxd_function_get_name(const amxd_function_t* const func) {
    return func == nullptr ? nullptr : func->name.c_str();
}

amxd_object_t* amxd_function_get_owner(const amxd_function_t* const func) {
    return func == nullptr ? nullptr : func->owner;
}

amxd_status_t amxd_object_invoke_function(amxd_object_t* const object, const char* func_name,
                                          amxc_var_t* const args, amxc_var_t* const ret) {
    if((object == nullptr) || (func_name == nullptr)) {
        return amxd_status_invalid_arg;
    }
    amxd_function_t* func = find_function(object, func_name);
    if(func == nullptr) {
        return amxd_status_function_not_found;
    }
    if(func->impl == nullptr) {
        return amxd_status_function_not_implemented;
    }
    if((args != nullptr) && (amxc_var_type_of(args) != AMXC_VAR_ID_HTABLE)) {
        return amxd_status_invalid_function_argument;
    }
    return guard_status([&] {
        ScopedVar no_args;
        ScopedVar no_ret;
        amxc_var_t* call_args = args;
        if(call_args == nullptr) {
            call_args = no_args.get();
            amxc_var_set_type(call_args, AMXC_VAR_ID_HTABLE);
        }
        amxd_status_t status = prepare_args(func, call_args);
        if(status != amxd_status_ok) {
            return status;
        }
        return func->impl(object, func, call_args, ret != nullptr ? ret : no_ret.get());
    });
}

} // extern "C"
