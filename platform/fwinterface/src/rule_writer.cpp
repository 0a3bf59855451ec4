#include "rule_writer.h"

namespace fwinterface {
namespace {

fw_rule_policy_t policy_of(Verdict verdict) {
    switch(verdict) {
    case Verdict::drop: return FW_RULE_POLICY_DROP;
    case Verdict::accept: return FW_RULE_POLICY_ACCEPT;
    case Verdict::reject: return FW_RULE_POLICY_REJECT;
    case Verdict::masquerade: return FW_RULE_POLICY_MASQUERADE;
    }
    return FW_RULE_POLICY_LAST;
}

}  // namespace

fwrules::TextMatches text_matches(const RuleSpec& spec, bool ipv6) {
    fwrules::TextMatches matches;
    matches.ipv6 = ipv6;
    if(spec.source) {
        matches.source = spec.source->bytes;
        matches.source_prefix = spec.source->prefix;
    }
    if(spec.destination) {
        matches.destination = spec.destination->bytes;
        matches.destination_prefix = spec.destination->prefix;
    }
    matches.protocol = spec.protocol;
    matches.mac = spec.mac;
    matches.source_port = spec.source_port.first;
    matches.source_port_max = spec.source_port.last;
    matches.destination_port = spec.destination_port.first;
    matches.destination_port_max = spec.destination_port.last;
    matches.icmp_type = spec.icmp_type;
    matches.icmp_code = spec.icmp_code;
    matches.policy = policy_of(spec.verdict);
    return matches;
}

std::string_view write_rule_text(const RuleSpec& spec, bool ipv6, RuleTextRoom& room) {
    return fwrules::write_rule_text(text_matches(spec, ipv6), room);
}

}  // namespace fwinterface
