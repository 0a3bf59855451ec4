#include "loop.h"

#include "amxp/amxp_clock.h"

#include <algorithm>
#include <cerrno>
#include <climits>

namespace amxp {

Loop& default_loop() {
    static Loop* loop = new Loop();
    return *loop;
}

int Loop::run_pending() {
    int ran = work_.drain();
    ran += timers_.fire_due(amxp_clock_now_ms());
    ran += work_.drain();
    return ran;
}

int Loop::wait_time(int timeout_ms) const {
    if(timeout_ms == 0 || !work_.empty()) {
        return 0;
    }
    int wait = timeout_ms;
    if(auto due = timers_.next_due()) {
        const uint64_t now = amxp_clock_now_ms();
        if(*due <= now) {
            return 0;
        }
        // Waiting never moves the manual clock, so a future timer bounds nothing then.
        if(!amxp_clock_is_manual()) {
            const int until_due = static_cast<int>(std::min<uint64_t>(*due - now, INT_MAX));
            wait = wait < 0 ? until_due : std::min(wait, until_due);
        }
    }
    if(wait < 0 && fds_.empty()) {
        return no_wait_needed;
    }
    return wait;
}

int Loop::run_once(int timeout_ms) {
    if(timeout_ms < -1) {
        return -EINVAL;
    }
    int ran = run_pending();
    const int wait = ran > 0 ? 0 : wait_time(timeout_ms);
    if(wait == no_wait_needed) {
        return ran;
    }
    const int dispatched = fds_.wait_and_dispatch(wait);
    if(dispatched < 0) {
        return dispatched;
    }
    ran += dispatched;
    ran += run_pending();
    return ran;
}

bool Loop::idle_forever() const {
    if(!work_.empty() || !fds_.empty()) {
        return false;
    }
    auto due = timers_.next_due();
    return !due || (amxp_clock_is_manual() && *due > amxp_clock_now_ms());
}

int Loop::run() {
    if(running_.load()) {
        return -EBUSY;
    }
    // Cleared before the loop shows as running, so a stop seen after that is never lost.
    stop_requested_.store(false);
    running_.store(true);
    int rc = 0;
    while(!stop_requested_.load() && !idle_forever()) {
        const int ran = run_once(-1);
        if(ran < 0) {
            rc = ran;
            break;
        }
    }
    running_.store(false);
    return rc;
}

void Loop::stop() {
    stop_requested_.store(true);
    fds_.wake();
}

void Loop::reset() {
    fds_.clear();
    timers_.clear();
    work_.clear();
}

} // namespace amxp
