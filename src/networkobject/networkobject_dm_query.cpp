// Network object rule to device query: a rule becomes a literal IP-list entry or a
// device-map query on one device property.
#define ME "networksettings"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <gmap/gmap_query.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "networkobject/networkobject_dm.h"
#include "networksettings-qk_utils.h"

namespace {

// The nine selection parameters of a rule, as owned texts (NULL when absent).
struct rule_params_t {
    char* type;
    char* mac;
    char* host_name;
    char* vendor_class;
    char* client_id;
    char* user_class;
    char* source_ip;
    char* source_ip_range_max;
    char* source_mask;

    explicit rule_params_t(const amxd_object_t* rule)
        : type(amxd_object_get_cstring_t(rule, "Type", nullptr)),
        mac(amxd_object_get_cstring_t(rule, "SourceMACAddress", nullptr)),
        host_name(amxd_object_get_cstring_t(rule, "HostName", nullptr)),
        vendor_class(amxd_object_get_cstring_t(rule, "SourceVendorClassID", nullptr)),
        client_id(amxd_object_get_cstring_t(rule, "SourceClientID", nullptr)),
        user_class(amxd_object_get_cstring_t(rule, "SourceUserClassID", nullptr)),
        source_ip(amxd_object_get_cstring_t(rule, "SourceIP", nullptr)),
        source_ip_range_max(amxd_object_get_cstring_t(rule, "SourceIPRangeMax", nullptr)),
        source_mask(amxd_object_get_cstring_t(rule, "SourceMask", nullptr)) {
    }
    ~rule_params_t() {
        for(char* text : {type, mac, host_name, vendor_class, client_id, user_class, source_ip, source_ip_range_max,
                          source_mask}) {
            free(text);
        }
    }
    rule_params_t(const rule_params_t&) = delete;
    rule_params_t& operator=(const rule_params_t&) = delete;
};

// One device-property selection kind.
struct property_kind_t {
    const char* type;
    const char* field;      // device-map field matched
    const char* shown;      // name in the warning when the parameter is empty
    bool whole;             // the value must match the whole field
};

// The device map searches a pattern anywhere in the text: a MAC address must match the whole
// field, or one device's address would select any device whose address merely contains it.
constexpr property_kind_t property_kinds[] = {
    {"MACAddress", "PhysAddress", "SourceMACAddress", true},
    {"HostName", "Name", "HostName", false},
    {"VendorClassID", "VendorClassID", "VendorClassID", false},
    {"ClientID", "ClientID", "ClientID", false},
    {"UserClassID", "UserClassID", "UserClassID", false},
};

const char* property_value(const rule_params_t& params, size_t kind) {
    const char* values[] = {params.mac, params.host_name, params.vendor_class, params.client_id, params.user_class};
    return values[kind];
}

void select_address(const rule_params_t& params, amxc_string_t* ip_list) {
    const char* type = params.type;
    if(strcmp(type, "IPAddress") == 0) {
        if(util_is_empty_text(params.source_ip)) {
            zebTrace(TRACE_LEVEL_WARNING, "Empty SourceIP is not supported when Type is %s.", type);
        } else {
            amxc_string_setf(ip_list, "IPAddress:%s", params.source_ip);
        }
    } else if(strcmp(type, "IPRange") == 0) {
        if(util_is_empty_text(params.source_ip)) {
            zebTrace(TRACE_LEVEL_WARNING, "Empty SourceIP is not supported when Type is %s.", type);
        } else if(!util_is_empty_text(params.source_ip_range_max) && (strcmp(params.source_ip_range_max, params.source_ip) != 0)) {
            amxc_string_setf(ip_list, "IPRange:%s-%s", params.source_ip, params.source_ip_range_max);
        } else {
            amxc_string_setf(ip_list, "IPAddress:%s", params.source_ip);
        }
    } else if(strcmp(type, "IPSubnet") == 0) {
        if(util_is_empty_text(params.source_ip)) {
            zebTrace(TRACE_LEVEL_WARNING, "Empty SourceIP is not supported when Type is %s.", type);
        } else if(util_is_empty_text(params.source_mask)) {
            zebTrace(TRACE_LEVEL_WARNING, "Empty SourceMask is not supported.");
        } else if(strchr(params.source_mask, '/') == nullptr) {
            zebTrace(TRACE_LEVEL_WARNING, "no prefix found in %s.", params.source_mask);
        } else {
            amxc_string_setf(ip_list, "IPSubnet:%s%s", params.source_ip, strchr(params.source_mask, '/'));
        }
    } else {
        zebTrace(TRACE_LEVEL_WARNING, "Unknow Type %s", type);
    }
}

void select_rule(const rule_params_t& params, amxc_string_t* expression, amxc_string_t* ip_list) {
    if(params.type == nullptr) {
        zebTrace(TRACE_LEVEL_WARNING, "Type is NULL.");
        return;
    }
    for(size_t kind = 0; kind < sizeof(property_kinds) / sizeof(property_kinds[0]); kind++) {
        if(strcmp(params.type, property_kinds[kind].type) != 0) {
            continue;
        }
        const char* value = property_value(params, kind);
        if(util_is_empty_text(value)) {
            zebTrace(TRACE_LEVEL_WARNING, "Empty %s is not supported when Type is %s.", property_kinds[kind].shown,
                     params.type);
        } else {
            const bool whole = property_kinds[kind].whole;
            amxc_string_setf(expression, "not self and physical and .%s matches \"%s%s%s\"", property_kinds[kind].field,
                             whole ? "^" : "", value, whole ? "$" : "");
        }
        return;
    }
    select_address(params, ip_list);
}

} // namespace

extern "C" {

void netobj_rule_instance_updated(amxd_object_t* rule_inst) {
    amxc_string_t expression;
    amxc_string_t ip_list;
    amxc_string_init(&expression, 0);
    amxc_string_init(&ip_list, 0);
    when_null_trace(rule_inst, exit, TRACE_LEVEL_ERROR, "No Rule instance");
    {
        const rule_params_t params(rule_inst);
        select_rule(params, &expression, &ip_list);
    }
    util_trans_set_csv_string_value(rule_inst, "RuleIPList", amxc_string_get(&ip_list, 0));
    netobj_gmap_query_trigger(rule_inst, amxc_string_get(&expression, 0));
    netobj_update_networkobject_ip_list(amxd_object_get_parent(rule_inst));
exit:
    amxc_string_clean(&expression);
    amxc_string_clean(&ip_list);
}

void netobj_gmap_query_trigger(amxd_object_t* rule_inst, const char* expression) {
    auto* rule = static_cast<networkobject_rule_t*>(amxd_object_get_priv(rule_inst));
    if(rule == nullptr) {
        return;  // the record could not be made at creation; nothing can hold a query
    }
    if(rule->query != nullptr) {
        gmap_query_close(rule->query);
        rule->query = nullptr;
        // The closed query reports nothing more: devices it matched must not linger in the
        // table and reappear in RuleIPList at the next report of a different selection.
        amxc_var_set_type(&rule->devices, AMXC_VAR_ID_HTABLE);
    }
    if(!util_is_empty_text(expression)) {
        char* path = amxd_object_get_path(rule_inst, AMXD_OBJECT_INDEXED);
        rule->query = gmap_query_open_ext(expression, path, netobj_gmap_query_callback, rule_inst);
        free(path);
    } else {
        zebTraceZ(TRACE_LEVEL_INFO, ME, "Empty expression");
    }
}

} // extern "C"
