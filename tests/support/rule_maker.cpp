#include "rule_maker.h"

namespace fwtest {

RuleMaker::RuleMaker(bool ipv6) {
    fw_rule_t* raw = nullptr;
    check(fw_rule_new(&raw));
    rule_.reset(raw);
    if(raw != nullptr) {
        check(ipv6 ? fw_rule_set_ipv6(raw, true) : fw_rule_set_ipv4(raw, true));
        check(fw_rule_set_table(raw, "filter"));
        check(fw_rule_set_chain(raw, ipv6 ? "FORWARD6_AccessControl_QK" : "FORWARD_AccessControl_QK"));
        check(fw_rule_set_target_policy(raw, FW_RULE_POLICY_DROP));
        check(fw_rule_set_enabled(raw, true));
    }
}

RuleMaker& RuleMaker::check(int result) {
    refused_ = refused_ || result != 0;
    return *this;
}

RuleMaker& RuleMaker::chain(const char* name) { return check(fw_rule_set_chain(rule_.get(), name)); }

RuleMaker& RuleMaker::source(const char* address, const char* mask) {
    check(fw_rule_set_source(rule_.get(), address));
    return check(fw_rule_set_source_mask(rule_.get(), mask));
}

RuleMaker& RuleMaker::destination(const char* address) { return check(fw_rule_set_destination(rule_.get(), address)); }

RuleMaker& RuleMaker::mac(const char* address) { return check(fw_rule_set_source_mac_address(rule_.get(), address)); }

RuleMaker& RuleMaker::protocol(uint32_t number) { return check(fw_rule_set_protocol(rule_.get(), number)); }

RuleMaker& RuleMaker::source_ports(uint32_t first, uint32_t last) {
    check(fw_rule_set_source_port(rule_.get(), first));
    return check(fw_rule_set_source_port_range_max(rule_.get(), last));
}

RuleMaker& RuleMaker::destination_ports(uint32_t first, uint32_t last) {
    check(fw_rule_set_destination_port(rule_.get(), first));
    return check(fw_rule_set_destination_port_range_max(rule_.get(), last));
}

RuleMaker& RuleMaker::icmp(int32_t type, int32_t code) {
    check(fw_rule_set_icmp_type(rule_.get(), type));
    return check(fw_rule_set_filtered_icmp_code(rule_.get(), code));
}

RuleMaker& RuleMaker::target(fw_rule_policy_t policy) { return check(fw_rule_set_target_policy(rule_.get(), policy)); }

Rule RuleMaker::make() {
    if(refused_) {
        return nullptr;
    }
    return std::move(rule_);
}

std::string text_of(const fw_rule_t* rule) {
    char buf[FW_RULE_TEXT_MAX];
    return fw_rule_to_text(rule, buf, sizeof(buf)) < 0 ? "<invalid>" : buf;
}

}  // namespace fwtest
