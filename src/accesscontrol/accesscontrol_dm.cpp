// Access-control instance lifecycle: the record, the subscriptions on everything the instance
// refers to, and the commit timer that turns a burst of changes into one rule update.
#define ME "networksettings"

#include <cstdlib>
#include <cstring>

#include <amxb/amxb.h>
#include <amxc/amxc.h>
#include <amxp/amxp_timer.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "accesscontrol/accesscontrol_dm.h"
#include "networksettings-qk.h"
#include "networksettings-qk_utils.h"

namespace {

// Besides the changes that matter, every subscription hears the referenced object come and
// go: a deleted object must take its rules with it at once, as a restart would.
#define REFERENCE_COMES_OR_GOES "(notification in ['dm:instance-added', 'dm:instance-removed']) || "

const char* notification_portforwardingrule =
    REFERENCE_COMES_OR_GOES
    "((notification == 'dm:object-changed') &&                                                   "
    "(contains('parameters.SourcePort') || contains('parameters.SourcePortEndRange') ||                                                   "
    "contains('parameters.DestPort') || contains('parameters.DestPortEndRange') ||                                                   "
    "contains('parameters.Protocol') || contains('parameters.Code') || contains('parameters.Type')))";
const char* notification_networkgroup =
    REFERENCE_COMES_OR_GOES "((notification == 'dm:object-changed') && contains('parameters.NetworkObjectIPList'))";
// Address instances come and go with the host's addresses; an address the host gave up must not
// stay blocked.
const char* notification_hosts =
    REFERENCE_COMES_OR_GOES "(notification == 'dm:object-changed' && contains('parameters.IPAddress'))";
const char* notification_schedules =
    REFERENCE_COMES_OR_GOES
    "((notification == 'dm:object-changed') &&                                              "
    "(contains('parameters.Status') || contains('parameters.InverseMode')))";

// Where and how one kind of reference is subscribed.
struct reference_kind_t {
    amxb_bus_ctx_t* ctx;
    const char* expression;
    amxp_slot_fn_t callback;
};

reference_kind_t portforwardingrule_kind() {
    return {networksettings_get_ctx(), notification_portforwardingrule, accesscontrol_update_value_callback};
}

reference_kind_t networkgroup_kind(const char* ref) {
    if(accesscontrol_is_hosts_path(ref)) {
        return {amxb_be_who_has("Hosts."), notification_hosts, accesscontrol_update_value_callback};
    }
    return {networksettings_get_ctx(), notification_networkgroup, accesscontrol_update_value_callback};
}

reference_kind_t schedule_kind() {
    return {amxb_be_who_has("Schedules."), notification_schedules, accesscontrol_schedules_callback};
}

constexpr const char* reference_names[ACCESSCONTROL_REF_COUNT] = {"PortForwardingRuleRef", "NetworkGroupRef",
                                                                   "ScheduleRef"};

// Where and how a value of one reference is subscribed; for a group, the value decides.
reference_kind_t kind_of(accesscontrol_reference_t ref, const char* value) {
    switch(ref) {
    case ACCESSCONTROL_REF_GROUP:
        return networkgroup_kind(value);
    case ACCESSCONTROL_REF_SCHEDULE:
        return schedule_kind();
    default:
        return portforwardingrule_kind();
    }
}

bool is_nonempty_text(const amxc_var_t* value) {
    return !util_is_empty_text(amxc_var_constcast(cstring_t, value));
}

void unsubscribe_paths(const amxc_var_t* paths, const reference_kind_t& kind, accesscontrol_setting_t* p, bool warn) {
    amxc_var_for_each(path, paths) {
        const char* text = amxc_var_constcast(cstring_t, path);
        if((amxb_unsubscribe(kind.ctx, text == nullptr ? "" : text, kind.callback, p) != 0) && warn) {
            zebTrace(TRACE_LEVEL_WARNING, "fail to unsubscribe event on %s", text == nullptr ? "" : text);
        }
    }
}

// Subscribes every path of the list. On the first failure the subscriptions this call made are
// cancelled again, so that none outlives the record while its flag says "not subscribed".
bool subscribe_paths(const amxc_var_t* paths, const reference_kind_t& kind, accesscontrol_setting_t* p) {
    amxc_var_for_each(path, paths) {
        const char* text = amxc_var_constcast(cstring_t, path);
        const int rv = amxb_subscribe(kind.ctx, text == nullptr ? "" : text, kind.expression, kind.callback, p);
        if(rv != 0) {
            zebTrace(TRACE_LEVEL_ERROR, "Fail to subscibe to %s (status = %d)", text == nullptr ? "" : text, rv);
            for(amxc_var_t* done = amxc_var_get_first(paths); done != path; done = amxc_var_get_next(done)) {
                const char* done_text = amxc_var_constcast(cstring_t, done);
                amxb_unsubscribe(kind.ctx, done_text == nullptr ? "" : done_text, kind.callback, p);
            }
            return false;
        }
    }
    return true;
}

// The reference value as a list of paths (one path for the single-valued references).
bool reference_paths(const amxc_var_t* value, amxc_var_t* paths) {
    return amxc_var_convert(paths, value, AMXC_VAR_ID_LIST) == 0;
}

// Subscribes every path `value` names and records the value, so that exactly these
// subscriptions are cancelled later. An empty value subscribes nothing. False (with nothing
// left subscribed by this call) when a path could not be subscribed.
bool subscribe_reference(accesscontrol_setting_t* p, accesscontrol_reference_t ref, const amxc_var_t* value,
                         const char* convert_error) {
    const char* text = amxc_var_constcast(cstring_t, value);
    bool ok = util_is_empty_text(text);
    amxc_var_t paths;
    amxc_var_init(&paths);
    when_true(ok, exit);
    when_false_trace(reference_paths(value, &paths), exit, TRACE_LEVEL_ERROR, "%s", convert_error);
    when_false(subscribe_paths(&paths, kind_of(ref, text), p), exit);
    p->subscribed[ref] = strdup(text);
    if(p->subscribed[ref] == nullptr) {
        unsubscribe_paths(&paths, kind_of(ref, text), p, false);
        goto exit;
    }
    ok = true;
exit:
    amxc_var_clean(&paths);
    return ok;
}

// Cancels the subscriptions of the recorded value of `ref`, if any, and forgets the value.
void unsubscribe_reference(accesscontrol_setting_t* p, accesscontrol_reference_t ref, bool warn) {
    char* text = p->subscribed[ref];
    amxc_var_t value;
    amxc_var_t paths;
    when_null(text, exit);
    p->subscribed[ref] = nullptr;
    amxc_var_init(&value);
    amxc_var_init(&paths);
    amxc_var_set_cstring_t(&value, text);
    if(reference_paths(&value, &paths)) {
        unsubscribe_paths(&paths, kind_of(ref, text), p, warn);
    }
    amxc_var_clean(&value);
    amxc_var_clean(&paths);
    free(text);
exit:
    return;
}

// Cancels every subscription the record holds.
void unsubscribe_all(accesscontrol_setting_t* p) {
    for(int ref = 0; ref < ACCESSCONTROL_REF_COUNT; ref++) {
        unsubscribe_reference(p, static_cast<accesscontrol_reference_t>(ref), false);
    }
    p->have_portforwardingrule = false;
    p->have_networkgroup = false;
    p->have_schedule = false;
}

// A reference that cannot be subscribed is not followed, but the instance still gets its first
// update: the update finds the reference dangling and reports it ("Error"), rather than the
// instance staying silently "Inactive" (or, after a change, keeping the rules of the old value).
amxd_status_t accesscontrol_load_config(accesscontrol_setting_t* p) {
    bool followed = true;
    const amxc_var_t* value = nullptr;

    value = amxd_object_get_param_value(p->object, "PortForwardingRuleRef");
    if(is_nonempty_text(value)) {
        p->have_portforwardingrule =
            subscribe_reference(p, ACCESSCONTROL_REF_PORTS, value, "fail to convert PortForwardingRuleRef to list");
        followed = followed && p->have_portforwardingrule;
    }

    value = amxd_object_get_param_value(p->object, "NetworkGroupRef");
    if(is_nonempty_text(value)) {
        p->have_networkgroup =
            subscribe_reference(p, ACCESSCONTROL_REF_GROUP, value, "fail to convert NetworkGroupRef to list");
        followed = followed && p->have_networkgroup;
    }

    value = amxd_object_get_param_value(p->object, "ScheduleRef");
    if(is_nonempty_text(value)) {
        // The schedule counts even when it cannot be followed: not found, it decides "Error".
        p->have_schedule = true;
        if(subscribe_reference(p, ACCESSCONTROL_REF_SCHEDULE, value, "fail to convert ScheduleRef to list")) {
            accesscontrol_get_schedules_status(p, amxc_var_constcast(cstring_t, value));
        } else {
            followed = false;
        }
    }

    p->is_enable = amxd_object_get_bool(p->object, "Enable", nullptr);
    amxp_timer_start(p->commit_timer, FW_UPDATE_DELAY);
    return followed ? amxd_status_ok : amxd_status_unknown_error;
}

// Follows one changed reference: cancels what the record subscribed for it and subscribes the
// new value (one that cannot be subscribed is left to the update to report).
void follow_reference_change(accesscontrol_setting_t* p, accesscontrol_reference_t ref, const amxc_var_t* to) {
    const char* new_text = amxc_var_constcast(cstring_t, to);
    const bool has_new = !util_is_empty_text(new_text);

    switch(ref) {
    case ACCESSCONTROL_REF_SCHEDULE:
        p->have_schedule = has_new;
        accesscontrol_get_schedules_status(p, new_text);
        break;
    case ACCESSCONTROL_REF_GROUP:
        p->have_networkgroup = has_new;
        break;
    default:
        p->have_portforwardingrule = has_new;
        break;
    }
    unsubscribe_reference(p, ref, true);
    subscribe_reference(p, ref, to, "fail to convert ref value to list");
}

accesscontrol_setting_t* record_of_event(const amxc_var_t* event_data, const char* not_found, const char* no_record) {
    const char* path = amxc_var_constcast(cstring_t, amxc_var_get_key(event_data, "path", AMXC_VAR_FLAG_DEFAULT));
    amxd_object_t* object = nullptr;
    accesscontrol_setting_t* p = nullptr;
    when_null_trace(path, exit, TRACE_LEVEL_ERROR, "object path null");
    object = amxd_dm_findf(networksettings_get_dm(), "%s", path);
    when_null_trace(object, exit, TRACE_LEVEL_ERROR, "%s", not_found);
    p = static_cast<accesscontrol_setting_t*>(amxd_object_get_priv(object));
    when_null_trace(p, exit, TRACE_LEVEL_ERROR, "%s", no_record);
exit:
    return p;
}

} // namespace

extern "C" {

void accesscontrol_update_value_callback(const char* const sig_name, const amxc_var_t* const data, void* const priv) {
    auto* p = static_cast<accesscontrol_setting_t*>(priv);
    const char* notification = amxc_var_constcast(cstring_t, amxc_var_get_key(data, "notification", AMXC_VAR_FLAG_DEFAULT));
    zebTraceZ(TRACE_LEVEL_NOTICE, ME, "Received event: %s", sig_name);
    when_str_empty(notification, exit);
    when_null_trace(p, exit, TRACE_LEVEL_ERROR, "private data should not be NULL");
    if(strcmp(notification, "dm:instance-removed") == 0) {
        accesscontrol_firewall_update_rule(nullptr, p);  // what is gone may not stay blocked a second longer
    } else {
        amxp_timer_start(p->commit_timer, FW_UPDATE_DELAY);
    }
exit:
    return;
}

void _accesscontrol_added(const char* const /*event_name*/, const amxc_var_t* const event_data, void* const /*priv*/) {
    const int32_t index = amxc_var_get_int32_t(amxc_var_get_key(event_data, "index", AMXC_VAR_FLAG_DEFAULT));
    const char* path = amxc_var_constcast(cstring_t, amxc_var_get_key(event_data, "path", AMXC_VAR_FLAG_DEFAULT));
    amxd_object_t* instance = nullptr;
    accesscontrol_setting_t* p = nullptr;

    instance = amxd_dm_findf(networksettings_get_dm(), "%s.%d.", path == nullptr ? "" : path, index);
    when_null_trace(instance, exit, TRACE_LEVEL_ERROR, "fail to get instance");
    p = static_cast<accesscontrol_setting_t*>(calloc(1, sizeof(accesscontrol_setting_t)));
    when_null_trace(p, exit, TRACE_LEVEL_ERROR, "Error on calloc of accesscontrol_setting_t");

    p->fw = nullptr;
    p->object = instance;
    amxd_object_set_priv(instance, p);
    amxp_timer_new(&p->commit_timer, accesscontrol_firewall_update_rule, p);
    accesscontrol_load_config(p);
exit:
    return;
}

void _accesscontrol_changed(const char* const /*event_name*/, const amxc_var_t* const event_data, void* const /*priv*/) {
    accesscontrol_setting_t* p = record_of_event(event_data, "instance object NULL", "context not initialized");
    bool handled = false;
    when_null(p, exit);

    // One transaction may change several references: every one of them is followed, so that
    // no subscription stays on a value the instance no longer holds.
    for(int ref = 0; ref < ACCESSCONTROL_REF_COUNT; ref++) {
        const amxc_var_t* parameter =
            amxc_var_get_pathf(event_data, AMXC_VAR_FLAG_DEFAULT, "parameters.%s", reference_names[ref]);
        if(parameter == nullptr) {
            continue;
        }
        handled = true;
        follow_reference_change(p, static_cast<accesscontrol_reference_t>(ref),
                                amxc_var_get_key(parameter, "to", AMXC_VAR_FLAG_DEFAULT));
    }
    when_false_trace(handled, exit, TRACE_LEVEL_ERROR, "unknow event");
    amxp_timer_start(p->commit_timer, FW_UPDATE_DELAY);
exit:
    return;
}

void _accesscontrol_enable(const char* const /*event_name*/, const amxc_var_t* const event_data, void* const /*priv*/) {
    accesscontrol_setting_t* p = record_of_event(event_data, "object can not be NULL", "object not initialized");
    when_null(p, exit);
    p->is_enable = amxc_var_get_bool(amxc_var_get_path(event_data, "parameters.Enable.to", AMXC_VAR_FLAG_DEFAULT));
    accesscontrol_firewall_update_rule(nullptr, p);
exit:
    return;
}

amxd_status_t _accesscontrol_delinst(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                     const amxc_var_t* const args, amxc_var_t* const retval, void* priv) {
    amxd_object_t* instance = nullptr;
    accesscontrol_setting_t* p = nullptr;
    amxd_status_t status = amxd_status_unknown_error;

    when_null_trace(object, exit, TRACE_LEVEL_ERROR, "Cannot get access control object.");
    instance = amxd_object_get_instance(object, nullptr,
                                        amxc_var_get_uint32_t(amxc_var_get_key(args, "index", AMXC_VAR_FLAG_DEFAULT)));
    when_null_trace(instance, exit, TRACE_LEVEL_ERROR, "Cannot get access control object.");
    // An instance whose creation has not been handled yet holds nothing of the module's: it is
    // deleted all the same, and its added event then finds no instance.
    p = static_cast<accesscontrol_setting_t*>(amxd_object_get_priv(instance));
    if(p != nullptr) {
        unsubscribe_all(p);
        amxp_timer_stop(p->commit_timer);
        firewall_rule_delete(&p->fw);
    }
    status = amxd_action_object_del_inst(object, param, reason, args, retval, priv);
exit:
    return status;
}

amxd_status_t _accesscontrol_destroy(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                     const amxc_var_t* const args, amxc_var_t* const retval, void* priv) {
    accesscontrol_setting_t* p = nullptr;
    amxd_status_t status = amxd_status_unknown_error;

    when_null_trace(object, exit, TRACE_LEVEL_ERROR, "Cannot get access control object.");
    p = static_cast<accesscontrol_setting_t*>(amxd_object_get_priv(object));
    if(p != nullptr) {
        // An instance torn down without a deletion first (runtime stop) still holds
        // subscriptions that carry the record: they go before the record does.
        unsubscribe_all(p);
        amxd_object_set_priv(object, nullptr);
        amxp_timer_delete(&p->commit_timer);
        free(p);
    }
    status = amxd_action_object_destroy(object, param, reason, args, retval, priv);
exit:
    return status;
}

} // extern "C"
