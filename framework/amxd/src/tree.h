// The nodes of a data model: objects, parameters, functions, and the data model itself.
// Everything here is reached through the opaque C handles of amxd_types.h.
#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <boost/smart_ptr/intrusive_ptr.hpp>
#include <boost/smart_ptr/intrusive_ref_counter.hpp>

#include <amxd/amxd.h>

#include "actions.h"
#include "param_list.h"
#include "var_util.h"

namespace amxd {
class ApplyContext;
class EventQueue;
}

namespace amxd {
// What a template's parameter and the same parameter of each of its instances have in common:
// shared by them until one of them changes it, so that an instance pays for its values only.
// Counted in place: each parameter of each instance holds one pointer to it, not two.
struct ParamDef : boost::intrusive_ref_counter<ParamDef, boost::thread_unsafe_counter> {
    explicit ParamDef(uint32_t type_id);
    ~ParamDef();
    ParamDef(const ParamDef&) = delete;
    ParamDef& operator=(const ParamDef&) = delete;

    std::string name;
    const uint32_t type;
    // The empty value of `type`: what each parameter sharing the definition holds until it is
    // written, so that the unwritten parameters of a large table hold no value of their own.
    amxc_var_t initial;
    bool read_only = false;
    bool persistent = false;
    bool key = false;
    ActionList actions;
    std::size_t max_length = AMXD_PARAM_MAX_LENGTH;  // of a text value, in bytes
};
} // namespace amxd

struct _amxd_param {
    _amxd_param(std::string_view param_name, uint32_t type_id);
    // A parameter sharing the definition of `model`, holding a copy of its value.
    explicit _amxd_param(const _amxd_param& model);
    ~_amxd_param();
    _amxd_param& operator=(const _amxd_param&) = delete;

    const std::string& name() const { return def_->name; }
    uint32_t type() const { return def_->type; }
    const amxd::ParamDef& def() const { return *def_; }
    // The definition to change: this parameter's own from now on, the others sharing it keep
    // theirs. Throws std::bad_alloc.
    amxd::ParamDef& own_def();

    // Whether a value already converted to `type` is within max_length.
    bool fits(const amxc_var_t* converted) const;

    // The value, always of `type`.
    const amxc_var_t& value() const { return own_ ? *own_ : def_->initial; }
    // Moves `converted`, already of `type`, in as the value, the parameter's own from its first
    // write on (the variant stays where it is afterwards). Throws std::bad_alloc.
    void take_value(amxc_var_t* converted);
    bool has_own_value() const { return own_ != nullptr; }
    // Back to the definition's initial value; allocates nothing.
    void drop_own_value() { own_.reset(); }

    amxd_object_t* owner = nullptr;

private:
    boost::intrusive_ptr<amxd::ParamDef> def_;
    amxd::VarPtr own_;                 // null while the value is the definition's initial one
};

amxd_param_t* amxd::ParamList::at(std::size_t index) const {
    return index < block_size_ ? block_ + index : single_[index - block_size_].get();
}

struct FunctionArg {
    std::string name;
    uint32_t type;
    bool mandatory;
};

struct _amxd_function {
    std::string name;
    uint32_t ret_type = AMXC_VAR_ID_NULL;
    amxd_object_fn_t impl = nullptr;
    std::vector<FunctionArg> args;
    amxd_object_t* owner = nullptr;
};

namespace amxd {
using ObjectPtr = std::unique_ptr<amxd_object_t>;
using FunctionPtr = std::unique_ptr<amxd_function_t>;
using ChildList = std::list<ObjectPtr>;
using InstanceMap = std::map<uint32_t, ObjectPtr>;
// Keys view the names held by the objects themselves, which never change once attached.
using NameIndex = std::unordered_map<std::string_view, amxd_object_t*>;
constexpr std::size_t kIndexedParams = 16;

// What only an object that holds others needs: children, instances, functions, the index of a
// long parameter list, the actions given to new instances. The instances of a leaf table (most
// objects of a large data model) never do, and keep a null pointer instead of some 350 bytes
// of empty containers.
struct Members {
    ChildList children;                  // singletons and templates, declaration order
    NameIndex children_by_name;

    InstanceMap instances;               // templates only, index order
    NameIndex instances_by_name;
    uint32_t last_index = 0;             // highest index ever given by this template

    // Only for objects of at least kIndexedParams parameters: below that a look through
    // `params` is as quick.
    std::unordered_map<std::string_view, amxd_param_t*> params_by_name;

    std::vector<FunctionPtr> functions;
    std::unordered_map<std::string_view, amxd_function_t*> functions_by_name;

    ActionList instance_actions;         // templates: given to each new instance
};
} // namespace amxd

struct _amxd_object {
    _amxd_object(amxd_object_type_t object_type, std::string_view object_name);
    ~_amxd_object();
    _amxd_object(const _amxd_object&) = delete;
    _amxd_object& operator=(const _amxd_object&) = delete;

    amxd_object_type_t type;
    std::string name;                 // an instance's optional name ("" when it has none)
    uint32_t index = 0;               // instances only
    std::string index_text;           // instances only: index as text, for borrowed names
    amxd_object_t* parent = nullptr;
    amxd_dm_t* dm = nullptr;          // set on a data model's root only
    void* priv = nullptr;

    // Set on the top of a tree (a data model's root or a detached object) while actions,
    // a transaction or a teardown run in it: structural changes are refused meanwhile.
    int busy = 0;
    // An instance taken out of its template by a running transaction, until it is destroyed
    // or put back.
    bool removed = false;

    amxd::ChildList::iterator child_pos;       // this object's place in parent->children
    amxd::InstanceMap::iterator instance_pos;  // this instance's place in parent->instances

    amxd::ParamList params;                    // declaration order
    amxd::ActionList actions;                  // run on this object

    // Reading: empty containers when the object never held anything.
    const amxd::Members& members() const { return more_ ? *more_ : no_members; }
    // Changing: made on first need. Throws std::bad_alloc.
    amxd::Members& own_members();

private:
    static const amxd::Members no_members;
    std::unique_ptr<amxd::Members> more_;      // last: freed first, children before the rest
};

struct _amxd_dm {
    _amxd_dm();
    ~_amxd_dm();
    _amxd_dm(const _amxd_dm&) = delete;
    _amxd_dm& operator=(const _amxd_dm&) = delete;

    amxd::ObjectPtr root;
    amxp_signal_mngr_t* sigmngr = nullptr;
    std::unique_ptr<amxd::EventQueue> events;
    amxd::ApplyContext* apply = nullptr;       // the transaction being applied, if any
    amxd_index_hook_fn_t index_hook = nullptr;  // picks indices of "next index" additions
    void* index_hook_priv = nullptr;
};
