// Connects the event bindings of a load to the data model's signals, or takes them back.
#pragma once

#include <vector>

#include <amxp/amxp_signal.h>
#include <amxp/amxp_slot.h>

#include "plan.h"

namespace amxo {

class EventSlots {
public:
    explicit EventSlots(amxp_signal_mngr_t* mngr) : mngr_(mngr) {}
    // Disconnects every connection made unless commit() was called.
    ~EventSlots();
    EventSlots(const EventSlots&) = delete;
    EventSlots& operator=(const EventSlots&) = delete;

    // Connects the bindings of every object this load created below `root`. Each handler gets
    // the object its binding is declared in as priv; that object is new, so the pair
    // (handler, priv) names exactly this connection when it has to be taken back.
    void connect(const PlanObject& root);

    void commit() { connected_.clear(); }

private:
    struct Connection {
        amxp_slot_fn_t fn;
        void* priv;
    };

    amxp_signal_mngr_t* mngr_;
    std::vector<Connection> connected_;
};

}  // namespace amxo
