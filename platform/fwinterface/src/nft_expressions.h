#ifndef FWINTERFACE_NFT_EXPRESSIONS_H
#define FWINTERFACE_NFT_EXPRESSIONS_H

#include <cstdint>
#include <string_view>

#include "netlink_writer.h"
#include "rule_reader.h"

namespace fwinterface {

// A named set of the rule's table that the source address is looked up in; `id` names it
// instead while the batch that creates it is not committed (0 otherwise).
struct SetRef {
    std::string_view name;
    std::uint32_t id = 0;
};

// The NFTA_RULE_EXPRESSIONS attribute of a rule of the given family: each match as the
// nf_tables expressions that load the field into a register and compare it, then the target.
// A transport field (ports, ICMP) always follows the protocol match it depends on. With
// `source_set` the source address is looked up in that set (spec.source is not used).
void put_rule_expressions(NetlinkWriter& out, const RuleSpec& spec, bool ipv6, const SetRef* source_set = nullptr);

// The NFTA_RULE_EXPRESSIONS attribute of a rule that jumps to `chain`.
void put_jump_expressions(NetlinkWriter& out, std::string_view chain);

}  // namespace fwinterface

#endif  // FWINTERFACE_NFT_EXPRESSIONS_H
