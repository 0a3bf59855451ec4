#ifndef GMAP_REPORT_QUEUE_H
#define GMAP_REPORT_QUEUE_H

#include <list>
#include <memory>
#include <string>

#include <gmap/gmap_query.h>

namespace gmap {

// Reports waiting for the loop. Each is a deferred call of the loop (amxp_loop_defer) whose
// private data is the report, so that closing a query can cancel its queued reports and
// free them: a closed query never hears of them, and nothing leaks when the loop stops.
class ReportQueue {
public:
    // 0 when queued (see gmap_query_report); key and device are copied.
    int queue(gmap_query_t* query, const char* key, const amxc_var_t* device, gmap_query_action_t action);

    // Cancels and frees every report queued for `query`.
    void drop_for(const gmap_query_t* query);

private:
    struct VarDelete {
        void operator()(amxc_var_t* var) const { amxc_var_delete(&var); }
    };
    struct Report {
        gmap_query_t* query = nullptr;
        std::string key;
        std::unique_ptr<amxc_var_t, VarDelete> device;
        gmap_query_action_t action = gmap_query_error;
        std::list<Report>::iterator self;
    };

    static void deliver(void* priv);

    std::list<Report> reports_;
};

ReportQueue& report_queue();

}  // namespace gmap

#endif  // GMAP_REPORT_QUEUE_H
