// Network object rule actions and events: the record of each Rule instance for exactly the
// instance's lifetime, and the checks of the values a rule may hold.
#define ME "networksettings"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gmap/gmap_query.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "networkobject/networkobject_dm.h"
#include "networkobject/networkobject_rule_check.h"
#include "networksettings-qk.h"
#include "networksettings-qk_utils.h"

namespace {

std::string object_path(const amxd_object_t* object) {
    char* path = amxd_object_get_path(object, AMXD_OBJECT_INDEXED);
    std::string value = path == nullptr ? "" : path;
    free(path);
    return value;
}

} // namespace

extern "C" {

int netobj_networkobject_rule_init(networkobject_rule_t* rule) {
    if(rule == nullptr) {
        return -1;
    }
    rule->query = nullptr;
    amxc_var_init(&rule->devices);
    return amxc_var_set_type(&rule->devices, AMXC_VAR_ID_HTABLE);
}

int netobj_networkobject_rule_cleanup(networkobject_rule_t* rule) {
    if(rule == nullptr) {
        return -1;
    }
    if(rule->query != nullptr) {
        gmap_query_close(rule->query);
        rule->query = nullptr;
    }
    amxc_var_clean(&rule->devices);
    return 0;
}

amxd_status_t _networkobject_rule_validate(amxd_object_t* object, amxd_param_t* /*param*/, amxd_action_t reason,
                                           const amxc_var_t* const /*args*/, amxc_var_t* const retval,
                                           void* /*priv*/) {
    if(reason != action_object_validate) {
        zebTrace(TRACE_LEVEL_ERROR, "Wrong reason, expected action_object_validate(%d) got %d", action_object_validate,
                 reason);
        return amxd_status_function_not_implemented;
    }
    if(object == nullptr || amxd_object_get_type(object) != amxd_object_instance) {
        return amxd_status_ok;
    }
    const std::string refusal =
        netobj_rule_refusal({util_param_text(object, "Type"), util_param_text(object, "SourceIP"),
                             util_param_text(object, "SourceIPRangeMax"), util_param_text(object, "SourceMask")});
    if(!refusal.empty()) {
        zebTrace(TRACE_LEVEL_WARNING, "%s refused: %s", object_path(object).c_str(), refusal.c_str());
        return util_refuse(retval, refusal);
    }
    return amxd_status_ok;
}

amxd_status_t _networkobject_rule_destroy(amxd_object_t* object, amxd_param_t* /*param*/, amxd_action_t reason,
                                          const amxc_var_t* const /*args*/, amxc_var_t* const /*retval*/,
                                          void* /*priv*/) {
    networkobject_rule_t* rule = nullptr;
    if(reason != action_object_destroy) {
        zebTraceZ(TRACE_LEVEL_NOTICE, ME, "Wrong reason, expected action_object_destroy(%d) got %d", action_object_destroy,
                  reason);
        return amxd_status_unknown_error;
    }
    if(object == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "Object can not be NULL");
        return amxd_status_unknown_error;
    }
    if(amxd_object_get_type(object) != amxd_object_instance) {
        return amxd_status_ok;
    }
    rule = static_cast<networkobject_rule_t*>(amxd_object_get_priv(object));
    if(rule == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "No networkobject_rule_t found");
        return amxd_status_unknown_error;
    }
    netobj_networkobject_rule_cleanup(rule);
    free(rule);
    amxd_object_set_priv(object, nullptr);
    return amxd_status_ok;
}

amxd_status_t _networkobject_rule_check_text(amxd_object_t* /*object*/, amxd_param_t* /*param*/, amxd_action_t reason,
                                             const amxc_var_t* const args, amxc_var_t* const retval,
                                             void* /*priv*/) {
    if(reason != action_param_validate) {
        return amxd_status_function_not_implemented;
    }
    const char* text = amxc_var_constcast(cstring_t, args);
    return (text != nullptr && strchr(text, '"') != nullptr) ? util_refuse(retval, "holds a double quote") : amxd_status_ok;
}

amxd_status_t _networkobject_rule_check_mac(amxd_object_t* /*object*/, amxd_param_t* /*param*/, amxd_action_t reason,
                                            const amxc_var_t* const args, amxc_var_t* const retval,
                                            void* /*priv*/) {
    if(reason != action_param_validate) {
        return amxd_status_function_not_implemented;
    }
    const char* text = amxc_var_constcast(cstring_t, args);
    return (text == nullptr || text[0] == '\0' || check_is_valid_macaddr(text)) ?
               amxd_status_ok :
               util_refuse(retval, "not a MAC address (six pairs of hexadecimal digits separated by colons)");
}

void _networkobject_rule_added(const char* const /*event_name*/, const amxc_var_t* const event_data, void* const /*priv*/) {
    const int32_t index = amxc_var_get_int32_t(amxc_var_get_path(event_data, "index", AMXC_VAR_FLAG_DEFAULT));
    amxd_object_t* templ = amxd_dm_signal_get_object(networksettings_get_dm(), event_data);
    amxd_object_t* instance = amxd_object_get_instance(templ, nullptr, static_cast<uint32_t>(index));
    networkobject_rule_t* rule = nullptr;

    // The instance may be gone by the time the event is delivered: no record for nothing.
    when_null_trace(instance, exit, TRACE_LEVEL_ERROR, "No Rule instance %d found", index);
    rule = static_cast<networkobject_rule_t*>(calloc(1, sizeof(networkobject_rule_t)));
    when_null_trace(rule, exit, TRACE_LEVEL_ERROR, "Error on calloc of networkobject_rule_t");
    netobj_networkobject_rule_init(rule);
    amxd_object_set_priv(instance, rule);
    netobj_rule_instance_updated(instance);
exit:
    return;
}

void _networkobject_rule_removed(const char* const /*event_name*/, const amxc_var_t* const event_data, void* const /*priv*/) {
    amxd_object_t* templ = amxd_dm_signal_get_object(networksettings_get_dm(), event_data);
    when_null_trace(templ, exit, TRACE_LEVEL_ERROR, "No Rule object found");
    netobj_update_networkobject_ip_list(templ);
exit:
    return;
}

void _networkobject_rule_changed(const char* const /*event_name*/, const amxc_var_t* const event_data, void* const /*priv*/) {
    netobj_rule_instance_updated(amxd_dm_signal_get_object(networksettings_get_dm(), event_data));
}

} // extern "C"
