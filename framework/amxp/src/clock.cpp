// The loop's time base: real monotonic time plus an offset, or a frozen manual value.
#include "amxp/amxp_clock.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace {

struct ClockState {
    bool manual = false;
    uint64_t manual_now = 0;
    // Added to real time so that leaving the manual clock never moves time backwards.
    uint64_t offset = 0;
};

ClockState& state() {
    static ClockState s;
    return s;
}

uint64_t real_ms() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

} // namespace

extern "C" {

uint64_t amxp_clock_now_ms(void) {
    const ClockState& s = state();
    return s.manual ? s.manual_now : real_ms() + s.offset;
}

void amxp_clock_set_manual(bool manual) {
    ClockState& s = state();
    if(manual == s.manual) {
        return;
    }
    if(manual) {
        s.manual_now = real_ms() + s.offset;
    } else {
        const uint64_t real = real_ms();
        if(s.manual_now > real) {
            s.offset = std::max(s.offset, s.manual_now - real);
        }
    }
    s.manual = manual;
}

bool amxp_clock_is_manual(void) {
    return state().manual;
}

void amxp_clock_advance(uint64_t ms) {
    ClockState& s = state();
    if(!s.manual) {
        return;
    }
    const uint64_t room = std::numeric_limits<uint64_t>::max() - s.manual_now;
    s.manual_now += std::min(ms, room);
}

} // extern "C"
