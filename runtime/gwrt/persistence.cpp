#include "persistence.h"

#include <amxd/amxd.h>
#include <amxp/amxp_loop.h>
#include <amxp/amxp_slot.h>
#include <zebtrace/zebtrace.h>

#include <algorithm>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <amxc/amxc_scoped_var.h>
#include "state_file.h"

namespace gwrt {
namespace {

constexpr const char* kZone = "gwrt";
constexpr unsigned int kFirstRetryMs = 1000;
constexpr unsigned int kLastRetryMs = 60000;

// Replies of a save (Persistence::attempt): one letter, then its detail.
constexpr char kUnchanged = 'U';      // the state equals the file last written
constexpr char kWritten = 'W';        // "<sha256> <bytes>"
constexpr char kExportFailed = 'X';   // why; nothing written, to be tried again
constexpr char kUnencodable = 'J';    // why; nothing written, nor worth retrying unchanged
constexpr char kWriteFailed = 'F';    // why; the files are as before

// A tree of up to this many instances is exported on the loop (about a millisecond; 200
// port-forwarding rules took 3.5 ms) and only written in a thread; a larger one is exported
// and written in a forked child. The fork
// costs in proportion to gwrt's memory, not the tree's: with a large firewall held, it and
// the copy-on-write faults after it cost the next rebuild more than a small export does.
constexpr std::size_t kExportedOnLoop = 50;

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
        error = "the data model has no method " + path;
        return false;
    }
    return true;
}

// Whether the tree below `object` holds more than `limit` instances, counted no further.
bool more_instances_than(const amxd_object_t* object, std::size_t& limit) {
    amxd_object_for_each_child(child, object) {
        if (amxd_object_get_type(child) != amxd_object_template) {
            if (more_instances_than(child, limit)) {
                return true;
            }
            continue;
        }
        amxd_object_for_each_instance(instance, child) {
            if (limit == 0 || more_instances_than(instance, --limit)) {
                return true;
            }
        }
    }
    return false;
}

// Per template path below `object`, each instance's index and name.
void collect_instances(const amxd_object_t* object, amxc_var_t* out) {
    amxd_object_for_each_child(child, object) {
        if (amxd_object_get_type(child) != amxd_object_template) {
            collect_instances(child, out);
            continue;
        }
        if (amxd_object_first_instance(child) == nullptr) {
            continue;
        }
        amxc_var_t* table = amxc_var_add_new_key_htable(out, owned_text(amxd_object_get_path(child, 0)).c_str());
        amxd_object_for_each_instance(instance, child) {
            const std::string named = amxd_object_get_name(instance, AMXD_OBJECT_NAMED);
            const std::string index = amxd_object_get_name(instance, AMXD_OBJECT_INDEXED);
            amxc_var_add_key(cstring_t, table, index.c_str(), named == index ? "" : named.c_str());
            collect_instances(instance, out);
        }
    }
}

// Per template path below `object`, the highest index it ever gave, where that is above 0: the
// restored templates carry on from there, so an index deleted before the stop is not given
// out again and a reference left dangling to it does not come to life on a later add.
void collect_counters(const amxd_object_t* object, amxc_var_t* out) {
    amxd_object_for_each_child(child, object) {
        if (amxd_object_get_type(child) != amxd_object_template) {
            collect_counters(child, out);
            continue;
        }
        if (uint32_t last = amxd_object_get_last_index(child); last > 0) {
            amxc_var_add_key(uint32_t, out, owned_text(amxd_object_get_path(child, 0)).c_str(), last);
        }
        amxd_object_for_each_instance(instance, child) {
            collect_counters(instance, out);
        }
    }
}

// Refused values the import reports in its result ({"refused": [{"path", "value"}, ...]}).
std::string refused_values(const amxc_var_t* ret) {
    std::string text;
    amxc_var_for_each(item, amxc_var_get_key(ret, "refused", AMXC_VAR_FLAG_DEFAULT)) {
        char* value = amxc_var_get_cstring_t(amxc_var_get_key(item, "value", AMXC_VAR_FLAG_DEFAULT));
        const char* path = amxc_var_get_const_cstring_t(amxc_var_get_key(item, "path", AMXC_VAR_FLAG_DEFAULT));
        text += std::string(text.empty() ? "" : ", ") + (path == nullptr ? "?" : path) + "=" + owned_text(value);
    }
    return text;
}

}  // namespace

Persistence::Persistence(StateConfig config, amxd_dm_t* dm)
    : config_(std::move(config)), dm_(dm), store_(config_.dir, config_.file) {}

Persistence::~Persistence() {
    saver_.wait();
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

bool Persistence::restore() {
    bool refused = false;  // a copy the import did not take: it stays in place, so saving holds
    std::string failures;
    for (const std::string& path : {store_.current_path(), store_.previous_path()}) {
        amxc::ScopedVar state;
        gw::StateStore::Loaded loaded = store_.load(path, state.get());
        for (const std::string& note : loaded.notes) {
            zebTraceZ(TRACE_LEVEL_WARNING, kZone, "state: %s", note.c_str());
            failures += (failures.empty() ? "" : "; ") + note;
        }
        if (!loaded.found) {
            continue;
        }
        std::string why;
        Outcome outcome = import(state.get(), why);
        if (outcome == Outcome::failed) {
            zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: %s does not restore (%s)", path.c_str(), why.c_str());
            failures += (failures.empty() ? "" : "; ") + path + " does not restore (" + why + ")";
            refused = true;
            clear_tree();
            continue;
        }
        if (outcome == Outcome::partial) {
            restore_text_ = "partly restored from " + path + ", refused: " + why;
            hold(restore_text_);
            return false;
        }
        restore_text_ = "restored from " + path;
        zebTraceZ(TRACE_LEVEL_NOTICE, kZone, "state: %s", restore_text_.c_str());
        if (path == store_.current_path()) {
            last_written_sum_ = loaded.digest;  // what was just read needs no rewrite
            // Nor do the import's own events call for a save: exporting a large tree only to
            // find the bytes unchanged costs as much as a good part of the restore.
            restoring_ = true;
            if (amxp_loop_defer(on_restored, this) != 0) {
                restoring_ = false;
            }
        } else {
            // The current copy did not restore: out of the way, so that the next save cannot
            // make it the previous one.
            std::string kept = store_.set_aside(store_.current_path(), "unrestored");
            dirty_ = true;
            if (!kept.empty()) {
                zebTraceZ(TRACE_LEVEL_WARNING, kZone, "state: the copy that did not restore is kept as %s", kept.c_str());
            }
        }
        return true;
    }
    restore_text_ = failures.empty() ? "no saved configuration" : "nothing restored: " + failures;
    if (!refused) {
        // Damaged copies were set aside, so no save can bury them.
        zebTraceZ(failures.empty() ? TRACE_LEVEL_NOTICE : TRACE_LEVEL_WARNING, kZone,
                  "state: no saved configuration in %s; starting empty", store_.current_path().c_str());
        return failures.empty();
    }
    hold(restore_text_);
    return false;
}

void Persistence::hold(const std::string& why) {
    held_ = true;
    zebTraceZ(TRACE_LEVEL_ERROR, kZone,
              "state: %s. SAVING IS HELD: the files in %s stay as they are until a client calls State.Save() "
              "(keep the running configuration) or State.Restore() (read the files again)",
              why.c_str(), config_.dir.c_str());
}

void Persistence::plan_indices(const amxc_var_t* state) {
    by_name_.clear();
    in_order_.clear();
    amxc_var_for_each(table, amxc_var_get_key(state, "instances", AMXC_VAR_FLAG_DEFAULT)) {
        std::map<std::string, uint32_t>& names = by_name_[amxc_var_key(table)];
        amxc_var_for_each(name, table) {
            const char* text = amxc_var_get_const_cstring_t(name);
            if (text != nullptr && *text != '\0') {
                names[text] = gw::saved_index_key(amxc_var_key(name)).value_or(0);
            }
        }
    }
    amxc_var_for_each(list, amxc_var_get_key(state, "indices", AMXC_VAR_FLAG_DEFAULT)) {
        std::deque<uint32_t>& indices = in_order_[amxc_var_key(list)];
        amxc_var_for_each(item, list) {
            uint32_t index = amxc_var_get_uint32_t(item);
            indices.push_back(index > AMXD_MAX_INDEX ? 0 : index);  // the data model picks instead
        }
    }
}

Persistence::Outcome Persistence::import(amxc_var_t* state, std::string& why) {
    plan_indices(state);
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
    by_name_.clear();
    in_order_.clear();
    if (status != amxd_status_ok) {
        const char* message = amxc_var_type_of(ret.get()) == AMXC_VAR_ID_CSTRING ? amxc_var_get_const_cstring_t(ret.get()) : nullptr;
        why = config_.import_path + " failed: " + (message != nullptr ? message : amxd_status_string(status));
        return Outcome::failed;
    }
    why = refused_values(ret.get());
    raise_counters(amxc_var_get_key(state, "counters", AMXC_VAR_FLAG_DEFAULT));
    return why.empty() ? Outcome::restored : Outcome::partial;
}

void Persistence::raise_counters(const amxc_var_t* counters) {
    amxc_var_for_each(counter, counters) {
        amxd_object_t* templ = amxd_dm_findf(dm_, "%s", amxc_var_key(counter));
        // A template the import did not bring back (its parent was refused) has nothing to carry on.
        if (templ != nullptr && amxd_object_get_type(templ) == amxd_object_template) {
            amxd_object_raise_last_index(templ, amxc_var_get_uint32_t(counter));
        }
    }
}

uint32_t Persistence::saved_index(const amxd_object_t* templ, const char* name, uint32_t requested, void* priv) {
    auto* self = static_cast<Persistence*>(priv);
    const std::string path = owned_text(amxd_object_get_path(templ, 0));
    if (auto order = self->in_order_.find(path); order != self->in_order_.end() && !order->second.empty()) {
        uint32_t index = order->second.front();  // version 1: the export's order is the index order
        order->second.pop_front();
        return index;
    }
    auto names = self->by_name_.find(path);
    if (names != self->by_name_.end() && name != nullptr) {
        if (auto found = names->second.find(name); found != names->second.end()) {
            return found->second;
        }
    }
    return requested;
}

void Persistence::clear_tree() {
    amxd_trans_t trans;
    amxd_trans_init(&trans);
    amxd_trans_set_attr(&trans, amxd_tattr_change_ro, true);
    amxd_object_for_each_child(child, export_object_) {
        if (amxd_object_get_type(child) != amxd_object_template || amxd_object_first_instance(child) == nullptr) {
            continue;
        }
        amxd_trans_select_object(&trans, child);
        amxd_object_for_each_instance(instance, child) {
            amxd_trans_del_inst(&trans, amxd_object_get_index(instance), nullptr);
        }
    }
    if (amxd_trans_apply(&trans, dm_) != amxd_status_ok) {
        zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: what was partly restored could not be removed");
    }
    amxd_trans_clean(&trans);
}

bool Persistence::watch(std::string& error) {
    if (amxp_timer_new(&timer_, on_timer, this) != 0 ||
        amxp_slot_connect(amxd_dm_get_sigmngr(dm_), nullptr, nullptr, on_event, this) != 0) {
        error = "state: cannot follow the data model's changes";
        return false;
    }
    watching_ = true;
    if (dirty_ && !held_) {
        amxp_timer_start(timer_, config_.delay_ms);
    }
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
    if (!self->relevant(sig_name, data)) {
        return;
    }
    self->dirty_ = true;
    // Armed once per burst, not restarted, so a steady stream of changes is still saved; a
    // retry already armed keeps its back-off.
    if (!self->held_ && amxp_timer_get_state(self->timer_) != amxp_timer_started) {
        amxp_timer_start(self->timer_, self->config_.delay_ms);
    }
}

void Persistence::on_timer(amxp_timer_t* /*timer*/, void* priv) {
    auto* self = static_cast<Persistence*>(priv);
    // A save still running re-arms the timer when it ends, if changes came meanwhile.
    if (!self->held_ && !self->saver_.running()) {
        self->save_in_background();
    }
}

void Persistence::save_in_background() {
    const auto started = std::chrono::steady_clock::now();
    dirty_ = false;  // changes from here on arm the timer again
    auto done = [this, started](std::optional<std::string> reply) {
        if (!conclude(reply.value_or(""), started) && dirty_ && !held_) {
            schedule_retry();
        } else if (dirty_ && !held_ && amxp_timer_get_state(timer_) != amxp_timer_started) {
            amxp_timer_start(timer_, config_.delay_ms);
        }
    };
    std::size_t limit = kExportedOnLoop;
    if (!more_instances_than(export_object_, limit)) {
        auto prepared = std::make_shared<const Prepared>(prepare());
        if (!prepared->reply.empty()) {
            done(prepared->reply);
        } else if (!saver_.start_in_thread([this, prepared] { return write(*prepared); }, done)) {
            zebTraceZ(TRACE_LEVEL_WARNING, kZone, "state: no thread to save in (%s); saving in the loop", std::strerror(errno));
            done(write(*prepared));
        }
        return;
    }
    if (!saver_.start_in_child([this] { return attempt(); }, done)) {
        zebTraceZ(TRACE_LEVEL_WARNING, kZone, "state: no process to save in (%s); saving in the loop", std::strerror(errno));
        done(attempt());
    }
}

bool Persistence::flush() {
    saver_.wait();
    if (timer_ != nullptr) {
        amxp_timer_stop(timer_);
    }
    if (!dirty_) {
        return true;
    }
    if (!held_) {
        return save();
    }
    // The files must stay; the running configuration is kept beside them instead.
    amxc::ScopedVar state;
    std::string error;
    std::string bytes = build_state(state.get(), error) ? gw::encode_state_file(state.get()) : "";
    std::string kept = bytes.empty() ? "" : store_.keep_copy(bytes, "unsaved", error);
    if (kept.empty()) {
        zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: saving is held and the running configuration could not be kept: %s",
                  error.c_str());
        return false;
    }
    zebTraceZ(TRACE_LEVEL_WARNING, kZone, "state: saving is held; the running configuration is kept as %s", kept.c_str());
    return true;
}

bool Persistence::build_state(amxc_var_t* state, std::string& error) const {
    amxc_var_set_type(state, AMXC_VAR_ID_HTABLE);
    collect_instances(export_object_, amxc_var_add_new_key_htable(state, "instances"));
    collect_counters(export_object_, amxc_var_add_new_key_htable(state, "counters"));
    amxc_var_t* tree = amxc_var_add_new_key(state, "export");
    amxd_status_t status = amxd_object_invoke_function(export_object_, export_method_.c_str(), nullptr, tree);
    if (status != amxd_status_ok || amxc_var_type_of(tree) != AMXC_VAR_ID_HTABLE) {
        error = config_.export_path + " failed (" + amxd_status_string(status) + ")";
        return false;
    }
    return true;
}

void Persistence::schedule_retry() {
    retry_ms_ = retry_ms_ == 0 ? kFirstRetryMs : std::min(retry_ms_ * 2, kLastRetryMs);
    zebTraceZ(TRACE_LEVEL_WARNING, kZone, "state: saving again in %u ms", retry_ms_);
    amxp_timer_start(timer_, retry_ms_);
}

Persistence::Prepared Persistence::prepare() const {
    amxc::ScopedVar state;
    std::string error;
    if (!build_state(state.get(), error)) {
        return {kExportFailed + error, "", ""};
    }
    // The state's checksum stands for the file's bytes: hashing those too cost a second pass
    // over megabytes per save, and per restore of a file as it was written.
    std::string sum;
    std::string bytes = gw::encode_state_file(state.get(), &sum);
    if (bytes.empty()) {
        return {kUnencodable + std::string("the configuration cannot be written as JSON"), "", ""};
    }
    if (sum == last_written_sum_) {
        return {std::string(1, kUnchanged), "", ""};
    }
    return {"", std::move(bytes), std::move(sum)};
}

std::string Persistence::write(const Prepared& prepared) const {
    std::string error;
    if (!store_.save(prepared.bytes, error)) {
        return kWriteFailed + error;
    }
    return kWritten + prepared.sum + " " + std::to_string(prepared.bytes.size());
}

std::string Persistence::attempt() const {
    Prepared prepared = prepare();
    return prepared.reply.empty() ? write(prepared) : prepared.reply;
}

bool Persistence::conclude(std::string_view reply, std::chrono::steady_clock::time_point started) {
    const char kind = reply.empty() ? '\0' : reply.front();
    const std::string detail(reply.empty() ? reply : reply.substr(1));
    switch (kind) {
    case kUnchanged:
        return true;
    case kWritten:
        break;
    case kExportFailed:
        dirty_ = true;
        [[fallthrough]];
    case kUnencodable:
        error_text_ = detail;
        zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: %s; nothing saved", error_text_.c_str());
        return false;
    default:
        dirty_ = true;
        error_text_ = kind == kWriteFailed ? detail : "the process saving the configuration ended without a word";
        zebTraceZ(TRACE_LEVEL_ERROR, kZone, "state: %s", error_text_.c_str());
        return false;
    }
    if (retry_ms_ != 0) {
        zebTraceZ(TRACE_LEVEL_NOTICE, kZone, "state: saved again after: %s", error_text_.c_str());
    }
    retry_ms_ = 0;
    error_text_.clear();
    const std::size_t space = detail.find(' ');
    last_written_sum_ = detail.substr(0, space);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    zebTraceZ(TRACE_LEVEL_DEBUG, kZone, "state: saved %s bytes in %lld us",
              space == std::string::npos ? "?" : detail.c_str() + space + 1, static_cast<long long>(took.count()));
    return true;
}

bool Persistence::save() {
    saver_.wait();
    if (held_) {
        return false;
    }
    const auto started = std::chrono::steady_clock::now();
    dirty_ = false;  // changes from here on arm the timer again
    return conclude(attempt(), started);
}

bool Persistence::accept(std::string& error) {
    held_ = false;
    last_written_sum_.clear();  // written even when it equals what was last written
    if (!save()) {
        error = error_text_;
        if (dirty_) {
            schedule_retry();
        }
        return false;
    }
    restore_text_ += "; the running configuration was saved on request";
    return true;
}

bool Persistence::restore_again(std::string& error) {
    saver_.wait();
    amxp_timer_stop(timer_);
    clear_tree();
    held_ = false;
    retry_ms_ = 0;
    if (!restore()) {
        error = restore_text_;
        return false;
    }
    if (dirty_) {
        amxp_timer_start(timer_, config_.delay_ms);
    }
    return true;
}

void Persistence::status(amxc_var_t* out) const {
    amxc_var_set_type(out, AMXC_VAR_ID_HTABLE);
    const char* saving = held_ ? "held" : retry_ms_ != 0 ? "retrying" : dirty_ || saver_.running() ? "pending" : "saved";
    amxc_var_add_key(cstring_t, out, "Saving", saving);
    amxc_var_add_key(cstring_t, out, "Restore", restore_text_.c_str());
    amxc_var_add_key(cstring_t, out, "Error", error_text_.c_str());
    amxc_var_add_key(cstring_t, out, "File", store_.current_path().c_str());
}

}  // namespace gwrt
