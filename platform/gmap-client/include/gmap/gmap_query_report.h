/* Device-map client, service side: delivering reports to open queries.
 *
 * Not for modules that open queries: this is the entry point of the glue that connects the
 * client to the device-map service, and of tests that stand in for that service.
 *
 * Thread: the event loop's thread only. */
#ifndef GMAP_GMAP_QUERY_REPORT_H
#define GMAP_GMAP_QUERY_REPORT_H

#include <stdint.h>

#include <gmap/gmap_query.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Queues a report for the open query with id `id`; it is delivered to the query's callback
 * from the event loop (amxp_loop_defer), after the reports queued before it, unless the
 * query is closed first. `key` (NULL reads as "") and `device` (may be NULL) are copied:
 * the caller keeps its own.
 * Returns 0 when queued; non-zero, with nothing queued, when no open query has that id,
 * `action` is not a gmap_query_action_t, copying fails or the loop's queue is full. */
int gmap_query_report(uint32_t id, const char* key, amxc_var_t* device, gmap_query_action_t action);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* GMAP_GMAP_QUERY_REPORT_H */
