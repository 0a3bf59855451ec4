#ifndef TESTS_NFTABLES_RANDOM_RULES_H
#define TESTS_NFTABLES_RANDOM_RULES_H

#include <array>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <fwrules/fw_rule.h>

#include "packets.h"
#include "rule_maker.h"

namespace nfttest {

// Seeded choices: the same seed gives the same sequence, so a failure can be replayed.
class Dice {
public:
    explicit Dice(std::uint32_t seed) : engine_(seed) {}

    // A whole number in [low, high].
    template <typename Number>
    Number between(Number low, Number high) {
        return static_cast<Number>(std::uniform_int_distribution<long long>(low, high)(engine_));
    }

    // true with probability `p`.
    bool chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(engine_) < p; }

    // One of the items of a non-empty array or vector.
    template <typename Items>
    const auto& pick(const Items& items) {
        return items[between<std::size_t>(0, std::size(items) - 1)];
    }

private:
    std::mt19937 engine_;
};

// A few ports shared by many rules and probes, so that ranges meet and overlap.
inline constexpr std::uint16_t common_ports[] = {22, 53, 80, 443, 1000, 1024, 8080};

using fwtest::Rule;
using fwtest::RuleMaker;
using fwtest::text_of;

// A rule as a test sets it up, field by field, so that it can be built again for a removal
// or a replay.
struct RuleDraft {
    bool ipv6 = false;
    std::string source;       // "" for any
    std::string source_mask;  // "" for the whole address, else a prefix length
    std::string destination;  // "" for any
    std::string mac;          // "" for any
    std::uint32_t protocol = 0;
    std::uint32_t source_port = 0;
    std::uint32_t source_port_last = 0;
    std::uint32_t destination_port = 0;
    std::uint32_t destination_port_last = 0;
    std::int32_t icmp_type = -1;
    std::int32_t icmp_code = -1;
    fw_rule_policy_t target = FW_RULE_POLICY_DROP;

    // nullptr when fwrules refuses a field.
    Rule make() const;
};

// One fw_add_rule() or fw_delete_rule() call.
struct Operation {
    bool insert = true;
    std::uint32_t position = 0;  // 1-based
    RuleDraft rule;
};

// "insert ipv4 @3 -s 10.60.5.7/32 -j DROP"
std::string describe(const Operation& operation);

// The rules a chain of each family holds, in order, as the test put them there.
struct ChainModel {
    std::array<std::vector<RuleDraft>, 2> rules;  // [0] IPv4, [1] IPv6

    std::vector<RuleDraft>& of(bool ipv6) { return rules[ipv6 ? 1 : 0]; }
};

// An address from the few ranges that rules and probes share, so that they meet: the
// client's subnet and two other ranges of 1024 addresses, for each family.
IpAddress random_address(Dice& dice, bool ipv6);

// Random transactions on both access-control chains: mostly drop rules, with accept and
// reject rules between them; rules that share everything but the source, often inserted
// next to each other (a range of addresses expanded into one rule per address); single
// addresses, subnets and no source; some with ports, ICMP types, destination or MAC; a few
// of the protocols no probe has.
class RandomRules {
public:
    explicit RandomRules(Dice& dice);

    // The operations of one transaction; `model` is updated as each of them is made, so
    // that every position fits the chains as the earlier operations left them.
    std::vector<Operation> next_transaction(ChainModel& model);

private:
    RuleDraft random_shape(bool ipv6);
    std::vector<RuleDraft> random_rules(const std::vector<RuleDraft>& chain, bool ipv6);
    const RuleDraft* random_sourced(const std::vector<RuleDraft>& chain);
    RuleDraft one_field_changed(RuleDraft rule);

    Dice& dice_;
    std::array<std::vector<RuleDraft>, 2> shapes_;  // per family, the rules without source
};

}  // namespace nfttest

#endif  // TESTS_NFTABLES_RANDOM_RULES_H
