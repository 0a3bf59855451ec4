// What bus users feel: reading one object in-process and over the socket, and how fast a
// subscriber receives a burst of events. Each has its baseline in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <amxb/amxb.h>
#include <amxp/amxp_loop.h>

#include "bus_test_dm.h"

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
            amxb_connect(&client, ("unix:" + socket_path).c_str());
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

}  // namespace
