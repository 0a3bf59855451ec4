// Module entry: start and stop, and the process-wide service context.
#define ME "networksettings"

#include "networksettings-qk.h"

#include <amxb/amxb.h>
#include <amxc/amxc.h>
#include <amxo/amxo.h>
#include <gmap/gmap_main.h>
#include <zebtrace/zebtrace.h>

#include "accesscontrol/accesscontrol_fw.h"

namespace {

struct networksettings_t {
    amxd_dm_t* dm;
    amxo_parser_t* parser;
    amxb_bus_ctx_t* bus_ctx;
    amxd_object_t* root_obj;
};

networksettings_t networksettings_{};

constexpr const char* BANNER_LINE = "***********************************************";

// The prefix as configured, or "" when absent or not a text.
const char* configured_prefix(amxo_parser_t* parser) {
    if(parser == nullptr) {
        return "";
    }
    const char* prefix = amxc_var_constcast(cstring_t, amxo_parser_get_config(parser, "prefix_"));
    return prefix == nullptr ? "" : prefix;
}

void networksettings_set_root_object(amxo_parser_t* parser) {
    amxc_string_t path;
    amxc_string_init(&path, 0);
    amxc_string_setf(&path, "Device.%sNetworkSettings.", configured_prefix(parser));
    const char* root_path = amxc_string_get(&path, 0);
    networksettings_.root_obj = amxd_dm_findf(networksettings_.dm, "%s", root_path);
    networksettings_.bus_ctx = amxb_be_who_has(root_path);
    amxc_string_clean(&path);
}

int networksettings_start(amxd_dm_t* dm, amxo_parser_t* parser) {
    zebTraceZ(TRACE_LEVEL_INFO, ME, "%s", BANNER_LINE);
    zebTraceZ(TRACE_LEVEL_INFO, ME, "*        networksettings service started      *");
    zebTraceZ(TRACE_LEVEL_INFO, ME, "%s", BANNER_LINE);

    networksettings_.dm = dm;
    networksettings_.parser = parser;
    networksettings_set_root_object(parser);

    gmap_client_init(amxb_be_who_has("Devices.Device."));
    firewall_init();
    return 0;
}

int networksettings_stop(void) {
    firewall_cleanup();
    networksettings_ = networksettings_t{};

    zebTraceZ(TRACE_LEVEL_INFO, ME, "%s", BANNER_LINE);
    zebTraceZ(TRACE_LEVEL_INFO, ME, "*        networksettings service stopped      *");
    zebTraceZ(TRACE_LEVEL_INFO, ME, "%s", BANNER_LINE);
    return 0;
}

} // namespace

extern "C" {

const char* status_active = "Active";
const char* status_inactive = "Inactive";
const char* status_error = "Error";
const char* status_scheduleinactive = "Enabled_ScheduleInactive";

int _networksettings_main(int reason, amxd_dm_t* dm, amxo_parser_t* parser) {
    switch(reason) {
    case 0:
        networksettings_start(dm, parser);
        break;
    case 1:
        networksettings_stop();
        break;
    default:
        break;
    }
    return 0;
}

amxd_dm_t* networksettings_get_dm(void) {
    return networksettings_.dm;
}

amxo_parser_t* networksettings_get_parser(void) {
    return networksettings_.parser;
}

amxb_bus_ctx_t* networksettings_get_ctx(void) {
    return networksettings_.bus_ctx;
}

amxd_object_t* networksettings_get_root(void) {
    return networksettings_.root_obj;
}

const char* networksettings_get_vendor_prefix(void) {
    return configured_prefix(networksettings_.parser);
}

} // extern "C"
