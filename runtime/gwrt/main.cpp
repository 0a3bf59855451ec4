// gwrt: hosts the gateway's data models, their modules and services, on one event loop, and
// serves them to clients on a control socket until SIGTERM or SIGINT; SIGHUP reloads the trace
// settings and the socket's users, mode and group from the configuration file.
#include <amxp/amxp_loop.h>
#include <fwinterface/backend.h>
#include <zebtrace/zebtrace.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <span>

#include "firewall_watch.h"
#include "heap_policy.h"
#include "options.h"
#include "runtime.h"
#include "runtime_config.h"
#include "signal_watch.h"
#include "version.h"

namespace {

int fail(const std::string& message) {
    // "<3>": an error for the journal when it reads our stderr, like the trace lines.
    std::fprintf(stderr, "%sgwrt: %s\n", zebtrace_stderr_is_journal() ? "<3>" : "", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::span<char* const> args(argv + 1, argc > 0 ? argc - 1 : 0);
    if (gw::asks_version(args)) {
        std::printf("gwrt %s\n", gw::project_version());
        return 0;
    }
    gw::set_heap_policy();
    // First, so that a stop request arriving during start waits on the signalfd.
    gw::SignalWatch signals({SIGTERM, SIGINT}, {SIGHUP});
    if (!signals.ok()) {
        return fail("cannot watch signals");
    }

    gwrt::Options options;
    std::string error;
    if (!gwrt::parse_options(args, options, error)) {
        std::fprintf(stderr, "gwrt: %s\n%s", error.c_str(), gwrt::usage_text());
        return 2;
    }
    if (options.help) {
        std::fputs(gwrt::usage_text(), stdout);
        return 0;
    }

    gwrt::RuntimeConfig config;
    if (!gwrt::read_runtime_config(options, config, error)) {
        return fail(error);
    }
    if (!gwrt::apply_trace_config(config, error)) {
        return fail(error);
    }
    if (fw_backend_set_option("jump", config.firewall_jump ? "1" : "0") != 0 ||
        fw_backend_set_option("sets", config.firewall_sets ? "1" : "0") != 0 ||
        fw_backend_set_option("cut_connections", config.firewall_cut_connections ? "1" : "0") != 0 ||
        fw_backend_select(config.firewall_backend.c_str()) != 0) {
        return fail("firewall: backend '" + config.firewall_backend + "': " + fw_backend_error());
    }

    gwrt::Runtime runtime(std::move(config));
    if (!runtime.start(error)) {
        return fail(error);
    }
    signals.on(SIGHUP, [&runtime] { runtime.reload(); });
    gwrt::FirewallWatch firewall;
    if (!signals.attach(error) || !firewall.attach(error)) {
        runtime.stop();
        return fail(error);
    }
    int rc = amxp_loop_run();
    if (signals.stop_signal() != 0) {
        zebTraceZ(TRACE_LEVEL_NOTICE, "gwrt", "%s received, stopping", strsignal(signals.stop_signal()));
    }
    bool saved = runtime.stop();
    if (rc != 0) {
        return fail("event loop failed");
    }
    return saved ? 0 : fail("changes could not be saved before the stop");
}
