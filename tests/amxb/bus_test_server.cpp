// A bus server in a process of its own, for the socket tests and benchmarks: serves the test
// data model on the socket named by argv[1], says "ready" on stdout, stops on SIGTERM and
// exits 0 after freeing everything (so the sanitizers check the server side too).
#include <csignal>
#include <cstdio>

#include <amxb/amxb.h>
#include <amxp/amxp_loop.h>

#include "bus_test_dm.h"

namespace {

void stop(int /*signal*/) {
    amxp_loop_stop();
}

}  // namespace

int main(int argc, char** argv) {
    if(argc != 2) {
        std::fprintf(stderr, "usage: %s <socket path>\n", argv[0]);
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = stop;
    sigaction(SIGTERM, &action, nullptr);

    amxd_dm_t* dm = bus_test_dm_new();
    amxb_bus_ctx_t* ctx = nullptr;
    amxb_bus_ctx_t* listener = nullptr;
    int rc = amxb_register_dm(&ctx, dm);
    if(rc == 0) {
        rc = amxb_listen(&listener, argv[1]);
    }
    if(rc == 0) {
        std::printf("ready\n");
        std::fflush(stdout);
        rc = amxp_loop_run();
    }
    amxb_free(&listener);
    amxb_free(&ctx);
    amxd_dm_delete(&dm);
    return rc == 0 ? 0 : 1;
}
