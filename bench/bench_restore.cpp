// Restoring a saved configuration by `_Import`, as gwrt does at start: one network object of N
// single-address rules, one port entry and one enabled access control using both, until the
// object's NetworkObjectIPList holds every entry and the firewall holds one DROP rule per
// source. Besides the time, the counters give the memory the restore needs: the peak resident
// size during it and what stays resident after it, both above the size before it, and the page
// faults it takes (each one a trap into the kernel; on some machines a large share of a restore).
// And the resident memory per blocked source of one large access control.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <malloc.h>
#include <string>
#include <sys/resource.h>

#include <amxc/amxc.h>
#include <amxp/amxp_clock.h>
#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "fw_bench_rules.h"
#include "loaded_module.h"
#include "resident_per_source.h"

namespace {

// The `_Import` argument: {"data": {"set": {"hgwconfig": {"NetworkSettings": TREE}}}}.
void saved_tree(amxc_var_t* args, int rules) {
    amxc_var_set_type(args, AMXC_VAR_ID_HTABLE);
    amxc_var_t* tree = amxc_var_add_new_key_htable(args, "data");
    tree = amxc_var_add_new_key_htable(amxc_var_add_new_key_htable(tree, "set"), "hgwconfig");
    tree = amxc_var_add_new_key_htable(tree, "NetworkSettings");

    amxc_var_t* object = amxc_var_add_new_key_htable(
        amxc_var_add_new_htable(amxc_var_add_new_key_list(tree, "NetworkObject")), "NetworkObject-1");
    amxc_var_add_new_key_cstring_t(object, "Name", "bench");
    amxc_var_t* list = amxc_var_add_new_key_list(object, "Rule");
    for(int n = 0; n < rules; ++n) {
        const std::string key = "Rule-" + std::to_string(n + 1);
        amxc_var_t* rule = amxc_var_add_new_key_htable(amxc_var_add_new_htable(list), key.c_str());
        amxc_var_add_new_key_cstring_t(rule, "Type", "IPAddress");
        amxc_var_add_new_key_cstring_t(rule, "SourceIP", fwbench::source_of(static_cast<std::size_t>(n)).c_str());
    }

    amxc_var_t* ports = amxc_var_add_new_key_htable(
        amxc_var_add_new_htable(amxc_var_add_new_key_list(tree, "PortForwardingRule")), "PortForwardingRule-1");
    amxc_var_add_new_key_cstring_t(ports, "DestPort", "80");
    amxc_var_add_new_key_cstring_t(ports, "Protocol", "6");

    amxc_var_t* control = amxc_var_add_new_key_htable(
        amxc_var_add_new_htable(amxc_var_add_new_key_list(tree, "AccessControl")), "AccessControl-1");
    amxc_var_add_new_key_bool(control, "Enable", true);
    amxc_var_add_new_key_cstring_t(control, "NetworkGroupRef", "Device.NetworkSettings.NetworkObject.1");
    amxc_var_add_new_key_cstring_t(control, "PortForwardingRuleRef", "Device.NetworkSettings.PortForwardingRule.1");
}

std::size_t object_entries(const modbench::LoadedModule& module) {
    const char* list = amxc_var_constcast(
        cstring_t, amxd_object_get_param_value(amxd_dm_findf(module.dm(), "Device.NetworkSettings.NetworkObject.1."),
                                               "NetworkObjectIPList"));
    if(list == nullptr || list[0] == '\0') {
        return 0;
    }
    std::size_t entries = 1;
    for(const char* c = list; *c != '\0'; ++c) {
        entries += *c == ',' ? 1 : 0;
    }
    return entries;
}

void BM_RestoreByImport(benchmark::State& state) {
    const int rules = static_cast<int>(state.range(0));
    double peak = 0;
    double held = 0;
    double faults = 0;
    for(auto _ : state) {
        state.PauseTiming();
        amxc_var_t args;
        amxc_var_init(&args);
        saved_tree(&args, rules);
        {
            modbench::LoadedModule module;
            const modbench::TurnEnds turn_ends;
            malloc_trim(0);  // what earlier runs freed is not counted as held before this one
            const modbench::Resident before = modbench::resident();
            modbench::reset_peak();
            rusage begin{};
            getrusage(RUSAGE_SELF, &begin);
            state.ResumeTiming();
            const int status = module.call("Device.NetworkSettings.", "_Import", &args);
            amxp_clock_advance(2000);  // the access control's commit delay
            while(amxp_loop_run_pending() > 0) {
            }
            state.PauseTiming();
            rusage end{};
            getrusage(RUSAGE_SELF, &end);
            faults = static_cast<double>(end.ru_minflt - begin.ru_minflt);
            const modbench::Resident after = modbench::resident();
            peak = after.peak - before.now;
            held = after.now - before.now;
            if(!module.ok() || status != 0 || object_entries(module) != static_cast<std::size_t>(rules) ||
               fw_chain_size("filter", FW_CHAIN, false) != static_cast<uint32_t>(rules)) {
                state.SkipWithError("the restore did not bring every rule back");
            }
        }
        amxc_var_clean(&args);
        state.ResumeTiming();
    }
    state.counters["rules"] = rules;
    state.counters["rss_peak_MB"] = peak / 1e6;
    state.counters["rss_held_MB"] = held / 1e6;
    state.counters["page_faults"] = faults;
}
BENCHMARK(BM_RestoreByImport)->ArgName("rules")->Arg(1000)->Arg(3000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// What each blocked source keeps resident on the memory firewall (resident_per_source.h).
void BM_ResidentPerSource(benchmark::State& state) { modbench::resident_per_source(state, "memory"); }
BENCHMARK(BM_ResidentPerSource)
    ->ArgNames({"sources", "changes"})
    ->Args({65536, 3})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
