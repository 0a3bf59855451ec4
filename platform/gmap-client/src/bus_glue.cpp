#include "bus_glue.h"

#include <cstring>
#include <new>

#include <gmap/gmap_query_report.h>
#include <zebtrace/zebtrace.h>

#define ME "gmap"

namespace gmap {
namespace {

// The device-map service's side of the exchange: its methods on "Devices." and the signal it
// emits for each report, {query, key, action, device}.
constexpr const char* kDevicesPath = "Devices.";
constexpr const char* kTablePath = "Devices.Device.";
constexpr const char* kReportFilter = "notification == 'devices:query-report'";

struct ActionName {
    const char* text;
    gmap_query_action_t action;
};
constexpr ActionName kActions[] = {
    {"start-matching", gmap_query_expression_start_matching},
    {"device-updated", gmap_query_device_updated},
    {"stop-matching", gmap_query_expression_stop_matching},
    {"error", gmap_query_error},
};

const char* label(const gmap_query_t* query) { return query->name != nullptr ? query->name : query->expression; }

const char* text_at(const amxc_var_t* data, const char* key) {
    return amxc_var_get_const_cstring_t(amxc_var_get_key(data, key, AMXC_VAR_FLAG_DEFAULT));
}

// A variant on the stack, cleaned when it goes out of scope.
struct Var {
    Var() { amxc_var_init(&var); }
    ~Var() { amxc_var_clean(&var); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    amxc_var_t var;
};

}  // namespace

void BusGlue::init(amxb_bus_ctx_t* ctx) {
    attached_ = true;
    if(ctx == ctx_) {
        return;
    }
    // Queries opened through the former context are not served by this one: their indexes
    // mean nothing here.
    if(subscribed_ != nullptr && amxb_be_who_has(kTablePath) == subscribed_) {
        amxb_unsubscribe(subscribed_, kDevicesPath, on_report, nullptr);
    }
    subscribed_ = nullptr;
    ids_by_index_.clear();
    ctx_ = ctx;
}

amxb_bus_ctx_t* BusGlue::live_ctx() const {
    return ctx_ != nullptr && amxb_be_who_has(kTablePath) == ctx_ ? ctx_ : nullptr;
}

bool BusGlue::subscribe(amxb_bus_ctx_t* ctx) {
    if(subscribed_ == ctx) {
        return true;
    }
    if(amxb_subscribe(ctx, kDevicesPath, kReportFilter, on_report, nullptr) != 0) {
        zebTrace(TRACE_LEVEL_ERROR, "cannot follow the device map's reports: %s", amxb_last_error(ctx));
        return false;
    }
    subscribed_ = ctx;
    return true;
}

bool BusGlue::open(gmap_query_t* query) {
    if(!attached_) {
        return true;
    }
    amxb_bus_ctx_t* ctx = live_ctx();
    if(ctx == nullptr) {
        zebTrace(TRACE_LEVEL_WARNING, "query '%s' not opened: no device map on the bus", label(query));
        return false;
    }
    if(!subscribe(ctx)) {
        return false;
    }
    Var args;
    Var ret;
    amxc_var_set_type(&args.var, AMXC_VAR_ID_HTABLE);
    amxc_var_add_new_key_cstring_t(&args.var, "expression", query->expression);
    if(query->name != nullptr) {
        amxc_var_add_new_key_cstring_t(&args.var, "name", query->name);
    }
    if(amxb_call(ctx, kDevicesPath, "openQuery", &args.var, &ret.var, 0) != 0) {
        zebTrace(TRACE_LEVEL_WARNING, "query '%s' refused by the device map: %s", label(query), amxb_last_error(ctx));
        return false;
    }
    const std::uint32_t index = amxc_var_get_uint32_t(&ret.var);
    if(index == 0) {
        zebTrace(TRACE_LEVEL_ERROR, "query '%s': the device map gave no index", label(query));
        return false;
    }
    try {
        ids_by_index_[index] = query->id;
    } catch(const std::bad_alloc&) {
        amxc_var_set_type(&args.var, AMXC_VAR_ID_HTABLE);
        amxc_var_add_new_key_uint32_t(&args.var, "index", index);
        amxb_call(ctx, kDevicesPath, "closeQuery", &args.var, nullptr, 0);
        return false;
    }
    query->index = index;
    return true;
}

void BusGlue::close(const gmap_query_t* query) {
    auto it = ids_by_index_.find(query->index);
    if(query->index == 0 || it == ids_by_index_.end() || it->second != query->id) {
        return;  // detached, or opened through a former context
    }
    ids_by_index_.erase(it);
    amxb_bus_ctx_t* ctx = live_ctx();
    if(ctx == nullptr) {
        return;  // the device map is gone, and its queries with it
    }
    Var args;
    amxc_var_set_type(&args.var, AMXC_VAR_ID_HTABLE);
    amxc_var_add_new_key_uint32_t(&args.var, "index", query->index);
    if(amxb_call(ctx, kDevicesPath, "closeQuery", &args.var, nullptr, 0) != 0) {
        zebTraceZ(TRACE_LEVEL_NOTICE, ME, "closing query '%s' in the device map: %s", label(query), amxb_last_error(ctx));
    }
}

// Reports of queries this client does not know (closed ones, other clients') are dropped.
void BusGlue::on_report(const char* /*sig_name*/, const amxc_var_t* data, void* /*priv*/) {
    BusGlue& glue = bus_glue();
    const std::uint32_t index = amxc_var_get_uint32_t(amxc_var_get_key(data, "query", AMXC_VAR_FLAG_DEFAULT));
    auto it = glue.ids_by_index_.find(index);
    if(index == 0 || it == glue.ids_by_index_.end()) {
        return;
    }
    const char* action_text = text_at(data, "action");
    const ActionName* action = nullptr;
    for(const ActionName& known : kActions) {
        if(action_text != nullptr && std::strcmp(known.text, action_text) == 0) {
            action = &known;
        }
    }
    if(action == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "report for query %u ignored: unknown action '%s'", index,
                 action_text != nullptr ? action_text : "");
        return;
    }
    amxc_var_t* device = amxc_var_get_key(data, "device", AMXC_VAR_FLAG_DEFAULT);
    if(amxc_var_type_of(device) != AMXC_VAR_ID_HTABLE) {
        device = nullptr;
    }
    if(gmap_query_report(it->second, text_at(data, "key"), device, action->action) != 0) {
        zebTrace(TRACE_LEVEL_ERROR, "report %s for query %u lost", action->text, index);
    }
}

// Destroyed when the library is unloaded: queries are closed before that (the runtime
// deletes its data models, whose destroy actions close them, before it unloads modules).
BusGlue& bus_glue() {
    static BusGlue instance;
    return instance;
}

}  // namespace gmap
