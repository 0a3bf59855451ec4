// The C API of a data model: creation, teardown, lookup, events.
#include <cstdarg>
#include <optional>
#include <string>

#include "c_boundary.h"
#include "event_data.h"
#include "event_queue.h"
#include "object_tree.h"
#include "path.h"
#include "teardown.h"

using namespace amxd;

_amxd_dm::_amxd_dm() : root(std::make_unique<amxd_object_t>(amxd_object_root, "")) {
    root->dm = this;
}

_amxd_dm::~_amxd_dm() {
    // Queued events go first: they must never reach slots about a tree being freed.
    events.reset();
    root.reset();
    amxp_sigmngr_delete(&sigmngr);
}

extern "C" {

amxd_status_t amxd_dm_new(amxd_dm_t** dm) {
    if(dm == nullptr) {
        return amxd_status_invalid_arg;
    }
    *dm = nullptr;
    return guard_status([&] {
        auto created = std::make_unique<amxd_dm_t>();
        if(amxp_sigmngr_new(&created->sigmngr) != 0) {
            return amxd_status_out_of_mem;
        }
        for(const char* name : {sig_object_changed, sig_instance_added, sig_instance_removed}) {
            if(amxp_sigmngr_add_signal(created->sigmngr, name) != 0) {
                return amxd_status_out_of_mem;
            }
        }
        created->events = std::make_unique<EventQueue>(created->sigmngr);
        *dm = created.release();
        return amxd_status_ok;
    });
}

void amxd_dm_delete(amxd_dm_t** dm) {
    if((dm == nullptr) || (*dm == nullptr)) {
        return;
    }
    amxd_dm_t* target = *dm;
    if((target->apply != nullptr) || is_locked(target->root.get())) {
        return;
    }
    *dm = nullptr;
    target->events.reset();
    {
        TreeLock lock(target->root.get());
        run_destroy_actions(target->root.get());
    }
    delete target;
}

amxd_object_t* amxd_dm_get_root(amxd_dm_t* const dm) {
    return dm == nullptr ? nullptr : dm->root.get();
}

amxd_object_t* amxd_dm_findf(amxd_dm_t* const dm, const char* path_fmt, ...) {
    if(dm == nullptr) {
        return nullptr;
    }
    va_list args;
    va_start(args, path_fmt);
    std::optional<std::string> path = guard_value(std::optional<std::string>(), [&] {
        return format_path(path_fmt, args);
    });
    va_end(args);
    return path ? resolve_path(dm->root.get(), *path) : nullptr;
}

amxd_object_t* amxd_dm_signal_get_object(amxd_dm_t* const dm, const amxc_var_t* const signal_data) {
    if(dm == nullptr) {
        return nullptr;
    }
    const char* path = amxc_var_get_const_cstring_t(amxc_var_get_key(signal_data, "path", AMXC_VAR_FLAG_DEFAULT));
    return path == nullptr ? nullptr : resolve_path(dm->root.get(), path);
}

amxp_signal_mngr_t* amxd_dm_get_sigmngr(amxd_dm_t* const dm) {
    return dm == nullptr ? nullptr : dm->sigmngr;
}

void amxd_dm_set_index_hook(amxd_dm_t* const dm, amxd_index_hook_fn_t fn, void* priv) {
    if(dm != nullptr) {
        dm->index_hook = fn;
        dm->index_hook_priv = fn == nullptr ? nullptr : priv;
    }
}

} // extern "C"
