#include "work_queue.h"

#include <cerrno>
#include <new>

namespace amxp {

WorkQueue::~WorkQueue() {
    clear();
}

int WorkQueue::append(const Item& item) {
    if(items_.size() >= AMXP_LOOP_QUEUE_MAX) {
        return -ENOSPC;
    }
    try {
        items_.push_back(item);
    } catch(const std::bad_alloc&) {
        return -ENOMEM;
    }
    return 0;
}

int WorkQueue::push(amxp_deferred_fn_t fn, void* priv) {
    return append(Item{fn, nullptr, nullptr, priv});
}

int WorkQueue::push_owned(OwnedRun run, Discard discard, void* priv) {
    return append(Item{nullptr, run, discard, priv});
}

int WorkQueue::cancel(amxp_deferred_fn_t fn, void* priv) {
    const auto removed = std::erase_if(items_, [&](const Item& item) {
        return item.call == fn && item.priv == priv;
    });
    return static_cast<int>(removed);
}

int WorkQueue::drain() {
    // Entries are popped before they run, so a callback may push, cancel, clear or drain
    // (nested) freely without invalidating anything held here.
    std::size_t budget = items_.size() + AMXP_LOOP_DRAIN_EXTRA_MAX;
    int ran = 0;
    while(budget > 0 && !items_.empty()) {
        const Item item = items_.front();
        items_.pop_front();
        --budget;
        if(item.call != nullptr) {
            item.call(item.priv);
            ++ran;
        } else if(item.owned_run(item.priv)) {
            ++ran;
        }
        // Between two callbacks nothing is half done: a long drain lets readers in too. The
        // clock is read each time, since one callback may have taken the slice by itself.
        amxp_loop_slice_point_now();
    }
    return ran;
}

void WorkQueue::clear() {
    std::deque<Item> dropped;
    dropped.swap(items_);
    for(const Item& item : dropped) {
        if(item.owned_run != nullptr) {
            item.discard(item.priv);
        }
    }
}

} // namespace amxp
