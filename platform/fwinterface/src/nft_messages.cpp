#include "nft_messages.h"

#include <array>

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

NftBatch::NftBatch(std::uint32_t first_seq, std::uint32_t generation)
    : first_seq_(first_seq), next_seq_(first_seq + 1) {
    out_.begin_message(NFNL_MSG_BATCH_BEGIN, 0, first_seq_, AF_UNSPEC, NFNL_SUBSYS_NFTABLES);
    if(generation != 0) {
        generation_at_ = out_.bytes().size() + NLA_HDRLEN;
        out_.put_u32(NFNL_BATCH_GENID, generation);
    }
    out_.end_message();
}

void NftBatch::set_generation(std::uint32_t generation) {
    if(generation_at_ != 0) {
        out_.overwrite_u32(generation_at_, generation);
    }
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

std::uint32_t NftBatch::delete_table(TableRef table) {
    const std::uint32_t seq = begin(message_type(NFT_MSG_DELTABLE), 0, table);
    out_.put_string(NFTA_TABLE_NAME, table.table);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_forward_hook_chain(TableRef table, std::string_view chain, std::int32_t priority) {
    const std::uint32_t seq = begin(message_type(NFT_MSG_NEWCHAIN), NLM_F_CREATE, table);
    out_.put_string(NFTA_CHAIN_TABLE, table.table);
    out_.put_string(NFTA_CHAIN_NAME, chain);
    out_.begin_nest(NFTA_CHAIN_HOOK);
    out_.put_u32(NFTA_HOOK_HOOKNUM, NF_INET_FORWARD);
    out_.put_u32(NFTA_HOOK_PRIORITY, static_cast<std::uint32_t>(priority));
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
    const std::uint32_t seq = begin_rule(table, chain, id, before);
    put_rule_expressions(out_, spec, table.ipv6);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_set_rule(TableRef table, std::string_view chain, std::uint32_t id,
                                     const std::optional<RuleRef>& before, const RuleSpec& spec, const SetRef& set) {
    const std::uint32_t seq = begin_rule(table, chain, id, before);
    put_rule_expressions(out_, spec, table.ipv6, &set);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_marking_rule(TableRef table, std::string_view chain, std::uint32_t id,
                                         const std::optional<RuleRef>& before, const RuleSpec& spec, const SetRef* set) {
    const std::uint32_t seq = begin_rule(table, chain, id, before);
    put_rule_expressions(out_, spec, table.ipv6, set, verdict_mark(spec.verdict));
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_mark_clear_rule(TableRef table, std::string_view chain) {
    const std::uint32_t seq = begin_appended_rule(table, chain);
    put_mark_clear_expressions(out_);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_mark_dispatch_rule(TableRef table, std::string_view chain, std::uint32_t id,
                                               Verdict verdict) {
    const std::uint32_t seq = begin_rule(table, chain, id, std::nullopt);
    put_mark_dispatch_expressions(out_, verdict, table.ipv6);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::begin_rule(TableRef table, std::string_view chain, std::uint32_t id,
                                   const std::optional<RuleRef>& before) {
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
    return seq;
}

std::uint32_t NftBatch::add_address_set(TableRef table, std::string_view name, std::uint32_t id, bool intervals) {
    // Data types as nft knows them, so that `nft list` prints the elements as addresses.
    constexpr std::uint32_t ipv4_address_type = 7;
    constexpr std::uint32_t ipv6_address_type = 8;
    const std::uint32_t seq = begin(message_type(NFT_MSG_NEWSET), NLM_F_CREATE, table);
    out_.put_string(NFTA_SET_TABLE, table.table);
    out_.put_string(NFTA_SET_NAME, name);
    if(intervals) {
        out_.put_u32(NFTA_SET_FLAGS, NFT_SET_INTERVAL);
    }
    out_.put_u32(NFTA_SET_KEY_TYPE, table.ipv6 ? ipv6_address_type : ipv4_address_type);
    out_.put_u32(NFTA_SET_KEY_LEN, table.ipv6 ? 16 : 4);
    out_.put_u32(NFTA_SET_ID, id);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::delete_set(TableRef table, std::string_view name) {
    const std::uint32_t seq = begin(message_type(NFT_MSG_DELSET), 0, table);
    out_.put_string(NFTA_SET_TABLE, table.table);
    out_.put_string(NFTA_SET_NAME, name);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_set_elements(TableRef table, const SetRef& set, bool intervals,
                                         std::span<const Interval> elements) {
    return set_elements(message_type(NFT_MSG_NEWSETELEM), NLM_F_CREATE, table, set, intervals, elements);
}

std::uint32_t NftBatch::delete_set_elements(TableRef table, const SetRef& set, bool intervals,
                                            std::span<const Interval> elements) {
    return set_elements(message_type(NFT_MSG_DELSETELEM), 0, table, set, intervals, elements);
}

std::uint32_t NftBatch::set_elements(std::uint16_t type, std::uint16_t flags, TableRef table, const SetRef& set,
                                     bool intervals, std::span<const Interval> elements) {
    const std::uint32_t seq = begin(type, flags, table);
    out_.put_string(NFTA_SET_ELEM_LIST_TABLE, table.table);
    out_.put_string(NFTA_SET_ELEM_LIST_SET, set.name);
    if(set.id != 0) {
        out_.put_u32(NFTA_SET_ELEM_LIST_SET_ID, set.id);
    }
    const std::size_t length = table.ipv6 ? 16 : 4;
    auto element = [&](const Address128& address, bool end) {
        const std::array<std::uint8_t, 16> bytes = bytes_of(address);
        out_.begin_nest(NFTA_LIST_ELEM);
        out_.begin_nest(NFTA_SET_ELEM_KEY);
        out_.put(NFTA_DATA_VALUE, std::span<const std::uint8_t>(bytes).last(length));
        out_.end_nest();
        if(end) {
            out_.put_u32(NFTA_SET_ELEM_FLAGS, NFT_SET_ELEM_INTERVAL_END);
        }
        out_.end_nest();
    };
    const Address128 highest = highest_address(table.ipv6);
    out_.begin_nest(NFTA_SET_ELEM_LIST_ELEMENTS);
    for(const Interval& interval : elements) {
        element(interval.first, false);
        if(intervals && interval.last != highest) {
            element(interval.last.next(), true);
        }
    }
    out_.end_nest();
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::add_jump_rule(TableRef table, std::string_view chain, std::string_view target) {
    const std::uint32_t seq = begin_appended_rule(table, chain);
    put_jump_expressions(out_, target);
    out_.end_message();
    return seq;
}

std::uint32_t NftBatch::begin_appended_rule(TableRef table, std::string_view chain) {
    const std::uint32_t seq =
        begin(message_type(NFT_MSG_NEWRULE), static_cast<std::uint16_t>(NLM_F_CREATE | NLM_F_APPEND), table);
    out_.put_string(NFTA_RULE_TABLE, table.table);
    out_.put_string(NFTA_RULE_CHAIN, chain);
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
