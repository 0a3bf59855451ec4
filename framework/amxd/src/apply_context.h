// The state of one transaction while it is applied: what it changed (to undo it), what it
// touched (to validate it), and which events it will send.
#pragma once

#include <array>
#include <cstddef>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "event_queue.h"
#include "object_tree.h"
#include "tree.h"
#include "var_util.h"

namespace amxd {

class ApplyContext {
public:
    ApplyContext(amxd_dm_t* dm, bool change_ro);
    ~ApplyContext();
    ApplyContext(const ApplyContext&) = delete;
    ApplyContext& operator=(const ApplyContext&) = delete;

    amxd_dm_t* dm() const { return dm_; }

    // --- operations (the transaction driver) ---
    amxd_status_t select(std::string_view path);
    amxd_status_t set_param(std::string_view name, const amxc_var_t* value);
    amxd_status_t add_instance(uint32_t index, std::string_view name);
    amxd_status_t delete_instance(uint32_t index, std::string_view name);

    // --- default behaviours (the default actions call these) ---
    amxd_status_t write_param(amxd_object_t* object, amxd_param_t* param, const amxc_var_t* value);
    amxd_status_t create_instance(amxd_object_t* templ, uint32_t index, std::string_view name);
    amxd_status_t remove_instance(amxd_object_t* templ, uint32_t index, std::string_view name);

    // --- end of the apply ---
    // Object validate actions and key checks on every changed or added object.
    amxd_status_t validate();
    // Builds the events and queues them on the loop; the last step of an apply that may fail.
    // Throws std::bad_alloc (nothing queued then).
    amxd_status_t post_events();
    // Success: destroys the instances the transaction removed.
    void commit();
    // Failure: puts everything back as it was before the apply. Never fails.
    void rollback();

    // Records why the apply failed (the first reason given wins) and returns `status`.
    amxd_status_t fail(amxd_status_t status, std::string message);
    const std::string& error() const { return error_; }

    // The last instance this transaction added (NULL when none).
    amxd_object_t* last_added() const { return last_added_; }

    // Indexed path with trailing dot of the last instance added, "" when none survived.
    std::string added_path() const;

private:
    struct ParamChange {
        amxd_param_t* param;
        VarPtr original;   // only when had_own: the initial value needs no copy
        bool had_own;      // else it held the definition's initial value, and goes back to it
        const amxc_var_t& before() const { return had_own ? *original : param->def().initial; }
    };
    struct ObjectChange {
        amxd_object_t* object;
        std::vector<ParamChange> params;
    };
    struct InstanceChange {
        bool added;                  // else removed
        amxd_object_t* templ;
        amxd_object_t* instance;
        uint32_t old_last_index;     // added: the template's counter before
        DetachedInstance detached;   // removed: the instance, owned here
        PackedVar removed_event;     // removed: its event, made while its path was known
    };
    struct EventRef {
        bool is_instance;            // index into instance_changes_, else into object_changes_
        std::size_t index;
    };

    bool is_attached(const amxd_object_t* object) const;
    amxd_status_t check_selection(const char* what);
    amxd_status_t check_template_selection(const char* what);  // and the selection is a template
    void touch(amxd_object_t* object);
    void record_original(amxd_object_t* object, amxd_param_t* param);
    // Empty when every recorded parameter was changed back.
    PackedVar changed_event(const ObjectChange& change) const;
    amxd_status_t check_keys(amxd_object_t* instance);

    // The bookkeeping of a transaction of a few changes (most of them) fits here, on the stack
    // of the apply; a larger one takes blocks from the heap, all given back when it ends.
    std::array<std::byte, 1536> room_;
    std::pmr::monotonic_buffer_resource arena_{room_.data(), room_.size()};

    amxd_dm_t* dm_;
    bool change_ro_;
    amxd_object_t* selected_ = nullptr;
    amxd_object_t* last_added_ = nullptr;
    std::string error_;

    std::vector<ObjectChange> object_changes_;
    std::pmr::unordered_map<amxd_object_t*, std::size_t> object_change_index_{&arena_};
    std::pmr::unordered_set<amxd_param_t*> recorded_params_{&arena_};
    std::vector<InstanceChange> instance_changes_;
    std::pmr::unordered_set<const amxd_object_t*> added_{&arena_};
    std::pmr::vector<EventRef> event_order_{&arena_};
    std::pmr::vector<amxd_object_t*> touched_{&arena_};
    std::pmr::unordered_set<amxd_object_t*> touched_set_{&arena_};
};

// The transaction being applied on the data model of `object`, or NULL.
ApplyContext* running_apply(const amxd_object_t* object);

} // namespace amxd
