// The loop's FIFO of deferred calls and queued signal deliveries, bounded in size and in how
// much one drain runs.
#pragma once

#include "amxp/amxp_loop.h"

#include <deque>

namespace amxp {

class WorkQueue {
public:
    // An entry whose `priv` the queue owns: run consumes priv and tells whether it called
    // anything (false when the entry turned out to be obsolete); discard frees priv unrun.
    using OwnedRun = bool (*)(void* priv);
    using Discard = void (*)(void* priv);

    WorkQueue() = default;
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;
    ~WorkQueue();

    // Appends a call of `fn(priv)` (priv borrowed). -ENOSPC at AMXP_LOOP_QUEUE_MAX entries,
    // -ENOMEM when out of memory.
    int push(amxp_deferred_fn_t fn, void* priv);
    // Appends an entry that owns `priv`. On failure (as push) the caller still owns priv.
    int push_owned(OwnedRun run, Discard discard, void* priv);

    // Removes the queued calls of `fn` with `priv` (not owned entries); returns how many.
    int cancel(amxp_deferred_fn_t fn, void* priv);

    // Runs entries in order (see AMXP_LOOP_DRAIN_EXTRA_MAX for the bound); returns how many
    // callbacks that called.
    int drain();

    // Drops every entry, discarding the ones it owns.
    void clear();

    bool empty() const { return items_.empty(); }

private:
    struct Item {
        amxp_deferred_fn_t call; // set for a borrowed call
        OwnedRun owned_run;      // set for an owned entry, with discard
        Discard discard;
        void* priv;
    };
    int append(const Item& item);
    std::deque<Item> items_;
};

} // namespace amxp
