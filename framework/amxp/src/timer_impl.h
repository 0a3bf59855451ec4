// The timer record shared by the timer API and the loop's timer queue.
#pragma once

#include "amxp/amxp_timer.h"

#include <cstddef>
#include <cstdint>

struct _amxp_timer {
    static constexpr std::size_t not_queued = static_cast<std::size_t>(-1);

    amxp_timer_cb_t cb = nullptr;
    void* priv = nullptr;
    unsigned int interval_ms = 0;
    amxp_timer_state_t state = amxp_timer_off;

    // Position in the queue's heap (not_queued when not armed); kept by the queue.
    std::size_t heap_index = not_queued;
    uint64_t due_ms = 0;
    // Start order: breaks ties between equal due times, first started first.
    uint64_t start_seq = 0;

    // Callbacks of this timer now on the stack (nested iterations can stack them).
    unsigned int callback_depth = 0;
    // Deleted from inside its own callback: freed when the outermost callback returns.
    bool delete_pending = false;
};
