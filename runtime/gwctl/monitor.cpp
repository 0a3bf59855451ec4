#include <amxp/amxp_loop.h>
#include <amxp/amxp_timer.h>

#include <csignal>
#include <cstdio>

#include "commands.h"
#include "printer.h"
#include "signal_watch.h"

namespace gwctl {
namespace {

// How often the connection is checked: a runtime that went away ends the monitor.
constexpr unsigned int kConnectionCheckMs = 250;

struct Monitor {
    amxb_bus_ctx_t* ctx = nullptr;
    bool connection_lost = false;
    bool output_closed = false;
};

void on_event(const char* const /*name*/, const amxc_var_t* const data, void* const priv) {
    auto* monitor = static_cast<Monitor*>(priv);
    std::string json;
    if (!to_json(data, false, json)) {
        std::fputs("gwctl: an event could not be written as JSON\n", stderr);
        return;
    }
    json += '\n';
    // One line per event, flushed at once so that a reader sees each event as it comes.
    if (std::fputs(json.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        monitor->output_closed = true;
        amxp_loop_stop();
    }
}

void check_connection(amxp_timer_t* /*timer*/, void* priv) {
    auto* monitor = static_cast<Monitor*>(priv);
    if (amxb_get_fd(monitor->ctx) < 0) {
        monitor->connection_lost = true;
        amxp_loop_stop();
    }
}

}  // namespace

int monitor(const Options& options, Session& session) {
    if (options.words.empty() || options.words.size() > 2) {
        std::fputs("gwctl: monitor needs PATH [EXPRESSION]\n", stderr);
        return kExitUsage;
    }
    const std::string& path = options.words[0];
    const char* expression = options.words.size() == 2 ? options.words[1].c_str() : nullptr;

    gw::SignalWatch signals({SIGINT, SIGTERM, SIGHUP}, {});
    std::string error;
    if (!signals.ok() || !signals.attach(error)) {
        return fail(error.empty() ? "cannot watch signals" : error);
    }
    Monitor state;
    state.ctx = session.ctx();
    if (state.ctx == nullptr) {
        return session.unreachable();
    }
    int rc = amxb_subscribe(state.ctx, path.c_str(), expression, on_event, &state);
    if (rc != 0) {
        return session.report(rc, path);
    }
    amxp_timer_t* timer = nullptr;
    if (amxp_timer_new(&timer, check_connection, &state) != 0) {
        amxb_unsubscribe(state.ctx, path.c_str(), on_event, &state);
        return fail("out of memory");
    }
    amxp_timer_set_interval(timer, kConnectionCheckMs);
    amxp_timer_start(timer, kConnectionCheckMs);

    rc = amxp_loop_run();

    amxp_timer_delete(&timer);
    if (!state.connection_lost) {
        amxb_unsubscribe(state.ctx, path.c_str(), on_event, &state);
    }
    if (state.connection_lost) {
        return fail("connection to gwrt lost");
    }
    if (rc != 0) {
        return fail("event loop failed");
    }
    return kExitOk;
}

}  // namespace gwctl
