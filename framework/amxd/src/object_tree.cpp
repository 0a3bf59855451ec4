#include "object_tree.h"

#include <cstring>
#include <utility>

#include "room.h"

_amxd_param::_amxd_param(std::string_view param_name, uint32_t type_id) : def_(std::make_shared<amxd::ParamDef>()) {
    def_->name = param_name;
    def_->type = type_id;
    amxc_var_init(&value);
    amxc_var_set_type(&value, type_id);
}

_amxd_param::_amxd_param(const _amxd_param& model) : def_(model.def_) {
    amxc_var_init(&value);
    if(amxc_var_copy(&value, &model.value) != 0) {
        throw std::bad_alloc();
    }
}

_amxd_param::~_amxd_param() {
    amxc_var_clean(&value);
}

amxd::ParamDef& _amxd_param::own_def() {
    if(def_.use_count() > 1) {
        auto copy = std::make_shared<amxd::ParamDef>();
        copy->name = def_->name;
        copy->type = def_->type;
        copy->read_only = def_->read_only;
        copy->persistent = def_->persistent;
        copy->key = def_->key;
        copy->actions = amxd::copy_actions(def_->actions);
        copy->max_length = def_->max_length;
        // The owner's index views the name of the definition in use; its node is re-keyed in
        // place, which allocates nothing.
        if(owner != nullptr && !owner->params_by_name.empty()) {
            auto node = owner->params_by_name.extract(def_->name);
            if(!node.empty()) {
                node.key() = copy->name;
                owner->params_by_name.insert(std::move(node));
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

// Members are freed children first by the containers themselves; destroy actions ran before.
_amxd_object::~_amxd_object() = default;

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
    auto it = parent->children_by_name.find(name);
    return it == parent->children_by_name.end() ? nullptr : it->second;
}

amxd_object_t* find_instance(const amxd_object_t* templ, uint32_t index) {
    auto it = templ->instances.find(index);
    return it == templ->instances.end() ? nullptr : it->second.get();
}

amxd_object_t* find_instance(const amxd_object_t* templ, std::string_view name) {
    auto it = templ->instances_by_name.find(name);
    return it == templ->instances_by_name.end() ? nullptr : it->second;
}

amxd_param_t* find_param(const amxd_object_t* object, std::string_view name) {
    if(!object->params_by_name.empty()) {
        auto it = object->params_by_name.find(name);
        return it == object->params_by_name.end() ? nullptr : it->second;
    }
    for(const ParamPtr& param : object->params) {
        if(param->name() == name) {
            return param.get();
        }
    }
    return nullptr;
}

amxd_function_t* find_function(const amxd_object_t* object, std::string_view name) {
    auto it = object->functions_by_name.find(name);
    return it == object->functions_by_name.end() ? nullptr : it->second;
}

void attach_child(amxd_object_t* parent, amxd_object_t* child) {
    // Every allocation happens before ownership moves, so a failure leaves `child` the
    // caller's.
    ChildList node;
    node.emplace_back();
    parent->children_by_name.emplace(child->name, child);
    node.front().reset(child);
    parent->children.splice(parent->children.end(), node);
    child->child_pos = std::prev(parent->children.end());
    child->parent = parent;
}

ObjectPtr detach_child(amxd_object_t* child) {
    amxd_object_t* parent = child->parent;
    parent->children_by_name.erase(child->name);
    ObjectPtr owned = std::move(*child->child_pos);
    parent->children.erase(child->child_pos);
    child->child_pos = ChildList::iterator();
    return owned;
}

void attach_instance(amxd_object_t* templ, ObjectPtr instance) {
    amxd_object_t* raw = instance.get();
    NameIndex::iterator name_slot = templ->instances_by_name.end();
    if(!raw->name.empty()) {
        name_slot = templ->instances_by_name.emplace(raw->name, raw).first;
    }
    try {
        raw->instance_pos = templ->instances.emplace(raw->index, std::move(instance)).first;
    } catch(...) {
        if(name_slot != templ->instances_by_name.end()) {
            templ->instances_by_name.erase(name_slot);
        }
        throw;
    }
    raw->parent = templ;
}

DetachedInstance detach_instance(amxd_object_t* instance) {
    amxd_object_t* templ = instance->parent;
    DetachedInstance detached;
    if(!instance->name.empty()) {
        detached.name_node = templ->instances_by_name.extract(instance->name);
    }
    detached.node = templ->instances.extract(instance->instance_pos);
    instance->instance_pos = InstanceMap::iterator();
    return detached;
}

void reattach_instance(amxd_object_t* templ, DetachedInstance&& detached) {
    amxd_object_t* instance = detached.object();
    // Erasing never shrinks the bucket array, so putting the node back needs no allocation.
    if(!detached.name_node.empty()) {
        templ->instances_by_name.insert(std::move(detached.name_node));
    }
    instance->instance_pos = templ->instances.insert(std::move(detached.node)).position;
    instance->parent = templ;
    instance->removed = false;
}

void attach_param(amxd_object_t* object, amxd_param_t* param) {
    reserve_one_more(object->params);
    if(object->params.size() + 1 >= kIndexedParams) {
        try {
            if(object->params_by_name.empty()) {
                for(const ParamPtr& attached : object->params) {
                    object->params_by_name.emplace(attached->name(), attached.get());
                }
            }
            object->params_by_name.emplace(param->name(), param);
        } catch(...) {
            object->params_by_name.clear();  // half an index would hide parameters
            throw;
        }
    }
    object->params.emplace_back(param);
    param->owner = object;
}

void attach_function(amxd_object_t* object, amxd_function_t* func) {
    reserve_one_more(object->functions);
    object->functions_by_name.emplace(func->name, func);
    object->functions.emplace_back(func);
    func->owner = object;
}

} // namespace amxd
