// What a load will add to the data model, fully checked: names expanded and valid, types
// known, defaults converted, functions found, filters compiled. Building it afterwards can
// fail only for want of memory, so input errors never leave a half-built tree behind.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <amxd/amxd_types.h>
#include <amxp/amxp_slot.h>

#include "load_error.h"
#include "var.h"

namespace amxo {

struct PlanAction {
    Location where;
    amxd_action_t reason;
    amxd_action_fn_t fn;
    VarPtr data;  // handed to the data model, which passes it as priv
};

struct PlanParam {
    Location where;
    std::string name;
    uint32_t type = AMXC_VAR_ID_CSTRING;
    VarPtr value;  // converted default; NULL keeps the empty value of the type
    bool read_only = false;
    bool persistent = false;
    bool key = false;
    std::optional<std::size_t> max_length;  // of a text value, in bytes
    std::vector<PlanAction> actions;
};

struct PlanArg {
    std::string name;
    uint32_t type;
    bool mandatory;
};

struct PlanFunction {
    Location where;
    std::string name;
    uint32_t return_type;
    amxd_object_fn_t impl;
    std::vector<PlanArg> args;
};

struct PlanEvent {
    Location where;
    std::string event;
    amxp_slot_fn_t fn;
    std::string expression;
};

struct PlanObject {
    Location where;
    std::string name;
    bool is_template = false;
    // An object the data model already holds (the load's root, or an object reopened to add
    // children); NULL for an object this load creates.
    amxd_object_t* existing = nullptr;
    // The object once built (for new objects) or `existing`.
    amxd_object_t* built = nullptr;
    // Pattern prefix of the indexed paths of this object's children (see event_filter.h).
    std::string child_prefix;

    std::vector<PlanParam> params;
    std::vector<PlanFunction> functions;
    std::vector<PlanAction> actions;
    std::vector<PlanEvent> events;
    std::vector<std::unique_ptr<PlanObject>> children;  // in declaration order

    // Indexes for duplicate checks; a definition may hold many thousand siblings.
    std::unordered_map<std::string, PlanObject*> children_by_name;
    std::unordered_set<std::string> param_names;
    std::unordered_set<std::string> function_names;

    PlanObject* find_child(const std::string& child_name) const {
        auto it = children_by_name.find(child_name);
        return it == children_by_name.end() ? nullptr : it->second;
    }

    PlanObject& add_child(std::unique_ptr<PlanObject> child) {
        PlanObject& ref = *child;
        children.push_back(std::move(child));
        children_by_name.emplace(ref.name, &ref);
        return ref;
    }
};

}  // namespace amxo
