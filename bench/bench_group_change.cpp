// A group member joining and leaving, and the access control deleted, on compiled kernel
// chains, side by side with the nft commands that do the same to a set in the same run and
// namespace:
//   - join/leave: one access control blocking a network object of N sources (one IPRange
//     rule, no ports, so N rules) and a member added and removed (an IPAddress rule). Timed:
//     the module's rule update (its specified rebuild: every rule withdrawn, the new set
//     inserted), then the end of the loop's turn that commits it, as gwrt runs them; the data
//     model's edits are not timed. Against `nft add element` then `delete element` on a set
//     of N addresses referenced by a rule;
//   - deletion: the module's deletion of the installed rules and the end of the turn, against
//     `flush chain` plus `delete set` of that set. As in gwrt, the heap's freed pages go back to
//     the system a second later, on the settle timer, not in the deletion's turn: that hand-back
//     is timed on its own, `handback_us` per deletion.
// Both report per change the user and system (kernel) CPU time; the join/leave also the time
// per source of the group. The join/leave also in a burst: changes within a second of each
// other, when gwrt leaves the memory one change freed for the next; out of a burst it has gone
// back (timed apart, `handback_us`) before the next change. N = 0, 1,000, 10,000 and 65,536.
// And what each blocked source keeps resident on this backend (resident_per_source.h).
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
#include "resident_per_source.h"

namespace {

using modbench::LoadedModule;
using nftbench::CpuSplit;
using nftbench::refusal;

constexpr const char* ROOT = "Device.NetworkSettings.";
const std::string joining = "10.200.0.1";  // outside every group of source_of()

int no_turn_wait(void* /*priv*/) { return 0; }

class GroupSetup {
public:
    explicit GroupSetup(int64_t sources) : module_("nftables") {
        fw_backend_hold_removals(&no_turn_wait, nullptr);
        group_ = module_.add(std::string(ROOT) + "NetworkObject.", {{"Name", "bench"}});
        if(sources > 0) {
            module_.add(group_ + ".Rule.", {{"Type", "IPRange"},
                                            {"SourceIP", fwbench::source_of(0)},
                                            {"SourceIPRangeMax", fwbench::source_of(static_cast<std::size_t>(sources - 1))}});
        }
        const std::string control =
            module_.add(std::string(ROOT) + "AccessControl.", {{"Enable", "true"}, {"NetworkGroupRef", group_}});
        record_ = module_.record(control);
        if(record_ != nullptr) {
            update();
        }
        ok_ = module_.ok() && record_ != nullptr && chain_size() == static_cast<uint32_t>(sources);
    }
    ~GroupSetup() { fw_backend_hold_removals(nullptr, nullptr); }
    GroupSetup(const GroupSetup&) = delete;
    GroupSetup& operator=(const GroupSetup&) = delete;

    bool ok() const { return ok_; }
    // The module's callback, then the end of the loop's turn, as gwrt runs them.
    void update() {
        module_.update(nullptr, record_);
        fw_backend_apply_held();
    }
    void join() { member_ = module_.add(group_ + ".Rule.", {{"Type", "IPAddress"}, {"SourceIP", joining}}); }
    void leave() { module_.del(member_); }
    void remove() {
        module_.destroy(&record_->fw);
        fw_backend_apply_held();
    }
    static uint32_t chain_size() { return fw_chain_size("filter", FW_CHAIN, false); }

private:
    LoadedModule module_;
    std::string group_;
    std::string member_;
    accesscontrol_setting_t* record_ = nullptr;
    bool ok_ = false;
};

std::unique_ptr<GroupSetup> prepare(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return nullptr;
    }
    auto setup = std::make_unique<GroupSetup>(state.range(0));
    if(!setup->ok()) {
        state.SkipWithError("the module could not be set up");
        return nullptr;
    }
    return setup;
}

void per_change(benchmark::State& state, const CpuSplit& split, int64_t changes_per_iteration) {
    split.report(state, static_cast<double>(state.iterations() * changes_per_iteration));
    state.counters["sources"] = static_cast<double>(state.range(0));
}

void join_leave(benchmark::State& state, bool in_burst) {
    const auto sources = static_cast<uint32_t>(state.range(0));
    std::unique_ptr<GroupSetup> prepared = prepare(state);
    if(prepared == nullptr) {
        return;
    }
    // As in gwrt: the memory a change frees goes back on the settle timer, a second after the
    // last change, not in the change's turn. Out of a burst it has gone back before the next
    // member's edit and update, which touch their memory anew; that hand-back is timed apart.
    const modbench::SettleLater settle_later;
    modbench::TimedHandBack hand_back;
    auto settle = [&] {
        if(!in_burst) {
            hand_back.run();
        }
    };
    GroupSetup& setup = *prepared;
    CpuSplit split;
    for(auto _ : state) {
        state.PauseTiming();
        setup.join();
        state.ResumeTiming();
        split.start();
        setup.update();
        split.stop();
        state.PauseTiming();
        settle();
        const bool joined = GroupSetup::chain_size() == sources + 1;
        setup.leave();
        state.ResumeTiming();
        split.start();
        setup.update();
        split.stop();
        state.PauseTiming();
        settle();
        state.ResumeTiming();
        if(!joined || GroupSetup::chain_size() != sources) {
            state.SkipWithError("the group did not change as expected");
            break;
        }
    }
    per_change(state, split, 2);
    if(sources > 0) {
        state.counters["us_per_source"] = benchmark::Counter(
            2.0 * sources * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }
    if(!in_burst) {
        state.counters["handback_us"] = hand_back.us_per_run();
    }
}

void BM_ModuleJoinLeave(benchmark::State& state) { join_leave(state, false); }
void BM_ModuleJoinLeaveInBurst(benchmark::State& state) { join_leave(state, true); }

// A set of `sources` addresses looked up by a rule of its own chain.
std::string anchor_set(int64_t sources) {
    std::string commands = "add chain ip filter bench_anchor\nadd set ip filter bench_set { type ipv4_addr; }\n"
                           "add rule ip filter bench_anchor ip saddr @bench_set drop\n";
    for(int64_t n = 0; n < sources; n += 1000) {
        commands += "add element ip filter bench_set {";
        for(int64_t k = n; k < sources && k < n + 1000; ++k) {
            commands += (k == n ? " " : ", ") + fwbench::source_of(static_cast<std::size_t>(k));
        }
        commands += " }\n";
    }
    return commands;
}
const std::string drop_anchor = "flush chain ip filter bench_anchor\ndelete set ip filter bench_set\n";

void BM_NftElementAddDelete(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    nftbench::Nft nft;
    if(!nft.run(anchor_set(state.range(0)))) {
        state.SkipWithError(nft.error().c_str());
        return;
    }
    CpuSplit split;
    for(auto _ : state) {
        split.start();
        const bool changed = nft.run("add element ip filter bench_set { " + joining + " }\n") &&
                             nft.run("delete element ip filter bench_set { " + joining + " }\n");
        split.stop();
        if(!changed) {
            state.SkipWithError(nft.error().c_str());
            break;
        }
    }
    nft.run(drop_anchor + "delete chain ip filter bench_anchor\n");
    per_change(state, split, 2);
}

void BM_ModuleDeleteGroup(benchmark::State& state) {
    std::unique_ptr<GroupSetup> prepared = prepare(state);
    if(prepared == nullptr) {
        return;
    }
    GroupSetup& setup = *prepared;
    const modbench::SettleLater settle_later;
    CpuSplit split;
    modbench::TimedHandBack hand_back;
    for(auto _ : state) {
        split.start();
        setup.remove();
        split.stop();
        state.PauseTiming();
        hand_back.run();
        const bool removed = GroupSetup::chain_size() == 0;
        setup.update();
        fw_backend_release_memory();  // the reinstall's, not counted
        state.ResumeTiming();
        if(!removed) {
            state.SkipWithError("rules left behind");
            break;
        }
    }
    per_change(state, split, 1);
    state.counters["handback_us"] = hand_back.us_per_run();
}

void BM_NftFlushAndDeleteSet(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    nftbench::Nft nft;
    CpuSplit split;
    for(auto _ : state) {
        state.PauseTiming();
        const bool made = nft.run(anchor_set(state.range(0)));
        state.ResumeTiming();
        split.start();
        const bool dropped = made && nft.run(drop_anchor);
        split.stop();
        if(!dropped) {
            state.SkipWithError(nft.error().c_str());
            break;
        }
    }
    nft.run("delete chain ip filter bench_anchor\n");
    per_change(state, split, 1);
}

// Each size's module case next to its nft anchor, so that the ratios compare runs made under
// the same load.
BENCHMARK(BM_ModuleJoinLeave)->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_NftElementAddDelete)->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ModuleJoinLeave)->Arg(10000)->Iterations(10)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_NftElementAddDelete)->Arg(10000)->Iterations(10)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ModuleJoinLeave)->Arg(65536)->Iterations(3)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ModuleJoinLeaveInBurst)->Arg(10000)->Iterations(10)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ModuleJoinLeaveInBurst)->Arg(65536)->Iterations(3)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_NftElementAddDelete)->Arg(65536)->Iterations(3)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ModuleDeleteGroup)->Arg(1000)->Arg(10000)->Iterations(10)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_NftFlushAndDeleteSet)->Arg(1000)->Arg(10000)->Iterations(10)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ModuleDeleteGroup)->Arg(65536)->Iterations(2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_NftFlushAndDeleteSet)->Arg(65536)->Iterations(2)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ResidentPerSource(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    modbench::resident_per_source(state, "nftables");
}
BENCHMARK(BM_ResidentPerSource)
    ->ArgNames({"sources", "changes"})
    ->Args({65536, 3})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
