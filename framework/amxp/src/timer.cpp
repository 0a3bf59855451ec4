// C entry points of timers; the queue that orders and fires them is timer_queue.cpp.
#include "amxp/amxp_timer.h"

#include "amxp/amxp_clock.h"
#include "loop.h"
#include "time_math.h"
#include "timer_impl.h"

#include <cerrno>
#include <climits>
#include <new>

extern "C" {

int amxp_timer_new(amxp_timer_t** timer, amxp_timer_cb_t cb, void* priv) {
    if(timer == nullptr) {
        return -EINVAL;
    }
    auto* created = new(std::nothrow) amxp_timer_t();
    if(created == nullptr) {
        return -ENOMEM;
    }
    created->cb = cb;
    created->priv = priv;
    *timer = created;
    return 0;
}

void amxp_timer_delete(amxp_timer_t** timer) {
    if(timer == nullptr || *timer == nullptr) {
        return;
    }
    amxp_timer_t* doomed = *timer;
    *timer = nullptr;
    amxp::default_loop().timers().disarm(doomed);
    if(doomed->callback_depth > 0) {
        doomed->state = amxp_timer_deleted;
        doomed->delete_pending = true;
        return;
    }
    delete doomed;
}

int amxp_timer_start(amxp_timer_t* timer, unsigned int timeout_msec) {
    if(timer == nullptr || timer->delete_pending) {
        return -EINVAL;
    }
    amxp::default_loop().timers().arm(timer, amxp::saturating_add(amxp_clock_now_ms(), timeout_msec));
    timer->state = amxp_timer_started;
    return 0;
}

int amxp_timer_stop(amxp_timer_t* timer) {
    if(timer == nullptr) {
        return -EINVAL;
    }
    amxp::default_loop().timers().disarm(timer);
    if(!timer->delete_pending) {
        timer->state = amxp_timer_off;
    }
    return 0;
}

int amxp_timer_set_interval(amxp_timer_t* timer, unsigned int interval_msec) {
    if(timer == nullptr) {
        return -EINVAL;
    }
    timer->interval_ms = interval_msec;
    return 0;
}

unsigned int amxp_timer_remaining_time(const amxp_timer_t* timer) {
    if(timer == nullptr || timer->heap_index == amxp_timer_t::not_queued) {
        return 0;
    }
    const uint64_t now = amxp_clock_now_ms();
    if(timer->due_ms <= now) {
        return 0;
    }
    const uint64_t left = timer->due_ms - now;
    return left > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(left);
}

amxp_timer_state_t amxp_timer_get_state(const amxp_timer_t* timer) {
    return timer == nullptr ? amxp_timer_off : timer->state;
}

} // extern "C"
