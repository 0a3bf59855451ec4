#include "loop.h"

#include "amxp/amxp_clock.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

namespace amxp {

namespace {

// Slice points between two looks at the clock: long work passes thousands a second.
constexpr unsigned int slice_check_interval = 16;
// A pause lasts while readers keep coming, up to this long: a client let in during a pause
// sends its request a moment later, and would otherwise wait a whole slice more for its answer.
constexpr auto pause_span = std::chrono::milliseconds(2);

// Real time, whatever the test clock says: a slice is about other clients waiting. The coarse
// clock costs next to nothing and is precise to a few milliseconds.
uint64_t coarse_now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace

Loop& default_loop() {
    static Loop* loop = new Loop();
    return *loop;
}

template <typename Body>
int Loop::on_callback_stack(Body& body) {
    if(callbacks_.running_here()) {
        return body(); // a nested iteration
    }
    if(callbacks_.paused()) {
        return -EBUSY; // asked by a reader served while a callback is paused
    }
    const CallbackStack::Job job{[](void* arg) { return (*static_cast<Body*>(arg))(); }, &body};
    slice_started_ms_ = coarse_now_ms();
    if(!callbacks_.start(job)) {
        return body(); // no stack to be had: the callbacks run unsliced
    }
    while(callbacks_.paused()) {
        serve_pause();
        slice_started_ms_ = coarse_now_ms();
        callbacks_.resume();
    }
    return callbacks_.result();
}

void Loop::serve_pause() {
    const auto end = std::chrono::steady_clock::now() + pause_span;
    int wait_ms = 0;
    while(fds_.serve_readers(wait_ms) > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if(left.count() <= 0) {
            break;
        }
        wait_ms = static_cast<int>(left.count());
    }
}

void Loop::slice_point(bool now) {
    if(!callbacks_.running_here() || slice_holds_ > 0 || (++slice_calls_ < slice_check_interval && !now)) {
        return;
    }
    slice_calls_ = 0;
    if(coarse_now_ms() - slice_started_ms_ >= AMXP_LOOP_SLICE_MS) {
        callbacks_.pause();
    }
}

int Loop::run_pending() {
    auto body = [this] { return pending(); };
    return on_callback_stack(body);
}

int Loop::pending() {
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
    auto body = [this, timeout_ms] { return iterate(timeout_ms); };
    return on_callback_stack(body);
}

int Loop::iterate(int timeout_ms) {
    int ran = pending();
    const int wait = ran > 0 ? 0 : wait_time(timeout_ms);
    if(wait == no_wait_needed) {
        return ran;
    }
    const int dispatched = fds_.wait_and_dispatch(wait);
    if(dispatched < 0) {
        return dispatched;
    }
    ran += dispatched;
    ran += pending();
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
