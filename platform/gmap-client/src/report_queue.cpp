#include "report_queue.h"

#include <new>

#include <amxp/amxp_loop.h>

#include "query_registry.h"

namespace gmap {

int ReportQueue::queue(gmap_query_t* query, const char* key, const amxc_var_t* device, gmap_query_action_t action) {
    try {
        std::list<Report> fresh(1);
        Report& report = fresh.front();
        report.query = query;
        report.key = key == nullptr ? "" : key;
        report.action = action;
        if(device != nullptr) {
            amxc_var_t* copy = nullptr;
            if(amxc_var_new(&copy) != 0) {
                return -1;
            }
            report.device.reset(copy);
            if(amxc_var_copy(copy, device) != 0) {
                return -1;
            }
        }
        if(amxp_loop_defer(&ReportQueue::deliver, &report) != 0) {
            return -1;
        }
        report.self = fresh.begin();
        reports_.splice(reports_.end(), fresh);
        return 0;
    } catch(const std::bad_alloc&) {
        return -1;
    }
}

void ReportQueue::drop_for(const gmap_query_t* query) {
    for(auto it = reports_.begin(); it != reports_.end();) {
        if(it->query == query) {
            amxp_loop_cancel_deferred(&ReportQueue::deliver, &*it);
            it = reports_.erase(it);
        } else {
            ++it;
        }
    }
}

void ReportQueue::deliver(void* priv) {
    auto* report = static_cast<Report*>(priv);
    // Taken out of the queue first: the callback may close the query, which must not find
    // (and free) the report being delivered.
    std::list<Report> taken;
    taken.splice(taken.begin(), report_queue().reports_, report->self);

    gmap_query_t* query = report->query;
    QueryRegistry::retain(query);
    query->fn(query, report->key.c_str(), report->device.get(), report->action);
    QueryRegistry::release(query);
}

// Destroyed when the library is unloaded: queries are closed before that (the runtime
// deletes its data models, whose destroy actions close them, before it unloads modules).
ReportQueue& report_queue() {
    static ReportQueue instance;
    return instance;
}

}  // namespace gmap
