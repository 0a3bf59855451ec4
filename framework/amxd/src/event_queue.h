// Delivery of a data model's events on the loop.
//
// Each applied transaction posts its events as one batch: a single deferred call on the loop
// that delivers them in order through the data model's signal manager. One queue entry per
// transaction (rather than one per event) lets the apply check, before it commits, that its
// events will go out: a full loop queue fails the transaction instead of silently dropping
// events of a change that was already made. The order seen by slots is the same as with
// per-event emission: batches keep the order of the loop's queue, and whatever a slot
// queues is delivered after the rest of the batch. Events wait packed (packed_var.h).
#pragma once

#include <list>
#include <memory>
#include <string>
#include <vector>

#include <amxd/amxd_types.h>
#include <amxp/amxp_signal.h>

#include "packed_var.h"

namespace amxd {

struct Event {
    const char* name;   // one of the sig_* constants
    PackedVar data;
};
using EventBatch = std::vector<Event>;

class EventQueue {
public:
    explicit EventQueue(amxp_signal_mngr_t* sigmngr);
    // Drops every batch not delivered yet; a delivery in progress stops after its current
    // event.
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Queues `batch` on the loop. amxd_status_out_of_mem, nothing queued, when the loop's
    // queue is full. Throws std::bad_alloc with nothing queued.
    amxd_status_t post(EventBatch batch);

private:
    struct Pending;
    static void deliver(void* priv);

    amxp_signal_mngr_t* sigmngr_;
    std::list<std::unique_ptr<Pending>> pending_;
    std::shared_ptr<bool> alive_;
};

} // namespace amxd
