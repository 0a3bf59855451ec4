// What the kernel-backend benchmarks share: a network namespace of their own with the nftables
// backend started, libnftables (what `nft -f` runs) for hand-written batches, and the split of
// CPU time between user space and the kernel.
#ifndef BENCH_NFT_BENCH_H
#define BENCH_NFT_BENCH_H

#include <nftables/libnftables.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <fwinterface/backend.h>

#include "heap_policy.h"

namespace nftbench {

// Before any benchmark: this process in a new network namespace, with the backend started on
// compiled chains (nothing reads this namespace's tables with iptables-nft), and its heap
// behaving as gwrt's.
inline const std::string& refusal() {
    static const std::string reason = []() -> std::string {
        gw::set_heap_policy();
        if(geteuid() != 0) {
            return "needs root";
        }
        if(unshare(CLONE_NEWNET) != 0) {
            return "cannot make a network namespace";
        }
        if(fw_backend_set_option("sets", "1") != 0 || fw_backend_select("nftables") != 0) {
            return std::string("nftables backend refused: ") + fw_backend_error();
        }
        return {};
    }();
    return reason;
}

// Empties the IPv4 access-control chain in an nft batch.
inline const std::string flush = "flush chain ip filter FORWARD_AccessControl_QK\n";

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

// User and system CPU time spent between start() and stop(), summed over the calls.
class CpuSplit {
public:
    void start() { getrusage(RUSAGE_SELF, &begin_); }
    void stop() {
        rusage end{};
        getrusage(RUSAGE_SELF, &end);
        user_ += seconds(end.ru_utime) - seconds(begin_.ru_utime);
        system_ += seconds(end.ru_stime) - seconds(begin_.ru_stime);
        faults_ += static_cast<double>(end.ru_minflt - begin_.ru_minflt);
    }
    // Microseconds per rule.
    void report(benchmark::State& state) const {
        const double rules = static_cast<double>(state.iterations() * state.range(0));
        state.counters["user_us_per_rule"] = user_ * 1e6 / rules;
        state.counters["sys_us_per_rule"] = system_ * 1e6 / rules;
    }
    // Microseconds and page faults per change, `changes` in all. Faults are most of the system
    // time of the process's own work: on the shared development machine one costs about 10 us.
    void report(benchmark::State& state, double changes) const {
        state.counters["user_us_per_change"] = user_ * 1e6 / changes;
        state.counters["sys_us_per_change"] = system_ * 1e6 / changes;
        state.counters["faults_per_change"] = faults_ / changes;
    }

private:
    static double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; }
    rusage begin_{};
    double user_ = 0;
    double system_ = 0;
    double faults_ = 0;
};

// One batch installing `install` (nft commands adding rules) into the emptied chain, timed.
inline void batch_install(benchmark::State& state, const std::string& install) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    fw_reset();
    Nft nft;
    for(auto _ : state) {
        state.PauseTiming();
        nft.run(flush);
        state.ResumeTiming();
        if(!nft.run(install)) {
            state.SkipWithError(nft.error().c_str());
            break;
        }
    }
    nft.run(flush);
}

// One batch deleting, by handle, the rules `install` put into the emptied chain: timed, with
// its CPU split.
inline void batch_delete(benchmark::State& state, const std::string& install) {
    if(!refusal().empty()) {
        state.SkipWithError(refusal().c_str());
        return;
    }
    fw_reset();
    Nft nft;
    CpuSplit split;
    for(auto _ : state) {
        state.PauseTiming();
        nft.run(flush + install);
        std::string batch;
        for(const std::string& handle : nft.handles()) {
            batch += "delete rule ip filter FORWARD_AccessControl_QK handle " + handle + "\n";
        }
        state.ResumeTiming();
        split.start();
        const bool deleted = nft.run(batch);
        split.stop();
        if(!deleted) {
            state.SkipWithError(nft.error().c_str());
            break;
        }
    }
    split.report(state);
}

}  // namespace nftbench

#endif
