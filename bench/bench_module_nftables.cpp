// The access-control module on the kernel backend, side by side with hand-written nft batches
// in the same run and the same network namespace:
//   - installation: the rule update of one enabled instance whose network object holds N/4
//     sources (IPAddress rules) and whose port forwarding rule holds 4 destination ports, so N
//     rules, timed from the direct call of the update until its commit is done, against one
//     libnftables batch adding the same N rules;
//   - deletion: the module's deletion of that set (one commit per rule) against one batch
//     deleting the N rules by handle. The deletions also count user and system CPU time per
//     rule.
// N = 100, 1,000 and 10,000; the 10,000 cases run one iteration each, the module's deletion
// taking several seconds there.
//
// Runs as root in a network namespace of its own (nft_bench.h); the module is loaded as the
// runtime loads it (loaded_module.h), with its commit timers stopped.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "fw_bench_rules.h"
#include "loaded_module.h"
#include "nft_bench.h"

namespace {

using modbench::LoadedModule;
using nftbench::CpuSplit;
using nftbench::refusal;

constexpr const char* ROOT = "Device.NetworkSettings.";
constexpr const char* DEST_PORTS[] = {"80", "443", "8080", "53"};
constexpr int64_t PORTS = 4;

// The module holding one access control of `rules` rules, not installed yet.
class ModuleSetup {
public:
    explicit ModuleSetup(int64_t rules) : module_("nftables") {
        const std::string group = module_.add(std::string(ROOT) + "NetworkObject.", {{"Name", "bench"}});
        for(int64_t n = 0; n < rules / PORTS; n++) {
            module_.add(group + ".Rule.", {{"Type", "IPAddress"}, {"SourceIP", fwbench::source_of(static_cast<std::size_t>(n))}});
        }
        std::string ports;
        for(const char* port : DEST_PORTS) {
            ports += (ports.empty() ? "" : ",") + std::string(port);
        }
        const std::string forward =
            module_.add(std::string(ROOT) + "PortForwardingRule.", {{"DestPort", ports}, {"Protocol", "6"}});
        const std::string control = module_.add(std::string(ROOT) + "AccessControl.",
                                                {{"Enable", "true"}, {"NetworkGroupRef", group}, {"PortForwardingRuleRef", forward}});
        record_ = module_.record(control);
        // Whatever the instance's own handlers installed goes; the chain starts empty.
        if(record_ != nullptr) {
            module_.destroy(&record_->fw);
        }
    }

    bool ok() const { return module_.ok() && record_ != nullptr && chain_size() == 0; }

    // The rule update: the instance holds no rules before, `rules` after.
    void update() { module_.update(nullptr, record_); }
    // The deletion of the installed set, one commit per rule.
    void remove() { module_.destroy(&record_->fw); }

    static uint32_t chain_size() { return fw_chain_size("filter", FW_CHAIN, false); }

private:
    LoadedModule module_;
    accesscontrol_setting_t* record_ = nullptr;
};

// The module's rules written for nft: the same matches, in the same order.
std::string install_batch(int64_t rules) {
    std::string batch;
    for(int64_t n = 0; n < rules / PORTS; n++) {
        for(const char* port : DEST_PORTS) {
            batch += "add rule ip filter FORWARD_AccessControl_QK ip saddr " +
                     fwbench::source_of(static_cast<std::size_t>(n)) + " meta l4proto tcp th dport " + port + " drop\n";
        }
    }
    return batch;
}

void counters(benchmark::State& state) {
    state.counters["rules"] = static_cast<double>(state.range(0));
    state.counters["per_rule"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                    benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The module set up for state.range(0) rules in the benchmarks' namespace; nullptr, with the
// benchmark skipped, when that cannot be done.
std::unique_ptr<ModuleSetup> prepare(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return nullptr;
    }
    auto setup = std::make_unique<ModuleSetup>(state.range(0));
    if(!setup->ok()) {
        state.SkipWithError("the module could not be set up");
        return nullptr;
    }
    return setup;
}

void BM_ModuleInstall(benchmark::State& state) {
    const int64_t rules = state.range(0);
    std::unique_ptr<ModuleSetup> prepared = prepare(state);
    if(prepared == nullptr) {
        return;
    }
    ModuleSetup& setup = *prepared;
    for(auto _ : state) {
        setup.update();
        state.PauseTiming();
        const bool installed = ModuleSetup::chain_size() == static_cast<uint32_t>(rules);
        setup.remove();
        state.ResumeTiming();
        if(!installed) {
            state.SkipWithError("the update did not install the expected rules");
            break;
        }
    }
    counters(state);
}

void BM_NftBatchInstall(benchmark::State& state) {
    nftbench::batch_install(state, install_batch(state.range(0)));
    counters(state);
}

void BM_ModuleDelete(benchmark::State& state) {
    std::unique_ptr<ModuleSetup> prepared = prepare(state);
    if(prepared == nullptr) {
        return;
    }
    ModuleSetup& setup = *prepared;
    CpuSplit split;
    for(auto _ : state) {
        state.PauseTiming();
        setup.update();
        state.ResumeTiming();
        split.start();
        setup.remove();
        split.stop();
        if(ModuleSetup::chain_size() != 0) {
            state.SkipWithError("rules left behind");
            break;
        }
    }
    split.report(state);
    counters(state);
}

void BM_NftBatchDelete(benchmark::State& state) {
    nftbench::batch_delete(state, install_batch(state.range(0)));
    counters(state);
}

// Installation and deletion of each size next to each other, so that the ratios compare runs
// made under the same load.
BENCHMARK(BM_ModuleInstall)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NftBatchInstall)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ModuleInstall)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NftBatchInstall)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ModuleDelete)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NftBatchDelete)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ModuleDelete)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NftBatchDelete)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
