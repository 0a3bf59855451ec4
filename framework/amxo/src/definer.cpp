#include "definer.h"

#include <charconv>
#include <unordered_set>

#include <amxd/amxd_object.h>
#include <amxd/amxd_parameter.h>
#include <amxp/amxp_expr.h>

#include "event_filter.h"
#include "limits.h"
#include "literal.h"
#include "vocabulary.h"

namespace amxo {
namespace {

std::string quoted(std::string_view name) {
    return "'" + std::string(name) + "'";
}

template <typename Fn>
Fn as_function(void* address) {
    return reinterpret_cast<Fn>(address);
}

}  // namespace

void Definer::add(const DefineSection& section) {
    declare_block(root_, section.objects);
}

std::string Definer::name_of(const Text& text, const Location& where, std::string_view what) {
    std::string name = resolver_.config().expand(text, where);
    if (!is_valid_name(name)) {
        fail(where, "invalid " + std::string(what) + " name " + quoted(name));
    }
    return name;
}

// Names repeat within one block only by mistake; a later block (another section, another
// file, another load) may declare an existing object again to add children to it.
void Definer::declare_block(PlanObject& parent, const std::vector<ObjectDecl>& decls) {
    std::unordered_set<std::string> in_block;
    for (const ObjectDecl& decl : decls) {
        std::string name = name_of(decl.name, decl.where, "object");
        if (!in_block.insert(name).second) {
            fail(decl.where, "duplicate object " + quoted(name));
        }
        declare(parent, decl, name);
    }
}

void Definer::declare(PlanObject& parent, const ObjectDecl& decl, const std::string& name) {
    if (parent.param_names.count(name) != 0 ||
        (parent.existing != nullptr && amxd_object_get_param_def(parent.existing, name.c_str()) != nullptr)) {
        fail(decl.where, "object " + quoted(name) + " has the name of a parameter");
    }
    PlanObject* target = parent.find_child(name);
    if (target == nullptr && parent.existing != nullptr) {
        if (amxd_object_t* live = amxd_object_get_child(parent.existing, name.c_str())) {
            if (amxd_object_get_type(live) != amxd_object_singleton) {
                fail(decl.where, "object " + quoted(name) + " already exists");
            }
            auto reopened = std::make_unique<PlanObject>();
            reopened->where = decl.where;
            reopened->name = name;
            reopened->existing = live;
            reopened->built = live;
            reopened->child_prefix = child_prefix_of(parent.child_prefix, name, false);
            target = &parent.add_child(std::move(reopened));
        }
    }
    if (target != nullptr) {
        if (decl.is_template || target->is_template) {
            fail(decl.where, "object " + quoted(name) + " already exists");
        }
        if (!decl.params.empty() || !decl.functions.empty() || !decl.actions.empty() || !decl.events.empty()) {
            fail(decl.where, "object " + quoted(name) + " already exists; declaring it again may only add child objects");
        }
        declare_block(*target, decl.children);
        return;
    }
    auto created = std::make_unique<PlanObject>();
    created->where = decl.where;
    created->name = name;
    created->is_template = decl.is_template;
    created->child_prefix = child_prefix_of(parent.child_prefix, name, decl.is_template);
    PlanObject& object = parent.add_child(std::move(created));
    fill(object, decl);
    for (const EventBinding& binding : decl.events) {
        object.events.push_back(event(parent, object, binding));
    }
    declare_block(object, decl.children);
}

void Definer::fill(PlanObject& object, const ObjectDecl& decl) {
    for (const ParamDecl& p : decl.params) {
        object.params.push_back(param(object, p));
    }
    for (const FunctionDecl& f : decl.functions) {
        object.functions.push_back(function(object, f));
    }
    for (const ActionBinding& a : decl.actions) {
        object.actions.push_back(object_action(object, a));
    }
}

PlanParam Definer::param(PlanObject& object, const ParamDecl& decl) {
    PlanParam p;
    p.where = decl.where;
    p.name = name_of(decl.name, decl.where, "parameter");
    if (!object.param_names.insert(p.name).second) {
        fail(decl.where, "duplicate parameter " + quoted(p.name));
    }
    const auto type = parameter_type(decl.type);
    if (!type) {
        fail(decl.where, "unknown type " + quoted(decl.type));
    }
    p.type = *type;
    for (const std::string& attribute : decl.attributes) {
        if (attribute == "read-only") {
            p.read_only = true;
        } else if (attribute == "persistent") {
            p.persistent = true;
        } else if (attribute == "key") {
            p.key = true;
        } else {
            fail(decl.where, "unknown parameter attribute '%" + attribute + "'");
        }
    }
    if (decl.max_length) {
        p.max_length = max_length(p, *decl.max_length);
    }
    if (decl.value) {
        const Value& literal = *decl.value;
        if (literal.kind == Value::Kind::List || literal.kind == Value::Kind::Table) {
            fail(literal.where, "the default of " + quoted(p.name) + " must be a text, a number or a boolean");
        }
        VarPtr raw = literal_to_var(literal, resolver_.config());
        p.value = new_var();
        if (amxc_var_convert(p.value.get(), raw.get(), p.type) != 0) {
            fail(literal.where, "default " + describe_literal(literal, resolver_.config()) + " of " + quoted(p.name) +
                                    " is not a valid " + decl.type);
        }
    }
    for (const ActionBinding& binding : decl.actions) {
        p.actions.push_back(parameter_action(p, binding));
    }
    return p;
}

std::size_t Definer::max_length(const PlanParam& param, const Value& bound) {
    if (param.type != AMXC_VAR_ID_CSTRING && param.type != AMXC_VAR_ID_CSV_STRING) {
        fail(bound.where, "max-length applies to text parameters, not to " + quoted(param.name));
    }
    std::size_t bytes = 0;
    const std::string& text = bound.integer;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bytes);
    if (bound.kind != Value::Kind::Integer || error != std::errc() || end != text.data() + text.size()) {
        fail(bound.where, "max-length of " + quoted(param.name) + " must be a number of bytes");
    }
    return bytes;
}

PlanFunction Definer::function(PlanObject& object, const FunctionDecl& decl) {
    PlanFunction f;
    f.where = decl.where;
    f.name = decl.name;
    if (!object.function_names.insert(f.name).second) {
        fail(decl.where, "duplicate function " + quoted(f.name));
    }
    const auto ret = return_type(decl.return_type);
    if (!ret) {
        fail(decl.where, "unknown type " + quoted(decl.return_type));
    }
    f.return_type = *ret;
    std::unordered_set<std::string> arg_names;
    for (const ArgDecl& a : decl.args) {
        const auto type = argument_type(a.type);
        if (!type) {
            fail(a.where, "unknown type " + quoted(a.type));
        }
        if (!arg_names.insert(a.name).second) {
            fail(a.where, "duplicate argument " + quoted(a.name));
        }
        bool mandatory = false;
        for (const std::string& attribute : a.attributes) {
            if (attribute == "mandatory") {
                mandatory = true;
            } else if (attribute != "in" && attribute != "out") {
                fail(a.where, "unknown argument attribute '%" + attribute + "'");
            }
        }
        f.args.push_back(PlanArg{a.name, *type, mandatory});
    }
    f.impl = as_function<amxd_object_fn_t>(resolver_.find_function(FunctionRef{decl.where, decl.name, std::nullopt}));
    return f;
}

VarPtr Definer::action_data(const ActionBinding& binding) {
    if (!binding.data) {
        return nullptr;
    }
    return literal_to_var(*binding.data, resolver_.config());
}

PlanAction Definer::object_action(const PlanObject& object, const ActionBinding& binding) {
    const auto reason = amxo::object_action(binding.action);
    if (!reason) {
        fail(binding.where, "unknown object action " + quoted(binding.action));
    }
    if ((*reason == action_object_add_inst || *reason == action_object_del_inst) && !object.is_template) {
        fail(binding.where, "action " + quoted(binding.action) + " needs a multi-instance object");
    }
    for (const PlanAction& bound : object.actions) {
        if (bound.reason == *reason) {
            fail(binding.where, "action " + quoted(binding.action) + " is already bound on " + quoted(object.name));
        }
    }
    void* fn = resolver_.find_function(binding.function);
    return PlanAction{binding.where, *reason, as_function<amxd_action_fn_t>(fn), action_data(binding)};
}

PlanAction Definer::parameter_action(const PlanParam& param, const ActionBinding& binding) {
    const auto reason = amxo::parameter_action(binding.action);
    if (!reason) {
        fail(binding.where, "unknown parameter action " + quoted(binding.action));
    }
    for (const PlanAction& bound : param.actions) {
        if (bound.reason == *reason) {
            fail(binding.where, "action " + quoted(binding.action) + " is already bound on " + quoted(param.name));
        }
    }
    void* fn = resolver_.find_function(binding.function);
    return PlanAction{binding.where, *reason, as_function<amxd_action_fn_t>(fn), action_data(binding)};
}

PlanEvent Definer::event(const PlanObject& parent, const PlanObject& object, const EventBinding& binding) {
    if (++event_count_ > kMaxEventBindingsPerLoad) {
        fail(binding.where, "more than " + std::to_string(kMaxEventBindingsPerLoad) + " event bindings in one load");
    }
    PlanEvent e;
    e.where = binding.where;
    e.event = resolver_.config().expand(binding.event, binding.where);
    if (e.event.empty() || e.event == "*") {
        fail(binding.where, "invalid event name \"" + e.event + "\"");
    }
    std::optional<std::string> filter;
    if (binding.filter) {
        filter = resolver_.config().expand(*binding.filter, binding.where);
        char message[128];
        size_t position = 0;
        if (amxp_expr_check(filter->c_str(), message, sizeof message, &position) != amxp_expr_status_ok) {
            fail(binding.where, "invalid filter '" + *filter + "': " + message);
        }
    }
    e.expression = scoped_expression(path_pattern(parent.child_prefix, object.name, object.is_template), filter);
    char message[128];
    if (amxp_expr_check(e.expression.c_str(), message, sizeof message, nullptr) != amxp_expr_status_ok) {
        fail(binding.where, "invalid filter '" + e.expression + "': " + message);
    }
    e.fn = as_function<amxp_slot_fn_t>(resolver_.find_function(binding.function));
    return e;
}

}  // namespace amxo
