// The process's event loop: file descriptors, timers and the work queue, run on one thread.
#pragma once

#include "callback_stack.h"
#include "fd_watcher.h"
#include "timer_queue.h"
#include "work_queue.h"

#include <atomic>
#include <cstdint>

namespace amxp {

class Loop {
public:
    int run();
    int run_once(int timeout_ms);
    int run_pending();
    void stop();
    bool is_running() const { return running_.load(); }
    void reset();

    // Long work: see amxp_loop_slice_point() and its neighbours in amxp_loop.h.
    void slice_point(bool now = false);
    void hold_slices() { ++slice_holds_; }
    void release_slices() { --slice_holds_; }
    bool paused() const { return callbacks_.paused(); }

    FdWatcher& fds() { return fds_; }
    TimerQueue& timers() { return timers_; }
    WorkQueue& work() { return work_; }

private:
    static constexpr int no_wait_needed = -2;

    // How long the wait of an iteration may last given the caller's timeout, or
    // no_wait_needed when nothing could ever end an unbounded wait.
    int wait_time(int timeout_ms) const;
    bool idle_forever() const;
    int iterate(int timeout_ms);
    int pending();
    // Runs `body` on the callbacks' stack, serving readers whenever it pauses; on the
    // caller's own stack when that stack cannot be had.
    template <typename Body>
    int on_callback_stack(Body& body);
    // What the loop does while a callback is paused: serves the readers' descriptors.
    void serve_pause();

    CallbackStack callbacks_;
    uint64_t slice_started_ms_ = 0; // when the callbacks' stack last got the thread
    unsigned int slice_calls_ = 0;  // slice points since the clock was last read
    int slice_holds_ = 0;
    FdWatcher fds_;
    TimerQueue timers_;
    WorkQueue work_;
    std::atomic<bool> running_{false}; // read by amxp_loop_is_running from anywhere
    std::atomic<bool> stop_requested_{false};
};

// The process-wide loop. Never destroyed, so timers and watches may outlive static
// destructors without touching a dead object.
Loop& default_loop();

} // namespace amxp
