#include "persistence.h"

#include <amxd/amxd.h>
#include <amxp/amxp_loop.h>
#include <amxp/amxp_slot.h>
#include <zebtrace/zebtrace.h>

#include <malloc.h>

#include <cstdlib>

#include <amxc/amxc_scoped_var.h>
#include "state_file.h"

namespace gwrt {
namespace {

constexpr const char* kZone = "gwrt";
constexpr const char* kStateFileName = "gwrt-state.json";

std::string owned_text(char* text) {
    std::string copy = text == nullptr ? "" : text;
    std::free(text);
    return copy;
}

// "Device.X.Method" -> the object "Device.X" and "Method". False when either is missing.
bool resolve_method(amxd_dm_t* dm, const std::string& path, amxd_object_t*& object, std::string& method,
                    std::string& error) {
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == path.size()) {
        error = "'" + path + "' is not Object.Path.Method";
        return false;
    }
    method = path.substr(dot + 1);
    object = amxd_dm_findf(dm, "%s", path.substr(0, dot).c_str());
    if (object == nullptr || amxd_object_get_function(object, method.c_str()) == nullptr) {
        error = "the main data model has no method " + path;
        return false;
    }
    return true;
}

// Per template path, the indices of its instances, for every template below `object`.
void collect_indices(const amxd_object_t* object, amxc_var_t* out) {
    amxd_object_for_each_child(child, object) {
        if (amxd_object_get_type(child) != amxd_object_template) {
            collect_indices(child, out);
            continue;
        }
        if (amxd_object_first_instance(child) == nullptr) {
            continue;
        }
        amxc_var_t* list = amxc_var_add_new_key_list(out, owned_text(amxd_object_get_path(child, 0)).c_str());
        amxd_object_for_each_instance(instance, child) {
            amxc_var_add(uint32_t, list, amxd_object_get_index(instance));
            collect_indices(instance, out);
        }
    }
}

}  // namespace

Persistence::Persistence(StateConfig config, amxd_dm_t* dm)
    : config_(std::move(config)), dm_(dm), store_(config_.dir, kStateFileName) {}

Persistence::~Persistence() {
    if (watching_) {
        amxp_slot_disconnect_with_priv(amxd_dm_get_sigmngr(dm_), on_event, this);
    }
    amxd_dm_set_index_hook(dm_, nullptr, nullptr);
    amxp_loop_cancel_deferred(on_restored, this);
    amxp_timer_delete(&timer_);
}

bool Persistence::prepare(std::string& error) {
    if (!resolve_method(dm_, config_.export_path, export_object_, export_method_, error) ||
        !resolve_method(dm_, config_.import_path, import_object_, import_method_, error)) {
        error = "state: " + error;
        return false;
    }
    watched_prefix_ = owned_text(amxd_object_get_path(export_object_, AMXD_OBJECT_TERMINATE));
    std::string reason;
    if (!store_.prepare(reason)) {
        error = "state folder: " + reason;
        return false;
    }
    return true;
}

void Persistence::restore() {
    amxc::ScopedVar state;
    gw::StateStore::Loaded loaded = store_.load(state.get());
    for (const std::string& note : loaded.notes) {
        zebTraceZ(TRACE_LEVEL_WARNING, kZone, "state: %s", note.c_str());
    }
    if (!loaded.found) {
        zebTraceZ(loaded.notes.empty() ? TRACE_LEVEL_NOTICE : TRACE_LEVEL_WARNING, kZone,
                  "state: no saved configuration in %s; starting empty", store_.current_path().c_str());
        return;
    }
    if (!import(state.get())) {
        // Keep what could not be restored, so that the saves that follow do not bury it.
        std::string error;
        std::string kept = store_.keep_copy(loaded.bytes, "unrestored", error);
        zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: the import of %s failed; %s", loaded.path.c_str(),
                  kept.empty() ? ("keeping a copy failed too: " + error).c_str() : ("a copy is kept as " + kept).c_str());
        return;
    }
    zebTraceZ(TRACE_LEVEL_NOTICE, kZone, "state: restored from %s", loaded.path.c_str());
    // What was just read needs no rewrite; a fallback copy does, so the current file is good again.
    if (loaded.path == store_.current_path()) {
        last_written_ = loaded.bytes;
        // Nor do the import's own events call for a save: exporting a large tree only to find
        // the bytes unchanged costs as much as a good part of the restore.
        restoring_ = true;
    }
    if (amxp_loop_defer(on_restored, this) != 0) {
        restoring_ = false;
    }
}

bool Persistence::import(amxc_var_t* state) {
    restore_plan_.clear();
    amxc_var_for_each(list, amxc_var_get_key(state, "indices", AMXC_VAR_FLAG_DEFAULT)) {
        std::deque<uint32_t>& indices = restore_plan_[amxc_var_key(list)];
        amxc_var_for_each(item, list) {
            indices.push_back(amxc_var_get_uint32_t(item));
        }
    }
    amxc::ScopedVar args;
    amxc_var_set_type(args.get(), AMXC_VAR_ID_HTABLE);
    amxc_var_t* tree = amxc_var_get_key(state, "export", AMXC_VAR_FLAG_DEFAULT);
    // The import takes the tree's top-level members as its arguments, as a client's call would.
    // Moved, not copied: the loaded state is not read again, and a copy would double the
    // memory a large configuration needs at start.
    amxc_var_for_each(member, tree) {
        amxc_var_move(amxc_var_add_new_key(args.get(), amxc_var_key(member)), member);
    }
    amxd_dm_set_index_hook(dm_, saved_index, this);
    amxc::ScopedVar ret;
    amxd_status_t status = amxd_object_invoke_function(import_object_, import_method_.c_str(), args.get(), ret.get());
    amxd_dm_set_index_hook(dm_, nullptr, nullptr);
    restore_plan_.clear();
    if (status != amxd_status_ok) {
        zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: %s failed: %s", config_.import_path.c_str(), amxd_status_string(status));
        return false;
    }
    return true;
}

uint32_t Persistence::saved_index(const amxd_object_t* templ, const char* /*name*/, void* priv) {
    auto* self = static_cast<Persistence*>(priv);
    auto found = self->restore_plan_.find(owned_text(amxd_object_get_path(templ, 0)));
    if (found == self->restore_plan_.end() || found->second.empty()) {
        return 0;
    }
    uint32_t index = found->second.front();
    found->second.pop_front();
    return index;
}

bool Persistence::watch(std::string& error) {
    if (amxp_timer_new(&timer_, on_timer, this) != 0 ||
        amxp_slot_connect(amxd_dm_get_sigmngr(dm_), nullptr, nullptr, on_event, this) != 0) {
        error = "state: cannot follow the data model's changes";
        return false;
    }
    watching_ = true;
    return true;
}

bool Persistence::relevant(const char* sig_name, const amxc_var_t* data) const {
    const char* path = amxc_var_get_const_cstring_t(amxc_var_get_key(data, "path", AMXC_VAR_FLAG_DEFAULT));
    if (path == nullptr || !std::string_view(path).starts_with(watched_prefix_)) {
        return false;
    }
    if (std::string_view(sig_name) != "dm:object-changed") {
        return true;  // instances added or removed
    }
    amxc_var_for_each(param, amxc_var_get_key(data, "parameters", AMXC_VAR_FLAG_DEFAULT)) {
        if (config_.ignored.count(amxc_var_key(param)) == 0) {
            return true;
        }
    }
    return false;
}

void Persistence::on_restored(void* priv) {
    static_cast<Persistence*>(priv)->restoring_ = false;
    // The loaded state, the import's arguments and its events were a passing peak about the
    // size of what the restored tree keeps; handed back, the process does not stay at it.
    malloc_trim(0);
}

void Persistence::on_event(const char* sig_name, const amxc_var_t* data, void* priv) {
    auto* self = static_cast<Persistence*>(priv);
    if (self->restoring_) {
        return;  // an event of the import, queued before on_restored
    }
    // Armed once per burst, not restarted, so a steady stream of changes is still saved.
    if (self->relevant(sig_name, data) && amxp_timer_get_state(self->timer_) != amxp_timer_started) {
        amxp_timer_start(self->timer_, self->config_.delay_ms);
    }
}

void Persistence::on_timer(amxp_timer_t* /*timer*/, void* priv) { static_cast<Persistence*>(priv)->save(); }

void Persistence::flush() {
    if (amxp_timer_get_state(timer_) == amxp_timer_started) {
        amxp_timer_stop(timer_);
        save();
    }
}

bool Persistence::build_state(amxc_var_t* state) {
    amxc_var_set_type(state, AMXC_VAR_ID_HTABLE);
    collect_indices(export_object_, amxc_var_add_new_key_htable(state, "indices"));
    amxc_var_t* tree = amxc_var_add_new_key(state, "export");
    amxd_status_t status = amxd_object_invoke_function(export_object_, export_method_.c_str(), nullptr, tree);
    if (status != amxd_status_ok || amxc_var_type_of(tree) != AMXC_VAR_ID_HTABLE) {
        zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: %s failed (%s); nothing saved", config_.export_path.c_str(),
                  amxd_status_string(status));
        return false;
    }
    return true;
}

bool Persistence::save() {
    auto start = std::chrono::steady_clock::now();
    amxc::ScopedVar state;
    if (!build_state(state.get())) {
        return false;
    }
    std::string bytes = gw::encode_state_file(state.get());
    if (bytes.empty()) {
        zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: the configuration cannot be written as JSON; nothing saved");
        return false;
    }
    if (bytes == last_written_) {
        return true;
    }
    std::string error;
    if (!store_.save(bytes, error)) {
        zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: %s", error.c_str());
        return false;
    }
    last_written_ = std::move(bytes);
    last_save_duration_ = std::chrono::steady_clock::now() - start;
    zebTraceZ(TRACE_LEVEL_DEBUG, kZone, "state: saved %zu bytes in %lld us", last_written_.size(),
              static_cast<long long>(last_save_duration_.count() / 1000));
    return true;
}

}  // namespace gwrt
