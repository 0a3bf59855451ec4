// Keeps the configuration of one subtree of the main data model across restarts: restores it
// at start through the configured import function, and after committed changes saves what the
// export function returns (coalesced, crash-safe, see state_store.h and state_file.h).
//
// Instances keep their indices across a restart: the file records them, and while the import
// runs a data-model index hook hands each saved template its recorded indices in order, since
// the export lists instances in index order and the import adds them in that order. So paths
// that clients know, and references between objects, stay valid.
#pragma once

#include <amxc/amxc_variant.h>
#include <amxd/amxd_dm.h>
#include <amxp/amxp_timer.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>

#include "state_store.h"

namespace gwrt {

struct StateConfig {
    bool enabled = false;
    std::string dir;
    std::string export_path;        // "Object.Path.Method"
    std::string import_path;
    unsigned int delay_ms = 200;    // coalescing delay after the first change
    std::set<std::string> ignored;  // parameters whose changes alone do not call for a save
};

class Persistence {
public:
    Persistence(StateConfig config, amxd_dm_t* dm);
    ~Persistence();
    Persistence(const Persistence&) = delete;
    Persistence& operator=(const Persistence&) = delete;

    // Finds the export and import functions and creates the state folder. False with a reason.
    bool prepare(std::string& error);

    // Loads the last good state and imports it (messages through the trace library). What is
    // not restored is said; the start goes on.
    void restore();

    // Follows the data model's events and arms the save timer on relevant changes.
    bool watch(std::string& error);

    // Saves now if a save is due (on a clean stop).
    void flush();

    // Exports and writes the state unless it equals the last one written. False when it
    // could not be written (said through the trace library).
    bool save();

    // Time taken by the last save() that wrote, for measurements.
    std::chrono::nanoseconds last_save_duration() const { return last_save_duration_; }
    const gw::StateStore& store() const { return store_; }

private:
    static void on_event(const char* sig_name, const amxc_var_t* data, void* priv);
    static void on_timer(amxp_timer_t* timer, void* priv);
    // Deferred behind the import's events: the end of the restore.
    static void on_restored(void* priv);
    static uint32_t saved_index(const amxd_object_t* templ, const char* name, void* priv);

    bool relevant(const char* sig_name, const amxc_var_t* data) const;
    bool build_state(amxc_var_t* state);
    bool import(amxc_var_t* state);

    StateConfig config_;
    amxd_dm_t* dm_;
    gw::StateStore store_;
    amxd_object_t* export_object_ = nullptr;
    amxd_object_t* import_object_ = nullptr;
    std::string export_method_;
    std::string import_method_;
    std::string watched_prefix_;  // indexed path of the export object, with a trailing "."
    amxp_timer_t* timer_ = nullptr;
    bool watching_ = false;
    bool restoring_ = false;  // the import's events, restoring the current file, are on their way
    std::string last_written_;
    std::map<std::string, std::deque<uint32_t>> restore_plan_;  // template path -> indices
    std::chrono::nanoseconds last_save_duration_ {0};
};

}  // namespace gwrt
