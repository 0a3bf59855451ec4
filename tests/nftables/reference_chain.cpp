#include "reference_chain.h"

#include <algorithm>
#include <iterator>
#include <sstream>

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
    return address_matches(rule.source, probe.source) && address_matches(rule.destination, probe.destination) &&
           (rule.protocol == 0 || rule.protocol == probe.protocol) && (!rule.mac || *rule.mac == probe.source_mac) &&
           port_matches(rule.source_port, probe.source_port) &&
           port_matches(rule.destination_port, probe.destination_port) &&
           (rule.icmp_type < 0 || rule.icmp_type == probe.icmp_type) &&
           (rule.icmp_code < 0 || rule.icmp_code == probe.icmp_code);
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
    std::istringstream lines{std::string(dump)};
    for(std::string line; std::getline(lines, line);) {
        if(line.starts_with(lead)) {
            rules.push_back(line.substr(lead.size()));
        }
    }
    return rules;
}

namespace {

constexpr MacAddress other_mac{0x02, 0x99, 0x01, 0x00, 0x00, 0x03};

IpAddress address_of(const AddressMatch& match, bool ipv6) { return IpAddress{ipv6, match.bytes}; }

IpAddress must_parse(const char* text, bool ipv6) { return *parse_ip(text, ipv6); }

// The first and last address of a source match, and the ones just outside it.
std::vector<IpAddress> edges_of(const AddressMatch& match, bool ipv6) {
    const IpAddress first = prefix_first(address_of(match, ipv6), match.prefix);
    const IpAddress last = prefix_last(first, match.prefix);
    return {first, last, offset(first, -1), offset(last, 1)};
}

// On or beside an edge of the range, or inside it.
std::uint16_t port_near(const PortMatch& match, Dice& dice) {
    const long first = match.first;
    const long last = match.last;
    const long choices[] = {first - 1, first, last, last + 1, dice.between(first, last)};
    return static_cast<std::uint16_t>(std::clamp(dice.pick(choices), 1L, 65535L));
}

class ProbeChooser {
public:
    ProbeChooser(const ReferenceChain& chain, bool ipv6, Dice& dice) : chain_(chain), ipv6_(ipv6), dice_(dice) {
        for(const RuleSpec& rule : chain.rules()) {
            if(rule.source) {
                std::ranges::copy(edges_of(*rule.source, ipv6), std::back_inserter(edges_));
            }
        }
    }

    Probe choose() {
        const RuleSpec* rule = !chain_.rules().empty() && dice_.chance(0.85) ? &dice_.pick(chain_.rules()) : nullptr;
        // Aim a field at the rule's value when the rule has one, mostly.
        auto aim = [this](bool has) { return has && dice_.chance(0.75); };
        Probe probe;
        probe.source = source(rule != nullptr && aim(rule->source.has_value()) ? &*rule->source : nullptr);
        probe.destination =
            destination(rule != nullptr && aim(rule->destination.has_value()) ? &*rule->destination : nullptr);
        probe.source_mac = mac(rule != nullptr && rule->mac ? &*rule->mac : nullptr);
        const std::uint8_t protocols[] = {6, 17, static_cast<std::uint8_t>(ipv6_ ? 58 : 1)};
        const bool sendable = rule != nullptr && std::ranges::find(protocols, rule->protocol) != std::end(protocols);
        probe.protocol = aim(sendable) ? rule->protocol : dice_.pick(protocols);
        const bool on_rule = rule != nullptr && rule->protocol == probe.protocol;
        if(probe.protocol == 6 || probe.protocol == 17) {
            probe.source_port = on_rule && aim(rule->source_port.first != 0)
                                    ? port_near(rule->source_port, dice_)
                                    : dice_.between<std::uint16_t>(1024, 65535);
            probe.destination_port = on_rule && aim(rule->destination_port.first != 0)
                                         ? port_near(rule->destination_port, dice_)
                                         : dice_.chance(0.5) ? dice_.pick(common_ports)
                                                             : dice_.between<std::uint16_t>(1, 65535);
        } else {
            icmp(probe, on_rule && aim(rule->icmp_type >= 0) ? rule : nullptr);
        }
        return probe;
    }

private:
    // An edge of the aimed source, an edge of any rule's source or an address of the ranges
    // rules use; the client's own address when none of the tries is forwarded.
    IpAddress source(const AddressMatch* aimed) {
        for(int attempt = 0; attempt < 8; ++attempt) {
            IpAddress candidate;
            if(aimed != nullptr) {
                candidate = dice_.chance(0.8) ? dice_.pick(edges_of(*aimed, ipv6_)) : random_inside(*aimed);
            } else if(!edges_.empty() && dice_.chance(0.5)) {
                candidate = dice_.pick(edges_);
            } else {
                candidate = random_address(dice_, ipv6_);
            }
            if(forwardable_source(candidate)) {
                return candidate;
            }
        }
        return must_parse(ipv6_ ? "fd99:1::2" : "10.99.1.2", ipv6_);
    }

    IpAddress random_inside(const AddressMatch& match) {
        const IpAddress first = prefix_first(address_of(match, ipv6_), match.prefix);
        const unsigned host_bits = first.bits() - match.prefix;
        const std::int64_t span = host_bits >= 16 ? 0xffff : (std::int64_t{1} << host_bits) - 1;
        return offset(first, dice_.between<std::int64_t>(0, span));
    }

    // The rule's MAC or the other one of the two that rules use; mostly the client's own.
    MacAddress mac(const MacAddress* aimed) {
        if(aimed == nullptr) {
            return dice_.chance(0.1) ? other_mac : client_mac;
        }
        return dice_.chance(0.6) ? *aimed : *aimed == client_mac ? other_mac : client_mac;
    }

    // The aimed destination or its neighbour, the server or an address routed to it.
    IpAddress destination(const AddressMatch* aimed) {
        const IpAddress server = must_parse(ipv6_ ? "fd99:2::2" : "10.99.2.2", ipv6_);
        IpAddress candidate = server;
        if(aimed != nullptr) {
            candidate = offset(address_of(*aimed, ipv6_), dice_.chance(0.7) ? 0 : 1);
        } else if(dice_.chance(0.2)) {
            candidate = offset(must_parse(ipv6_ ? "fd99:4::" : "10.99.4.0", ipv6_), dice_.between(1, 254));
        }
        return reachable_destination(candidate) ? candidate : server;
    }

    // The aimed rule's ICMP type and code or a near miss; otherwise a common type.
    void icmp(Probe& probe, const RuleSpec* aimed) {
        if(aimed != nullptr) {
            probe.icmp_type = static_cast<std::uint8_t>(aimed->icmp_type + (dice_.chance(0.15) ? 1 : 0));
            const int code = aimed->icmp_code >= 0 ? aimed->icmp_code + (dice_.chance(0.3) ? 1 : 0)
                                                   : dice_.between(0, 3);
            probe.icmp_code = static_cast<std::uint8_t>(code);
            return;
        }
        static constexpr std::uint8_t types_v4[] = {8, 0, 13, 3};
        static constexpr std::uint8_t types_v6[] = {128, 129, 1, 3};
        probe.icmp_type = ipv6_ ? dice_.pick(types_v6) : dice_.pick(types_v4);
        probe.icmp_code = dice_.chance(0.7) ? 0 : dice_.between<std::uint8_t>(1, 3);
    }

    const ReferenceChain& chain_;
    const bool ipv6_;
    Dice& dice_;
    std::vector<IpAddress> edges_;  // of every rule's source
};

}  // namespace

std::vector<Probe> choose_probes(const ReferenceChain& chain, bool ipv6, std::size_t count, Dice& dice) {
    ProbeChooser chooser(chain, ipv6, dice);
    std::vector<Probe> probes;
    for(std::size_t i = 0; i < count; ++i) {
        probes.push_back(chooser.choose());
    }
    return probes;
}

}  // namespace nfttest
