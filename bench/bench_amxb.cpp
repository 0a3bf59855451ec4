// What bus users feel: reading one object in-process and over the socket, and how fast a
// subscriber receives a burst of events. Each has its baseline in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <amxb/amxb.h>
#include <amxp/amxp_loop.h>

#include "bus_test_dm.h"
#include "raw_socket.h"

namespace {

struct Var {
    Var() { amxc_var_init(&v); }
    ~Var() { amxc_var_clean(&v); }
    amxc_var_t v;
};

// The test data model behind an in-process context.
struct InProcess {
    InProcess() {
        dm = bus_test_dm_new();
        amxp_loop_run_pending();
        amxb_register_dm(&ctx, dm);
    }
    ~InProcess() {
        amxb_free(&ctx);
        amxd_dm_delete(&dm);
        amxp_loop_run_pending();
    }
    amxd_dm_t* dm = nullptr;
    amxb_bus_ctx_t* ctx = nullptr;
};

// The test server in a child process, and a client context on it.
struct Remote {
    Remote() {
        char dir_pattern[] = "/tmp/amxb-bench-XXXXXX";
        dir = mkdtemp(dir_pattern);
        const std::string socket_path = dir + "/bus.sock";
        int ready[2];
        if(pipe(ready) != 0) {
            return;
        }
        pid = fork();
        if(pid == 0) {
            dup2(ready[1], STDOUT_FILENO);
            execl(BUS_TEST_SERVER, BUS_TEST_SERVER, socket_path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        char line[8] = "";
        pollfd entry {ready[0], POLLIN, 0};
        if(poll(&entry, 1, 20000) == 1 && read(ready[0], line, 6) == 6) {
            uri = "unix:" + socket_path;
            amxb_connect(&client, uri.c_str());
        }
        close(ready[0]);
    }
    ~Remote() {
        amxb_free(&client);
        if(pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        rmdir(dir.c_str());
    }
    std::string dir;
    std::string uri;
    pid_t pid = -1;
    amxb_bus_ctx_t* client = nullptr;
};

void count_event(const char* /*sig_name*/, const amxc_var_t* /*data*/, void* priv) {
    ++*static_cast<int64_t*>(priv);
}

// Baseline: the parameters of the object straight from the data model.
void BM_DirectParamsOfOneObject(benchmark::State& state) {
    InProcess bus;
    amxd_object_t* object = amxd_dm_findf(bus.dm, "Device.Test.");
    for(auto _ : state) {
        Var params;
        amxd_object_get_params(object, &params.v);
        benchmark::DoNotOptimize(params.v.type_id);
    }
}
BENCHMARK(BM_DirectParamsOfOneObject);

void BM_InProcessGetOneObject(benchmark::State& state) {
    InProcess bus;
    for(auto _ : state) {
        Var reply;
        if(amxb_get(bus.ctx, "Device.Test.", 0, &reply.v, 5) != 0) {
            state.SkipWithError("get failed");
            break;
        }
    }
}
BENCHMARK(BM_InProcessGetOneObject);

void BM_SocketGetOneObject(benchmark::State& state) {
    Remote bus;
    if(bus.client == nullptr) {
        state.SkipWithError("no server");
        return;
    }
    for(auto _ : state) {
        Var reply;
        if(amxb_get(bus.client, "Device.Test.", 0, &reply.v, 5) != 0) {
            state.SkipWithError("get failed");
            break;
        }
    }
}
BENCHMARK(BM_SocketGetOneObject)->UseRealTime();

constexpr int burst = 10000;

// Baseline: the same burst of changes, emitted and dispatched with nobody subscribed.
void BM_EventBurstNoSubscriber(benchmark::State& state) {
    InProcess bus;
    Var args;
    amxc_var_set_type(&args.v, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint32_t, &args.v, "count", burst);
    for(auto _ : state) {
        Var ret;
        amxb_call(bus.ctx, "Device.Test.", "Flood", &args.v, &ret.v, 5);
        while(amxp_loop_run_pending() > 0) {
        }
    }
    state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(BM_EventBurstNoSubscriber)->Unit(benchmark::kMillisecond);

// 10,000 changes, each delivered through a filtered in-process subscription.
void BM_EventBurstInProcess(benchmark::State& state) {
    InProcess bus;
    int64_t received = 0;
    amxb_subscribe(bus.ctx, "Device.Test.", "notification == 'dm:object-changed' && contains('parameters.Port')",
                   count_event, &received);
    Var args;
    amxc_var_set_type(&args.v, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint32_t, &args.v, "count", burst);
    for(auto _ : state) {
        const int64_t before = received;
        Var ret;
        amxb_call(bus.ctx, "Device.Test.", "Flood", &args.v, &ret.v, 5);
        while(amxp_loop_run_pending() > 0) {
        }
        if(received - before != burst) {
            state.SkipWithError("events lost");
            break;
        }
    }
    amxb_unsubscribe(bus.ctx, "Device.Test.", count_event, &received);
    state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(BM_EventBurstInProcess)->Unit(benchmark::kMillisecond);

// The same burst made in the server process and delivered to a subscriber over the socket.
void BM_EventBurstOverSocket(benchmark::State& state) {
    Remote bus;
    if(bus.client == nullptr) {
        state.SkipWithError("no server");
        return;
    }
    int64_t received = 0;
    amxb_subscribe(bus.client, "Device.Test.", "notification == 'dm:object-changed' && contains('parameters.Port')",
                   count_event, &received);
    Var args;
    amxc_var_set_type(&args.v, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint32_t, &args.v, "count", burst);
    for(auto _ : state) {
        const int64_t target = received + burst;
        Var ret;
        amxb_call(bus.client, "Device.Test.", "Flood", &args.v, &ret.v, 30);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while(received < target && std::chrono::steady_clock::now() < deadline) {
            amxp_loop_run_once(100);
        }
        if(received != target) {
            state.SkipWithError("events lost");
            break;
        }
    }
    amxb_unsubscribe(bus.client, "Device.Test.", count_event, &received);
    state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(BM_EventBurstOverSocket)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Another client during an attack on the listener -------------------------------------

enum Attack { idle_crowd, unfinished_requests, unread_large_replies };

// Opens the attackers' connections; they stay open (and unread) until the returned fds close.
std::vector<int> attack(Remote& bus, Attack kind) {
    std::vector<int> fds;
    const int count = kind == idle_crowd ? 256 : kind == unfinished_requests ? 250 : 16;
    if(kind == unread_large_replies) {
        // Hosts of 60 KB names: a get of all of them is ~2.4 MB, sent in parts.
        for(int i = 0; i < 40; ++i) {
            Var values;
            amxc_var_set_type(&values.v, AMXC_VAR_ID_HTABLE);
            amxc_var_add_key(cstring_t, &values.v, "HostName", std::string(60 * 1024, 'h').c_str());
            amxb_add(bus.client, "Hosts.Host.", 0, nullptr, &values.v, nullptr, 5);
        }
    }
    const std::string unfinished = std::string("\x00\x10\x00\x00", 4) + std::string(AMXB_MAX_FRAME_SIZE - 1, ' ');
    const std::string large_get = rawsock::frame(R"({"id": 1, "op": "get", "path": "Hosts.", "depth": -1})");
    for(int i = 0; i < count; ++i) {
        const int fd = rawsock::connect_to(bus.uri.substr(5));
        if(fd < 0) {
            continue;
        }
        fds.push_back(fd);
        const std::string& bytes = kind == unfinished_requests ? unfinished : large_get;
        if(kind != idle_crowd && send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) {
            continue;  // the kernel took what it could: the rest never comes
        }
    }
    return fds;
}

// A client that connects, reads one object and leaves, again and again during the attack:
// p99_ms is its 99th-percentile wait, rss_growth_kb the most the server grew by meanwhile.
void BM_AnotherClientDuringAttack(benchmark::State& state) {
    Remote bus;
    if(bus.client == nullptr) {
        state.SkipWithError("no server");
        return;
    }
    const long rss_before = rawsock::rss_kb(bus.pid);
    const std::vector<int> attackers = attack(bus, static_cast<Attack>(state.range(0)));
    std::vector<double> waits;
    long rss_peak = rss_before;
    for(auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        amxb_bus_ctx_t* victim = nullptr;
        Var reply;
        const bool served = amxb_connect(&victim, bus.uri.c_str()) == 0 && amxb_get(victim, "Device.Test.", 0, &reply.v, 5) == 0;
        amxb_free(&victim);
        if(!served) {
            state.SkipWithError("another client was refused or timed out");
            break;
        }
        waits.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        rss_peak = std::max(rss_peak, rawsock::rss_kb(bus.pid));
    }
    std::sort(waits.begin(), waits.end());
    state.counters["p99_ms"] = waits.empty() ? 0.0 : waits[waits.size() * 99 / 100];
    state.counters["rss_growth_kb"] = static_cast<double>(rss_peak - rss_before);
    for(const int fd : attackers) {
        close(fd);
    }
}
BENCHMARK(BM_AnotherClientDuringAttack)
    ->ArgName("attack")->Arg(idle_crowd)->Arg(unfinished_requests)->Arg(unread_large_replies)
    ->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
