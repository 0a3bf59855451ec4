#include "random_rules.h"

#include <algorithm>
#include <charconv>

namespace nfttest {
namespace {

// Operations of one transaction, and how long a chain may grow before removals win.
constexpr std::uint32_t most_operations = 4;
constexpr std::size_t crowded_chain = 60;

// A port match one port wider at its top; false when there is none or it ends at 65535.
bool widen_by_one(std::uint32_t first, std::uint32_t& last) {
    if(first == 0 || first >= 65535) {
        return false;
    }
    const std::uint32_t top = std::max(first, last);
    last = top < 65535 ? top + 1 : first;
    return true;
}

std::uint32_t random_port(Dice& dice) {
    return dice.chance(0.6) ? dice.pick(common_ports) : dice.between<std::uint32_t>(1, 65535);
}

// A single port, or a range of up to 60 ports starting at one.
void random_ports(Dice& dice, std::uint32_t& first, std::uint32_t& last) {
    first = random_port(dice);
    last = dice.chance(0.4) ? std::min<std::uint32_t>(65535, first + dice.between(1, 60)) : 0;
}

// Whether a rule without source takes only a small part of the traffic.
bool narrow(const RuleDraft& rule) {
    return rule.destination_port != 0 || rule.source_port != 0 || rule.icmp_type >= 0 || !rule.destination.empty();
}

}  // namespace

// Empty texts, zero and -1 are the setters' own "any".
Rule RuleDraft::make() const {
    return RuleMaker(ipv6)
        .source(source.c_str(), source_mask.c_str())
        .destination(destination.c_str())
        .mac(mac.c_str())
        .protocol(protocol)
        .source_ports(source_port, source_port_last)
        .destination_ports(destination_port, destination_port_last)
        .icmp(icmp_type, icmp_code)
        .target(target)
        .make();
}

std::string describe(const Operation& operation) {
    Rule rule = operation.rule.make();
    return std::string(operation.insert ? "insert " : "delete ") + (operation.rule.ipv6 ? "ipv6" : "ipv4") + " @" +
           std::to_string(operation.position) + " " + (rule ? text_of(rule.get()) : "<refused rule>");
}

IpAddress random_address(Dice& dice, bool ipv6) {
    struct Range {
        const char* first;
        int size;
    };
    // The client's IPv4 subnet ends where the server's begins.
    static constexpr Range ranges_v4[] = {{"10.99.1.0", 256}, {"10.60.4.0", 1024}, {"172.16.40.0", 1024}};
    static constexpr Range ranges_v6[] = {{"fd99:1::", 1024}, {"fd60:5::", 1024}, {"2001:db8:40::", 1024}};
    const Range& range = ipv6 ? dice.pick(ranges_v6) : dice.pick(ranges_v4);
    return offset(*parse_ip(range.first, ipv6), dice.between(0, range.size - 1));
}

RandomRules::RandomRules(Dice& dice) : dice_(dice) {
    for(bool ipv6 : {false, true}) {
        for(int i = 0; i < 6; ++i) {
            shapes_[ipv6 ? 1 : 0].push_back(random_shape(ipv6));
        }
    }
}

// Everything but the source.
RuleDraft RandomRules::random_shape(bool ipv6) {
    RuleDraft rule;
    rule.ipv6 = ipv6;
    if(dice_.chance(0.12)) {
        rule.destination = dice_.chance(0.5) ? (ipv6 ? "fd99:2::2" : "10.99.2.2") : (ipv6 ? "fd99:4::7" : "10.99.4.7");
    }
    if(dice_.chance(0.12)) {
        rule.mac = dice_.chance(0.7) ? "02:99:01:00:00:02" : "02:99:01:00:00:03";
    }
    const int protocol = dice_.between(0, 99);
    if(protocol < 35) {
        rule.protocol = 0;
    } else if(protocol < 60) {
        rule.protocol = 6;
    } else if(protocol < 75) {
        rule.protocol = 17;
    } else if(protocol < 80) {
        // dccp, sctp and gre: no probe has them, but the kernel must hold them as written.
        static constexpr std::uint32_t rare[] = {33, 132, 47};
        rule.protocol = dice_.pick(rare);
    } else {
        rule.protocol = ipv6 ? 58 : 1;
    }
    if(rule.protocol != 0 && rule.protocol != 47 && rule.protocol != 1 && rule.protocol != 58) {
        const int ports = dice_.between(0, 99);
        if(ports >= 30) {
            random_ports(dice_, rule.destination_port, rule.destination_port_last);
        }
        if(ports >= 85 || (ports < 30 && dice_.chance(0.3))) {
            random_ports(dice_, rule.source_port, rule.source_port_last);
        }
    }
    if(rule.protocol == 1 && dice_.chance(0.75)) {
        static constexpr std::int32_t types[] = {0, 3, 8, 13};
        rule.icmp_type = dice_.pick(types);
        if(dice_.chance(0.5)) {
            rule.icmp_code = dice_.between(0, 3);
        }
    }
    const int target = dice_.between(0, 99);
    rule.target = target < 80 ? FW_RULE_POLICY_DROP : target < 92 ? FW_RULE_POLICY_ACCEPT : FW_RULE_POLICY_REJECT;
    return rule;
}

// One rule, or the rules of a range of addresses, one per address, that go in one after the
// other. Often the source is another rule's, or right beside it: duplicates, overlaps and
// ranges that touch.
std::vector<RuleDraft> RandomRules::random_rules(const std::vector<RuleDraft>& chain, bool ipv6) {
    const auto& shapes = shapes_[ipv6 ? 1 : 0];
    RuleDraft rule = dice_.chance(0.8) ? dice_.pick(shapes) : random_shape(ipv6);
    if(dice_.chance(0.2)) {
        rule = one_field_changed(rule);
    }
    const int kind = dice_.between(0, 99);
    if(kind < 15) {
        // Without a source only a narrow rule: one that takes every packet would leave
        // nothing to tell the rules behind it apart.
        if(!narrow(rule)) {
            rule.protocol = dice_.chance(0.5) ? 6 : 17;
            rule.destination_port = random_port(dice_);
        }
        return {rule};
    }
    const int addresses = kind < 55 ? 1 : kind < 80 ? dice_.between(2, 8) : 0;  // 0: a subnet
    const RuleDraft* near = dice_.chance(0.3) ? random_sourced(chain) : nullptr;
    if(near != nullptr && dice_.chance(0.4)) {
        rule.source = near->source;
        rule.source_mask = near->source_mask;
        return {rule};
    }
    IpAddress start = random_address(dice_, ipv6);
    if(near != nullptr) {
        const IpAddress address = *parse_ip(near->source, ipv6);
        unsigned length = address.bits();
        if(!near->source_mask.empty()) {
            std::from_chars(near->source_mask.data(), near->source_mask.data() + near->source_mask.size(), length);
        }
        start = dice_.chance(0.5) ? offset(prefix_last(address, length), 1)
                                  : offset(prefix_first(address, length), -std::max(addresses, 1));
    }
    rule.source = to_text(start);
    if(addresses == 0) {
        static constexpr const char* lengths_v4[] = {"24", "27", "28", "30", "31"};
        static constexpr const char* lengths_v6[] = {"120", "122", "124", "126", "127"};
        rule.source_mask = ipv6 ? dice_.pick(lengths_v6) : dice_.pick(lengths_v4);
        return {rule};
    }
    // Now and then a member of the range differs in one more field: the rules around it
    // then share everything with it but that field.
    const bool mixed = dice_.chance(0.3);
    std::vector<RuleDraft> range;
    for(int i = 0; i < addresses; ++i) {
        range.push_back(mixed && dice_.chance(0.3) ? one_field_changed(rule) : rule);
        range.back().source = to_text(offset(start, i));
    }
    return range;
}

// `rule` with one field other than the source changed: MAC, destination, protocol, a port
// range's end, ICMP type or code, or the target.
RuleDraft RandomRules::one_field_changed(RuleDraft rule) {
    for(;;) {
        const int field = dice_.between(0, 6);
        if(field == 0) {
            rule.mac = rule.mac == "02:99:01:00:00:02" ? "02:99:01:00:00:03" : "02:99:01:00:00:02";
        } else if(field == 1) {
            rule.destination = !rule.destination.empty() ? "" : rule.ipv6 ? "fd99:4::7" : "10.99.4.7";
        } else if(field == 2 && (rule.protocol == 6 || rule.protocol == 17)) {
            rule.protocol = rule.protocol == 6 ? 17 : 6;
        } else if(field == 5 && rule.icmp_type >= 0 && dice_.chance(0.5)) {
            rule.icmp_code = rule.icmp_code < 0 ? 0 : rule.icmp_code == 0 ? -1 : rule.icmp_code - 1;
        } else if(field == 5 && rule.icmp_type >= 0) {
            rule.icmp_type = rule.icmp_type == 8 ? 0 : 8;
        } else if(field == 6) {
            rule.target = rule.target == FW_RULE_POLICY_ACCEPT ? FW_RULE_POLICY_DROP : FW_RULE_POLICY_ACCEPT;
        } else if(!(field == 3 && widen_by_one(rule.destination_port, rule.destination_port_last)) &&
                  !(field == 4 && widen_by_one(rule.source_port, rule.source_port_last))) {
            continue;
        }
        return rule;
    }
}

// A rule of `chain` that has a source, nullptr when none has.
const RuleDraft* RandomRules::random_sourced(const std::vector<RuleDraft>& chain) {
    std::vector<const RuleDraft*> sourced;
    for(const RuleDraft& rule : chain) {
        if(!rule.source.empty()) {
            sourced.push_back(&rule);
        }
    }
    return sourced.empty() ? nullptr : dice_.pick(sourced);
}

std::vector<Operation> RandomRules::next_transaction(ChainModel& model) {
    std::vector<Operation> operations;
    const std::uint32_t count = dice_.between<std::uint32_t>(1, most_operations);
    for(std::uint32_t n = 0; n < count; ++n) {
        const bool ipv6 = dice_.chance(0.5);
        std::vector<RuleDraft>& chain = model.of(ipv6);
        const bool insert = chain.empty() || dice_.chance(chain.size() > crowded_chain ? 0.3 : 0.65);
        if(insert) {
            auto position = dice_.between<std::uint32_t>(1, static_cast<std::uint32_t>(chain.size() + 1));
            for(RuleDraft& rule : random_rules(chain, ipv6)) {
                chain.insert(chain.begin() + (position - 1), rule);
                operations.push_back(Operation{true, position++, std::move(rule)});
            }
            continue;
        }
        // Now and then a block of neighbours goes at once.
        const auto position = dice_.between<std::uint32_t>(1, static_cast<std::uint32_t>(chain.size()));
        const std::uint32_t block = dice_.chance(0.2) ? dice_.between<std::uint32_t>(2, 3) : 1;
        for(std::uint32_t i = 0; i < block && position <= chain.size(); ++i) {
            operations.push_back(Operation{false, position, chain[position - 1]});
            chain.erase(chain.begin() + (position - 1));
        }
    }
    return operations;
}

}  // namespace nfttest
