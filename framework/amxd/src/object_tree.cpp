#include "object_tree.h"

#include <cstring>
#include <utility>

#include "room.h"

namespace amxd {
ParamDef::ParamDef(uint32_t type_id) : type(type_id) {
    amxc_var_init(&initial);
    amxc_var_set_type(&initial, type_id);   // an empty value needs no memory
}

ParamDef::~ParamDef() {
    amxc_var_clean(&initial);
}
} // namespace amxd

_amxd_param::_amxd_param(std::string_view param_name, uint32_t type_id) : def_(new amxd::ParamDef(type_id)) {
    def_->name = param_name;
}

_amxd_param::_amxd_param(const _amxd_param& model) : def_(model.def_) {
    int order = 0;
    // A value equal to the initial one is shared with the definition rather than copied.
    if(model.own_ && ((amxc_var_compare(model.own_.get(), &def_->initial, &order) != 0) || (order != 0))) {
        own_ = amxd::copy_var(model.own_.get());
    }
}

_amxd_param::~_amxd_param() = default;

void _amxd_param::take_value(amxc_var_t* converted) {
    if(!own_) {
        own_ = amxd::new_var();  // the initial value would only be overwritten
    }
    amxc_var_move(own_.get(), converted);
}

amxd::ParamDef& _amxd_param::own_def() {
    if(def_->use_count() > 1) {
        boost::intrusive_ptr<amxd::ParamDef> copy(new amxd::ParamDef(def_->type));
        copy->name = def_->name;
        copy->read_only = def_->read_only;
        copy->persistent = def_->persistent;
        copy->key = def_->key;
        copy->actions = amxd::copy_actions(def_->actions);
        copy->max_length = def_->max_length;
        // The owner's index views the name of the definition in use; its node is re-keyed in
        // place, which allocates nothing.
        if(owner != nullptr && !owner->members().params_by_name.empty()) {
            auto& index = owner->own_members().params_by_name;
            auto node = index.extract(def_->name);
            if(!node.empty()) {
                node.key() = copy->name;
                index.insert(std::move(node));
            }
        }
        def_ = std::move(copy);
    }
    return *def_;
}

bool _amxd_param::fits(const amxc_var_t* converted) const {
    const bool text = (type() == AMXC_VAR_ID_CSTRING) || (type() == AMXC_VAR_ID_CSV_STRING);
    const char* chars = text ? amxc_var_constcast(cstring_t, converted) : nullptr;
    return (chars == nullptr) || (std::strlen(chars) <= def_->max_length);
}

_amxd_object::_amxd_object(amxd_object_type_t object_type, std::string_view object_name) :
    type(object_type), name(object_name) {
}

// Members are freed by the containers themselves; destroy actions ran before.
_amxd_object::~_amxd_object() = default;

const amxd::Members _amxd_object::no_members;

amxd::Members& _amxd_object::own_members() {
    if(!more_) {
        more_ = std::make_unique<amxd::Members>();
    }
    return *more_;
}

namespace amxd {

amxd_object_t* top_of(const amxd_object_t* object) {
    while(object->parent != nullptr) {
        object = object->parent;
    }
    return const_cast<amxd_object_t*>(object);
}

amxd_dm_t* dm_of(const amxd_object_t* object) {
    while(object->parent != nullptr) {
        if(object->removed) {
            return nullptr;
        }
        object = object->parent;
    }
    return object->dm;
}

bool is_locked(const amxd_object_t* object) {
    return top_of(object)->busy > 0;
}

bool is_blueprint(const amxd_object_t* object) {
    for(; object->parent != nullptr; object = object->parent) {
        if((object->type != amxd_object_instance) && (object->parent->type == amxd_object_template)) {
            return true;
        }
    }
    return false;
}

bool is_within(const amxd_object_t* object, const amxd_object_t* ancestor) {
    for(; object != nullptr; object = object->parent) {
        if(object == ancestor) {
            return true;
        }
    }
    return false;
}

amxd_object_t* find_child(const amxd_object_t* parent, std::string_view name) {
    const NameIndex& children = parent->members().children_by_name;
    auto it = children.find(name);
    return it == children.end() ? nullptr : it->second;
}

amxd_object_t* find_instance(const amxd_object_t* templ, uint32_t index) {
    const InstanceMap& instances = templ->members().instances;
    auto it = instances.find(index);
    return it == instances.end() ? nullptr : it->second.get();
}

amxd_object_t* find_instance(const amxd_object_t* templ, std::string_view name) {
    const NameIndex& instances = templ->members().instances_by_name;
    auto it = instances.find(name);
    return it == instances.end() ? nullptr : it->second;
}

amxd_param_t* find_param(const amxd_object_t* object, std::string_view name) {
    const auto& index = object->members().params_by_name;
    if(!index.empty()) {
        auto it = index.find(name);
        return it == index.end() ? nullptr : it->second;
    }
    for(amxd_param_t* param : object->params) {
        if(param->name() == name) {
            return param;
        }
    }
    return nullptr;
}

amxd_function_t* find_function(const amxd_object_t* object, std::string_view name) {
    const auto& functions = object->members().functions_by_name;
    auto it = functions.find(name);
    return it == functions.end() ? nullptr : it->second;
}

void attach_child(amxd_object_t* parent, amxd_object_t* child) {
    // Every allocation happens before ownership moves, so a failure leaves `child` the
    // caller's.
    ChildList node;
    node.emplace_back();
    Members& members = parent->own_members();
    members.children_by_name.emplace(child->name, child);
    node.front().reset(child);
    members.children.splice(members.children.end(), node);
    child->child_pos = std::prev(members.children.end());
    child->parent = parent;
}

ObjectPtr detach_child(amxd_object_t* child) {
    amxd_object_t* parent = child->parent;
    Members& members = parent->own_members();
    members.children_by_name.erase(child->name);
    ObjectPtr owned = std::move(*child->child_pos);
    members.children.erase(child->child_pos);
    child->child_pos = ChildList::iterator();
    return owned;
}

void attach_instance(amxd_object_t* templ, ObjectPtr instance) {
    amxd_object_t* raw = instance.get();
    Members& members = templ->own_members();
    NameIndex::iterator name_slot = members.instances_by_name.end();
    if(!raw->name.empty()) {
        name_slot = members.instances_by_name.emplace(raw->name, raw).first;
    }
    try {
        raw->instance_pos = members.instances.emplace(raw->index, std::move(instance)).first;
    } catch(...) {
        if(name_slot != members.instances_by_name.end()) {
            members.instances_by_name.erase(name_slot);
        }
        throw;
    }
    raw->parent = templ;
}

DetachedInstance detach_instance(amxd_object_t* instance) {
    amxd_object_t* templ = instance->parent;
    DetachedInstance detached;
    Members& members = templ->own_members();
    if(!instance->name.empty()) {
        detached.name_node = members.instances_by_name.extract(instance->name);
    }
    detached.node = members.instances.extract(instance->instance_pos);
    instance->instance_pos = InstanceMap::iterator();
    return detached;
}

void reattach_instance(amxd_object_t* templ, DetachedInstance&& detached) {
    amxd_object_t* instance = detached.object();
    // Erasing never shrinks the bucket array, so putting the node back needs no allocation.
    Members& members = templ->own_members();   // held the instance before: there already
    if(!detached.name_node.empty()) {
        members.instances_by_name.insert(std::move(detached.name_node));
    }
    instance->instance_pos = members.instances.insert(std::move(detached.node)).position;
    instance->parent = templ;
    instance->removed = false;
}

namespace {
// An object of kIndexedParams parameters or more looks them up through its index, which then
// holds every one of them; `more` is added too.
void index_params(amxd_object_t* object, amxd_param_t* more = nullptr) {
    auto& index = object->own_members().params_by_name;
    try {
        if(index.empty()) {
            for(amxd_param_t* param : object->params) {
                index.emplace(param->name(), param);
            }
        }
        if(more != nullptr) {
            index.emplace(more->name(), more);
        }
    } catch(...) {
        index.clear();  // half an index would hide parameters
        throw;
    }
}
} // namespace

void attach_param(amxd_object_t* object, amxd_param_t* param) {
    object->params.reserve_one_more();
    if(object->params.size() + 1 >= kIndexedParams) {
        index_params(object, param);
    }
    object->params.add(param);
    param->owner = object;
}

void attach_copied_params(amxd_object_t* object, const amxd_object_t* model) {
    object->params.copy_of(model->params);
    for(amxd_param_t* param : object->params) {
        param->owner = object;
    }
    if(object->params.size() >= kIndexedParams) {
        index_params(object);
    }
}

void attach_function(amxd_object_t* object, amxd_function_t* func) {
    Members& members = object->own_members();
    reserve_one_more(members.functions);
    members.functions_by_name.emplace(func->name, func);
    members.functions.emplace_back(func);
    func->owner = object;
}

} // namespace amxd
