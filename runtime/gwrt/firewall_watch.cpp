#include "firewall_watch.h"

#include <amxp/amxp_loop.h>
#include <fwinterface/backend.h>

#include <cstdio>
#include <cstring>

namespace gwrt {

namespace {
// Large changes within this long of each other reuse the memory the one before freed.
constexpr unsigned int settle_ms = 1000;
}  // namespace

FirewallWatch::~FirewallWatch() {
    // What the last callbacks (the module's unload among them) removed goes in before the exit.
    fw_backend_hold_removals(nullptr, nullptr);
    fw_backend_release_when_settled(nullptr, nullptr);
    amxp_timer_delete(&settle_timer_);
    fw_backend_slice_points(nullptr, nullptr);
    amxp_loop_cancel_deferred(&FirewallWatch::end_turn, this);
    if (fd_ >= 0) {
        amxp_loop_remove_fd(fd_);
    }
    amxp_timer_delete(&timer_);
}

bool FirewallWatch::attach(std::string& error) {
    fw_backend_hold_removals(&FirewallWatch::hold_to_turn_end, this);
    // A rebuild of thousands of rules lets other clients read between its operations.
    fw_backend_slice_points(amxp_loop_slice_point, amxp_loop_slice_point_now);
    // Without the timer the memory goes back at the end of each large change's turn.
    if (amxp_timer_new(&settle_timer_, &FirewallWatch::on_settled, this) == 0) {
        fw_backend_release_when_settled(&FirewallWatch::settling, this);
    }
    const int fd = fw_backend_watch_fd();
    if (fd < 0) {
        return true;
    }
    int rc = amxp_timer_new(&timer_, &FirewallWatch::on_timer, this);
    if (rc == 0) {
        rc = amxp_loop_add_fd(fd, AMXP_FD_READ, &FirewallWatch::on_readable, this);
    }
    if (rc != 0) {
        error = std::string("cannot watch the kernel firewall: ") + std::strerror(-rc);
        return false;
    }
    fd_ = fd;
    // Whatever changed between the backend's start and now.
    run();
    return true;
}

int FirewallWatch::hold_to_turn_end(void* priv) { return amxp_loop_defer(&FirewallWatch::end_turn, priv); }

void FirewallWatch::settling(void* priv) {
    amxp_timer_start(static_cast<FirewallWatch*>(priv)->settle_timer_, settle_ms);   // from now on
}

void FirewallWatch::on_settled(amxp_timer_t* /*timer*/, void* /*priv*/) { fw_backend_release_memory(); }

void FirewallWatch::end_turn(void* /*priv*/) {
    if (fw_backend_apply_held() != 0) {
        std::fprintf(stderr, "gwrt: the firewall refused the removals of the last changes: %s\n", fw_backend_error());
    }
}

void FirewallWatch::on_readable(int /*fd*/, unsigned int /*events*/, void* priv) { static_cast<FirewallWatch*>(priv)->run(); }

void FirewallWatch::on_timer(amxp_timer_t* /*timer*/, void* priv) { static_cast<FirewallWatch*>(priv)->run(); }

void FirewallWatch::run() {
    const int delay = fw_backend_watch();
    if (delay >= 0) {
        amxp_timer_start(timer_, static_cast<unsigned int>(delay));
    }
}

}  // namespace gwrt
