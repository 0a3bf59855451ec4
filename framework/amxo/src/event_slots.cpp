#include "event_slots.h"

#include <cstring>

namespace amxo {

EventSlots::~EventSlots() {
    for (auto it = connected_.rbegin(); it != connected_.rend(); ++it) {
        amxp_slot_disconnect_with_priv(mngr_, it->fn, it->priv);
    }
}

void EventSlots::connect(const PlanObject& root) {
    for (const auto& child : root.children) {
        for (const PlanEvent& event : child->events) {
            connected_.reserve(connected_.size() + 1);
            const int rc = amxp_slot_connect(mngr_, event.event.c_str(), event.expression.c_str(), event.fn, child->built);
            if (rc != 0) {
                fail(event.where, "cannot bind event \"" + event.event + "\": " + std::strerror(-rc));
            }
            connected_.push_back(Connection{event.fn, child->built});
        }
        connect(*child);
    }
}

}  // namespace amxo
