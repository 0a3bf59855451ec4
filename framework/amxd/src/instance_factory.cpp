#include "instance_factory.h"

#include <string>

#include "object_tree.h"
#include "var_util.h"

namespace amxd {

FunctionPtr clone_function(const amxd_function_t& source) {
    auto copy = std::make_unique<amxd_function_t>();
    copy->name = source.name;
    copy->ret_type = source.ret_type;
    copy->impl = source.impl;
    copy->args = source.args;
    return copy;
}

namespace {
// Parameters, functions and child objects, shared by both kinds of copy.
void copy_members(amxd_object_t& target, const amxd_object_t& source) {
    attach_copied_params(&target, &source);
    for(const FunctionPtr& func : source.members().functions) {
        FunctionPtr copy = clone_function(*func);
        attach_function(&target, copy.get());
        copy.release();
    }
    for(const ObjectPtr& child : source.members().children) {
        ObjectPtr copy = clone_tree(*child);
        attach_child(&target, copy.get());
        copy.release();
    }
}

void start_alias_as_name(amxd_object_t& instance) {
    amxd_param_t* alias = find_param(&instance, "Alias");
    if((alias == nullptr) || instance.name.empty()) {
        return;
    }
    ScopedVar name_text;
    if(amxc_var_set_cstring_t(name_text.get(), instance.name.c_str()) != 0) {
        throw std::bad_alloc();
    }
    ScopedVar converted;
    // An Alias of a type that cannot hold the name keeps its default.
    const amxd_status_t status = convert_var(converted.get(), name_text.get(), alias->type());
    if(status == amxd_status_out_of_mem) {
        throw std::bad_alloc();
    }
    if(status == amxd_status_ok) {
        alias->take_value(converted.get());
    }
}
} // namespace

ObjectPtr clone_tree(const amxd_object_t& source) {
    auto copy = std::make_unique<amxd_object_t>(source.type, source.name);
    copy->actions = copy_actions(source.actions);
    if(!source.members().instance_actions.empty()) {
        copy->own_members().instance_actions = copy_actions(source.members().instance_actions);
    }
    copy_members(*copy, source);
    return copy;
}

ObjectPtr make_instance(const amxd_object_t& templ, uint32_t index, std::string_view name) {
    auto instance = std::make_unique<amxd_object_t>(amxd_object_instance, name);
    instance->index = index;
    instance->index_text = std::to_string(index);
    instance->actions = copy_actions(templ.members().instance_actions);
    copy_members(*instance, templ);
    start_alias_as_name(*instance);
    return instance;
}

} // namespace amxd
