// Armed timers, ordered by (due time, start order) in an indexed binary min-heap: arming,
// re-arming and disarming are O(log n) and need no allocation once the heap has grown.
#pragma once

#include "timer_impl.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace amxp {

class TimerQueue {
public:
    // Arms (or re-arms) `timer` to be due at `due_ms`, after every timer armed before it
    // with the same due time.
    void arm(amxp_timer_t* timer, uint64_t due_ms);
    // Takes `timer` out of the queue if it is in it.
    void disarm(amxp_timer_t* timer);
    // Disarms every timer (state off).
    void clear();

    bool empty() const { return heap_.empty(); }
    // Due time of the earliest timer, if any.
    std::optional<uint64_t> next_due() const;

    // Runs the callbacks of the timers due at `now_ms` that were armed before this call;
    // timers (re)armed by those callbacks wait for the next call, so a timer restarted with
    // 0 from its own callback cannot spin here. Returns the number of expiries.
    int fire_due(uint64_t now_ms);

private:
    static bool before(const amxp_timer_t* a, const amxp_timer_t* b);
    void place(std::size_t index, amxp_timer_t* timer);
    void sift_up(std::size_t index);
    void sift_down(std::size_t index);
    void remove_at(std::size_t index);
    void expire(amxp_timer_t* timer, uint64_t now_ms);

    std::vector<amxp_timer_t*> heap_;
    uint64_t next_seq_ = 0;
};

} // namespace amxp
