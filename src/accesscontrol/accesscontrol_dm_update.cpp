// Rule update: turns one AccessControl instance into its firewall rules and its Status.
#define ME "networksettings"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <amxc/amxc.h>
#include <amxp/amxp_loop.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "accesscontrol/accesscontrol_dm.h"
#include "networksettings-qk.h"
#include "networksettings-qk_utils.h"

namespace {

// Reason of the update in progress (updates never overlap: one loop, and nothing in an update
// runs another).
std::string update_reason;

const char* port_text(const amxc_var_t* ports, const char* key) {
    const char* text = amxc_var_constcast(cstring_t, amxc_var_get_key(ports, key, AMXC_VAR_FLAG_DEFAULT));
    return text == nullptr ? "" : text;
}

// The expansion of each port entry, worked out once for all sources (a null expansion stands
// for an entry the firewall library refuses); a single "no port" entry when there is none.
std::vector<firewall_ports_t*> expand_ports(amxc_var_t* fwPorts) {
    std::vector<firewall_ports_t*> expanded;
    amxc_var_for_each(ports, fwPorts) {
        expanded.push_back(firewall_ports_create(
            amxc_var_get_key(ports, "DestPort", AMXC_VAR_FLAG_DEFAULT),
            amxc_var_get_uint32_t(amxc_var_get_key(ports, "DestPortRangeEnd", AMXC_VAR_FLAG_DEFAULT)),
            amxc_var_get_key(ports, "SourcePort", AMXC_VAR_FLAG_DEFAULT),
            amxc_var_get_uint32_t(amxc_var_get_key(ports, "SourcePortRangeEnd", AMXC_VAR_FLAG_DEFAULT)),
            amxc_var_get_key(ports, "Protocol", AMXC_VAR_FLAG_DEFAULT),
            amxc_var_get_uint32_t(amxc_var_get_key(ports, "ICMPType", AMXC_VAR_FLAG_DEFAULT)),
            amxc_var_get_uint32_t(amxc_var_get_key(ports, "ICMPCode", AMXC_VAR_FLAG_DEFAULT))));
    }
    if(expanded.empty()) {
        expanded.push_back(firewall_ports_create(nullptr, 0, nullptr, 0, nullptr, 0, 0));
    }
    return expanded;
}

// Programs every pair of source and port entry into `fw`; false when any pair failed.
bool program_sources(firewall_rule_t* fw, amxc_var_t* devices, amxc_var_t* fwPorts) {
    bool ok = true;
    std::vector<firewall_ports_t*> expanded = expand_ports(fwPorts);
    const bool no_ports = amxc_var_size(fwPorts) == 0;
    amxc_var_for_each(device, devices) {
        // Other clients may read between the rules of thousands of sources.
        amxp_loop_slice_point();
        const char* source = amxc_var_constcast(cstring_t, amxc_var_get_key(device, "SourceIP", AMXC_VAR_FLAG_DEFAULT));
        const char* mask = amxc_var_constcast(cstring_t, amxc_var_get_key(device, "SourceMask", AMXC_VAR_FLAG_DEFAULT));
        // Only an address with a colon can be IPv6: the IPv4 majority skips the pattern.
        const bool ipv6 = source != nullptr && std::strchr(source, ':') != nullptr && check_is_valid_ip(source) == 6;

        const amxc_var_t* ports = no_ports ? nullptr : amxc_var_get_first(fwPorts);
        for(firewall_ports_t* expansion : expanded) {
            if(firewall_rule_set_ports(fw, source, nullptr, mask, nullptr, ipv6, expansion) != amxd_status_ok) {
                zebTrace(TRACE_LEVEL_ERROR, "fail to configure firewall rules");
                if(no_ports) {
                    accesscontrol_set_reason("the firewall refused source %s%s%s", source == nullptr ? "" : source,
                                             mask == nullptr ? "" : "/", mask == nullptr ? "" : mask);
                } else {
                    accesscontrol_set_reason("the firewall refused source %s%s%s with SourcePort \"%s\" DestPort \"%s\" "
                                             "Protocol \"%s\"", source == nullptr ? "" : source, mask == nullptr ? "" : "/",
                                             mask == nullptr ? "" : mask, port_text(ports, "SourcePort"),
                                             port_text(ports, "DestPort"), port_text(ports, "Protocol"));
                }
                ok = false;
            }
            ports = ports == nullptr ? nullptr : amxc_var_get_next(ports);
        }
    }
    for(firewall_ports_t*& expansion : expanded) {
        firewall_ports_delete(&expansion);
    }
    return ok;
}

} // namespace

extern "C" {

int var_size_list(const amxc_var_t* v) {
    // A container is counted where it stands: converting a group of thousands of sources into
    // a copy only to count it made every rebuild copy the whole group once more.
    const uint32_t type = amxc_var_type_of(v);
    if((type == AMXC_VAR_ID_LIST) || (type == AMXC_VAR_ID_HTABLE)) {
        return static_cast<int>(amxc_var_size(v));
    }
    amxc_var_t list;
    amxc_var_init(&list);
    int size = 0;
    if(amxc_var_convert(&list, v, AMXC_VAR_ID_LIST) == 0) {
        size = static_cast<int>(amxc_var_size(&list));
    }
    amxc_var_clean(&list);
    return size;
}

void accesscontrol_set_reason(const char* format, ...) {
    if(!update_reason.empty()) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    update_reason = line;
}

amxd_status_t accesscontrol_set_status(amxd_object_t* object, const char* value, const char* info) {
    amxd_status_t status = amxd_status_unknown_error;
    amxd_trans_t trans;
    zebTraceZIn(ME);
    when_null_trace(object, exit, TRACE_LEVEL_ERROR, "fail object can't be NULL");
    amxd_trans_init(&trans);
    amxd_trans_select_object(&trans, object);
    amxd_trans_set_attr(&trans, amxd_tattr_change_ro, true);
    amxd_trans_set_value(cstring_t, &trans, "Status", value);
    amxd_trans_set_value(cstring_t, &trans, "StatusInfo", info);
    status = amxd_trans_apply(&trans, networksettings_get_dm());
    amxd_trans_clean(&trans);
exit:
    zebTraceZOut(ME);
    return status;
}

void accesscontrol_firewall_update_rule(amxp_timer_t* /*timer*/, void* priv) {
    auto* p = static_cast<accesscontrol_setting_t*>(priv);
    const char* outcome = status_error;
    amxc_var_t devices;
    amxc_var_t fwPorts;
    zebTraceZIn(ME);
    amxc_var_init(&devices);
    amxc_var_init(&fwPorts);

    when_null_trace(p, exit, TRACE_LEVEL_ERROR, "accesscontrol context can not be NULL");
    update_reason.clear();
    // The previous rules leave the firewall before anything is decided.
    firewall_rule_delete(&p->fw);

    if(!p->is_enable) {
        outcome = status_inactive;
        accesscontrol_set_reason("disabled");
        goto write_status;
    }
    // A schedule that cannot be found decides nothing: its reference dangles, as a missing
    // group or port rule does.
    if(p->have_schedule && !p->schedule_found) {
        accesscontrol_set_reason("ScheduleRef %s not found", util_param_text(p->object, "ScheduleRef").c_str());
        goto write_status;
    }
    if(p->have_schedule && (p->schedule_active == p->schedule_invertmode)) {
        outcome = status_scheduleinactive;
        accesscontrol_set_reason("schedule %s is not in force", util_param_text(p->object, "ScheduleRef").c_str());
        goto write_status;
    }
    if(accesscontrol_get_networkobjectref_parameters(p->object, &devices) != amxd_status_ok) {
        zebTrace(TRACE_LEVEL_ERROR, "fail to get ip address parameters");
        accesscontrol_set_reason("the source addresses of NetworkGroupRef could not be read");
        goto write_status;
    }
    if(var_size_list(&devices) == 0) {
        outcome = status_inactive;
        accesscontrol_set_reason("NetworkGroupRef %s selects no address",
                                 util_param_text(p->object, "NetworkGroupRef").c_str());
        goto write_status;
    }
    if(accesscontrol_get_portforwardingrule_parameters(p->object, &fwPorts) != amxd_status_ok) {
        zebTrace(TRACE_LEVEL_ERROR, "fail to get port and protocols parameters");
        accesscontrol_set_reason("the ports of PortForwardingRuleRef could not be read");
        goto write_status;
    }
    p->fw = firewall_rule_create("", false);
    if(p->fw == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "fail to allocate firewall context");
        accesscontrol_set_reason("out of memory");
        goto write_status;
    }

    outcome = program_sources(p->fw, &devices, &fwPorts) ? status_active : status_error;
    // Rules that never reached the firewall are not "Active".
    if(firewall_rule_apply(p->fw) != amxd_status_ok) {
        outcome = status_error;
        accesscontrol_set_reason("the firewall refused to commit the rules");
    }
    if(outcome == status_error) {
        firewall_rule_delete(&p->fw);
    }

write_status:
    accesscontrol_set_status(p->object, outcome, outcome == status_active ? "" : update_reason.c_str());
exit:
    amxc_var_clean(&devices);
    amxc_var_clean(&fwPorts);
    zebTraceZOut(ME);
}

} // extern "C"
