// Which tracked flows a large install's DROP rules cover, as the connection cut after a commit
// asks for every entry of the conntrack dump: N sources x 4 TCP ports (the module's layout, one
// rule per source and port) against 10,000 tracked flows (see tracked()).
// Looked up in the rules' index by source, beside the walk of every rule that the cut did
// before (the baseline, in the same run; up to 10,000 sources, past which it takes seconds).
// Needs nothing of the kernel.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "flow_cover.h"

namespace {

using fwinterface::FlowTuple;
using fwinterface::RuleSpec;

std::array<std::uint8_t, 16> address_of(std::uint32_t n) {
    return {10, static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

std::vector<RuleSpec> install(int sources) {
    std::vector<RuleSpec> rules;
    for(int s = 0; s < sources; ++s) {
        for(std::uint16_t port : {22, 80, 443, 8080}) {
            RuleSpec& rule = rules.emplace_back();
            rule.source = fwinterface::AddressMatch{address_of(static_cast<std::uint32_t>(s)), 32};
            rule.protocol = 6;
            rule.destination_port = {port, port};
        }
    }
    return rules;
}

// Flow i comes from source 2i: blocked while 2i < sources, to a blocked port one time in two.
std::vector<FlowTuple> tracked() {
    std::vector<FlowTuple> flows(10000);
    for(std::size_t i = 0; i < flows.size(); ++i) {
        flows[i].source = address_of(static_cast<std::uint32_t>(2 * i));
        flows[i].destination = address_of(1U << 20);
        flows[i].protocol = 6;
        flows[i].source_port = static_cast<std::uint16_t>(40000 + i % 1000);
        flows[i].destination_port = i % 2 == 0 ? 443 : 3000;
    }
    return flows;
}

void BM_FlowsCoveredByIndex(benchmark::State& state) {
    const std::vector<RuleSpec> rules = install(static_cast<int>(state.range(0)));
    const std::vector<FlowTuple> flows = tracked();
    for(auto _ : state) {
        const fwinterface::FlowCover cover(rules);
        benchmark::DoNotOptimize(std::ranges::count_if(flows, [&cover](const FlowTuple& f) { return cover.covers(f); }));
    }
}

void BM_FlowsCoveredByEveryRule(benchmark::State& state) {
    const std::vector<RuleSpec> rules = install(static_cast<int>(state.range(0)));
    const std::vector<FlowTuple> flows = tracked();
    for(auto _ : state) {
        benchmark::DoNotOptimize(std::ranges::count_if(flows, [&rules](const FlowTuple& f) {
            return std::ranges::any_of(rules, [&f](const RuleSpec& r) { return fwinterface::rule_covers(r, f); });
        }));
    }
}

BENCHMARK(BM_FlowsCoveredByIndex)->ArgName("sources")->Arg(1000)->Arg(10000)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlowsCoveredByEveryRule)->ArgName("sources")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
