// The rule in iptables-save syntax. The text doubles as the rule's identity (libfwinterface
// compares rules by it), so every value is written in one canonical form (<fwrules/rule_text.hpp>).

#include <algorithm>
#include <cstring>
#include <string_view>

#include <fwrules/fw_rule.h>
#include <fwrules/rule_text.hpp>

#include "rule_fields.h"

namespace fwrules {
namespace {

TextMatches matches_of(const Fields& rule) {
    TextMatches matches;
    matches.ipv6 = rule.family == Family::ipv6;
    if(rule.source) {
        matches.source = rule.source->bytes;
        matches.source_prefix = rule.mask ? rule.mask->prefix : rule.source->bits();
    }
    if(const auto& destination = rule.destination()) {
        matches.destination = destination->bytes;
        matches.destination_prefix = destination->bits();
    }
    matches.protocol = static_cast<std::uint8_t>(rule.protocol);
    matches.mac = rule.mac();
    matches.source_port = rule.source_port;
    matches.source_port_max = rule.source_port_max;
    matches.destination_port = rule.destination_port;
    matches.destination_port_max = rule.destination_port_max;
    matches.icmp_type = rule.icmp_type;
    matches.icmp_code = rule.icmp_code;
    matches.policy = static_cast<fw_rule_policy_t>(rule.policy);
    return matches;
}

}  // namespace

bool rule_matches(const fw_rule_t* rule, TextMatches& matches) {
    if(fw_rule_check(rule) != FW_RULE_OK) {
        return false;
    }
    matches = matches_of(*rule);
    return true;
}

}  // namespace fwrules

extern "C" int fw_rule_to_text(const fw_rule_t* rule, char* buf, size_t size) {
    if(buf != nullptr && size > 0) {
        buf[0] = '\0';
    }
    fwrules::TextMatches matches;
    if(!fwrules::rule_matches(rule, matches)) {
        return -1;
    }
    fwrules::TextRoom room;
    const std::string_view text = fwrules::write_rule_text(matches, room);
    if(buf != nullptr && size > 0) {
        std::size_t n = std::min(text.size(), size - 1);
        std::memcpy(buf, text.data(), n);
        buf[n] = '\0';
    }
    return static_cast<int>(text.size());
}
