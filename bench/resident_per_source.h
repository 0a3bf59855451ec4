// The resident memory of this process, and what each blocked source keeps resident: one
// access control over a range of N addresses and one port, on the backend given, from before
// the object exists until its N rules are in, then after some port changes (each withdraws
// every rule and builds them anew). Shared by the memory and kernel backends' benchmarks.
#ifndef BENCH_RESIDENT_PER_SOURCE_H
#define BENCH_RESIDENT_PER_SOURCE_H

#include <malloc.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <string>

#include <amxp/amxp_clock.h>
#include <amxp/amxp_loop.h>
#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "fw_bench_rules.h"
#include "loaded_module.h"

namespace modbench {

// Resident sizes of this process in bytes: now, and the peak since the last reset_peak().
struct Resident {
    double now = 0;
    double peak = 0;
};

inline Resident resident() {
    Resident r;
    std::ifstream status("/proc/self/status");
    std::string key;
    double kib = 0;
    while(status >> key) {
        if(key == "VmRSS:" && status >> kib) {
            r.now = kib * 1024;
        } else if(key == "VmHWM:" && status >> kib) {
            r.peak = kib * 1024;
        }
    }
    return r;
}

inline void reset_peak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Arguments: the number of sources, the number of port changes.
inline void resident_per_source(benchmark::State& state, const char* backend) {
    const int64_t sources = state.range(0);
    const int64_t changes = state.range(1);
    double installed = 0;
    double changed = 0;
    const auto settle = [] {
        amxp_clock_advance(2000);  // the access control's commit delay
        while(amxp_loop_run_pending() > 0) {
        }
    };
    for(auto _ : state) {
        LoadedModule module(backend);
        const TurnEnds turn_ends;
        malloc_trim(0);  // what earlier runs freed is not counted as held before this one
        const double before = resident().now;
        const std::string last = "10.0." + std::to_string((sources - 1) / 256) + "." + std::to_string((sources - 1) % 256);
        const std::string group = module.add("Device.NetworkSettings.NetworkObject.", {{"Name", "bench"}});
        module.add(group + ".Rule.", {{"Type", "IPRange"}, {"SourceIP", "10.0.0.0"}, {"SourceIPRangeMax", last}});
        const std::string ports =
            module.add("Device.NetworkSettings.PortForwardingRule.", {{"DestPort", "80"}, {"Protocol", "6"}});
        module.add("Device.NetworkSettings.AccessControl.",
                   {{"Enable", "true"}, {"NetworkGroupRef", group}, {"PortForwardingRuleRef", ports}});
        settle();
        installed = (resident().now - before) / static_cast<double>(sources);
        for(int64_t n = 0; n < changes; ++n) {
            module.set(ports, "DestPort", n % 2 == 0 ? "81" : "80");
            settle();
        }
        changed = (resident().now - before) / static_cast<double>(sources);
        if(!module.ok() || fw_chain_size("filter", FW_CHAIN, false) != static_cast<uint32_t>(sources)) {
            state.SkipWithError("the sources were not all blocked");
        }
    }
    state.counters["sources"] = static_cast<double>(sources);
    state.counters["rss_bytes_per_source"] = installed;
    state.counters["after_changes"] = changed;
}

}  // namespace modbench

#endif  // BENCH_RESIDENT_PER_SOURCE_H
