#include "report_signal.h"

#include <amxp/amxp_signal.h>

namespace devices {

const char* action_name(ReportAction action) {
    switch(action) {
    case ReportAction::start_matching: return "start-matching";
    case ReportAction::device_updated: return "device-updated";
    case ReportAction::stop_matching: return "stop-matching";
    case ReportAction::error: break;
    }
    return "error";
}

bool emit_report(amxd_dm_t* dm, std::uint32_t query, const std::string& key, ReportAction action,
                 const amxc_var_t* device) {
    amxc_var_t data;
    amxc_var_init(&data);
    amxc_var_set_type(&data, AMXC_VAR_ID_HTABLE);
    bool built = amxc_var_add_new_key_cstring_t(&data, "notification", kReportSignal) != nullptr &&
                 amxc_var_add_new_key_cstring_t(&data, "path", "Devices.") != nullptr &&
                 amxc_var_add_new_key_cstring_t(&data, "object", "Devices.") != nullptr &&
                 amxc_var_add_new_key_uint32_t(&data, "query", query) != nullptr &&
                 amxc_var_add_new_key_cstring_t(&data, "key", key.c_str()) != nullptr &&
                 amxc_var_add_new_key_cstring_t(&data, "action", action_name(action)) != nullptr;
    if(built && device != nullptr) {
        built = amxc_var_set_key(&data, "device", const_cast<amxc_var_t*>(device), AMXC_VAR_FLAG_COPY) == 0;
    }
    const bool queued = built && amxp_sigmngr_emit(amxd_dm_get_sigmngr(dm), kReportSignal, &data) == 0;
    amxc_var_clean(&data);
    return queued;
}

}  // namespace devices
