// Lets the firewall backend follow the kernel from the event loop: its notification descriptor
// watched for reading, and a timer for the retries it asks for.
#pragma once

#include <amxp/amxp_timer.h>

#include <string>

namespace gwrt {

class FirewallWatch {
public:
    FirewallWatch() = default;
    ~FirewallWatch();
    FirewallWatch(const FirewallWatch&) = delete;
    FirewallWatch& operator=(const FirewallWatch&) = delete;

    // Watches the backend in use; nothing to do (true) for one that keeps nothing in the kernel.
    bool attach(std::string& error);

private:
    static void on_readable(int fd, unsigned int events, void* priv);
    static void on_timer(amxp_timer_t* timer, void* priv);
    void run();

    int fd_ = -1;
    amxp_timer_t* timer_ = nullptr;
};

}  // namespace gwrt
