/* Drives the device-map client from C, so that its headers are compiled as C11. */
#include <stddef.h>

#include <gmap/gmap_main.h>
#include <gmap/gmap_query.h>
#include <gmap/gmap_query_report.h>

int count_from_c(gmap_query_t** out);
int report_unknown_action_from_c(uint32_t id);

static void count_reports(gmap_query_t* query, const char* key, amxc_var_t* device, gmap_query_action_t action) {
    (void) key;
    (void) device;
    (void) action;
    ++*(int*) query->data;
}

/* Opens a query whose callback counts its reports in *(int*) data; reports one device. */
int count_from_c(gmap_query_t** out) {
    static int counter = 0;
    counter = 0;
    *out = gmap_query_open_ext("not self and physical and .PhysAddress matches \"aa\"", NULL, count_reports,
                               &counter);
    if(*out == NULL || gmap_query_report((*out)->id, "dev1", NULL, gmap_query_expression_start_matching) != 0) {
        return -1;
    }
    return 0;
}

/* C may pass any int as the action; only C can do so without undefined behaviour. */
int report_unknown_action_from_c(uint32_t id) {
    return gmap_query_report(id, "dev", NULL, (gmap_query_action_t) 4);
}
