#include "populate.h"

#include <charconv>
#include <cstdlib>
#include <memory>

#include <amxd/amxd_object.h>
#include <amxd/amxd_parameter.h>

#include "literal.h"
#include "vocabulary.h"

namespace amxo {
namespace {

std::string join(const std::string& path, const std::string& component) {
    return path.empty() ? component : path + "." + component;
}

std::string shown(const std::string& path) {
    return "'" + path + ".'";
}

// An instance component written as digits names an index; anything else a name.
std::optional<uint32_t> as_index(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    uint32_t index = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), index);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return index;
}

std::vector<std::string> split_path(const std::string& path, const Location& where) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = path.find('.', start);
        std::string part = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty()) {
            // A trailing dot is the usual way of writing an object path.
            if (dot == std::string::npos && !parts.empty()) {
                return parts;
            }
            fail(where, "invalid object path '" + path + "'");
        }
        parts.push_back(std::move(part));
        if (dot == std::string::npos) {
            return parts;
        }
        start = dot + 1;
    }
}

PopulateStep expand_step(const PopulateItem& item, const Config& config) {
    PopulateStep step;
    step.kind = item.kind;
    step.where = item.where;
    switch (item.kind) {
    case PopulateItem::Kind::Object:
        step.path = split_path(config.expand(item.path, item.where), item.where);
        break;
    case PopulateItem::Kind::Parameter:
        step.name = config.expand(item.name, item.where);
        if (item.value.kind == Value::Kind::List || item.value.kind == Value::Kind::Table) {
            fail(item.value.where, "the value of '" + step.name + "' must be a text, a number or a boolean");
        }
        step.value = literal_to_var(item.value, config);
        break;
    case PopulateItem::Kind::Instance: {
        const auto index = as_index(item.index);
        if (!index) {
            fail(item.where, "invalid instance index " + item.index);
        }
        step.index = *index;
        step.name = config.expand(item.name, item.where);
        if (!step.name.empty() && !is_valid_instance_name(step.name)) {
            fail(item.where, "invalid instance name '" + step.name + "'");
        }
        break;
    }
    }
    for (const PopulateItem& child : item.body) {
        step.body.push_back(expand_step(child, config));
    }
    return step;
}

}  // namespace

std::vector<PopulateStep> expand_populate(const PopulateSection& section, const Config& config) {
    std::vector<PopulateStep> steps;
    for (const PopulateItem& item : section.items) {
        steps.push_back(expand_step(item, config));
    }
    return steps;
}

Populator::Populator(amxd_object_t* root) {
    if (amxd_trans_init(&trans_) != amxd_status_ok) {
        throw std::bad_alloc();
    }
    // Definitions are trusted to give read-only parameters their first values.
    amxd_trans_set_attr(&trans_, amxd_tattr_change_ro, true);
    root_.real = root;
    root_.shape = root;
    if (amxd_object_get_type(root) != amxd_object_root) {
        std::unique_ptr<char, decltype(&std::free)> path(amxd_object_get_path(root, AMXD_OBJECT_NAMED), &std::free);
        if (!path) {
            amxd_trans_clean(&trans_);
            throw std::bad_alloc();
        }
        root_.path = path.get();
    }
}

Populator::~Populator() {
    amxd_trans_clean(&trans_);
}

void Populator::add(const std::vector<PopulateStep>& steps) {
    for (const PopulateStep& step : steps) {
        object(root_, step);
    }
}

void Populator::select(const std::string& path, const Location& where) {
    if (amxd_trans_select_pathf(&trans_, "%s", path.c_str()) != amxd_status_ok) {
        fail(where, "cannot select " + shown(path));
    }
    recorded_ = true;
}

bool Populator::is_pending(const std::string& templ_path, const std::string& component) const {
    auto it = pending_.find(templ_path);
    if (it == pending_.end()) {
        return false;
    }
    if (const auto index = as_index(component)) {
        return it->second.indexes.count(*index) != 0;
    }
    return it->second.names.count(component) != 0;
}

Populator::Target Populator::descend(const Target& from, const std::string& component, const Location& where) const {
    Target next;
    next.path = join(from.path, component);
    const bool templ = !from.pending_instance && amxd_object_get_type(from.shape) == amxd_object_template;
    if (templ) {
        if (from.real != nullptr) {
            const auto index = as_index(component);
            amxd_object_t* inst = index ? amxd_object_get_instance(from.real, nullptr, *index)
                                        : amxd_object_get_instance(from.real, component.c_str(), 0);
            if (inst != nullptr) {
                next.real = inst;
                next.shape = inst;
                return next;
            }
        }
        if (!is_pending(from.path, component)) {
            fail(where, "no instance '" + component + "' in " + shown(from.path));
        }
        next.shape = from.shape;
        next.pending_instance = true;
        return next;
    }
    amxd_object_t* child = amxd_object_get_child(from.real != nullptr ? from.real : from.shape, component.c_str());
    if (child == nullptr) {
        fail(where, "no object '" + component + "' in " + (from.path.empty() ? std::string("the root") : shown(from.path)));
    }
    next.real = from.real != nullptr ? child : nullptr;
    next.shape = child;
    return next;
}

void Populator::object(const Target& from, const PopulateStep& step) {
    Target target = from;
    for (const std::string& component : step.path) {
        target = descend(target, component, step.where);
    }
    body(target, step.body, false);
}

void Populator::body(const Target& target, const std::vector<PopulateStep>& steps, bool selected) {
    // Parameters first, while the target is selected; objects and instances below it select
    // their own targets.
    for (const PopulateStep& step : steps) {
        if (step.kind != PopulateItem::Kind::Parameter) {
            continue;
        }
        if (!selected) {
            select(target.path, step.where);
            selected = true;
        }
        parameter(target, step);
    }
    for (const PopulateStep& step : steps) {
        if (step.kind == PopulateItem::Kind::Parameter) {
            continue;
        }
        if (!target.addressable) {
            fail(step.where, "an instance without a name or an index cannot hold objects or instances");
        }
        if (step.kind == PopulateItem::Kind::Object) {
            object(target, step);
        } else {
            instance(target, step);
        }
    }
}

void Populator::parameter(const Target& target, const PopulateStep& step) {
    if (!target.pending_instance && amxd_object_get_type(target.shape) == amxd_object_template) {
        fail(step.where, shown(target.path) + " is a multi-instance object; set parameters on its instances");
    }
    const amxd_param_t* def = amxd_object_get_param_def(target.shape, step.name.c_str());
    if (def == nullptr) {
        fail(step.where, "no parameter '" + step.name + "' in " + shown(target.path));
    }
    VarPtr converted = new_var();
    if (amxc_var_convert(converted.get(), step.value.get(), amxd_param_get_type(def)) != 0) {
        std::unique_ptr<char, decltype(&std::free)> text(amxc_var_get_cstring_t(step.value.get()), &std::free);
        fail(step.where, "value '" + std::string(text ? text.get() : "") + "' is not valid for '" + step.name + "' (" +
                             amxc_var_get_type_name_from_id(amxd_param_get_type(def)) + ")");
    }
    if (amxd_trans_set_param(&trans_, step.name.c_str(), step.value.get()) != amxd_status_ok) {
        throw std::bad_alloc();
    }
    recorded_ = true;
}

void Populator::instance(const Target& templ, const PopulateStep& step) {
    const bool is_template = !templ.pending_instance && amxd_object_get_type(templ.shape) == amxd_object_template;
    if (!is_template) {
        fail(step.where, shown(templ.path) + " is not a multi-instance object");
    }
    Pending& pending = pending_[templ.path];
    if (step.index != 0 &&
        (pending.indexes.count(step.index) != 0 ||
         (templ.real != nullptr && amxd_object_get_instance(templ.real, nullptr, step.index) != nullptr))) {
        fail(step.where, "instance " + std::to_string(step.index) + " of " + shown(templ.path) + " already exists");
    }
    if (!step.name.empty() &&
        (pending.names.count(step.name) != 0 ||
         (templ.real != nullptr && amxd_object_get_instance(templ.real, step.name.c_str(), 0) != nullptr))) {
        fail(step.where, "instance '" + step.name + "' of " + shown(templ.path) + " already exists");
    }
    select(templ.path, step.where);
    if (amxd_trans_add_inst(&trans_, step.index, step.name.empty() ? nullptr : step.name.c_str()) != amxd_status_ok) {
        throw std::bad_alloc();
    }
    if (step.index != 0) {
        pending.indexes.insert(step.index);
    }
    if (!step.name.empty()) {
        pending.names.insert(step.name);
    }
    Target added;
    added.shape = templ.shape;
    added.pending_instance = true;
    if (!step.name.empty()) {
        added.path = join(templ.path, step.name);
    } else if (step.index != 0) {
        added.path = join(templ.path, std::to_string(step.index));
    } else {
        added.addressable = false;
    }
    body(added, step.body, true);
}

void Populator::apply(amxd_dm_t* dm, const Location& where) {
    if (!recorded_) {
        return;
    }
    const amxd_status_t status = amxd_trans_apply(&trans_, dm);
    if (status != amxd_status_ok) {
        const char* why = amxd_trans_get_error(&trans_);
        fail(where, std::string("populate refused: ") + (why != nullptr && *why != '\0' ? why : amxd_status_string(status)));
    }
}

}  // namespace amxo
