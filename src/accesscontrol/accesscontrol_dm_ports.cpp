// Port and protocol gathering: one port entry per referenced PortForwardingRule.
#define ME "networksettings"

#include <cstdlib>

#include <amxc/amxc.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "accesscontrol/accesscontrol_dm.h"
#include "networksettings-qk.h"

namespace {

// The parameter rendered as an owned text, "" when it cannot be (the entry keeps its key).
void add_text_param(amxc_var_t* entry, const char* key, const amxd_object_t* rule, const char* param) {
    char* text = amxc_var_get_cstring_t(amxd_object_get_param_value(rule, param));
    amxc_var_add_key(cstring_t, entry, key, text == nullptr ? "" : text);
    free(text);
}

// A referenced object that lacks the port parameters is not a port forwarding rule: reading
// it would silently give a rule without ports, so it is refused like a missing one.
bool is_port_forwarding_rule(const amxd_object_t* object) {
    return amxd_object_get_param_value(object, "SourcePort") != nullptr &&
           amxd_object_get_param_value(object, "DestPort") != nullptr &&
           amxd_object_get_param_value(object, "Protocol") != nullptr;
}

bool add_port_entry(amxc_var_t* ret, const amxd_object_t* rule) {
    amxc_var_t* entry = amxc_var_add_new_htable(ret);
    if(entry == nullptr) {
        return false;
    }
    const amxd_object_t* icmp = amxd_object_get_child(rule, "ICMP");
    add_text_param(entry, "SourcePort", rule, "SourcePort");
    amxc_var_add_key(uint32_t, entry, "SourcePortRangeEnd", amxd_object_get_uint32_t(rule, "SourcePortEndRange", nullptr));
    add_text_param(entry, "DestPort", rule, "DestPort");
    amxc_var_add_key(uint32_t, entry, "DestPortRangeEnd", amxd_object_get_uint32_t(rule, "DestPortEndRange", nullptr));
    add_text_param(entry, "Protocol", rule, "Protocol");
    amxc_var_add_key(uint32_t, entry, "ICMPType", icmp == nullptr ? 0 : amxd_object_get_uint32_t(icmp, "Type", nullptr));
    amxc_var_add_key(uint32_t, entry, "ICMPCode", icmp == nullptr ? 0 : amxd_object_get_uint32_t(icmp, "Code", nullptr));
    return true;
}

} // namespace

extern "C" amxd_status_t accesscontrol_get_portforwardingrule_parameters(amxd_object_t* object, amxc_var_t* ret) {
    amxd_status_t status = amxd_status_unknown_error;
    const amxc_var_t* refs = nullptr;
    amxc_var_t paths;
    amxc_var_init(&paths);

    when_null(ret, exit);
    amxc_var_set_type(ret, AMXC_VAR_ID_LIST);
    refs = amxd_object_get_param_value(object, "PortForwardingRuleRef");
    when_null_trace(refs, exit, TRACE_LEVEL_ERROR, "fail to get PortForwardingRuleRef values");
    when_failed_trace(amxc_var_convert(&paths, refs, AMXC_VAR_ID_LIST), exit, TRACE_LEVEL_ERROR,
                      "fail to convert PortForwardingRuleRef to list");

    amxc_var_for_each(path, &paths) {
        const char* rule_path = amxc_var_constcast(cstring_t, path);
        amxd_object_t* rule = amxd_dm_findf(networksettings_get_dm(), "%s", rule_path == nullptr ? "" : rule_path);
        if((rule == nullptr) || !is_port_forwarding_rule(rule)) {
            zebTrace(TRACE_LEVEL_ERROR, "%s object not found", rule_path == nullptr ? "" : rule_path);
            accesscontrol_set_reason("PortForwardingRuleRef %s not found", rule_path == nullptr ? "" : rule_path);
            goto exit;
        }
        when_false(add_port_entry(ret, rule), exit);
    }
    status = amxd_status_ok;
exit:
    amxc_var_clean(&paths);
    return status;
}
