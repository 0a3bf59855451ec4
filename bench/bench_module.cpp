// What a change costs the access-control module, measured on the memory firewall:
//   - the rule update of one instance (withdraw its rules, gather, expand, insert, commit) for
//     1 to 10,000 sources times 4 port entries of one or two protocols (4 to 40,000 rules);
//   - the deletion of one rule set among 100 (every later rule is renumbered).
// Baseline, in the same run: the firewall library alone inserting the same rules with one
// commit and removing them at the front with one commit each, as the module does, or with one
// commit for all.
// The module is loaded as the runtime loads it (loaded_module.h); trace output is limited to
// warnings (per-rule information lines are what a production trace configuration filters out).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "fw_bench_rules.h"
#include "loaded_module.h"

namespace {

using modbench::LoadedModule;
using modbench::Params;

constexpr const char* ROOT = "Device.NetworkSettings.";
const char* const DEST_PORTS[] = {"80", "443", "8080", "53"};

// The last address of a range of `count` addresses starting at 10.0.0.1.
std::string range_end(int64_t count) {
    const int64_t last = count;  // 10.0.0.1 is offset 1
    return "10.0." + std::to_string(last / 256) + "." + std::to_string(last % 256);
}

void per_rule_counters(benchmark::State& state, int64_t rules) {
    state.counters["rules"] = static_cast<double>(rules);
    state.counters["per_rule"] =
        benchmark::Counter(static_cast<double>(rules), benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
    state.SetComplexityN(rules);
}

// One update of an enabled instance whose rules are in place: they are withdrawn and rebuilt.
void BM_RuleUpdate(benchmark::State& state) {
    const int64_t sources = state.range(0);
    const int64_t protocols = state.range(1);
    LoadedModule module;
    Params rule = {{"Type", "IPRange"}, {"SourceIP", "10.0.0.1"}, {"SourceIPRangeMax", range_end(sources)}};
    const std::string group = module.add(std::string(ROOT) + "NetworkObject.", {{"Name", "bench"}});
    module.add(group + ".Rule.", rule);
    std::string refs;
    for(const char* port : DEST_PORTS) {
        const std::string ports = module.add(std::string(ROOT) + "PortForwardingRule.",
                                             {{"DestPort", port}, {"Protocol", protocols == 1 ? "6" : "6,17"}});
        refs += (refs.empty() ? "" : ",") + ports;
    }
    const std::string control = module.add(std::string(ROOT) + "AccessControl.",
                                           {{"Enable", "true"}, {"NetworkGroupRef", group}, {"PortForwardingRuleRef", refs}});
    accesscontrol_setting_t* record = module.record(control);
    if(!module.ok() || record == nullptr) {
        state.SkipWithError("the module could not be set up");
        return;
    }
    const int64_t rules = sources * 4 * protocols;
    module.update(nullptr, record);
    if(fw_chain_size("filter", FW_CHAIN, false) != static_cast<uint32_t>(rules)) {
        state.SkipWithError("the update did not program the expected rules");
        return;
    }
    for(auto _ : state) {
        module.update(nullptr, record);
    }
    per_rule_counters(state, rules);
}
BENCHMARK(BM_RuleUpdate)
    ->ArgNames({"sources", "protocols"})
    ->Args({1, 1})
    ->Args({25, 1})    // 100 rules
    ->Args({250, 1})   // 1,000 rules
    ->Args({250, 2})
    ->Args({10000, 1}) // 40,000 rules
    ->Unit(benchmark::kMillisecond);

int no_turn_wait(void* /*priv*/) { return 0; }

// A port change of an access control of N sources on one port, as gwrt runs it: the module's
// callback withdraws every rule and inserts the new ones, and the end of the loop's turn
// commits their net difference (every rule replaced). The callback holds the loop alone for
// that long.
void BM_PortChange(benchmark::State& state) {
    const int64_t sources = state.range(0);
    LoadedModule module;
    fw_backend_hold_removals(&no_turn_wait, nullptr);
    const std::string group = module.add(std::string(ROOT) + "NetworkObject.", {{"Name", "bench"}});
    module.add(group + ".Rule.", {{"Type", "IPRange"}, {"SourceIP", "10.0.0.1"}, {"SourceIPRangeMax", range_end(sources)}});
    const std::string ports = module.add(std::string(ROOT) + "PortForwardingRule.", {{"DestPort", "80"}, {"Protocol", "6"}});
    const std::string control = module.add(std::string(ROOT) + "AccessControl.",
                                           {{"Enable", "true"}, {"NetworkGroupRef", group}, {"PortForwardingRuleRef", ports}});
    accesscontrol_setting_t* record = module.record(control);
    if(module.ok() && record != nullptr) {
        module.update(nullptr, record);
        fw_backend_apply_held();
    }
    if(!module.ok() || record == nullptr || fw_chain_size("filter", FW_CHAIN, false) != static_cast<uint32_t>(sources)) {
        state.SkipWithError("the module could not be set up");
        fw_backend_hold_removals(nullptr, nullptr);
        return;
    }
    bool odd = false;
    for(auto _ : state) {
        state.PauseTiming();
        odd = !odd;
        module.set(ports, "DestPort", odd ? "81" : "80");
        state.ResumeTiming();
        module.update(nullptr, record);
        fw_backend_apply_held();
    }
    fw_backend_hold_removals(nullptr, nullptr);
    per_rule_counters(state, sources);
}
BENCHMARK(BM_PortChange)->ArgName("sources")->Arg(10000)->Arg(65535)->Unit(benchmark::kMillisecond);

// The floor under BM_RuleUpdate: the same number of rules inserted with one commit and removed
// at the front with one commit each, through the firewall library alone.
void BM_FirewallBaseline(benchmark::State& state) {
    const int64_t rules = state.range(0) * 4 * state.range(1);
    fw_backend_select("memory");
    fw_reset();
    std::vector<fw_rule_t*> prepared;
    for(int64_t n = 0; n < rules; n++) {
        fw_rule_t* rule = nullptr;
        fw_rule_new(&rule);
        const std::string source = "10.0." + std::to_string((n / 8) / 256) + "." + std::to_string((n / 8) % 256);
        fw_rule_set_source(rule, source.c_str());
        fw_rule_set_protocol(rule, n % 2 == 0 ? 6 : 17);
        fw_rule_set_destination_port(rule, static_cast<uint32_t>(80 + n % 8));
        fw_rule_set_ipv4(rule, true);
        fw_rule_set_table(rule, "filter");
        fw_rule_set_chain(rule, FW_CHAIN);
        fw_rule_set_target_policy(rule, FW_RULE_POLICY_DROP);
        fw_rule_set_enabled(rule, true);
        prepared.push_back(rule);
    }
    for(auto _ : state) {
        for(size_t n = 0; n < prepared.size(); n++) {
            fw_add_rule(prepared[n], static_cast<uint32_t>(n + 1));
        }
        fw_apply();
        for(fw_rule_t* rule : prepared) {
            fw_delete_rule(rule, 1);
            fw_apply();
        }
    }
    if(fw_chain_size("filter", FW_CHAIN, false) != 0) {
        state.SkipWithError("rules left behind");
    }
    for(fw_rule_t* rule : prepared) {
        fw_rule_delete(&rule);
    }
    fw_reset();
    per_rule_counters(state, rules);
}
BENCHMARK(BM_FirewallBaseline)
    ->ArgNames({"sources", "protocols"})
    ->Args({1, 1})
    ->Args({25, 1})    // 100 rules
    ->Args({250, 1})   // 1,000 rules
    ->Args({250, 2})
    ->Args({10000, 1}) // 40,000 rules
    ->Unit(benchmark::kMillisecond);

// What a deletion of a whole access control in one commit would cost the firewall library:
// the rules inserted with one commit, then all withdrawn from the front in one commit.
void BM_FirewallRemoveAllInOneCommit(benchmark::State& state) {
    const auto rules = fwbench::make_rules(static_cast<std::size_t>(state.range(0)));
    fw_backend_select("memory");
    fw_reset();
    for(auto _ : state) {
        for(std::size_t n = 0; n < rules.size(); n++) {
            fw_add_rule(rules[n].get(), static_cast<uint32_t>(n + 1));
        }
        fw_apply();
        for(const fwbench::Rule& rule : rules) {
            fw_delete_rule(rule.get(), 1);
        }
        if(fw_apply() != FW_OK || fw_chain_size("filter", FW_CHAIN, false) != 0) {
            state.SkipWithError("rules left behind");
            break;
        }
    }
    fw_reset();
    per_rule_counters(state, state.range(0));
}
BENCHMARK(BM_FirewallRemoveAllInOneCommit)->ArgName("rules")->Arg(100)->Arg(1000)->Arg(40000)->Unit(benchmark::kMillisecond);

// Deleting one set that stands in the middle of 100: its rules leave the chain and every rule
// of the 50 sets behind it is renumbered. The set is put back (at the end) outside the timing.
void BM_DeleteOneSetAmong100(benchmark::State& state) {
    const int64_t per_set = state.range(0);
    LoadedModule module;
    if(!module.ok()) {
        state.SkipWithError("the module could not be set up");
        return;
    }
    amxc_var_t protocols;
    amxc_var_init(&protocols);
    amxc_var_set_cstring_t(&protocols, "6,17");
    auto make_set = [&](int64_t n) {
        firewall_rule_t* set = module.create("", false);
        for(int64_t k = 0; k < per_set / 2; k++) {
            const std::string source = "10." + std::to_string(n) + "." + std::to_string(k / 256) + "." +
                                       std::to_string(k % 256);
            module.program(set, source.c_str(), nullptr, nullptr, nullptr, false, nullptr, 0, nullptr, 0, &protocols, 0, 0);
        }
        module.apply(set);
        return set;
    };
    std::vector<firewall_rule_t*> sets;
    for(int64_t n = 0; n < 100; n++) {
        sets.push_back(make_set(n));
    }
    int64_t next = 100;
    for(auto _ : state) {
        module.destroy(&sets[50]);
        state.PauseTiming();
        sets.erase(sets.begin() + 50);
        sets.push_back(make_set(next++ % 250));
        state.ResumeTiming();
    }
    if(fw_chain_size("filter", FW_CHAIN, false) != static_cast<uint32_t>(100 * per_set)) {
        state.SkipWithError("the chain does not hold 100 sets");
    }
    amxc_var_clean(&protocols);
    per_rule_counters(state, per_set);
}
BENCHMARK(BM_DeleteOneSetAmong100)->ArgName("rules_per_set")->Arg(4)->Arg(40)->Unit(benchmark::kMicrosecond);

}  // namespace
