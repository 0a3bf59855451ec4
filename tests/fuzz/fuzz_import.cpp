// _Import on arbitrary JSON: the access-control module loaded from its definition, with the
// hosts, schedules and device-map services beside it and the memory firewall, as the runtime
// runs it. Each input is read with amxj (text that is not JSON stops there), called as
// _Import's arguments over the in-process bus, given time for the module's commit timers,
// and then every instance it created is deleted: after that, no rule may be left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <amxb/amxb.h>
#include <amxc/amxc_scoped_var.h>
#include <amxd/amxd_dm.h>
#include <amxd/amxd_object.h>
#include <amxj/amxj.h>
#include <amxo/amxo.h>
#include <amxp/amxp_clock.h>
#include <amxp/amxp_loop.h>
#include <fwinterface/backend.h>
#include <zebtrace/zebtrace.h>

#include "fuzz_require.h"

namespace {

constexpr const char* ROOT = "Device.NetworkSettings.";

// One definition loaded into a data model of its own, served on the bus. Kept for the life
// of the process: the module stays loaded, so its coverage stays known to the fuzzer.
struct Loaded {
    amxd_dm_t* dm = nullptr;
    amxo_parser_t* parser = nullptr;
    amxb_bus_ctx_t* ctx = nullptr;
};

Loaded load(const char* definition) {
    Loaded loaded;
    require(amxd_dm_new(&loaded.dm) == amxd_status_ok && amxo_parser_new(&loaded.parser) == 0 &&
            amxo_parser_add_import_dir(loaded.parser, FUZZ_SERVICE_MODULE_DIR) == 0 &&
            amxo_parser_parse_file(loaded.parser, definition, amxd_dm_get_root(loaded.dm)) == 0 &&
            amxb_register_dm(&loaded.ctx, loaded.dm) == 0 &&
            amxo_parser_invoke_entry_points(loaded.parser, loaded.dm, 0) == 0);
    return loaded;
}

// Bounded: work that keeps re-queueing itself is a hang the fuzzer must see as a crash.
void settle() {
    for(int round = 0; amxp_loop_run_pending() > 0; ++round) {
        require(round < 10000);
    }
}

void let_time_pass() {
    settle();
    amxp_clock_advance(2000);
    settle();
}

void delete_instances(const Loaded& module) {
    for(const char* kind : {"AccessControl", "PortForwardingRule", "NetworkObject"}) {
        const std::string table = std::string(ROOT) + kind + ".";
        amxd_object_t* templ = amxd_dm_findf(module.dm, "%s", table.c_str());
        std::vector<uint32_t> indexes;
        amxd_object_for_each_instance(instance, templ) {
            indexes.push_back(amxd_object_get_index(instance));
        }
        for(const uint32_t index : indexes) {
            require(amxb_del(module.ctx, (table + std::to_string(index) + ".").c_str(), nullptr, 0) == 0);
        }
        settle();
    }
}

// The services first: the module looks for them when it starts. All are stopped at exit,
// module first, so that the leak check sees what stopping leaves behind.
const Loaded& module() {
    static std::vector<Loaded> loaded;
    if(loaded.empty()) {
        zebtrace_set_quiet(true);
        amxp_clock_set_manual(true);
        require(fw_backend_select("memory") == 0);
        for(const char* definition : {FUZZ_HOSTS_DEF, FUZZ_SCHEDULES_DEF, FUZZ_DEVICES_DEF, FUZZ_MODULE_DEF}) {
            loaded.push_back(load(definition));
        }
        std::atexit([] {
            for(auto it = loaded.rbegin(); it != loaded.rend(); ++it) {
                amxo_parser_invoke_entry_points(it->parser, it->dm, 1);
                amxb_free(&it->ctx);
                amxd_dm_delete(&it->dm);
                amxo_parser_delete(&it->parser);
            }
            settle();
            loaded.clear();
        });
    }
    return loaded.back();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Loaded& loaded = module();
    amxc::ScopedVar args;
    char error[128];
    if(amxj_read(args.get(), reinterpret_cast<const char*>(data), size, error, sizeof(error)) == 0) {
        amxc::ScopedVar ret;
        amxb_call(loaded.ctx, ROOT, "_Import", args.get(), ret.get(), 0);
        let_time_pass();
        delete_instances(loaded);
        let_time_pass();
        // Rules that outlived every instance that made them.
        require(fw_chain_size("filter", "FORWARD_AccessControl_QK", false) == 0 &&
                fw_chain_size("filter", "FORWARD6_AccessControl_QK", true) == 0);
    }
    return 0;
}
