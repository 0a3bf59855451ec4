// What the access-control module feels with the kernel backend: installing N rules with one
// commit (fw_add_rule N times, one fw_apply), and removing them one commit per rule, always
// at the lowest position, as the module does. Baselines, measured in the same run: the
// same rules installed by one hand-written nft batch, deleted by one batch naming their
// handles, and deleted one nft command (one commit) per rule (libnftables, which is what
// `nft -f` runs, without starting a process). The deletions also count user and system CPU
// time per rule: the system part is the kernel's work per commit.
//
// Runs as root in a network namespace of its own, made when the program starts and gone
// when it ends; every benchmark reports an error otherwise.

#include <nftables/libnftables.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>
#include <fwrules/fw_rule.h>

#include "fw_bench_rules.h"

namespace {

// Before any benchmark: this process in a new network namespace, with the backend started.
const std::string& refusal() {
    static const std::string reason = []() -> std::string {
        if(geteuid() != 0) {
            return "needs root";
        }
        if(unshare(CLONE_NEWNET) != 0) {
            return "cannot make a network namespace";
        }
        if(fw_backend_select("nftables") != 0) {
            return std::string("nftables backend refused: ") + fw_backend_error();
        }
        return {};
    }();
    return reason;
}

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

// A libnftables context writing into buffers.
class Nft {
public:
    Nft() : ctx_(nft_ctx_new(NFT_CTX_DEFAULT)) {
        nft_ctx_buffer_output(ctx_);
        nft_ctx_buffer_error(ctx_);
    }
    ~Nft() { nft_ctx_free(ctx_); }
    Nft(const Nft&) = delete;
    Nft& operator=(const Nft&) = delete;

    bool run(const std::string& commands) { return nft_run_cmd_from_buffer(ctx_, commands.c_str()) == 0; }
    std::string error() const { return nft_ctx_get_error_buffer(ctx_); }

    // The handles of the chain's rules, in order.
    std::vector<std::string> handles() {
        nft_ctx_output_set_flags(ctx_, NFT_CTX_OUTPUT_HANDLE);
        run("list chain ip filter FORWARD_AccessControl_QK");
        nft_ctx_output_set_flags(ctx_, 0);
        std::vector<std::string> found;
        std::string listing = nft_ctx_get_output_buffer(ctx_);
        const std::string mark = "drop # handle ";
        for(std::size_t at = listing.find(mark); at != std::string::npos; at = listing.find(mark, at + 1)) {
            std::size_t begin = at + mark.size();
            found.push_back(listing.substr(begin, listing.find('\n', begin) - begin));
        }
        return found;
    }

private:
    nft_ctx* ctx_;
};

std::string install_batch(std::size_t count) {
    std::string batch;
    for(std::size_t n = 0; n < count; ++n) {
        batch += "add rule ip filter FORWARD_AccessControl_QK ip saddr " + source_of(n) + " tcp dport 80 drop\n";
    }
    return batch;
}

const std::string flush = "flush chain ip filter FORWARD_AccessControl_QK\n";

// User and system CPU time spent between start() and stop(), summed over the calls.
class CpuSplit {
public:
    void start() { getrusage(RUSAGE_SELF, &begin_); }
    void stop() {
        rusage end{};
        getrusage(RUSAGE_SELF, &end);
        user_ += seconds(end.ru_utime) - seconds(begin_.ru_utime);
        system_ += seconds(end.ru_stime) - seconds(begin_.ru_stime);
    }
    // Microseconds per rule.
    void report(benchmark::State& state) const {
        const double rules = static_cast<double>(state.iterations() * state.range(0));
        state.counters["user_us_per_rule"] = user_ * 1e6 / rules;
        state.counters["sys_us_per_rule"] = system_ * 1e6 / rules;
    }

private:
    static double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; }
    rusage begin_{};
    double user_ = 0;
    double system_ = 0;
};

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
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    fw_reset();
    Nft nft;
    const std::string batch = install_batch(static_cast<std::size_t>(state.range(0)));
    for(auto _ : state) {
        state.PauseTiming();
        nft.run(flush);
        state.ResumeTiming();
        if(!nft.run(batch)) {
            state.SkipWithError(nft.error().c_str());
            break;
        }
    }
    nft.run(flush);
    state.SetItemsProcessed(state.iterations() * state.range(0));
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
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    fw_reset();
    Nft nft;
    const std::string install = install_batch(static_cast<std::size_t>(state.range(0)));
    for(auto _ : state) {
        state.PauseTiming();
        nft.run(flush + install);
        std::string batch;
        for(const std::string& handle : nft.handles()) {
            batch += "delete rule ip filter FORWARD_AccessControl_QK handle " + handle + "\n";
        }
        state.ResumeTiming();
        if(!nft.run(batch)) {
            state.SkipWithError(nft.error().c_str());
            break;
        }
    }
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

BENCHMARK(BM_ApiInstallOneCommit)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NftBatchInstall)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApiDeleteOneCommitEach)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NftBatchDelete)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NftDeleteOneCommitEach)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
