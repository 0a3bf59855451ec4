#include "nft_messages.h"

#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netlink.h>
#include <sys/socket.h>

#include "nft_expressions.h"

namespace fwinterface {
namespace {

constexpr std::uint16_t message_type(int nft_message) {
    return static_cast<std::uint16_t>((NFNL_SUBSYS_NFTABLES << 8) | nft_message);
}

}  // namespace

NftBatch::NftBatch(std::uint32_t first_seq) : first_seq_(first_seq), next_seq_(first_seq + 1) {
    out_.begin_message(NFNL_MSG_BATCH_BEGIN, 0, first_seq_, AF_UNSPEC, NFNL_SUBSYS_NFTABLES);
    out_.end_message();
}

std::uint32_t NftBatch::begin(std::uint16_t type, std::uint16_t flags, TableRef table) {
    const std::uint32_t seq = next_seq_++;
    out_.begin_message(type, static_cast<std::uint16_t>(flags | NLM_F_ACK), seq,
                       table.ipv6 ? NFPROTO_IPV6 : NFPROTO_IPV4);
    return seq;
}

std::uint32_t NftBatch::add_table(TableRef table) {
    const std::uint32_t seq = begin(message_type(NFT_MSG_NEWTABLE), NLM_F_CREATE, table);
    out_.put_string(NFTA_TABLE_NAME, table.table);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_chain(TableRef table, std::string_view chain) {
    const std::uint32_t seq = begin(message_type(NFT_MSG_NEWCHAIN), NLM_F_CREATE, table);
    out_.put_string(NFTA_CHAIN_TABLE, table.table);
    out_.put_string(NFTA_CHAIN_NAME, chain);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_forward_hook_chain(TableRef table, std::string_view chain) {
    const std::uint32_t seq = begin(message_type(NFT_MSG_NEWCHAIN), NLM_F_CREATE, table);
    out_.put_string(NFTA_CHAIN_TABLE, table.table);
    out_.put_string(NFTA_CHAIN_NAME, chain);
    out_.begin_nest(NFTA_CHAIN_HOOK);
    out_.put_u32(NFTA_HOOK_HOOKNUM, NF_INET_FORWARD);
    out_.put_u32(NFTA_HOOK_PRIORITY, 0);
    out_.end_nest();
    out_.put_string(NFTA_CHAIN_TYPE, "filter");
    out_.put_u32(NFTA_CHAIN_POLICY, NF_ACCEPT);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::delete_chain(TableRef table, std::string_view chain) {
    const std::uint32_t seq = begin(message_type(NFT_MSG_DELCHAIN), 0, table);
    out_.put_string(NFTA_CHAIN_TABLE, table.table);
    out_.put_string(NFTA_CHAIN_NAME, chain);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::flush_chain(TableRef table, std::string_view chain) {
    // A rule deletion that names no rule removes every rule of the chain.
    const std::uint32_t seq = begin(message_type(NFT_MSG_DELRULE), 0, table);
    out_.put_string(NFTA_RULE_TABLE, table.table);
    out_.put_string(NFTA_RULE_CHAIN, chain);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_rule(TableRef table, std::string_view chain, std::uint32_t id,
                                 const std::optional<RuleRef>& before, const RuleSpec& spec) {
    // At the end the rule is appended without naming the last rule: the kernel finds a named
    // rule by walking the chain (or the batch, for a rule added in it), for every rule added.
    const auto placement = static_cast<std::uint16_t>(before ? 0 : NLM_F_APPEND);
    const std::uint32_t seq =
        begin(message_type(NFT_MSG_NEWRULE), static_cast<std::uint16_t>(NLM_F_CREATE | NLM_F_ECHO | placement), table);
    out_.put_string(NFTA_RULE_TABLE, table.table);
    out_.put_string(NFTA_RULE_CHAIN, chain);
    out_.put_u32(NFTA_RULE_ID, id);
    if(before && before->handle != 0) {
        out_.put_u64(NFTA_RULE_POSITION, before->handle);
    } else if(before) {
        out_.put_u32(NFTA_RULE_POSITION_ID, before->id);
    }
    put_rule_expressions(out_, spec, table.ipv6);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_jump_rule(TableRef table, std::string_view chain, std::string_view target) {
    const std::uint32_t seq =
        begin(message_type(NFT_MSG_NEWRULE), static_cast<std::uint16_t>(NLM_F_CREATE | NLM_F_APPEND), table);
    out_.put_string(NFTA_RULE_TABLE, table.table);
    out_.put_string(NFTA_RULE_CHAIN, chain);
    put_jump_expressions(out_, target);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::delete_rule(TableRef table, std::string_view chain, RuleRef rule) {
    const std::uint32_t seq = begin(message_type(NFT_MSG_DELRULE), 0, table);
    out_.put_string(NFTA_RULE_TABLE, table.table);
    out_.put_string(NFTA_RULE_CHAIN, chain);
    if(rule.handle != 0) {
        out_.put_u64(NFTA_RULE_HANDLE, rule.handle);
    } else {
        out_.put_u32(NFTA_RULE_ID, rule.id);
    }
    out_.end_message();
    return seq;
}

void NftBatch::finish() {
    out_.begin_message(NFNL_MSG_BATCH_END, 0, next_seq_++, AF_UNSPEC, NFNL_SUBSYS_NFTABLES);
    out_.end_message();
    finished_ = true;
}

}  // namespace fwinterface
