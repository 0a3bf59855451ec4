// A network object of N MAC-address rules whose N devices are all in the device map:
//   - one device report as the module takes it (the rule's device table, its RuleIPList and the
//     object's sorted NetworkObjectIPList rewritten), by calling the module's report callback;
//   - one device change end to end: written into the device map, evaluated against the N open
//     queries, reported on the loop, both lists rewritten;
//   - the whole population: N devices added to an empty map until every report is handled.
// The module and the device-map service are loaded as gwrt loads them, each on a bus context
// of its own, with the memory firewall and no access control (no firewall work is measured).
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include <amxp/amxp_clock.h>
#include <amxp/amxp_loop.h>
#include <fwinterface/backend.h>
#include <gmap/gmap_main.h>
#include <zebtrace/zebtrace.h>

#include "hosted_definition.h"
#include "networkobject/networkobject_dm.h"

namespace {

std::string mac_of(int device) {
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:00:00:%02x:%02x:%02x", (device >> 16) & 0xff, (device >> 8) & 0xff, device & 0xff);
    return mac;
}

std::string ip_of(int device, int variant = 0) {
    return "10." + std::to_string(variant) + "." + std::to_string(device / 250) + "." + std::to_string(device % 250 + 1);
}

void settle() {
    while(amxp_loop_run_pending() > 0) {
    }
}

bool apply(amxd_trans_t* trans, amxd_dm_t* dm) {
    const bool ok = amxd_trans_apply(trans, dm) == amxd_status_ok;
    amxd_trans_clean(trans);
    settle();
    return ok;
}

struct Quiet {
    Quiet() {
        zebtrace_set_level(nullptr, TRACE_LEVEL_WARNING);
        amxp_clock_set_manual(true);
        fw_backend_select("memory");
        fw_reset();
    }
    ~Quiet() {
        gmap_client_init(nullptr);
        amxp_loop_reset();
        fw_reset();
    }
};

// The device map (hosted first: the module finds it when its entry point runs) and the module
// with one network object "Device.NetworkSettings.NetworkObject.1." of `rules` MAC rules.
class Scene {
public:
    explicit Scene(int rules) {
        ok_ = devices_.ok() && module_.ok();
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        amxd_trans_select_pathf(&trans, "Device.NetworkSettings.NetworkObject.");
        amxd_trans_add_inst(&trans, 0, nullptr);
        amxd_trans_set_cstring_t(&trans, "Name", "bench");
        ok_ = ok_ && apply(&trans, module_.dm());
        amxd_trans_init(&trans);
        for(int i = 0; i < rules; ++i) {
            amxd_trans_select_pathf(&trans, "Device.NetworkSettings.NetworkObject.1.Rule.");
            amxd_trans_add_inst(&trans, 0, nullptr);
            amxd_trans_set_cstring_t(&trans, "Type", "MACAddress");
            amxd_trans_set_cstring_t(&trans, "SourceMACAddress", mac_of(i).c_str());
        }
        ok_ = ok_ && apply(&trans, module_.dm());
    }

    bool ok() const { return ok_; }

    bool add_devices(int count) {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        for(int i = 0; i < count; ++i) {
            amxd_trans_select_pathf(&trans, "Devices.Device.");
            amxd_trans_add_inst(&trans, 0, nullptr);
            amxd_trans_set_cstring_t(&trans, "Key", ("ID-" + std::to_string(i)).c_str());
            amxd_trans_set_cstring_t(&trans, "PhysAddress", mac_of(i).c_str());
            amxd_trans_set_cstring_t(&trans, "IPAddress", ip_of(i).c_str());
            amxd_trans_set_cstring_t(&trans, "Tags", "physical lan");
        }
        return apply(&trans, devices_.dm());
    }

    bool remove_devices() {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        amxd_object_for_each_instance(device, amxd_dm_findf(devices_.dm(), "Devices.Device.")) {
            amxd_trans_select_pathf(&trans, "Devices.Device.");
            amxd_trans_del_inst(&trans, amxd_object_get_index(device), nullptr);
        }
        return apply(&trans, devices_.dm());
    }

    bool set_address(int device, const std::string& address) {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        amxd_trans_select_pathf(&trans, "Devices.Device.%d.", device + 1);
        amxd_trans_set_cstring_t(&trans, "IPAddress", address.c_str());
        return apply(&trans, devices_.dm());
    }

    amxd_object_t* rule(int index) const {
        return amxd_dm_findf(module_.dm(), "Device.NetworkSettings.NetworkObject.1.Rule.%d.", index + 1);
    }

    size_t object_list_size() const {
        const char* list = amxc_var_constcast(
            cstring_t, amxd_object_get_param_value(amxd_dm_findf(module_.dm(), "Device.NetworkSettings.NetworkObject.1."),
                                                   "NetworkObjectIPList"));
        return list == nullptr ? 0 : std::string(list).size();
    }

private:
    Quiet quiet_;
    bench::HostedDefinition devices_{DEVICES_DEF, DEVICES_MODULE_DIR};
    bench::HostedDefinition module_{NS_MODULE_DEF, NS_MODULE_DIR};
    bool ok_ = false;
};

void entry_counters(benchmark::State& state, int entries) {
    state.counters["entries"] = entries;
    state.counters["per_entry"] = benchmark::Counter(entries, benchmark::Counter::kIsIterationInvariantRate |
                                                                  benchmark::Counter::kInvert);
    state.SetComplexityN(entries);
}

// One report of the middle device's changed address, handed to the module's callback as the
// device-map client delivers it, with the change events it causes.
void BM_DeviceReport(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    Scene scene(entries);
    if(!scene.ok() || !scene.add_devices(entries)) {
        state.SkipWithError("scene not built");
        return;
    }
    void* handle = dlopen(NS_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    auto callback = reinterpret_cast<gmap_query_cb_t>(handle == nullptr ? nullptr : dlsym(handle, "netobj_gmap_query_callback"));
    const int middle = entries / 2;
    amxd_object_t* rule_inst = scene.rule(middle);
    auto* rule = rule_inst == nullptr ? nullptr : static_cast<networkobject_rule_t*>(amxd_object_get_priv(rule_inst));
    if(callback == nullptr || rule == nullptr || rule->query == nullptr) {
        state.SkipWithError("module or rule not found");
        return;
    }
    const std::string key = "ID-" + std::to_string(middle);
    amxc_var_t device;
    amxc_var_init(&device);
    amxc_var_set_type(&device, AMXC_VAR_ID_HTABLE);
    amxc_var_t* address = amxc_var_add_new_key_cstring_t(&device, "IPAddress", "");
    int round = 0;
    for(auto _ : state) {
        amxc_var_set_cstring_t(address, ip_of(middle, 1 + (round++ % 2)).c_str());
        callback(rule->query, key.c_str(), &device, gmap_query_device_updated);
        settle();  // the change events of both lists, as the loop delivers them
    }
    amxc_var_clean(&device);
    dlclose(handle);
    state.counters["list_bytes"] = static_cast<double>(scene.object_list_size());
    entry_counters(state, entries);
}
BENCHMARK(BM_DeviceReport)->ArgName("entries")->Arg(100)->Arg(1000)->Arg(3000)->Unit(benchmark::kMicrosecond)->Complexity();

// The same change written into the device map and carried through the service and the bus.
void BM_DeviceChange(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    Scene scene(entries);
    if(!scene.ok() || !scene.add_devices(entries)) {
        state.SkipWithError("scene not built");
        return;
    }
    int round = 0;
    for(auto _ : state) {
        if(!scene.set_address(entries / 2, ip_of(entries / 2, 1 + (round++ % 2)))) {
            state.SkipWithError("change refused");
            break;
        }
    }
    entry_counters(state, entries);
}
BENCHMARK(BM_DeviceChange)->ArgName("entries")->Arg(100)->Arg(1000)->Arg(3000)->Unit(benchmark::kMicrosecond)->Complexity();

// From an empty device map to N matching devices, every report handled.
void BM_Population(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    Scene scene(entries);
    if(!scene.ok()) {
        state.SkipWithError("scene not built");
        return;
    }
    for(auto _ : state) {
        if(!scene.add_devices(entries)) {
            state.SkipWithError("devices refused");
            break;
        }
        state.PauseTiming();
        scene.remove_devices();
        state.ResumeTiming();
    }
    entry_counters(state, entries);
}
BENCHMARK(BM_Population)->ArgName("entries")->Arg(100)->Arg(1000)->Arg(3000)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
