#ifndef TESTS_NFTABLES_REFERENCE_CHAIN_H
#define TESTS_NFTABLES_REFERENCE_CHAIN_H

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "packets.h"
#include "random_rules.h"
#include "rule_reader.h"

namespace nfttest {

// What a positional chain does to a packet, read from its rule texts alone: the first rule
// that matches decides, and a packet no rule matches passes. This is the meaning any kernel
// form of the chain must keep.
class ReferenceChain {
public:
    // Reads the rule texts of one chain, in order. nullopt, with the rule and the reason in
    // `error`, for a text the rule reader refuses or a target that is no filter verdict.
    static std::optional<ReferenceChain> read(std::span<const std::string> texts, bool ipv6, std::string& error);

    // 1-based position of the rule that decides `probe`, 0 when none matches.
    std::size_t deciding_rule(const Probe& probe) const;

    // Whether the chain lets `probe` through.
    bool passes(const Probe& probe) const;

    const std::vector<fwinterface::RuleSpec>& rules() const { return rules_; }

private:
    std::vector<fwinterface::RuleSpec> rules_;
};

// The rule texts of `chain` in a fw_dump() text, in order: what follows "-A <chain> ".
std::vector<std::string> chain_rules(std::string_view dump, std::string_view chain);

// `count` probes of one family aimed at the rules of `chain`: mostly at one rule each, on
// and just beside the edges of its source (first and last address, one before, one after)
// and of its port ranges, with its protocol, ICMP type, destination and MAC or a near miss;
// the rest anywhere in the ranges rules use. Every probe has a source the router forwards
// and a destination it routes to the server.
std::vector<Probe> choose_probes(const ReferenceChain& chain, bool ipv6, std::size_t count, Dice& dice);

}  // namespace nfttest

#endif  // TESTS_NFTABLES_REFERENCE_CHAIN_H
