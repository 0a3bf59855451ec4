/* Device-map client: set-up.
 *
 * The client keeps the device-map queries of this process (gmap_query.h). Before opening
 * queries, the module hands it the bus context on which the device map ("Devices.Device.")
 * is served.
 *
 * Thread: the event loop's thread only. */
#ifndef GMAP_GMAP_MAIN_H
#define GMAP_GMAP_MAIN_H

#ifdef __cplusplus
extern "C" {
#endif

/* The bus context type of libamxb, declared here so that this header does not need it. */
typedef struct _amxb_bus_ctx amxb_bus_ctx_t;

/* Opaque types stay above: their C++ insides are the library's own. */
#pragma GCC visibility push(default) /* the library hides all but its API */

/* Remembers `ctx` (borrowed; may be NULL when the device map is not reachable) as the
 * context that serves the device map, normally amxb_be_who_has("Devices.Device."). From then
 * on gmap_query_open_ext() opens each query in the device map over that context and gives
 * NULL (with a trace) when there is none, when the context no longer serves
 * "Devices.Device." (it was freed), or when the device map refuses the expression.
 * Before the first call the client is detached: queries stay in this process and only
 * gmap_query_report() feeds them.
 * Calling it again replaces the context; open queries stay open, but those opened through a
 * former context get no more reports. */
void gmap_client_init(amxb_bus_ctx_t* ctx);

/* The context given to gmap_client_init() (borrowed), NULL before. */
amxb_bus_ctx_t* gmap_client_get_ctx(void);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* GMAP_GMAP_MAIN_H */
