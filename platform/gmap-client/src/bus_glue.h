// The link between the client's queries and the device-map service on the bus.
#ifndef GMAP_BUS_GLUE_H
#define GMAP_BUS_GLUE_H

#include <cstdint>
#include <unordered_map>

#include <amxb/amxb.h>
#include <gmap/gmap_query.h>

namespace gmap {

// Until gmap_client_init() is called the client is detached: queries stay in this process and
// only gmap_query_report() feeds them (tests that stand in for the service). Once initialised,
// each query is opened in the device map with openQuery, and the service's report signals for
// its index are handed to gmap_query_report(). One subscription to "Devices." per context.
class BusGlue {
public:
    // Remembers `ctx` (borrowed, may be NULL) and leaves the detached state.
    void init(amxb_bus_ctx_t* ctx);

    amxb_bus_ctx_t* ctx() const { return ctx_; }

    // Opens `query` in the device map and records its index; true at once when detached.
    // false, with a trace, when there is no device map, or it refused the query.
    bool open(gmap_query_t* query);

    // Forgets the query's index (its late reports are dropped) and closes it in the device
    // map if that is still reachable.
    void close(const gmap_query_t* query);

private:
    // The context given to init() while it still serves the device map: a context freed
    // since (the runtime frees them before the data models whose destroy actions close
    // queries) is no longer registered, and is never used again.
    amxb_bus_ctx_t* live_ctx() const;
    bool subscribe(amxb_bus_ctx_t* ctx);

    static void on_report(const char* sig_name, const amxc_var_t* data, void* priv);

    bool attached_ = false;
    amxb_bus_ctx_t* ctx_ = nullptr;
    amxb_bus_ctx_t* subscribed_ = nullptr;
    std::unordered_map<std::uint32_t, std::uint32_t> ids_by_index_;  // service index -> query id
};

BusGlue& bus_glue();

}  // namespace gmap

#endif  // GMAP_BUS_GLUE_H
