// Lets the firewall backend follow the kernel from the event loop: its notification descriptor
// watched for reading, and a timer for the retries it asks for. Also ends the turns of the
// loop for the firewall: removals held back during a callback are committed right after it,
// and the memory large changes freed goes back once they have settled.
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

    // Watches the backend in use (nothing to watch for one that keeps nothing in the kernel)
    // and holds removals to the end of each turn.
    bool attach(std::string& error);

private:
    static void on_readable(int fd, unsigned int events, void* priv);
    static void on_timer(amxp_timer_t* timer, void* priv);
    static int hold_to_turn_end(void* priv);
    static void end_turn(void* priv);
    static void settling(void* priv);
    static void on_settled(amxp_timer_t* timer, void* priv);
    void run();

    int fd_ = -1;
    amxp_timer_t* timer_ = nullptr;
    amxp_timer_t* settle_timer_ = nullptr;
};

}  // namespace gwrt
