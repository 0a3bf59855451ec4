#include "apply_context.h"

#include <algorithm>
#include <string>

#include "event_data.h"
#include "instance_factory.h"
#include "names.h"
#include "path.h"
#include "room.h"
#include "teardown.h"

namespace amxd {

namespace {
std::string path_of(const amxd_object_t* object) {
    return object_path(object, AMXD_OBJECT_INDEXED);
}

std::string param_path(const amxd_object_t* object, const amxd_param_t* param) {
    std::string path = path_of(object);
    return path.empty() ? param->name() : path + "." + param->name();
}

std::string no_instance_text(const amxd_object_t* templ, uint32_t index, std::string_view name) {
    return path_of(templ) + " has no instance " + (name.empty() ? std::to_string(index) : std::string(name));
}

// Why a value does not convert to a parameter's type, for the client to show.
std::string not_a(uint32_t type) {
    switch(type) {
    case AMXC_VAR_ID_BOOL: return "not a boolean (true, false, 1 or 0)";
    case AMXC_VAR_ID_INT32: return "not an integer from -2147483648 to 2147483647";
    case AMXC_VAR_ID_UINT32: return "not an integer from 0 to 4294967295";
    case AMXC_VAR_ID_INT64: return "not a 64-bit integer";
    case AMXC_VAR_ID_UINT64: return "not an unsigned 64-bit integer";
    default: return "not a text";
    }
}

std::string refusal(amxd_status_t status, const std::string& what) {
    if(status == amxd_status_invalid_value) {
        return "invalid value for " + what;
    }
    return what + ": " + amxd_status_string(status);
}

// A refusal by validate actions, with the text one of them put in its retval saying why.
std::string check_refusal(amxd_status_t status, const std::string& what, const amxc_var_t* why) {
    const char* text = amxc_var_type_of(why) == AMXC_VAR_ID_CSTRING ? amxc_var_constcast(cstring_t, why) : nullptr;
    return refusal(status, what) + ((text != nullptr && *text != '\0') ? std::string(": ") + text : "");
}

// One above the highest index ever given; once that passes the bound, the lowest free one, so
// a single huge index cannot use the counter up. 0 when every index is taken.
uint32_t next_index(const amxd_object_t& templ) {
    const Members& members = templ.members();
    if(members.last_index < AMXD_MAX_INDEX) {
        return members.last_index + 1;
    }
    uint32_t expected = 1;
    for(const auto& entry : members.instances) {
        if(entry.first != expected) {
            break;
        }
        expected = entry.first == AMXD_MAX_INDEX ? 0 : entry.first + 1;
    }
    return expected;
}
} // namespace

ApplyContext::ApplyContext(amxd_dm_t* dm, bool change_ro) : dm_(dm), change_ro_(change_ro) {
}

ApplyContext::~ApplyContext() = default;

amxd_status_t ApplyContext::fail(amxd_status_t status, std::string message) {
    if(error_.empty()) {
        error_ = std::move(message);
    }
    return status;
}

bool ApplyContext::is_attached(const amxd_object_t* object) const {
    return dm_of(object) == dm_;
}

void ApplyContext::touch(amxd_object_t* object) {
    if(touched_set_.insert(object).second) {
        try {
            touched_.push_back(object);
        } catch(...) {
            touched_set_.erase(object);
            throw;
        }
    }
}

amxd_status_t ApplyContext::check_selection(const char* what) {
    if(selected_ == nullptr) {
        return fail(amxd_status_invalid_action, std::string("no object selected for ") + what);
    }
    if(!is_attached(selected_)) {
        return fail(amxd_status_object_not_found, path_of(selected_) + " was removed by this transaction");
    }
    return amxd_status_ok;
}

amxd_status_t ApplyContext::select(std::string_view path) {
    amxd_object_t* object = resolve_path(dm_->root.get(), path);
    if(object == nullptr) {
        return fail(amxd_status_object_not_found, std::string(path) + " not found");
    }
    selected_ = object;
    return amxd_status_ok;
}

amxd_status_t ApplyContext::check_template_selection(const char* what) {
    amxd_status_t status = check_selection(what);
    if(status == amxd_status_ok && selected_->type != amxd_object_template) {
        return fail(amxd_status_not_a_template, path_of(selected_) + " is not a template");
    }
    return status;
}

amxd_status_t ApplyContext::set_param(std::string_view name, const amxc_var_t* value) {
    amxd_status_t status = check_selection("a parameter write");
    if(status != amxd_status_ok) {
        return status;
    }
    amxd_param_t* param = find_param(selected_, name);
    if(param == nullptr) {
        std::string path = path_of(selected_);
        return fail(amxd_status_parameter_not_found, (path.empty() ? "" : path + ".") + std::string(name) + " does not exist");
    }
    if(!has_action(selected_->actions, action_object_write)) {
        return write_param(selected_, param, value);
    }
    ScopedVar args;
    if(amxc_var_set_type(args.get(), AMXC_VAR_ID_HTABLE) != 0) {
        throw std::bad_alloc();
    }
    table_add_copy(args.get(), param->name().c_str(), value);
    status = *run_actions(selected_->actions, action_object_write, selected_, nullptr, args.get(), nullptr);
    return status == amxd_status_ok ? status : fail(status, refusal(status, param_path(selected_, param)));
}

amxd_status_t ApplyContext::write_param(amxd_object_t* object, amxd_param_t* param, const amxc_var_t* value) {
    if(!is_attached(object) || (param->owner != object)) {
        return fail(amxd_status_invalid_arg, "write outside the objects of this transaction");
    }
    // Named only in refusals: a restore writes every parameter of thousands of instances.
    const auto path = [&] { return param_path(object, param); };
    if(is_blueprint(object)) {
        return fail(amxd_status_not_instantiated, path() + " is a definition, not data of an instance");
    }
    if(param->def().read_only && !change_ro_) {
        return fail(amxd_status_read_only, path() + " is read-only");
    }
    ScopedVar candidate;
    const amxd_status_t converted =
        value == nullptr ? amxd_status_invalid_value : convert_var(candidate.get(), value, param->type());
    if(converted == amxd_status_out_of_mem) {
        throw std::bad_alloc();
    }
    if(converted != amxd_status_ok) {
        return fail(converted, "invalid value for " + path() + ": " + not_a(param->type()));
    }
    if(!param->fits(candidate.get())) {
        return fail(amxd_status_invalid_value, path() + " is longer than " + std::to_string(param->def().max_length) + " bytes");
    }
    ScopedVar why;
    const amxd_status_t verdict =
        run_actions(param->def().actions, action_param_validate, object, param, candidate.get(), why.get())
            .value_or(amxd_status_ok);
    if(verdict != amxd_status_ok) {
        return fail(verdict, check_refusal(verdict, path(), why.get()));
    }
    int order = 0;
    if((amxc_var_compare(&param->value(), candidate.get(), &order) == 0) && (order == 0)) {
        return amxd_status_ok;
    }
    // An instance added here leaves whole on a rollback and announces its values when it is
    // added: its parameters need no undo record and no change event.
    if(added_.count(object) == 0) {
        record_original(object, param);
        touch(object);
    }
    param->take_value(candidate.get());
    return amxd_status_ok;
}

void ApplyContext::record_original(amxd_object_t* object, amxd_param_t* param) {
    if(recorded_params_.count(param) != 0) {
        return;
    }
    VarPtr original = param->has_own_value() ? copy_var(&param->value()) : nullptr;
    auto found = object_change_index_.find(object);
    if(found == object_change_index_.end()) {
        reserve_one_more(event_order_);
        object_changes_.push_back(ObjectChange{object, {}});
        object_change_index_.emplace(object, object_changes_.size() - 1);
        event_order_.push_back(EventRef{false, object_changes_.size() - 1});
        found = object_change_index_.find(object);
    }
    recorded_params_.insert(param);
    // Recorded last: only a value that is saved here gets overwritten.
    object_changes_[found->second].params.push_back(ParamChange{param, std::move(original), param->has_own_value()});
}

amxd_status_t ApplyContext::add_instance(uint32_t index, std::string_view name) {
    amxd_status_t status = check_template_selection("an instance addition");
    if(status != amxd_status_ok) {
        return status;
    }
    amxd_object_t* templ = selected_;
    const amxd_object_t* before = last_added_;
    std::optional<amxd_status_t> custom;
    if(has_action(templ->actions, action_object_add_inst)) {
        ScopedVar args;
        if(amxc_var_set_type(args.get(), AMXC_VAR_ID_HTABLE) != 0) {
            throw std::bad_alloc();
        }
        table_add_uint32(args.get(), "index", index);
        table_add_text(args.get(), "name", std::string(name).c_str());
        ScopedVar retval;
        custom = run_actions(templ->actions, action_object_add_inst, templ, nullptr, args.get(), retval.get());
    }
    status = custom ? *custom : create_instance(templ, index, name);
    if(status != amxd_status_ok) {
        return fail(status, refusal(status, "adding an instance to " + path_of(templ)));
    }
    // The new instance becomes the selection; a custom action that added none leaves nothing
    // selected.
    selected_ = last_added_ != before ? last_added_ : nullptr;
    return amxd_status_ok;
}

amxd_status_t ApplyContext::create_instance(amxd_object_t* templ, uint32_t index, std::string_view name) {
    if(!is_attached(templ)) {
        return fail(amxd_status_invalid_arg, "instance addition outside the objects of this transaction");
    }
    if(templ->type != amxd_object_template) {
        return fail(amxd_status_not_a_template, path_of(templ) + " is not a template");
    }
    if(is_blueprint(templ)) {
        return fail(amxd_status_not_instantiated, path_of(templ) + " is a definition: its instances live in the copies of it");
    }
    if(!name.empty() && !is_valid_instance_name(name)) {
        return fail(amxd_status_invalid_name, "invalid instance name '" + std::string(name) + "' for " + path_of(templ));
    }
    if(dm_->index_hook != nullptr) {
        index = dm_->index_hook(templ, std::string(name).c_str(), index, dm_->index_hook_priv);
    }
    if(index > AMXD_MAX_INDEX) {
        return fail(amxd_status_invalid_value, path_of(templ) + ": index " + std::to_string(index) +
                                                   " is above the highest allowed, " + std::to_string(AMXD_MAX_INDEX));
    }
    if(index == 0) {
        index = next_index(*templ);
        if(index == 0) {
            return fail(amxd_status_invalid_value, path_of(templ) + " has no free index left");
        }
    } else if(find_instance(templ, index) != nullptr) {
        return fail(amxd_status_duplicate, path_of(templ) + "." + std::to_string(index) + " already exists");
    }
    if(!name.empty() && (find_instance(templ, name) != nullptr)) {
        return fail(amxd_status_duplicate, path_of(templ) + " already has an instance named " + std::string(name));
    }
    if(const std::optional<uint32_t> owner = auto_name_index(templ->name, name); owner && *owner != index) {
        return fail(amxd_status_duplicate, "the name " + std::string(name) + " stands for " + path_of(templ) + "." +
                                               std::to_string(*owner) + " in exports; choose another name");
    }

    ObjectPtr instance = make_instance(*templ, index, name);
    amxd_object_t* raw = instance.get();
    // Every allocation of the bookkeeping happens before the instance is attached, so an
    // attached instance always has its undo record.
    added_.insert(raw);
    try {
        reserve_one_more(touched_);
        touched_set_.insert(raw);
        reserve_one_more(instance_changes_);
        reserve_one_more(event_order_);
        attach_instance(templ, std::move(instance));
    } catch(...) {
        added_.erase(raw);
        touched_set_.erase(raw);
        throw;
    }
    touched_.push_back(raw);
    Members& members = templ->own_members();   // holds the instance: there already
    instance_changes_.push_back(InstanceChange{true, templ, raw, members.last_index, {}, PackedVar()});
    event_order_.push_back(EventRef{true, instance_changes_.size() - 1});
    members.last_index = std::max(members.last_index, index);
    last_added_ = raw;
    return amxd_status_ok;
}

amxd_status_t ApplyContext::delete_instance(uint32_t index, std::string_view name) {
    amxd_status_t status = check_template_selection("an instance deletion");
    if(status != amxd_status_ok) {
        return status;
    }
    amxd_object_t* templ = selected_;
    ScopedVar args;
    if(amxc_var_set_type(args.get(), AMXC_VAR_ID_HTABLE) != 0) {
        throw std::bad_alloc();
    }
    amxd_object_t* target = name.empty() ? find_instance(templ, index) : find_instance(templ, name);
    if(target == nullptr) {
        return fail(amxd_status_object_not_found, no_instance_text(templ, index, name));
    }
    // The action learns both the index and the name, whichever the caller named it by.
    table_add_uint32(args.get(), "index", target->index);
    table_add_text(args.get(), "name", target->name.c_str());
    std::optional<amxd_status_t> custom =
        run_actions(templ->actions, action_object_del_inst, templ, nullptr, args.get(), nullptr);
    status = custom ? *custom : remove_instance(templ, index, name);
    if(status != amxd_status_ok) {
        return fail(status, refusal(status, "deleting an instance of " + path_of(templ)));
    }
    return amxd_status_ok;
}

amxd_status_t ApplyContext::remove_instance(amxd_object_t* templ, uint32_t index, std::string_view name) {
    if(!is_attached(templ)) {
        return fail(amxd_status_invalid_arg, "instance deletion outside the objects of this transaction");
    }
    if(templ->type != amxd_object_template) {
        return fail(amxd_status_not_a_template, path_of(templ) + " is not a template");
    }
    amxd_object_t* instance = name.empty() ? find_instance(templ, index) : find_instance(templ, name);
    if(instance == nullptr) {
        return fail(amxd_status_object_not_found, no_instance_text(templ, index, name));
    }
    // An instance born in this transaction leaves without ever having been announced.
    PackedVar event = added_.count(instance) != 0 ? PackedVar() : instance_event(sig_instance_removed, instance);
    reserve_one_more(instance_changes_);
    reserve_one_more(event_order_);
    DetachedInstance detached = detach_instance(instance);
    instance->removed = true;
    instance_changes_.push_back(InstanceChange{false, templ, instance, 0, std::move(detached), std::move(event)});
    event_order_.push_back(EventRef{true, instance_changes_.size() - 1});
    return amxd_status_ok;
}

amxd_status_t ApplyContext::check_keys(amxd_object_t* instance) {
    // Only an instance added here, or a key written here, can collide: scanning the siblings on
    // every other change would make each write to a large table cost the table's size.
    const bool added = added_.count(instance) != 0;
    for(amxd_param_t* param : instance->params) {
        if(!param->def().key || (!added && recorded_params_.count(param) == 0)) {
            continue;
        }
        for(const auto& entry : instance->parent->members().instances) {
            const amxd_object_t* sibling = entry.second.get();
            const amxd_param_t* other = sibling != instance ? find_param(sibling, param->name()) : nullptr;
            int order = 0;
            if((other != nullptr) && (amxc_var_compare(&other->value(), &param->value(), &order) == 0) && (order == 0)) {
                return fail(amxd_status_duplicate,
                            param_path(instance, param) + " is a key and " + path_of(sibling) + " has the same value");
            }
        }
    }
    return amxd_status_ok;
}

amxd_status_t ApplyContext::validate() {
    for(std::size_t i = 0; i < touched_.size(); ++i) {
        amxd_object_t* object = touched_[i];
        if(!is_attached(object)) {
            continue;
        }
        ScopedVar why;
        const amxd_status_t verdict =
            run_actions(object->actions, action_object_validate, object, nullptr, nullptr, why.get())
                .value_or(amxd_status_ok);
        if(verdict != amxd_status_ok) {
            return fail(verdict, check_refusal(verdict, path_of(object), why.get()));
        }
        if(object->type == amxd_object_instance) {
            amxd_status_t status = check_keys(object);
            if(status != amxd_status_ok) {
                return status;
            }
        }
    }
    return amxd_status_ok;
}

PackedVar ApplyContext::changed_event(const ObjectChange& change) const {
    std::vector<const ParamChange*> changed;
    changed.reserve(change.params.size());
    for(const ParamChange& item : change.params) {
        int order = 0;
        if((amxc_var_compare(&item.before(), &item.param->value(), &order) != 0) || (order != 0)) {
            changed.push_back(&item);   // not one changed and changed back
        }
    }
    if(changed.empty()) {
        return PackedVar();
    }
    // Packed as it is taken from the tree, like the instance events.
    Packer packer;
    event_header(packer, sig_object_changed, change.object, 1);
    packer.key("parameters");
    packer.table(changed.size());
    for(const ParamChange* item : changed) {
        packer.key(item->param->name().c_str());
        packer.table(2);
        packer.key("from");
        packer.var(&item->before());
        packer.key("to");
        packer.var(&item->param->value());
    }
    return packer.done();
}

amxd_status_t ApplyContext::post_events() {
    EventBatch batch;
    batch.reserve(event_order_.size());
    for(const EventRef& ref : event_order_) {
        if(!ref.is_instance) {
            const ObjectChange& change = object_changes_[ref.index];
            // A new instance reports its values in its instance-added event.
            if(!is_attached(change.object) || (added_.count(change.object) != 0)) {
                continue;
            }
            PackedVar data = changed_event(change);
            if(!data.empty()) {
                batch.push_back(Event{sig_object_changed, std::move(data)});
            }
            continue;
        }
        InstanceChange& change = instance_changes_[ref.index];
        if(change.added) {
            if(is_attached(change.instance)) {
                batch.push_back(Event{sig_instance_added, instance_event(sig_instance_added, change.instance)});
            }
        } else if(!change.removed_event.empty()) {
            batch.push_back(Event{sig_instance_removed, std::move(change.removed_event)});
        }
    }
    if(dm_->events->post(std::move(batch)) != amxd_status_ok) {
        return fail(amxd_status_out_of_mem, "the event queue of the loop is full; nothing was changed");
    }
    return amxd_status_ok;
}

void ApplyContext::commit() {
    for(InstanceChange& change : instance_changes_) {
        if(change.added || change.detached.node.empty()) {
            continue;
        }
        ObjectPtr owned = std::move(change.detached.node.mapped());
        change.detached = DetachedInstance{};
        run_destroy_actions(owned.get());
    }
}

void ApplyContext::rollback() {
    for(ObjectChange& change : object_changes_) {
        for(ParamChange& item : change.params) {
            if(item.had_own) {
                item.param->take_value(item.original.get());   // its own still there: no allocation
            } else {
                item.param->drop_own_value();
            }
        }
    }
    for(auto it = instance_changes_.rbegin(); it != instance_changes_.rend(); ++it) {
        if(it->added) {
            // Never announced, so it leaves without destroy actions.
            DetachedInstance gone = detach_instance(it->instance);
            it->templ->own_members().last_index = it->old_last_index;   // held the instance
        } else {
            reattach_instance(it->templ, std::move(it->detached));
        }
    }
    selected_ = nullptr;
    last_added_ = nullptr;
}

std::string ApplyContext::added_path() const {
    if((last_added_ == nullptr) || !is_attached(last_added_)) {
        return std::string();
    }
    return object_path(last_added_, AMXD_OBJECT_INDEXED | AMXD_OBJECT_TERMINATE);
}

ApplyContext* running_apply(const amxd_object_t* object) {
    amxd_dm_t* dm = dm_of(object);
    return dm == nullptr ? nullptr : dm->apply;
}

} // namespace amxd
