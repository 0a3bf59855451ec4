#include "reference_chain.h"

namespace nfttest {
namespace {

using fwinterface::AddressMatch;
using fwinterface::PortMatch;
using fwinterface::RuleSpec;
using fwinterface::Verdict;

bool address_matches(const std::optional<AddressMatch>& match, const IpAddress& address) {
    return !match || in_prefix(address, IpAddress{address.ipv6, match->bytes}, match->prefix);
}

bool port_matches(const PortMatch& match, std::uint16_t port) {
    return match.first == 0 || (port >= match.first && port <= match.last);
}

// Ports and ICMP fields are only read for the protocol the rule names, which the probe then
// has too: the rule reader refuses them without it.
bool matches(const RuleSpec& rule, const Probe& probe) {
    if(!address_matches(rule.source, probe.source) || !address_matches(rule.destination, probe.destination)) {
        return false;
    }
    if(rule.protocol != 0 && rule.protocol != probe.protocol) {
        return false;
    }
    if(rule.mac && *rule.mac != probe.source_mac) {
        return false;
    }
    if(!port_matches(rule.source_port, probe.source_port) ||
       !port_matches(rule.destination_port, probe.destination_port)) {
        return false;
    }
    if(rule.icmp_type >= 0 && rule.icmp_type != probe.icmp_type) {
        return false;
    }
    return rule.icmp_code < 0 || rule.icmp_code == probe.icmp_code;
}

}  // namespace

std::optional<ReferenceChain> ReferenceChain::read(std::span<const std::string> texts, bool ipv6, std::string& error) {
    ReferenceChain chain;
    for(const std::string& text : texts) {
        RuleSpec& spec = chain.rules_.emplace_back();
        std::string reason;
        if(!fwinterface::parse_rule_text(text, ipv6, spec, reason)) {
            error = "cannot read \"" + text + "\": " + reason;
            return std::nullopt;
        }
        if(spec.verdict == Verdict::masquerade) {
            error = "\"" + text + "\": masquerading is no filter verdict";
            return std::nullopt;
        }
    }
    return chain;
}

std::size_t ReferenceChain::deciding_rule(const Probe& probe) const {
    for(std::size_t i = 0; i < rules_.size(); ++i) {
        if(matches(rules_[i], probe)) {
            return i + 1;
        }
    }
    return 0;
}

bool ReferenceChain::passes(const Probe& probe) const {
    const std::size_t rule = deciding_rule(probe);
    return rule == 0 || rules_[rule - 1].verdict == Verdict::accept;
}

std::vector<std::string> chain_rules(std::string_view dump, std::string_view chain) {
    const std::string lead = "-A " + std::string(chain) + " ";
    std::vector<std::string> rules;
    while(!dump.empty()) {
        const std::size_t end = dump.find('\n');
        const std::string_view line = dump.substr(0, end);
        if(line.starts_with(lead)) {
            rules.emplace_back(line.substr(lead.size()));
        }
        dump = end == std::string_view::npos ? std::string_view{} : dump.substr(end + 1);
    }
    return rules;
}

}  // namespace nfttest
