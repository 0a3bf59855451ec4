// What the access-control module feels: programming N rules with one commit, and removing
// one rule from the front of a chain of N with one commit per removal (the module renumbers
// by always deleting at the lowest position). Baselines, in the same run: building and
// configuring N rule objects (what the module pays before it inserts anything), and copying
// a chain of N rule texts (what a transaction applied to a copy of the chain would pay).

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>
#include <fwrules/fw_rule.h>

#include "fw_bench_rules.h"

namespace {

using fwbench::make_rule;
using fwbench::make_rules;
using fwbench::Rule;

void fill_chain(const std::vector<Rule>& rules) {
    fw_reset();
    for(std::size_t n = 0; n < rules.size(); ++n) {
        fw_add_rule(rules[n].get(), static_cast<uint32_t>(n + 1));
    }
    fw_apply();
}

void BM_InsertAllThenApply(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<Rule> rules = make_rules(count);
    for(auto _ : state) {
        state.PauseTiming();
        fw_reset();
        state.ResumeTiming();
        for(std::size_t n = 0; n < count; ++n) {
            if(fw_add_rule(rules[n].get(), static_cast<uint32_t>(n + 1)) != FW_OK) {
                state.SkipWithError("insertion refused");
                return;
            }
        }
        if(fw_apply() != FW_OK) {
            state.SkipWithError("commit refused");
            return;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
    state.SetComplexityN(static_cast<int64_t>(count));
    fw_reset();
}
BENCHMARK(BM_InsertAllThenApply)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)->Complexity();

void BM_DeleteFirstThenApply(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<Rule> rules = make_rules(count);
    fill_chain(rules);
    // The chain rotates: the rule removed from the front goes back in at the end, untimed,
    // so every removal works on a chain of `count` rules.
    std::size_t front = 0;
    for(auto _ : state) {
        if(fw_delete_rule(rules[front].get(), 1) != FW_OK || fw_apply() != FW_OK) {
            state.SkipWithError("removal refused");
            return;
        }
        state.PauseTiming();
        fw_add_rule(rules[front].get(), static_cast<uint32_t>(count));
        fw_apply();
        front = (front + 1) % count;
        state.ResumeTiming();
    }
    state.SetComplexityN(static_cast<int64_t>(count));
    fw_reset();
}
BENCHMARK(BM_DeleteFirstThenApply)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)->Complexity();

void BM_BaselineBuildRules(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    for(auto _ : state) {
        std::vector<Rule> rules = make_rules(count);
        benchmark::DoNotOptimize(rules.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
    state.SetComplexityN(static_cast<int64_t>(count));
}
BENCHMARK(BM_BaselineBuildRules)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)->Complexity();

void BM_BaselineCopyChain(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> chain;
    char text[FW_RULE_TEXT_MAX];
    for(std::size_t n = 0; n < count; ++n) {
        fw_rule_to_text(make_rule(n).get(), text, sizeof(text));
        chain.emplace_back(text);
    }
    for(auto _ : state) {
        std::vector<std::string> copy = chain;
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetComplexityN(static_cast<int64_t>(count));
}
BENCHMARK(BM_BaselineCopyChain)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)->Complexity();

}  // namespace
