// What blocked sources cost the traffic that is not blocked: TCP throughput (iperf3, 2 s) and
// ping round trip from the client through the router to the server, with 0, 1,000 and 10,000
// blocked sources (every other address of 10.200.0.0/16 on, so that no two merge into one
// interval), kept as one kernel rule per source ("sets" 0) or compiled into a set ("sets" 1).
// And the time one source takes to reach the kernel (insertion and removal, one commit each)
// as the number of sources grows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <optional>
#include <string>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "netns.h"
#include "rule_maker.h"
#include "topology.h"

namespace {

const std::string server_v4 = "10.99.2.2";

// The namespaces for every benchmark of the run, made at first use.
struct Router {
    nfttest::Topology topology;
    std::optional<nfttest::Inside> inside;
    std::string refusal;

    Router() {
        if(!nfttest::kernel_tests_refused().empty()) {
            refusal = nfttest::kernel_tests_refused();
            return;
        }
        if(!topology.ok()) {
            refusal = topology.error();
            return;
        }
        if(nfttest::run_command({"iperf3", "--version"}).status != 0) {
            refusal = "iperf3 is not installed";
            return;
        }
        inside.emplace(topology.router());
        if(fw_backend_set_option("jump", "1") != 0 || fw_backend_select("nftables") != 0) {
            refusal = std::string("nftables backend refused: ") + fw_backend_error();
        }
    }
};

Router& router() {
    static Router instance;
    return instance;
}

std::string blocked_source(int i) {
    const int host = 2 * i;
    return "10.200." + std::to_string(host / 256) + "." + std::to_string(host % 256);
}

fwtest::Rule source_rule(int i) { return fwtest::RuleMaker().source(blocked_source(i).c_str()).make(); }

// The chain emptied, compiled or not, then `sources` rules in one commit.
bool install(bool sets, int sources, benchmark::State& state) {
    fw_reset();
    if(fw_backend_set_option("sets", sets ? "1" : "0") != 0) {
        state.SkipWithError(fw_backend_error());
        return false;
    }
    for(int i = 0; i < sources; ++i) {
        fwtest::Rule rule = source_rule(i);
        if(fw_add_rule(rule.get(), static_cast<uint32_t>(i + 1)) != FW_OK) {
            state.SkipWithError("rule refused");
            return false;
        }
    }
    if(fw_apply() != FW_OK) {
        state.SkipWithError(fw_backend_error());
        return false;
    }
    return true;
}

// A number that follows `key` in `text`, or -1.
double number_after(const std::string& text, const std::string& key, std::size_t from = 0) {
    const std::size_t at = text.find(key, from);
    return at == std::string::npos ? -1 : std::strtod(text.c_str() + at + key.size(), nullptr);
}

// The router with the chain of the benchmark's arguments (sets, sources) installed, or
// nullptr with the benchmark skipped.
Router* prepared(benchmark::State& state) {
    Router& r = router();
    if(!r.refusal.empty()) {
        state.SkipWithError(r.refusal.c_str());
        return nullptr;
    }
    return install(state.range(0) != 0, static_cast<int>(state.range(1)), state) ? &r : nullptr;
}

void BM_ForwardingPastBlockedSources(benchmark::State& state) {
    Router* prepared_router = prepared(state);
    if(prepared_router == nullptr) {
        return;
    }
    Router& r = *prepared_router;
    for(auto _ : state) {
        nfttest::exec_in(r.topology.server(), {"iperf3", "-s", "-1", "-D"});
        nfttest::CommandResult perf;
        for(int attempt = 0; attempt < 20 && perf.status != 0; ++attempt) {  // until the server listens
            perf = nfttest::exec_in(r.topology.client(), {"iperf3", "-c", server_v4, "-t", "2", "-J"},
                                    std::chrono::seconds(10));
        }
        const double bits = number_after(perf.output, "\"bits_per_second\":", perf.output.find("\"sum_received\""));
        const nfttest::CommandResult ping = nfttest::exec_in(
            r.topology.client(), {"ping", "-c", "200", "-i", "0.005", "-q", server_v4}, std::chrono::seconds(10));
        const std::size_t rtt = ping.output.find("rtt min/avg/max/mdev = ");
        const double average_ms = rtt == std::string::npos ? -1 : number_after(ping.output, "/", rtt + 23);
        if(bits <= 0 || average_ms <= 0) {
            state.SkipWithError("iperf3 or ping gave no figure");
            return;
        }
        state.SetIterationTime(2.0);
        state.counters["Gbit/s"] = bits / 1e9;
        state.counters["ping_us"] = average_ms * 1000;
    }
}
BENCHMARK(BM_ForwardingPastBlockedSources)
    ->ArgNames({"sets", "sources"})
    ->ArgsProduct({{0, 1}, {0, 1000, 10000}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// One source more and then one less, each its own commit, in front of `sources` others.
void BM_OneSourceToTheKernel(benchmark::State& state) {
    if(prepared(state) == nullptr) {
        return;
    }
    const int sources = static_cast<int>(state.range(1));
    for(auto _ : state) {
        fwtest::Rule rule = source_rule(sources);
        if(fw_add_rule(rule.get(), 1) != FW_OK || fw_apply() != FW_OK || fw_delete_rule(rule.get(), 1) != FW_OK ||
           fw_apply() != FW_OK) {
            state.SkipWithError(fw_backend_error());
            return;
        }
    }
    state.SetItemsProcessed(2 * state.iterations());
}
BENCHMARK(BM_OneSourceToTheKernel)
    ->ArgNames({"sets", "sources"})
    ->ArgsProduct({{0, 1}, {100, 1000, 10000}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
