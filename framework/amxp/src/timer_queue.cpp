#include "timer_queue.h"

#include "amxp/amxp_loop.h"

#include "time_math.h"

namespace amxp {

bool TimerQueue::before(const amxp_timer_t* a, const amxp_timer_t* b) {
    return a->due_ms != b->due_ms ? a->due_ms < b->due_ms : a->start_seq < b->start_seq;
}

void TimerQueue::place(std::size_t index, amxp_timer_t* timer) {
    heap_[index] = timer;
    timer->heap_index = index;
}

void TimerQueue::sift_up(std::size_t index) {
    amxp_timer_t* timer = heap_[index];
    while(index > 0) {
        const std::size_t parent = (index - 1) / 2;
        if(!before(timer, heap_[parent])) {
            break;
        }
        place(index, heap_[parent]);
        index = parent;
    }
    place(index, timer);
}

void TimerQueue::sift_down(std::size_t index) {
    amxp_timer_t* timer = heap_[index];
    const std::size_t size = heap_.size();
    for(;;) {
        std::size_t child = 2 * index + 1;
        if(child >= size) {
            break;
        }
        if(child + 1 < size && before(heap_[child + 1], heap_[child])) {
            ++child;
        }
        if(!before(heap_[child], timer)) {
            break;
        }
        place(index, heap_[child]);
        index = child;
    }
    place(index, timer);
}

void TimerQueue::remove_at(std::size_t index) {
    amxp_timer_t* removed = heap_[index];
    amxp_timer_t* last = heap_.back();
    heap_.pop_back();
    removed->heap_index = amxp_timer_t::not_queued;
    if(removed == last) {
        return;
    }
    place(index, last);
    // The moved element may belong above or below its new place, never both.
    if(index > 0 && before(last, heap_[(index - 1) / 2])) {
        sift_up(index);
    } else {
        sift_down(index);
    }
}

void TimerQueue::arm(amxp_timer_t* timer, uint64_t due_ms) {
    timer->due_ms = due_ms;
    timer->start_seq = next_seq_++;
    if(timer->heap_index == amxp_timer_t::not_queued) {
        heap_.push_back(timer);
        timer->heap_index = heap_.size() - 1;
        sift_up(timer->heap_index);
    } else {
        // A restart may move the timer either way.
        sift_up(timer->heap_index);
        sift_down(timer->heap_index);
    }
}

void TimerQueue::disarm(amxp_timer_t* timer) {
    if(timer->heap_index != amxp_timer_t::not_queued) {
        remove_at(timer->heap_index);
    }
}

void TimerQueue::clear() {
    for(amxp_timer_t* timer : heap_) {
        timer->heap_index = amxp_timer_t::not_queued;
        timer->state = amxp_timer_off;
    }
    heap_.clear();
}

std::optional<uint64_t> TimerQueue::next_due() const {
    if(heap_.empty()) {
        return std::nullopt;
    }
    return heap_.front()->due_ms;
}

void TimerQueue::expire(amxp_timer_t* timer, uint64_t now_ms) {
    if(timer->interval_ms > 0) {
        // Keep the period steady when on time; when late, skip what was missed.
        uint64_t next = saturating_add(timer->due_ms, timer->interval_ms);
        if(next <= now_ms) {
            next = saturating_add(now_ms, timer->interval_ms);
        }
        arm(timer, next);
        timer->state = amxp_timer_running;
    } else {
        timer->state = amxp_timer_expired;
    }
    ++timer->callback_depth;
    if(timer->cb != nullptr) {
        timer->cb(timer, timer->priv);
    }
    --timer->callback_depth;
    if(timer->callback_depth == 0 && timer->delete_pending) {
        delete timer;
    }
}

int TimerQueue::fire_due(uint64_t now_ms) {
    const uint64_t armed_before = next_seq_;
    int fired = 0;
    while(!heap_.empty()) {
        amxp_timer_t* timer = heap_.front();
        // Heap order is (due, start order), and a timer armed during this call is due no
        // earlier than `now_ms`, so the first one that fails either test ends the pass.
        if(timer->due_ms > now_ms || timer->start_seq >= armed_before) {
            break;
        }
        remove_at(0);
        expire(timer, now_ms);
        ++fired;
        // Between two timers nothing is half done (the heap is read anew each time): several
        // long ones due together do not hold the loop for all of theirs.
        amxp_loop_slice_point_now();
    }
    return fired;
}

} // namespace amxp
