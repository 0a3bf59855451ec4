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
// `source_set` the source address is looked up in that set (spec.source is not used). With a
// `verdict_mark` (not 0) the target is replaced: those bits go into the packet mark's
// verdict_mark_mask bits and the chain returns.
void put_rule_expressions(NetlinkWriter& out, const RuleSpec& spec, bool ipv6, const SetRef* source_set = nullptr,
                          std::uint32_t verdict_mark = 0);

// Bits of the packet mark that carry a compiled chain's verdict to the positional chain. Other
// users of the mark must leave them alone in the forward path.
inline constexpr std::uint32_t verdict_mark_mask = 0x30000000;
// The mark bits that stand for a verdict; 0 for one that has none (masquerade).
std::uint32_t verdict_mark(Verdict verdict);

// A rule clearing the verdict bits of the packet mark, so that no mark set elsewhere is read
// as a verdict.
void put_mark_clear_expressions(NetlinkWriter& out);
// A rule giving `verdict` to packets whose mark carries it, written as iptables-nft writes
// `-m mark --mark <bits>/<mask> -j <target>`, so that iptables-nft reads it back.
void put_mark_dispatch_expressions(NetlinkWriter& out, Verdict verdict, bool ipv6);

// The NFTA_RULE_EXPRESSIONS attribute of a rule that jumps to `chain`.
void put_jump_expressions(NetlinkWriter& out, std::string_view chain);

}  // namespace fwinterface

#endif  // FWINTERFACE_NFT_EXPRESSIONS_H
