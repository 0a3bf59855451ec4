// Keeps the configuration of one subtree of the main data model across restarts: restores it
// at start through the configured import function, and after committed changes saves what the
// export function returns (coalesced, crash-safe, see state_store.h and state_file.h).
//
// Instances keep their indices across a restart: the file records each one's index and name,
// and while the import runs a data-model index hook gives every named instance its recorded
// index (unnamed ones come back at the index their export key carries). So paths that clients
// know, and references between objects, stay valid.
//
// Never losing a full copy: when neither the current file nor NAME.prev restores cleanly,
// saving is held (the files stay as they are) until a client says what to do: Save() keeps the
// running configuration, Restore() tries the files again. A failing save is retried with
// back-off. Status() tells clients all of it.
//
// Saves after changes run beside the loop (see background_task.h), so that exporting and
// writing a large tree holds no client waiting: a small tree is exported on the loop and
// written in a thread, a large one exported and written in a child process. One save runs at
// a time, and every save made in the loop (a clean stop, Save(), Restore()) first waits for
// it, so two writers never race.
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

#include "background_task.h"
#include "state_store.h"

namespace gwrt {

struct StateConfig {
    bool enabled = false;
    std::string dir;
    std::string export_path;        // "Object.Path.Method"
    std::string import_path;
    unsigned int delay_ms = 200;    // coalescing delay after the first change
    std::set<std::string> ignored;  // parameters whose changes alone do not call for a save
    std::string file = "gwrt-state.json";
};

class Persistence {
public:
    Persistence(StateConfig config, amxd_dm_t* dm);
    ~Persistence();
    Persistence(const Persistence&) = delete;
    Persistence& operator=(const Persistence&) = delete;

    // Finds the export and import functions and creates the state folder. False with a reason.
    bool prepare(std::string& error);

    // Restores the current file, else NAME.prev, else starts empty; holds saving when a copy
    // existed but none restored completely. True when a copy restored completely or none
    // existed. Said through the trace library (errors on stderr).
    bool restore();

    // Follows the data model's events and arms the save timer on relevant changes.
    bool watch(std::string& error);

    // On a clean stop: writes what is not saved yet. False when that write failed, or when
    // saving is held and the unsaved configuration could not be kept aside.
    bool flush();

    // Exports and writes the state unless it equals the last one written, in the loop. False
    // when it could not be written (said through the trace library; retried with back-off).
    bool save();

    // Client commands: keep the running configuration (ends a hold), or clear the tree and
    // restore from the files again. False with a reason.
    bool accept(std::string& error);
    bool restore_again(std::string& error);

    // {"Saving": "off|saved|pending|retrying|held", "Restore": text, "Error": text, "File": path}
    void status(amxc_var_t* out) const;

    const gw::StateStore& store() const { return store_; }

private:
    enum class Outcome { restored, partial, failed };

    static void on_event(const char* sig_name, const amxc_var_t* data, void* priv);
    static void on_timer(amxp_timer_t* timer, void* priv);
    // Deferred behind the import's events: the end of the restore.
    static void on_restored(void* priv);
    void raise_counters(const amxc_var_t* counters);
    static uint32_t saved_index(const amxd_object_t* templ, const char* name, uint32_t requested, void* priv);

    bool relevant(const char* sig_name, const amxc_var_t* data) const;
    bool build_state(amxc_var_t* state, std::string& error) const;
    // A save in two steps, each told as a reply (see persistence.cpp). Neither changes
    // anything here: the export may run in a child, the write in a child or a thread.
    struct Prepared {
        std::string reply;  // set when there is nothing to write: why, or "unchanged"
        std::string bytes;  // the file to write, and its SHA-256
        std::string sum;
    };
    Prepared prepare() const;
    std::string write(const Prepared& prepared) const;
    // Both, from the export to the renamed file.
    std::string attempt() const;
    // Takes a reply in: the status, the traces, the next try. False when nothing was saved.
    bool conclude(std::string_view reply, std::chrono::steady_clock::time_point started);
    void save_in_background();
    void plan_indices(const amxc_var_t* state);
    Outcome import(amxc_var_t* state, std::string& why);
    void clear_tree();
    void hold(const std::string& why);
    void schedule_retry();

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
    bool dirty_ = false;             // a change not written yet
    bool held_ = false;              // no save may replace the files (see above)
    bool restoring_ = false;         // the import's events, restoring the current file, are on their way
    unsigned int retry_ms_ = 0;      // back-off of the next retry; 0 while saves succeed
    std::string restore_text_ = "not run";
    std::string error_text_;
    std::string last_written_sum_;   // the "sha256" of the file last written or restored as written
    // Index plan of the running restore, per template path: by name (version 2) or in order (1).
    std::map<std::string, std::map<std::string, uint32_t>> by_name_;
    std::map<std::string, std::deque<uint32_t>> in_order_;
    BackgroundTask saver_;
};

}  // namespace gwrt
