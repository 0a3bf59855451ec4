#ifndef FWINTERFACE_NFT_EXPRESSIONS_H
#define FWINTERFACE_NFT_EXPRESSIONS_H

#include <string_view>

#include "netlink_writer.h"
#include "rule_reader.h"

namespace fwinterface {

// The NFTA_RULE_EXPRESSIONS attribute of a rule of the given family: each match as the
// nf_tables expressions that load the field into a register and compare it, then the target.
// A transport field (ports, ICMP) always follows the protocol match it depends on.
void put_rule_expressions(NetlinkWriter& out, const RuleSpec& spec, bool ipv6);

// The NFTA_RULE_EXPRESSIONS attribute of a rule that jumps to `chain`.
void put_jump_expressions(NetlinkWriter& out, std::string_view chain);

}  // namespace fwinterface

#endif  // FWINTERFACE_NFT_EXPRESSIONS_H
