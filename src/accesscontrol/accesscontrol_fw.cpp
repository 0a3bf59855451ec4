// Firewall rule sets of the access controls: bookkeeping of rule positions, expansion of one
// request into concrete rules, insertion and commit.
#define ME "firewall_rule"

#include "accesscontrol/accesscontrol_fw.h"
#include "accesscontrol/accesscontrol_fw_positions.h"

#include <cstddef>
#include <cstdlib>
#include <utility>
#include <vector>

#include <amxc/amxc.h>
#include <fwinterface/interface.h>
#include <fwrules/fw_rule.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

struct _firewall_rule {
    amxc_string_t alias;
    amxc_llist_t folder;      // entry_rule_t, in creation order
    bool invert_mode;         // false: rules drop, true: rules accept
    amxc_llist_it_t it;       // link in accesscontrol_fw_rules
};

namespace {

// One combination of the expansion table; 0 means "not set" for each field.
struct parameter_fw_t {
    int srcport;
    int dstport;
    int protocol;
};

} // namespace

struct _firewall_ports {
    parameter_fw_t* tab;      // `size` combinations
    size_t size;
    uint32_t dest_port_range_end;
    uint32_t src_port_range_end;
    uint32_t icmp_type;
    uint32_t icmp_code;
};

namespace {

struct entry_rule_t {
    int index;                // 1-based position in its family's chain, 0 while not inserted
    bool ipv6;                // the chain `index` counts in, set with it: the walks over a
                              // set's positions need not read every rule
    fw_rule_t* rule;
    amxc_llist_it_t it;
};

int rule_index = 1;     // position of the next IPv4 rule
int rule6_index = 1;    // position of the next IPv6 rule
amxc_llist_t accesscontrol_fw_rules;

constexpr int MAX_PORT = 65535;
constexpr int MAX_PROTOCOL = 255;
constexpr uint32_t MAX_ICMP_VALUE = 254;

entry_rule_t* entry_of(amxc_llist_it_t* it) {
    return amxc_container_of(it, entry_rule_t, it);
}

firewall_rule_t* set_of(amxc_llist_it_t* it) {
    return amxc_container_of(it, firewall_rule_t, it);
}

void firewall_entry_delete(entry_rule_t* entry, accesscontrol::RemovedPositions& family) {
    const bool ipv6 = entry->ipv6;
    const int original = entry->index;
    // A rule that never reached its chain has no position to remove: removing "position 0"
    // would shift every other rule's bookkeeping away from the chain's real contents.
    const int removed = original > 0 ? family.remove(original) : 0;

    if(removed > 0) {
        fw_delete_rule(entry->rule, static_cast<uint32_t>(removed));
        fw_apply();
    }
    fw_rule_delete(&entry->rule);
    entry->rule = nullptr;
    amxc_llist_it_take(&entry->it);
    free(entry);

    if(removed > 0) {
        zebTraceZ(TRACE_LEVEL_INFO, ME, "i6=%d i4=%d (rm=%d)", rule6_index, rule_index, removed);
        if(ipv6) {
            rule6_index--;
        } else {
            rule_index--;
        }
    }
}

// One family's positions of a set, as they stand before its deletion.
struct FamilyPositions {
    int first = 0;
    int last = 0;
    std::size_t count = 0;
    bool ascending = true;

    void add(int index) {
        ascending = ascending && (count == 0 || index > last);
        first = count == 0 ? index : first;
        last = index;
        ++count;
    }
    // first, first + 1, ..., last: the set's rules went in together, as they do.
    bool together() const { return ascending && (count == 0 || static_cast<std::size_t>(last - first) + 1 == count); }
};

// The set's positions of the family `ipv6`, as a range where they lie together (a walk over
// the entries, which lie scattered in memory, told), or else listed in a second walk.
accesscontrol::RemovedPositions positions_of(firewall_rule_t* set, bool ipv6, const FamilyPositions& family) {
    if(family.together()) {
        return accesscontrol::RemovedPositions(family.first, family.count);
    }
    std::vector<int> listed;
    listed.reserve(family.count);
    amxc_llist_iterate(it, &set->folder) {
        const entry_rule_t* entry = entry_of(it);
        if(entry->index > 0 && entry->ipv6 == ipv6) {
            listed.push_back(entry->index);
        }
    }
    return accesscontrol::RemovedPositions(std::move(listed));
}

// Removes the set's rules one commit each, first entry first, as if every removal moved every
// rule above it up one place; the other sets' positions are brought up to date once at the end.
void firewall_entries_delete(firewall_rule_t* set) {
    FamilyPositions families[2];
    amxc_llist_iterate(it, &set->folder) {
        const entry_rule_t* entry = entry_of(it);
        if(entry->index > 0) {
            families[entry->ipv6 ? 1 : 0].add(entry->index);
        }
    }
    accesscontrol::RemovedPositions ipv4 = positions_of(set, false, families[0]);
    accesscontrol::RemovedPositions ipv6 = positions_of(set, true, families[1]);
    amxc_llist_for_each(it, &set->folder) {
        entry_rule_t* entry = entry_of(it);
        firewall_entry_delete(entry, entry->ipv6 ? ipv6 : ipv4);
    }
    amxc_llist_iterate(set_it, &accesscontrol_fw_rules) {
        amxc_llist_iterate(entry_it, &set_of(set_it)->folder) {
            entry_rule_t* entry = entry_of(entry_it);
            if(entry->index > 0) {
                entry->index = (entry->ipv6 ? ipv6 : ipv4).after_all(entry->index);
            }
        }
    }
}

// Converts an optional list input into integers, refusing elements that are not whole numbers
// within [0, max]: such an element would otherwise read as 0 ("not set") and silently widen
// the rule to every port or protocol.
bool convert_number_list(const amxc_var_t* input, int max, const char* what, amxc_var_t* out) {
    if(input == nullptr) {
        return true;
    }
    if(amxc_var_convert(out, input, AMXC_VAR_ID_LIST) != 0) {
        return false;
    }
    amxc_var_for_each(element, out) {
        amxc_var_t number;
        amxc_var_init(&number);
        const bool valid = (amxc_var_convert(&number, element, AMXC_VAR_ID_INT32) == 0) &&
            (amxc_var_constcast(int32_t, &number) >= 0) &&
            (amxc_var_constcast(int32_t, &number) <= max);
        amxc_var_clean(&number);
        if(!valid) {
            char* text = amxc_var_dyncast(cstring_t, element);
            zebTrace(TRACE_LEVEL_ERROR, "Invalid %s element '%s'", what, text == nullptr ? "" : text);
            free(text);
            return false;
        }
    }
    return true;
}

size_t compute_tab_fw_size(size_t protocols, size_t dstports, size_t srcports) {
    const size_t rows = srcports > dstports ? srcports : dstports;
    if(protocols > 0) {
        return rows == 0 ? protocols : rows * protocols;
    }
    return rows;
}

void populate_protocol(parameter_fw_t* tab, size_t size, const amxc_var_t* protocols) {
    const size_t count = amxc_var_size(protocols);
    if(count == 0) {
        return;
    }
    for(size_t n = 0; n < size; n++) {
        tab[n].protocol = amxc_var_get_int32_t(amxc_var_get_index(protocols, static_cast<int64_t>(n % count),
                                                                  AMXC_VAR_FLAG_DEFAULT));
    }
}

// Each port element fills the next `group` entries; the last element fills what is left.
template<typename Field>
void populate_port(parameter_fw_t* tab, size_t size, const amxc_var_t* ports, size_t group, Field field) {
    if(amxc_var_size(ports) == 0) {
        return;
    }
    size_t n = 0;
    int last = 0;
    amxc_var_for_each(element, ports) {
        last = amxc_var_get_int32_t(element);
        for(size_t k = 0; k < group && n < size; k++, n++) {
            tab[n].*field = last;
        }
    }
    for(; n < size; n++) {
        tab[n].*field = last;
    }
}

void populate_sourceport(parameter_fw_t* tab, size_t size, const amxc_var_t* srcports, size_t group) {
    populate_port(tab, size, srcports, group, &parameter_fw_t::srcport);
}

void populate_destport(parameter_fw_t* tab, size_t size, const amxc_var_t* dstports, size_t group) {
    populate_port(tab, size, dstports, group, &parameter_fw_t::dstport);
}

parameter_fw_t* parameter_tab_fw_create(const amxc_var_t* protocols, const amxc_var_t* dstports,
                                        const amxc_var_t* srcports, size_t* size) {
    const size_t count_p = amxc_var_size(protocols);
    *size = compute_tab_fw_size(count_p, amxc_var_size(dstports), amxc_var_size(srcports));
    if(*size == 0) {
        *size = 1;
    }
    auto* tab = static_cast<parameter_fw_t*>(calloc(*size, sizeof(parameter_fw_t)));
    if(tab == nullptr) {
        return nullptr;
    }
    const size_t group = count_p > 0 ? count_p : 1;
    populate_protocol(tab, *size, protocols);
    populate_sourceport(tab, *size, srcports, group);
    populate_destport(tab, *size, dstports, group);
    return tab;
}

entry_rule_t* firewall_get_new_rule(firewall_rule_t* c) {
    auto* entry = static_cast<entry_rule_t*>(calloc(1, sizeof(entry_rule_t)));
    if(entry == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "new rule entry allocation fail");
        return nullptr;
    }
    fw_rule_new(&entry->rule);
    if(entry->rule == nullptr) {
        free(entry);
        zebTrace(TRACE_LEVEL_ERROR, "fail to create new rule");
        return nullptr;
    }
    amxc_llist_append(&c->folder, &entry->it);
    return entry;
}

struct rule_request_t {
    const char* source;
    const char* destination;
    const char* mask;
    const char* mac;
    bool ipv6;
    uint32_t dest_port_range_end;
    uint32_t src_port_range_end;
    uint32_t icmp_type;
    uint32_t icmp_code;
};

int32_t icmp_value(uint32_t value) {
    return value <= MAX_ICMP_VALUE ? static_cast<int32_t>(value) : -1;
}

bool firewall_rule_configure(fw_rule_t* rule, const parameter_fw_t& combination, const rule_request_t& request) {
    bool ok = false;
    const auto dstport = static_cast<uint32_t>(combination.dstport);
    const auto srcport = static_cast<uint32_t>(combination.srcport);

    if(combination.protocol != 0) {
        when_failed_trace(fw_rule_set_protocol(rule, static_cast<uint32_t>(combination.protocol)), exit,
                          TRACE_LEVEL_ERROR, "Failed to set Protocol");
    }
    if(dstport != 0) {
        when_failed_trace(fw_rule_set_destination_port(rule, dstport), exit, TRACE_LEVEL_ERROR, "Failed to set DestPort");
        if(dstport < request.dest_port_range_end) {
            when_failed_trace(fw_rule_set_destination_port_range_max(rule, request.dest_port_range_end), exit,
                              TRACE_LEVEL_ERROR, "Failed to set DestPortEndRange");
        }
    }
    if(srcport != 0) {
        when_failed_trace(fw_rule_set_source_port(rule, srcport), exit, TRACE_LEVEL_ERROR, "Failed to set SourcePort");
        if(srcport < request.src_port_range_end) {
            when_failed_trace(fw_rule_set_source_port_range_max(rule, request.src_port_range_end), exit,
                              TRACE_LEVEL_ERROR, "Failed to set SourcePortEndRange");
        }
    }
    if(request.source != nullptr) {
        when_failed_trace(fw_rule_set_source(rule, request.source), exit, TRACE_LEVEL_ERROR, "Failed to set Source");
    }
    if(request.destination != nullptr) {
        when_failed_trace(fw_rule_set_destination(rule, request.destination), exit, TRACE_LEVEL_ERROR,
                          "Failed to set Destination");
    }
    if(request.mask != nullptr) {
        when_failed_trace(fw_rule_set_source_mask(rule, request.mask), exit, TRACE_LEVEL_ERROR, "Failed to set SourceMask");
    }
    if(request.mac != nullptr) {
        when_failed_trace(fw_rule_set_source_mac_address(rule, request.mac), exit, TRACE_LEVEL_ERROR,
                          "Failed to set SourceMacAddress");
    }
    if(request.ipv6) {
        when_failed_trace(fw_rule_set_ipv6(rule, true), exit, TRACE_LEVEL_ERROR, "Failed to set IPv6");
        when_failed_trace(fw_rule_set_table(rule, FW_TABLE_FILTER), exit, TRACE_LEVEL_ERROR, "Failed to set the table");
        when_failed_trace(fw_rule_set_chain(rule, FW6_CHAIN), exit, TRACE_LEVEL_ERROR, "Failed to set the chain");
    } else {
        when_failed_trace(fw_rule_set_ipv4(rule, true), exit, TRACE_LEVEL_ERROR, "Failed to set IPv4");
        when_failed_trace(fw_rule_set_table(rule, FW_TABLE_FILTER), exit, TRACE_LEVEL_ERROR, "Failed to set the table");
        when_failed_trace(fw_rule_set_chain(rule, FW_CHAIN), exit, TRACE_LEVEL_ERROR, "Failed to set the chain");
        if(combination.protocol == 1) {
            when_failed_trace(fw_rule_set_icmp_type(rule, icmp_value(request.icmp_type)), exit, TRACE_LEVEL_ERROR,
                              "Failed to set ICMP Type");
            when_failed_trace(fw_rule_set_filtered_icmp_code(rule, icmp_value(request.icmp_code)), exit,
                              TRACE_LEVEL_ERROR, "Failed to set ICMP Code");
        }
    }
    ok = true;
exit:
    return ok;
}

bool firewall_rule_set_policy(fw_rule_t* rule, bool invert_mode) {
    const fw_rule_policy_t policy = invert_mode ? FW_RULE_POLICY_ACCEPT : FW_RULE_POLICY_DROP;
    if(fw_rule_set_target_policy(rule, policy) != 0) {
        zebTrace(TRACE_LEVEL_ERROR, "fail to set the policy");
        return false;
    }
    return true;
}

} // namespace

extern "C" {

bool firewall_init(void) {
    rule_index = 1;
    rule6_index = 1;
    amxc_llist_init(&accesscontrol_fw_rules);
    return true;
}

bool firewall_cleanup(void) {
    amxc_llist_for_each(it, &accesscontrol_fw_rules) {
        firewall_rule_t* set = set_of(it);
        firewall_rule_delete(&set);
    }
    amxc_llist_clean(&accesscontrol_fw_rules, nullptr);
    return true;
}

firewall_rule_t* firewall_rule_create(const char* alias, bool invert) {
    if(alias == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "alias can't be null");
        return nullptr;
    }
    auto* c = static_cast<firewall_rule_t*>(calloc(1, sizeof(firewall_rule_t)));
    if(c == nullptr) {
        return nullptr;
    }
    if((amxc_string_init(&c->alias, 0) != 0) || (amxc_string_set(&c->alias, alias) != 0)) {
        amxc_string_clean(&c->alias);
        free(c);
        return nullptr;
    }
    amxc_llist_init(&c->folder);
    c->invert_mode = invert;
    amxc_llist_append(&accesscontrol_fw_rules, &c->it);
    return c;
}

void firewall_rule_delete(firewall_rule_t** c) {
    if((c == nullptr) || (*c == nullptr)) {
        return;
    }
    amxc_string_clean(&(*c)->alias);
    firewall_entries_delete(*c);
    amxc_llist_it_take(&(*c)->it);
    free(*c);
    *c = nullptr;
}

firewall_ports_t* firewall_ports_create(amxc_var_t* destPort, uint32_t destPortRangeEnd,
                                        amxc_var_t* srcPort, uint32_t srcPortRangeEnd,
                                        amxc_var_t* protocols, uint32_t icmpType, uint32_t icmpCode) {
    firewall_ports_t* ports = nullptr;
    amxc_var_t protocols_list;
    amxc_var_t destport_list;
    amxc_var_t srcport_list;
    amxc_var_init(&protocols_list);
    amxc_var_init(&destport_list);
    amxc_var_init(&srcport_list);

    when_false(convert_number_list(protocols, MAX_PROTOCOL, "protocol", &protocols_list), exit);
    when_false(convert_number_list(destPort, MAX_PORT, "destination port", &destport_list), exit);
    when_false(convert_number_list(srcPort, MAX_PORT, "source port", &srcport_list), exit);
    ports = static_cast<firewall_ports_t*>(calloc(1, sizeof(firewall_ports_t)));
    when_null(ports, exit);
    ports->tab = parameter_tab_fw_create(&protocols_list, &destport_list, &srcport_list, &ports->size);
    if(ports->tab == nullptr) {
        free(ports);
        ports = nullptr;
        goto exit;
    }
    ports->dest_port_range_end = destPortRangeEnd;
    ports->src_port_range_end = srcPortRangeEnd;
    ports->icmp_type = icmpType;
    ports->icmp_code = icmpCode;
exit:
    amxc_var_clean(&protocols_list);
    amxc_var_clean(&destport_list);
    amxc_var_clean(&srcport_list);
    return ports;
}

void firewall_ports_delete(firewall_ports_t** ports) {
    if((ports == nullptr) || (*ports == nullptr)) {
        return;
    }
    free((*ports)->tab);
    free(*ports);
    *ports = nullptr;
}

amxd_status_t firewall_rule_set_ports(firewall_rule_t* c, const char* source, const char* destination,
                                      const char* mask, const char* mac, bool ipv6, const firewall_ports_t* ports) {
    if((c == nullptr) || (ports == nullptr)) {
        zebTrace(TRACE_LEVEL_ERROR, "no rule set or no port expansion");
        return amxd_status_unknown_error;
    }
    const rule_request_t request{source, destination, mask, mac, ipv6, ports->dest_port_range_end,
                                 ports->src_port_range_end, ports->icmp_type, ports->icmp_code};
    for(size_t n = 0; n < ports->size; n++) {
        entry_rule_t* entry = firewall_get_new_rule(c);
        if(entry == nullptr) {
            zebTrace(TRACE_LEVEL_ERROR, "fail to alloc firewall rule");
            return amxd_status_unknown_error;
        }
        const bool configured = firewall_rule_configure(entry->rule, ports->tab[n], request);
        const bool policy_set = firewall_rule_set_policy(entry->rule, c->invert_mode);
        if(!configured || !policy_set) {
            zebTrace(TRACE_LEVEL_ERROR, "Configuring one of the rules failed, aborting");
            return amxd_status_unknown_error;
        }
    }
    return amxd_status_ok;
}

amxd_status_t firewall_rule_set(firewall_rule_t* c, const char* source, const char* destination,
                                const char* mask, const char* mac, bool ipv6,
                                amxc_var_t* destPort, uint32_t destPortRangeEnd,
                                amxc_var_t* srcPort, uint32_t srcPortRangeEnd,
                                amxc_var_t* protocols, uint32_t icmpType, uint32_t icmpCode) {
    // Early stops report a failure: a request that programmed nothing (or only part of its
    // rules) must not be taken for a programmed one.
    if(c == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "%s", "");
        return amxd_status_unknown_error;
    }
    firewall_ports_t* ports = firewall_ports_create(destPort, destPortRangeEnd, srcPort, srcPortRangeEnd, protocols,
                                                    icmpType, icmpCode);
    const amxd_status_t status = ports == nullptr ? amxd_status_unknown_error :
        firewall_rule_set_ports(c, source, destination, mask, mac, ipv6, ports);
    firewall_ports_delete(&ports);
    return status;
}

amxd_status_t firewall_rule_apply(firewall_rule_t* c) {
    amxd_status_t status = amxd_status_unknown_error;
    int first_index4 = rule_index;
    int first_index6 = rule6_index;
    when_null_trace(c, exit, TRACE_LEVEL_ERROR, "firewall context can not be NULL");

    amxc_llist_iterate(it, &c->folder) {
        entry_rule_t* entry = entry_of(it);
        fw_rule_set_enabled(entry->rule, true);
        entry->ipv6 = fw_rule_get_ipv6(entry->rule);
        if(!entry->ipv6) {
            when_failed_trace(fw_add_rule(entry->rule, static_cast<uint32_t>(rule_index)), exit, TRACE_LEVEL_ERROR,
                              "Fail to apply rule index %d", rule_index);
            entry->index = rule_index++;
        } else {
            when_failed_trace(fw_add_rule(entry->rule, static_cast<uint32_t>(rule6_index)), exit, TRACE_LEVEL_ERROR,
                              "Fail to apply rule6 index %d", rule6_index);
            entry->index = rule6_index++;
        }
        zebTraceZ(TRACE_LEVEL_INFO, ME, "i6=%d i4=%d", rule6_index, rule_index);
    }

    if(fw_apply() != 0) {
        zebTrace(TRACE_LEVEL_ERROR, "Fail to apply firewall rule");
        // A refused commit leaves the chains as they were: forget the positions this set was
        // given, so that deleting it later removes nothing that is not there.
        amxc_llist_iterate(it, &c->folder) {
            entry_of(it)->index = 0;
        }
        rule_index = first_index4;
        rule6_index = first_index6;
        goto exit;
    }
    status = amxd_status_ok;
exit:
    return status;
}

} // extern "C"
