// The C API of the device-map client.

#include <cstring>
#include <type_traits>

#include <gmap/gmap_main.h>
#include <gmap/gmap_query.h>
#include <gmap/gmap_query_report.h>

#include "bus_glue.h"
#include "query_registry.h"
#include "report_queue.h"

extern "C" {

void gmap_client_init(amxb_bus_ctx_t* ctx) { gmap::bus_glue().init(ctx); }

amxb_bus_ctx_t* gmap_client_get_ctx(void) { return gmap::bus_glue().ctx(); }

gmap_query_t* gmap_query_open_ext(const char* expression, const char* name, gmap_query_cb_t fn, void* data) {
    gmap_query_t* query = gmap::registry().open(expression, name, fn, data);
    if(query != nullptr && !gmap::bus_glue().open(query)) {
        gmap::registry().close(query);
        return nullptr;
    }
    return query;
}

void gmap_query_close(gmap_query_t* query) {
    if(query == nullptr) {
        return;
    }
    gmap::bus_glue().close(query);
    gmap::report_queue().drop_for(query);
    gmap::registry().close(query);
}

int gmap_query_report(uint32_t id, const char* key, amxc_var_t* device, gmap_query_action_t action) {
    // A C caller may pass any int as the enum. Reading such a value as the enum is undefined in
    // C++, so its bytes are read as the underlying integer and compared as unsigned.
    std::underlying_type_t<gmap_query_action_t> raw = 0;
    std::memcpy(&raw, &action, sizeof raw);
    if(static_cast<unsigned>(raw) > static_cast<unsigned>(gmap_query_error)) {
        return -1;
    }
    gmap_query_t* query = gmap::registry().find(id);
    if(query == nullptr) {
        return -1;
    }
    return gmap::report_queue().queue(query, key, device, action);
}

}  // extern "C"
