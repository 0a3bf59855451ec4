#include "firewall_watch.h"

#include <amxp/amxp_loop.h>
#include <fwinterface/backend.h>

#include <cstring>

namespace gwrt {

FirewallWatch::~FirewallWatch() {
    if (fd_ >= 0) {
        amxp_loop_remove_fd(fd_);
    }
    amxp_timer_delete(&timer_);
}

bool FirewallWatch::attach(std::string& error) {
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

void FirewallWatch::on_readable(int /*fd*/, unsigned int /*events*/, void* priv) { static_cast<FirewallWatch*>(priv)->run(); }

void FirewallWatch::on_timer(amxp_timer_t* /*timer*/, void* priv) { static_cast<FirewallWatch*>(priv)->run(); }

void FirewallWatch::run() {
    const int delay = fw_backend_watch();
    if (delay >= 0) {
        amxp_timer_start(timer_, static_cast<unsigned int>(delay));
    }
}

}  // namespace gwrt
