#ifndef FWINTERFACE_NFT_MESSAGES_H
#define FWINTERFACE_NFT_MESSAGES_H

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "interval_union.h"
#include "netlink_writer.h"
#include "nft_expressions.h"
#include "rule_reader.h"

namespace fwinterface {

// Where a table lives: "ip" or "ip6", and its name.
struct TableRef {
    bool ipv6 = false;
    std::string_view table;
};

// A rule the kernel knows by its handle, or one added earlier in the same batch, known by
// the id this batch gave it (then `handle` is 0).
struct RuleRef {
    std::uint64_t handle = 0;
    std::uint32_t id = 0;
};

// One nf_tables transaction: a batch-begin message, the messages added, a batch-end message,
// with consecutive sequence numbers from `first_seq` on. Every message asks for an
// acknowledgement, so that the sender can tell when the kernel has answered all of them.
class NftBatch {
public:
    // With a `generation` (not 0) the kernel refuses the whole batch (ERESTART) unless the
    // ruleset is still at that generation.
    explicit NftBatch(std::uint32_t first_seq, std::uint32_t generation = 0);

    // Each adds one message and returns its sequence number. Tables and chains are added
    // without "exclusive", so adding one that exists changes nothing.
    std::uint32_t add_table(TableRef table);
    std::uint32_t add_chain(TableRef table, std::string_view chain);
    // Deletes the table with everything in it.
    std::uint32_t delete_table(TableRef table);
    // A base chain of type filter on the forward hook, policy accept.
    std::uint32_t add_forward_hook_chain(TableRef table, std::string_view chain, std::int32_t priority = 0);
    std::uint32_t delete_chain(TableRef table, std::string_view chain);
    std::uint32_t flush_chain(TableRef table, std::string_view chain);
    // A rule with the given id (unique in the batch, not 0), in front of `before` or, without
    // it, at the end of the chain; the kernel echoes it back with its handle.
    std::uint32_t add_rule(TableRef table, std::string_view chain, std::uint32_t id,
                           const std::optional<RuleRef>& before, const RuleSpec& spec);
    // The same, looking the source address up in a set of the table instead of spec.source.
    std::uint32_t add_set_rule(TableRef table, std::string_view chain, std::uint32_t id,
                               const std::optional<RuleRef>& before, const RuleSpec& spec, const SetRef& set);
    // The same, giving its verdict through the packet mark (see put_rule_expressions).
    std::uint32_t add_marking_rule(TableRef table, std::string_view chain, std::uint32_t id,
                                   const std::optional<RuleRef>& before, const RuleSpec& spec, const SetRef* set);
    // At the end of the chain: a rule clearing the mark's verdict bits, one giving `verdict` to
    // packets whose mark carries it (see nft_expressions.h).
    std::uint32_t add_mark_clear_rule(TableRef table, std::string_view chain);
    std::uint32_t add_mark_dispatch_rule(TableRef table, std::string_view chain, std::uint32_t id, Verdict verdict);
    // A set of source addresses of the table's family, held as intervals or as single
    // addresses (a hash set); `id` (not 0, unique in the batch) lets later messages of the
    // batch name it before it exists.
    std::uint32_t add_address_set(TableRef table, std::string_view name, std::uint32_t id, bool intervals);
    std::uint32_t delete_set(TableRef table, std::string_view name);
    // Adds (or removes) elements: of an interval set, each interval as its first address and,
    // unless it ends at the highest address, the address after its last flagged as an interval
    // end; of a hash set, the first address of each (single-address) interval.
    std::uint32_t add_set_elements(TableRef table, const SetRef& set, bool intervals, std::span<const Interval> elements);
    std::uint32_t delete_set_elements(TableRef table, const SetRef& set, bool intervals,
                                      std::span<const Interval> elements);
    std::uint32_t add_jump_rule(TableRef table, std::string_view chain, std::string_view target);
    std::uint32_t delete_rule(TableRef table, std::string_view chain, RuleRef rule);

    // Closes the batch; nothing may be added afterwards.
    void finish();
    // The generation the batch is written for, once other batches were committed after it was
    // begun (a batch made with a generation only).
    void set_generation(std::uint32_t generation);

    std::span<const std::byte> bytes() const { return out_.bytes(); }
    std::uint32_t first_seq() const { return first_seq_; }
    // Sequence number of the last message added.
    std::uint32_t last_seq() const { return next_seq_ - 1; }
    // Messages between begin and end: the ones that are acknowledged.
    std::uint32_t messages() const { return next_seq_ - first_seq_ - 1 - (finished_ ? 1 : 0); }

private:
    std::uint32_t begin(std::uint16_t type, std::uint16_t flags, TableRef table);
    // Opens a rule message; the caller writes the expressions and ends the message.
    std::uint32_t begin_rule(TableRef table, std::string_view chain, std::uint32_t id,
                             const std::optional<RuleRef>& before);
    // Opens a rule message appending an unnamed rule, not echoed.
    std::uint32_t begin_appended_rule(TableRef table, std::string_view chain);
    std::uint32_t set_elements(std::uint16_t type, std::uint16_t flags, TableRef table, const SetRef& set,
                               bool intervals, std::span<const Interval> elements);

    NetlinkWriter out_;
    std::size_t generation_at_ = 0;  // where the generation's value lies in out_, 0 when none
    std::uint32_t first_seq_;
    std::uint32_t next_seq_;
    bool finished_ = false;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_NFT_MESSAGES_H
