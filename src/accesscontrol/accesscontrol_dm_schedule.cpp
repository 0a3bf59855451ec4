// Schedule state of an access control: read once when the reference is set, then followed by
// the schedule's change events.
#define ME "networksettings"

#include <cstring>
#include <string>

#include <amxb/amxb.h>
#include <amxc/amxc.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "accesscontrol/accesscontrol_dm.h"

namespace {

constexpr int BUS_TIMEOUT_SEC = 5;
constexpr const char* schedule_active_text = "Active";

// The object path with exactly one trailing ".", whether or not the reference had one.
std::string schedule_object_path(const char* path) {
    std::string object(path);
    if(object.back() != '.') {
        object.push_back('.');
    }
    return object;
}

} // namespace

extern "C" {

amxd_status_t accesscontrol_get_schedules_status(accesscontrol_setting_t* p, const char* path) {
    amxd_status_t status = amxd_status_unknown_error;
    std::string object_path;
    const amxc_var_t* objects = nullptr;
    const amxc_var_t* schedule = nullptr;
    const char* schedule_status = nullptr;
    amxc_var_t reply;
    amxc_var_init(&reply);

    when_str_empty_trace(path, exit, TRACE_LEVEL_ERROR, "path schedules should not be empty");
    when_null_trace(p, exit, TRACE_LEVEL_ERROR, "access control context should not be NULL");
    object_path = schedule_object_path(path);
    p->schedule_found = false;  // until the read below finds it
    when_failed_trace(amxb_get(amxb_be_who_has("Schedules."), object_path.c_str(), 0, &reply, BUS_TIMEOUT_SEC), exit,
                      TRACE_LEVEL_ERROR, "Could not get Schedules object");
    when_false_trace(amxc_var_type_of(&reply) == AMXC_VAR_ID_LIST, exit, TRACE_LEVEL_ERROR,
                     "Schedules values result is not type AMXC_VAR_ID_LIST");
    objects = amxc_var_get_index(&reply, 0, AMXC_VAR_FLAG_DEFAULT);
    when_false_trace(amxc_var_type_of(objects) == AMXC_VAR_ID_HTABLE, exit, TRACE_LEVEL_ERROR,
                     "Schedules values result variant index 0 is not type AMXC_VAR_ID_HTABLE");
    schedule = amxc_var_get_key(objects, object_path.c_str(), AMXC_VAR_FLAG_DEFAULT);
    when_null_trace(schedule, exit, TRACE_LEVEL_ERROR, "iterator can not be NULL");
    schedule_status = amxc_var_constcast(cstring_t, amxc_var_get_key(schedule, "Status", AMXC_VAR_FLAG_DEFAULT));
    when_str_empty_trace(schedule_status, exit, TRACE_LEVEL_ERROR, "Schedules %s status is empty", path);

    p->schedule_active = strcmp(schedule_status, schedule_active_text) == 0;
    p->schedule_invertmode = amxc_var_get_bool(amxc_var_get_key(schedule, "InverseMode", AMXC_VAR_FLAG_DEFAULT));
    p->schedule_found = true;
    status = amxd_status_ok;
exit:
    amxc_var_clean(&reply);
    return status;
}

void accesscontrol_schedules_callback(const char* const sig_name, const amxc_var_t* const data, void* const priv) {
    auto* p = static_cast<accesscontrol_setting_t*>(priv);
    const char* notification = amxc_var_constcast(cstring_t, amxc_var_get_key(data, "notification", AMXC_VAR_FLAG_DEFAULT));
    const char* path = amxc_var_constcast(cstring_t, amxc_var_get_key(data, "path", AMXC_VAR_FLAG_DEFAULT));
    path = path == nullptr ? "" : path;
    const amxc_var_t* inverse_mode = amxc_var_get_path(data, "parameters.InverseMode.to", AMXC_VAR_FLAG_DEFAULT);
    const amxc_var_t* status = amxc_var_get_path(data, "parameters.Status.to", AMXC_VAR_FLAG_DEFAULT);

    zebTraceZ(TRACE_LEVEL_NOTICE, ME, "Received event: %s", sig_name);
    when_str_empty(notification, exit);
    when_null_trace(p, exit, TRACE_LEVEL_ERROR, "private data should not be NULL");

    // The schedule came or went, or changed while it was thought missing: read it whole.
    if(!p->schedule_found || (strcmp(notification, "dm:object-changed") != 0)) {
        accesscontrol_get_schedules_status(p, p->subscribed[ACCESSCONTROL_REF_SCHEDULE]);
        accesscontrol_firewall_update_rule(nullptr, p);
        goto exit;
    }
    if(inverse_mode != nullptr) {
        p->schedule_invertmode = amxc_var_get_bool(inverse_mode);
        zebTraceZ(TRACE_LEVEL_INFO, ME, "Schedules %s change InverseMode %d", path, p->schedule_invertmode ? 1 : 0);
    }
    if(status != nullptr) {
        const char* text = amxc_var_constcast(cstring_t, status);
        when_null_trace(text, exit, TRACE_LEVEL_ERROR, "Status parameter not present");
        p->schedule_active = strcmp(text, schedule_active_text) == 0;
        zebTraceZ(TRACE_LEVEL_INFO, ME, "Schedules %s change Status %s", path, text);
    }
    accesscontrol_firewall_update_rule(nullptr, p);
exit:
    return;
}

} // extern "C"
