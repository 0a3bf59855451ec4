// What the access-control module feels with the kernel backend: installing N rules with one
// commit (fw_add_rule N times, one fw_apply), and removing them one commit per rule, always
// at the lowest position, as the module does. Baselines, measured in the same run: the
// same rules installed by one hand-written nft batch, deleted by one batch naming their
// handles, and deleted one nft command (one commit) per rule (libnftables, which is what
// `nft -f` runs, without starting a process). The deletions also count user and system CPU
// time per rule: the system part is the kernel's work per commit.
//
// Installing N sources with 1 and 4 destination ports each (laid out source by source, as the
// module expands an access control) against what an expert writes by hand with `nft -f`: one
// set of the sources and one rule with the ports as a set, in a table of its own. Both warm
// and cold: gwrt keeps the memory a large commit freed for the next one until its settle timer
// hands it back, a second after the last change; an install soon after another (cold 0) reuses
// it, as libnftables reuses its own heap in this process, while one after the hand-back (cold
// 1) touches its memory anew, as the nft program does, a process per batch (BM_NftExpertCli).
//
// What the backend keeps resident per blocked source (its mirror, and the compiled chain's
// bookkeeping with sets on), from the rule objects made to the commit done; and the same after
// the heap gave back the free memory the commit's transient copies left.
//
// And what another program changing the kernel costs: from its flush of the chain holding N
// sources to the chain written anew (the notification read, the repair's one batch), with
// compiled chains and with one kernel rule per rule; the median of nine tamperings.
//
// Runs as root in a network namespace of its own, made when the program starts and gone
// when it ends; every benchmark reports an error otherwise.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "fw_bench_rules.h"
#include "nft_bench.h"
#include "settle_later.h"

namespace {

using nftbench::CpuSplit;
using nftbench::flush;
using nftbench::Nft;
using nftbench::refusal;
using fwbench::make_rule;
using fwbench::make_rules;
using fwbench::Rule;
using fwbench::source_of;

bool install(const std::vector<Rule>& rules) {
    for(std::size_t n = 0; n < rules.size(); ++n) {
        if(fw_add_rule(rules[n].get(), static_cast<uint32_t>(n + 1)) != FW_OK) {
            return false;
        }
    }
    return fw_apply() == FW_OK;
}

std::string install_batch(std::size_t count) {
    std::string batch;
    for(std::size_t n = 0; n < count; ++n) {
        batch += "add rule ip filter FORWARD_AccessControl_QK ip saddr " + source_of(n) + " tcp dport 80 drop\n";
    }
    return batch;
}

void BM_ApiInstallOneCommit(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<Rule> rules = make_rules(count);
    for(auto _ : state) {
        state.PauseTiming();
        fw_reset();
        state.ResumeTiming();
        if(!install(rules)) {
            state.SkipWithError(fw_backend_error());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_NftBatchInstall(benchmark::State& state) {
    nftbench::batch_install(state, install_batch(static_cast<std::size_t>(state.range(0))));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

const std::vector<std::uint32_t> ports = {80, 443, 8080, 8443};

void BM_ApiInstallWithPorts(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    const auto sources = static_cast<std::size_t>(state.range(0));
    const auto per_source = static_cast<std::size_t>(state.range(1));
    const bool cold = state.range(2) != 0;
    std::vector<Rule> rules;
    for(std::size_t n = 0; n < sources; ++n) {
        for(std::size_t p = 0; p < per_source; ++p) {
            rules.push_back(make_rule(n, ports[p]));
        }
    }
    const modbench::SettleLater settle_later;
    CpuSplit split;
    modbench::TimedHandBack hand_back;
    for(auto _ : state) {
        state.PauseTiming();
        fw_reset();
        if(cold) {
            hand_back.run();  // after the last install
        }
        state.ResumeTiming();
        split.start();
        const bool installed = install(rules);
        split.stop();
        if(!installed) {
            state.SkipWithError(fw_backend_error());
            break;
        }
    }
    split.report(state, static_cast<double>(state.iterations()));
    if(cold) {
        state.counters["handback_us"] = hand_back.us_per_run();
    }
    fw_reset();
}

std::string expert_batch(std::size_t sources, std::size_t per_source) {
    std::string batch = "add table ip expert\nadd set ip expert sources { type ipv4_addr; }\n"
                        "add chain ip expert forward { type filter hook forward priority 0; }\n"
                        "add element ip expert sources { ";
    for(std::size_t n = 0; n < sources; ++n) {
        batch += (n == 0 ? "" : ", ") + source_of(n);
    }
    batch += " }\nadd rule ip expert forward ip saddr @sources tcp dport { ";
    for(std::size_t p = 0; p < per_source; ++p) {
        batch += (p == 0 ? "" : ", ") + std::to_string(ports[p]);
    }
    return batch + " } drop\n";
}

void BM_NftExpertInstall(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    const std::string batch = expert_batch(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    Nft nft;
    CpuSplit split;
    for(auto _ : state) {
        state.PauseTiming();
        nft.run("add table ip expert\ndelete table ip expert\n");
        state.ResumeTiming();
        split.start();
        const bool installed = nft.run(batch);
        split.stop();
        if(!installed) {
            state.SkipWithError(nft.error().c_str());
            break;
        }
    }
    split.report(state, static_cast<double>(state.iterations()));
    nft.run("delete table ip expert\n");
}

// The same batch by the nft program, `nft -f FILE`, a process started per install in this
// process's network namespace: timed from its start to its exit.
void BM_NftExpertCli(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    char path[] = "/tmp/bench_nftables.XXXXXX";
    const int fd = mkstemp(path);
    const std::string batch = expert_batch(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    const bool written = fd >= 0 && write(fd, batch.data(), batch.size()) == static_cast<ssize_t>(batch.size());
    if(fd >= 0) {
        close(fd);
    }
    Nft nft;
    for(auto _ : state) {
        state.PauseTiming();
        nft.run("add table ip expert\ndelete table ip expert\n");
        state.ResumeTiming();
        char nft_program[] = "nft";
        char file_flag[] = "-f";
        char* argv[] = {nft_program, file_flag, path, nullptr};
        pid_t child = 0;
        int status = -1;
        if(!written || posix_spawnp(&child, "nft", nullptr, nullptr, argv, environ) != 0 ||
           waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the nft program is not there or refused the batch");
            break;
        }
    }
    nft.run("delete table ip expert\n");
    if(fd >= 0) {
        unlink(path);
    }
}

double resident_bytes() {
    long size = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

void BM_BackendResidentPerSource(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    const auto sources = static_cast<std::size_t>(state.range(1));
    double per_source = 0;
    double trimmed = 0;
    for(auto _ : state) {
        fw_reset();
        if(fw_backend_set_option("sets", state.range(0) != 0 ? "1" : "0") != 0) {
            state.SkipWithError(fw_backend_error());
            break;
        }
        const std::vector<Rule> rules = make_rules(sources);
        malloc_trim(0);  // what an earlier run freed is not counted as this one's
        const double before = resident_bytes();
        if(!install(rules)) {
            state.SkipWithError(fw_backend_error());
            break;
        }
        per_source = (resident_bytes() - before) / static_cast<double>(sources);
        malloc_trim(0);  // what the commit's transient copies left in the heap goes back
        trimmed = (resident_bytes() - before) / static_cast<double>(sources);
    }
    fw_reset();
    fw_backend_set_option("sets", "1");
    state.counters["rss_bytes_per_source"] = per_source;
    state.counters["trimmed_bytes_per_source"] = trimmed;
}

void BM_ApiDeleteOneCommitEach(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    std::vector<Rule> rules = make_rules(static_cast<std::size_t>(state.range(0)));
    CpuSplit split;
    for(auto _ : state) {
        state.PauseTiming();
        fw_reset();
        if(!install(rules)) {
            state.SkipWithError(fw_backend_error());
            break;
        }
        state.ResumeTiming();
        split.start();
        for(const Rule& rule : rules) {
            fw_delete_rule(rule.get(), 1);
            fw_apply();
        }
        split.stop();
    }
    split.report(state);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_NftBatchDelete(benchmark::State& state) {
    nftbench::batch_delete(state, install_batch(static_cast<std::size_t>(state.range(0))));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_NftDeleteOneCommitEach(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    fw_reset();
    Nft nft;
    const std::string install = install_batch(static_cast<std::size_t>(state.range(0)));
    CpuSplit split;
    for(auto _ : state) {
        state.PauseTiming();
        nft.run(flush + install);
        std::vector<std::string> commands;
        for(const std::string& handle : nft.handles()) {
            commands.push_back("delete rule ip filter FORWARD_AccessControl_QK handle " + handle);
        }
        state.ResumeTiming();
        split.start();
        for(const std::string& command : commands) {
            nft.run(command);
        }
        split.stop();
    }
    split.report(state);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_TamperToRepaired(benchmark::State& state) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    const bool sets = state.range(1) != 0;
    fw_reset();
    if(fw_backend_set_option("sets", sets ? "1" : "0") != 0 ||
       !install(make_rules(static_cast<std::size_t>(state.range(0))))) {
        state.SkipWithError(fw_backend_error());
        return;
    }
    Nft nft;
    pollfd news{fw_backend_watch_fd(), POLLIN, 0};
    const std::string tampering = sets ? "flush chain ip AccessControl_QK FORWARD_AccessControl_QK\n" : flush;
    for(auto _ : state) {
        usleep(300 * 1000);  // past the spacing of repairs: each tampering is the first in a while
        if(!nft.run(tampering)) {
            state.SkipWithError(nft.error().c_str());
            break;
        }
        const auto tampered = std::chrono::steady_clock::now();
        if(poll(&news, 1, 1000) != 1 || fw_backend_watch() != -1) {
            state.SkipWithError("no repair");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - tampered).count());
    }
    char* differences = fw_check();
    if(differences == nullptr || *differences != '\0') {
        state.SkipWithError("the kernel differs from the rules after the repairs");
    }
    std::free(differences);
    fw_backend_set_option("sets", "1");
}

BENCHMARK(BM_ApiInstallOneCommit)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NftBatchInstall)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApiInstallWithPorts)
    ->ArgNames({"sources", "ports", "cold"})
    ->ArgsProduct({{1000, 10000}, {1, 4}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NftExpertInstall)->ArgNames({"sources", "ports"})->ArgsProduct({{1000, 10000}, {1, 4}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NftExpertCli)->ArgNames({"sources", "ports"})->ArgsProduct({{1000, 10000}, {1, 4}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BackendResidentPerSource)->ArgNames({"sets", "sources"})->ArgsProduct({{0, 1}, {65536}})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApiDeleteOneCommitEach)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NftBatchDelete)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NftDeleteOneCommitEach)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TamperToRepaired)
    ->ArgNames({"sources", "sets"})
    ->Args({10000, 1})
    ->Args({10000, 0})
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

}  // namespace
