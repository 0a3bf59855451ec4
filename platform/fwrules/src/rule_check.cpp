// Whether a rule's values fit together; checked at insertion because callers set the fields
// in any order (a source before the family, a port before the protocol).

#include "rule_fields.h"

namespace fwrules {
namespace {

bool protocol_has_ports(std::uint32_t protocol) {
    return protocol == 6 || protocol == 17 || protocol == 33 || protocol == 132;
}

bool range_fits(std::uint32_t port, std::uint32_t max) { return max == 0 || (port != 0 && max >= port); }

}  // namespace

fw_rule_error_t check(const Fields& rule) {
    if(!rule.place.has_table()) {
        return FW_RULE_ERROR_NO_TABLE;
    }
    if(!rule.place.has_chain()) {
        return FW_RULE_ERROR_NO_CHAIN;
    }
    if(rule.family == Family::none) {
        return FW_RULE_ERROR_NO_FAMILY;
    }
    if(rule.policy >= FW_RULE_POLICY_LAST) {
        return FW_RULE_ERROR_NO_TARGET;
    }
    if((rule.source && rule.source->family != rule.family) ||
       (rule.destination() && rule.destination()->family != rule.family)) {
        return FW_RULE_ERROR_ADDRESS_FAMILY;
    }
    if(rule.mask && (!rule.source || (rule.family == Family::ipv6 && rule.mask->dotted) ||
                     (rule.family == Family::ipv4 && rule.mask->prefix > 32U))) {
        return FW_RULE_ERROR_MASK;
    }
    bool has_ports = rule.source_port != 0 || rule.source_port_max != 0 || rule.destination_port != 0 ||
                     rule.destination_port_max != 0;
    if(has_ports && (!protocol_has_ports(rule.protocol) || !range_fits(rule.source_port, rule.source_port_max) ||
                     !range_fits(rule.destination_port, rule.destination_port_max))) {
        return FW_RULE_ERROR_PORTS;
    }
    bool has_icmp = rule.icmp_type != -1 || rule.icmp_code != -1;
    if(has_icmp && (rule.family != Family::ipv4 || rule.protocol != 1)) {
        return FW_RULE_ERROR_ICMP;
    }
    return FW_RULE_OK;
}

}  // namespace fwrules

extern "C" {

fw_rule_error_t fw_rule_check(const fw_rule_t* rule) {
    return rule == nullptr ? FW_RULE_ERROR_NULL : fwrules::check(*rule);
}

const char* fw_rule_error_text(fw_rule_error_t error) {
    switch(error) {
    case FW_RULE_OK: return "no error";
    case FW_RULE_ERROR_NULL: return "no rule";
    case FW_RULE_ERROR_NO_TABLE: return "table not set";
    case FW_RULE_ERROR_NO_CHAIN: return "chain not set";
    case FW_RULE_ERROR_NO_FAMILY: return "address family not set";
    case FW_RULE_ERROR_NO_TARGET: return "target not set";
    case FW_RULE_ERROR_ADDRESS_FAMILY: return "address of the other family";
    case FW_RULE_ERROR_MASK: return "mask without source or not valid for the family";
    case FW_RULE_ERROR_PORTS: return "ports without a protocol that has ports, or a bad port range";
    case FW_RULE_ERROR_ICMP: return "ICMP type or code outside IPv4 protocol 1";
    }
    return "unknown error";
}

}  // extern "C"
