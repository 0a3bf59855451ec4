#include "event_queue.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <memory_resource>
#include <new>

#include <amxp/amxp_loop.h>

namespace amxd {

struct EventQueue::Pending {
    EventQueue* owner;
    EventBatch events;
    std::list<std::unique_ptr<Pending>>::iterator pos;
};

EventQueue::EventQueue(amxp_signal_mngr_t* sigmngr) :
    sigmngr_(sigmngr), alive_(std::make_shared<bool>(true)) {
}

EventQueue::~EventQueue() {
    *alive_ = false;
    for(const std::unique_ptr<Pending>& pending : pending_) {
        amxp_loop_cancel_deferred(&EventQueue::deliver, pending.get());
    }
}

amxd_status_t EventQueue::post(EventBatch batch) {
    if(batch.empty()) {
        return amxd_status_ok;
    }
    auto pending = std::make_unique<Pending>();
    Pending* raw = pending.get();
    raw->owner = this;
    raw->events = std::move(batch);
    pending_.push_back(std::move(pending));
    raw->pos = std::prev(pending_.end());
    if(amxp_loop_defer(&EventQueue::deliver, raw) != 0) {
        pending_.erase(raw->pos);
        return amxd_status_out_of_mem;
    }
    return amxd_status_ok;
}

void EventQueue::deliver(void* priv) {
    auto* raw = static_cast<Pending*>(priv);
    EventQueue* queue = raw->owner;
    std::unique_ptr<Pending> batch = std::move(*raw->pos);
    queue->pending_.erase(raw->pos);
    // A slot may delete the data model (and this queue) while the batch is delivered.
    std::shared_ptr<bool> alive = queue->alive_;
    amxp_signal_mngr_t* sigmngr = queue->sigmngr_;
    // Each event's data is read into this room and dropped whole after its delivery; most
    // events fit on the stack (a slot's fiber has megabytes of it).
    std::array<std::byte, 4096> room;
    std::pmr::monotonic_buffer_resource memory(room.data(), room.size());
    for(Event& event : batch->events) {
        const amxc_var_t* data = nullptr;
        try {
            amxc::BorrowedTree tree(memory);
            data = event.data.read(tree);
        } catch(const std::bad_alloc&) {
            std::fprintf(stderr, "amxd: a %s event was lost: out of memory\n", event.name);
            memory.release();
            continue;
        }
        amxp_sigmngr_trigger(sigmngr, event.name, data);
        event.data = PackedVar();   // the data borrowed its texts
        memory.release();
        if(!*alive) {
            break;
        }
    }
}

} // namespace amxd
