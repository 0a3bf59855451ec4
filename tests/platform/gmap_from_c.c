/* Drives the device-map client from C, so that its headers are compiled as C11. */
#include <stddef.h>

#include <gmap/gmap_main.h>
#include <gmap/gmap_query.h>
#include <gmap/gmap_query_report.h>

int report_unknown_action_from_c(uint32_t id);

/* C may pass any int as the action; only C can do so without undefined behaviour. */
int report_unknown_action_from_c(uint32_t id) {
    return gmap_query_report(id, "dev", NULL, (gmap_query_action_t) 4);
}
