// What an object's definition says, for clients that list the tree: kinds, parameter types,
// access and constraints, methods and their arguments.

#include <amxd/amxd.h>

#include "c_boundary.h"
#include "tree.h"

namespace {

// The definition language's word for a type.
const char* type_word(uint32_t type) {
    switch(type) {
    case AMXC_VAR_ID_CSTRING: return "string";
    case AMXC_VAR_ID_CSV_STRING: return "csv_string";
    case AMXC_VAR_ID_BOOL: return "bool";
    case AMXC_VAR_ID_INT32: return "int32";
    case AMXC_VAR_ID_UINT32: return "uint32";
    case AMXC_VAR_ID_INT64: return "int64";
    case AMXC_VAR_ID_UINT64: return "uint64";
    case AMXC_VAR_ID_HTABLE: return "htable";
    case AMXC_VAR_ID_LIST: return "list";
    case AMXC_VAR_ID_NULL: return "void";
    default: return "variant";
    }
}

const char* kind_word(amxd_object_type_t type) {
    switch(type) {
    case amxd_object_root: return "root";
    case amxd_object_singleton: return "object";
    case amxd_object_template: return "table";
    default: return "instance";
    }
}

void check(const void* added) {
    if(added == nullptr) {
        throw std::bad_alloc();
    }
}

void describe_param(const amxd_param_t& param, amxc_var_t* params) {
    amxc_var_t* entry = amxc_var_add_new_htable(params);
    check(entry);
    check(amxc_var_add_key(cstring_t, entry, "name", param.name().c_str()));
    check(amxc_var_add_key(cstring_t, entry, "type", type_word(param.type())));
    check(amxc_var_add_key(bool, entry, "read-only", param.def().read_only));
    if(param.def().max_length != AMXD_PARAM_MAX_LENGTH &&
       (param.type() == AMXC_VAR_ID_CSTRING || param.type() == AMXC_VAR_ID_CSV_STRING)) {
        check(amxc_var_add_key(uint64_t, entry, "max-length", param.def().max_length));
    }
    // A validate action's data is what the definition gave it ({ min = 0; max = 65535; }).
    amxc_var_t* validators = nullptr;
    for(const amxd::Action& action : param.def().actions) {
        if(action.reason != action_param_validate) {
            continue;
        }
        if(validators == nullptr) {
            validators = amxc_var_add_new_key_list(entry, "validate");
            check(validators);
        }
        amxc_var_t* data = amxc_var_add_new(validators);
        check(data);
        if(action.data && amxc_var_copy(data, action.data.get()) != 0) {
            throw std::bad_alloc();
        }
    }
}

void describe_function(const amxd_function_t& func, amxc_var_t* functions) {
    amxc_var_t* entry = amxc_var_add_new_htable(functions);
    check(entry);
    check(amxc_var_add_key(cstring_t, entry, "name", func.name.c_str()));
    check(amxc_var_add_key(cstring_t, entry, "return", type_word(func.ret_type)));
    amxc_var_t* args = amxc_var_add_new_key_list(entry, "arguments");
    check(args);
    for(const FunctionArg& arg : func.args) {
        amxc_var_t* item = amxc_var_add_new_htable(args);
        check(item);
        check(amxc_var_add_key(cstring_t, item, "name", arg.name.c_str()));
        check(amxc_var_add_key(cstring_t, item, "type", type_word(arg.type)));
        check(amxc_var_add_key(bool, item, "mandatory", arg.mandatory));
    }
}

} // namespace

amxd_status_t amxd_object_describe(const amxd_object_t* const object, amxc_var_t* const out) {
    if((object == nullptr) || (out == nullptr)) {
        return amxd_status_invalid_arg;
    }
    return amxd::guard_status([&] {
        amxd::ScopedVar described;
        amxc_var_set_type(described.get(), AMXC_VAR_ID_HTABLE);
        check(amxc_var_add_key(cstring_t, described.get(), "kind", kind_word(object->type)));
        amxc_var_t* params = amxc_var_add_new_key_list(described.get(), "parameters");
        check(params);
        for(const amxd_param_t* param : object->params) {
            describe_param(*param, params);
        }
        amxc_var_t* functions = amxc_var_add_new_key_list(described.get(), "functions");
        check(functions);
        for(const auto& func : object->members().functions) {
            describe_function(*func, functions);
        }
        amxc_var_move(out, described.get());
        return amxd_status_ok;
    });
}
