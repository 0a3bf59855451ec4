// The access-control module loaded by the definition loader into a data model served on the
// bus, as the runtime loads it, with its functions looked up for direct calls. Shared by the
// module benchmarks.
#ifndef BENCH_LOADED_MODULE_H
#define BENCH_LOADED_MODULE_H

#include <dlfcn.h>

#include <string>
#include <utility>
#include <vector>

#include <amxb/amxb.h>
#include <amxd/amxd.h>
#include <amxo/amxo.h>
#include <amxp/amxp_clock.h>
#include <amxp/amxp_loop.h>
#include <fwinterface/backend.h>
#include <fwinterface/interface.h>
#include <zebtrace/zebtrace.h>

#include "accesscontrol/accesscontrol_dm.h"
#include "heap_policy.h"
#include "settle_later.h"

namespace modbench {

using Params = std::vector<std::pair<std::string, std::string>>;

// While it lives, the firewall holds removals to the end of the loop's turn, which runs when
// the loop drains, as in gwrt.
class TurnEnds {
public:
    TurnEnds() { fw_backend_hold_removals(&defer, nullptr); }
    ~TurnEnds() { fw_backend_hold_removals(nullptr, nullptr); }
    TurnEnds(const TurnEnds&) = delete;
    TurnEnds& operator=(const TurnEnds&) = delete;

private:
    static void end(void* /*priv*/) { fw_backend_apply_held(); }
    static int defer(void* /*priv*/) { return amxp_loop_defer(&end, nullptr); }
};

// The module in its data model, for the life of one benchmark.
class LoadedModule {
public:
    // On the firewall backend `backend` (selected in the calling thread's network namespace).
    explicit LoadedModule(const char* backend = "memory") {
        gw::set_heap_policy();
        zebtrace_set_level(nullptr, TRACE_LEVEL_WARNING);
        amxp_clock_set_manual(true);  // commit timers never fire: updates are run directly
        ok_ = fw_backend_select(backend) == 0;
        fw_reset();
        amxd_dm_new(&dm_);
        amxo_parser_new(&parser_);
        amxo_parser_add_import_dir(parser_, NS_MODULE_DIR);
        ok_ = ok_ && amxo_parser_parse_file(parser_, NS_MODULE_DEF, amxd_dm_get_root(dm_)) == 0 &&
              amxb_register_dm(&ctx_, dm_) == 0 && amxo_parser_invoke_entry_points(parser_, dm_, 0) == 0;
        handle_ = dlopen(NS_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
        ok_ = ok_ && handle_ != nullptr;
        if(ok_) {
            update = reinterpret_cast<decltype(update)>(dlsym(handle_, "accesscontrol_firewall_update_rule"));
            create = reinterpret_cast<decltype(create)>(dlsym(handle_, "firewall_rule_create"));
            destroy = reinterpret_cast<decltype(destroy)>(dlsym(handle_, "firewall_rule_delete"));
            program = reinterpret_cast<decltype(program)>(dlsym(handle_, "firewall_rule_set"));
            apply = reinterpret_cast<decltype(apply)>(dlsym(handle_, "firewall_rule_apply"));
            ok_ = update != nullptr && create != nullptr && destroy != nullptr && program != nullptr && apply != nullptr;
        }
    }
    ~LoadedModule() {
        amxo_parser_invoke_entry_points(parser_, dm_, 1);
        amxb_free(&ctx_);
        amxd_dm_delete(&dm_);
        if(handle_ != nullptr) {
            dlclose(handle_);
        }
        amxo_parser_delete(&parser_);
        amxp_loop_reset();
        fw_reset();
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool ok() const { return ok_; }
    amxd_dm_t* dm() const { return dm_; }

    // Adds an instance over the bus and returns its indexed path without trailing dot.
    std::string add(const std::string& table, const Params& values) {
        amxc_var_t args;
        amxc_var_t ret;
        amxc_var_init(&args);
        amxc_var_init(&ret);
        amxc_var_set_type(&args, AMXC_VAR_ID_HTABLE);
        for(const auto& [name, value] : values) {
            amxc_var_add_new_key_cstring_t(&args, name.c_str(), value.c_str());
        }
        std::string path;
        if(amxb_add(ctx_, table.c_str(), 0, nullptr, &args, &ret, 0) == 0) {
            path = table + std::to_string(amxc_var_get_uint32_t(amxc_var_get_key(&ret, "index", AMXC_VAR_FLAG_DEFAULT)));
        } else {
            ok_ = false;
        }
        amxc_var_clean(&args);
        amxc_var_clean(&ret);
        while(amxp_loop_run_pending() > 0) {
        }
        return path;
    }

    // Sets one parameter over the bus and lets the loop deliver what it caused.
    void set(const std::string& path, const char* name, const char* value) {
        amxc_var_t values;
        amxc_var_init(&values);
        amxc_var_set_type(&values, AMXC_VAR_ID_HTABLE);
        amxc_var_add_new_key_cstring_t(&values, name, value);
        if(amxb_set(ctx_, path.c_str(), &values, nullptr, 0) != 0) {
            ok_ = false;
        }
        amxc_var_clean(&values);
        while(amxp_loop_run_pending() > 0) {
        }
    }

    // Deletes an instance over the bus and lets the loop deliver what it caused.
    void del(const std::string& path) {
        if(amxb_del(ctx_, path.c_str(), nullptr, 0) != 0) {
            ok_ = false;
        }
        while(amxp_loop_run_pending() > 0) {
        }
    }

    // Calls a method over the bus and lets the loop deliver what it caused; the method's status.
    int call(const std::string& object, const char* method, amxc_var_t* args) {
        const int status = amxb_call(ctx_, object.c_str(), method, args, nullptr, 0);
        while(amxp_loop_run_pending() > 0) {
        }
        return status;
    }

    accesscontrol_setting_t* record(const std::string& path) const {
        amxd_object_t* object = amxd_dm_findf(dm_, "%s", path.c_str());
        return object == nullptr ? nullptr : static_cast<accesscontrol_setting_t*>(amxd_object_get_priv(object));
    }

    void (*update)(amxp_timer_t*, void*) = nullptr;
    firewall_rule_t* (*create)(const char*, bool) = nullptr;
    void (*destroy)(firewall_rule_t**) = nullptr;
    amxd_status_t (*program)(firewall_rule_t*, const char*, const char*, const char*, const char*, bool, amxc_var_t*,
                             uint32_t, amxc_var_t*, uint32_t, amxc_var_t*, uint32_t, uint32_t) = nullptr;
    amxd_status_t (*apply)(firewall_rule_t*) = nullptr;

private:
    amxd_dm_t* dm_ = nullptr;
    amxo_parser_t* parser_ = nullptr;
    amxb_bus_ctx_t* ctx_ = nullptr;
    void* handle_ = nullptr;
    bool ok_ = false;
};

}  // namespace modbench

#endif
