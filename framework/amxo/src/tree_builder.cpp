#include "tree_builder.h"

#include <amxd/amxd_function.h>
#include <amxd/amxd_object.h>
#include <amxd/amxd_parameter.h>

namespace amxo {
namespace {

struct ObjectDeleter {
    void operator()(amxd_object_t* o) const { amxd_object_delete(&o); }
};
using ObjectPtr = std::unique_ptr<amxd_object_t, ObjectDeleter>;

struct ParamDeleter {
    void operator()(amxd_param_t* p) const { amxd_param_delete(&p); }
};
using ParamPtr = std::unique_ptr<amxd_param_t, ParamDeleter>;

struct FunctionDeleter {
    void operator()(amxd_function_t* f) const { amxd_function_delete(&f); }
};
using FunctionPtr = std::unique_ptr<amxd_function_t, FunctionDeleter>;

void check(amxd_status_t status, const Location& where, const std::string& what) {
    if (status != amxd_status_ok) {
        fail(where, what + ": " + amxd_status_string(status));
    }
}

void add_param(amxd_object_t* object, PlanParam& plan) {
    amxd_param_t* raw = nullptr;
    check(amxd_param_new(&raw, plan.name.c_str(), plan.type), plan.where, "cannot create parameter '" + plan.name + "'");
    ParamPtr param(raw);
    if (plan.max_length) {
        check(amxd_param_set_max_length(param.get(), *plan.max_length), plan.where, "cannot bound '" + plan.name + "'");
    }
    if (plan.value) {
        check(amxd_param_set_value(param.get(), plan.value.get()), plan.where, "cannot set the default of '" + plan.name + "'");
    }
    const std::pair<amxd_pattr_id_t, bool> attributes[] = {
        {amxd_pattr_read_only, plan.read_only}, {amxd_pattr_persistent, plan.persistent}, {amxd_pattr_key, plan.key}};
    for (const auto& [attribute, wanted] : attributes) {
        if (wanted) {
            check(amxd_param_set_attr(param.get(), attribute, true), plan.where, "cannot set an attribute of '" + plan.name + "'");
        }
    }
    check(amxd_object_add_param(object, param.get()), plan.where, "cannot add parameter '" + plan.name + "'");
    param.release();
}

void add_function(amxd_object_t* object, const PlanFunction& plan) {
    amxd_function_t* raw = nullptr;
    check(amxd_function_new(&raw, plan.name.c_str(), plan.return_type, plan.impl), plan.where,
          "cannot create function '" + plan.name + "'");
    FunctionPtr function(raw);
    for (const PlanArg& arg : plan.args) {
        check(amxd_function_add_arg(function.get(), arg.name.c_str(), arg.type, arg.mandatory), plan.where,
              "cannot declare argument '" + arg.name + "'");
    }
    check(amxd_object_add_function(object, function.get()), plan.where, "cannot add function '" + plan.name + "'");
    function.release();
}

void bind(amxd_object_t* object, PlanAction& action, const std::string& name) {
    check(amxd_object_add_action_cb(object, action.reason, action.fn, action.data.get()), action.where,
          "cannot bind an action of '" + name + "'");
    action.data.release();  // taken by the data model
}

// The destroy action of a singleton runs only when the object itself is deleted, which a
// successful load never does; it is bound at commit so that taking back a failed load never
// calls module code for objects the module has not seen. (A table's destroy action belongs to
// its instances and is bound at once: instances added by %populate need it.)
bool bound_at_commit(const PlanObject& plan, const PlanAction& action) {
    return action.reason == action_object_destroy && !plan.is_template;
}

// Module callbacks are attached once every object of a subtree exists, so a refusal while
// creating leaves no callback on what gets discarded.
void bind_actions(PlanObject& plan, std::vector<std::pair<PlanObject*, PlanAction*>>& deferred) {
    for (PlanAction& action : plan.actions) {
        if (bound_at_commit(plan, action)) {
            deferred.emplace_back(&plan, &action);
        } else {
            bind(plan.built, action, plan.name);
        }
    }
    for (PlanParam& param : plan.params) {
        amxd_param_t* def = amxd_object_get_param_def(plan.built, param.name.c_str());
        for (PlanAction& action : param.actions) {
            check(amxd_param_add_action_cb(def, action.reason, action.fn, action.data.get()), action.where,
                  "cannot bind an action of '" + param.name + "'");
            action.data.release();
        }
    }
    for (auto& child : plan.children) {
        bind_actions(*child, deferred);
    }
}

}  // namespace

TreeBuilder::~TreeBuilder() {
    for (auto it = tops_.rbegin(); it != tops_.rend(); ++it) {
        amxd_object_delete(&it->object);
    }
}

void TreeBuilder::build(PlanObject& root) {
    walk(root);
}

void TreeBuilder::walk(PlanObject& existing) {
    for (auto& child : existing.children) {
        if (child->existing != nullptr) {
            walk(*child);
            continue;
        }
        tops_.reserve(tops_.size() + 1);
        tops_.push_back(Top{existing.built, create(*child), child.get()});
        bind_actions(*child, deferred_);
    }
}

amxd_object_t* TreeBuilder::create(PlanObject& plan) {
    amxd_object_t* raw = nullptr;
    check(amxd_object_new(&raw, plan.is_template ? amxd_object_template : amxd_object_singleton, plan.name.c_str()),
          plan.where, "cannot create object '" + plan.name + "'");
    ObjectPtr object(raw);
    for (PlanParam& param : plan.params) {
        add_param(object.get(), param);
    }
    for (const PlanFunction& function : plan.functions) {
        add_function(object.get(), function);
    }
    for (auto& child : plan.children) {
        ObjectPtr built(create(*child));
        check(amxd_object_add_object(object.get(), built.get()), child->where, "cannot add object '" + child->name + "'");
        built.release();
    }
    plan.built = object.get();
    return object.release();
}

void TreeBuilder::commit() {
    for (auto& [plan, action] : deferred_) {
        bind(plan->built, *action, plan->name);
    }
    deferred_.clear();
    tops_.clear();
}

void TreeBuilder::attach() {
    for (Top& top : tops_) {
        check(amxd_object_add_object(top.parent, top.object), top.plan->where, "cannot add object '" + top.plan->name + "'");
    }
}

}  // namespace amxo
