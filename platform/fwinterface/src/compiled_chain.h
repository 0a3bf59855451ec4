#ifndef FWINTERFACE_COMPILED_CHAIN_H
#define FWINTERFACE_COMPILED_CHAIN_H

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "interval_union.h"
#include "nft_messages.h"
#include "nft_socket.h"
#include "positional_list.h"
#include "rule_reader.h"
#include "ruleset_backend.h"

namespace fwinterface {

// Named sets this library creates carry this prefix and a number, so that a later run can
// find and delete what an earlier one left.
inline constexpr std::string_view compiled_set_prefix = "acqk_";

// One kernel rule standing for positional rules that differ only in their source address:
// the source is looked up in a set holding the union of theirs. Single addresses go into a
// hash set (constant time to change in the kernel, whatever its size), subnets into an
// interval set beside it, each with its own rule. Rules without a source share one kernel
// rule when they are alike in everything else.
struct KernelGroup {
    std::string key;  // everything of the rule but its source
    RuleSpec spec;    // the same, source cleared
    bool uses_set = false;
    bool single_addresses = false;  // the set is a hash set of single addresses, else of intervals
    std::string set_name;
    std::uint32_t set_id = 0;   // while the batch that creates the set is open
    std::uint64_t handle = 0;   // the kernel rule's handle, 0 until confirmed
    std::uint32_t rule_id = 0;  // while the batch that adds the rule is open
    std::size_t members = 0;
    IntervalUnion sources;                          // of an interval set
    std::map<Address128, std::uint32_t> addresses;  // of a hash set, with their counts
    std::map<Interval, int> pending;  // element changes of the open batch: +1 add, -1 remove
    bool alive = true;
};

// A run of positional rules with one target. Any packet a rule of the run matches gets that
// target, whichever rule of the run matches first, so the run's kernel rules may stand in any
// order; runs follow each other as in the chain.
struct Segment {
    Verdict verdict = Verdict::drop;
    std::list<KernelGroup> groups;  // kernel order
    std::unordered_map<std::string, std::list<KernelGroup>::iterator> by_key;
    std::size_t members = 0;
};

// Everything one fw_apply() changes in the compiled chains: the batch being written, how to
// take every change back, and what to learn from the kernel's answer.
class CompiledTransaction {
public:
    CompiledTransaction(NftBatch& batch, std::uint32_t& next_id) : batch_(batch), next_id_(next_id) {}
    CompiledTransaction(const CompiledTransaction&) = delete;
    CompiledTransaction& operator=(const CompiledTransaction&) = delete;
    ~CompiledTransaction() { roll_back(); }

    NftBatch& batch() { return batch_; }
    std::uint32_t take_id() { return next_id_++; }
    void on_undo(std::function<void()> step) { undo_.push_back(std::move(step)); }
    void added_rule(KernelGroup& group, std::uint32_t seq) { added_.emplace_back(&group, seq); }
    void touched(KernelGroup& group, TableRef table) { touched_.emplace_back(&group, table); }
    // Writes the element changes of the groups touched so far.
    void write_elements();

    // The kernel confirmed the batch: new rules take their handles (false when one is
    // missing from the answer), the batch ids are forgotten.
    bool learn(const BatchResult& result);
    // Takes back every change, newest first.
    void roll_back() noexcept;

    std::list<Segment> dead_segments;     // kept until the transaction ends, for undo
    std::list<KernelGroup> dead_groups;

private:
    NftBatch& batch_;
    std::uint32_t& next_id_;
    std::vector<std::function<void()>> undo_;
    std::vector<std::pair<KernelGroup*, std::uint32_t>> added_;
    std::vector<std::pair<KernelGroup*, TableRef>> touched_;
};

// The kernel side of one positional chain when rules are compiled into sets, in a chain of
// the compiled table (compiled_table.h): each kernel rule gives its verdict through the packet
// mark and returns, so that the first match decides, as in the positional chain. It follows the
// positional chain step by step (insertions and removals at positions, as the mirror does)
// and writes into the transaction's batch what each step changes in the kernel: set
// elements for a source joining or leaving a group, a rule and its set for a new group, and
// when a rule of another target splits a run (or its removal joins two) the runs concerned
// are rebuilt.
class CompiledChain {
public:
    CompiledChain(ChainKey key, std::uint64_t& set_counter) : key_(std::move(key)), set_counter_(set_counter) {}

    void insert(CompiledTransaction& tx, std::size_t index, const RuleSpec& spec);
    void remove(CompiledTransaction& tx, std::size_t index);

    // What the kernel should hold: the rules' handles in chain order, and each set with the
    // number of elements it holds.
    struct KernelView {
        std::vector<std::uint64_t> handles;
        std::vector<std::pair<std::string, std::size_t>> sets;
    };
    KernelView kernel_view() const;
    bool empty() const { return segments_.empty(); }

private:
    using SegmentIt = std::list<Segment>::iterator;
    using GroupIt = std::list<KernelGroup>::iterator;
    struct Member {
        SegmentIt segment;
        GroupIt group;
        std::optional<Interval> source;
    };

    SegmentIt new_segment(CompiledTransaction& tx, SegmentIt before, Verdict verdict);
    void drop_segment(CompiledTransaction& tx, SegmentIt segment);
    void join(CompiledTransaction& tx, std::size_t index, SegmentIt segment, const std::string& key, const RuleSpec& spec);
    void leave(CompiledTransaction& tx, std::size_t index);
    void move_member(CompiledTransaction& tx, std::size_t index, SegmentIt to);
    GroupIt new_group(CompiledTransaction& tx, SegmentIt segment, const std::string& key, const RuleSpec& spec);
    void drop_group(CompiledTransaction& tx, SegmentIt segment, GroupIt group);
    void change_sources(CompiledTransaction& tx, KernelGroup& group, const Interval& source, bool add);
    std::optional<RuleRef> first_rule_after(SegmentIt segment);
    TableRef table() const { return TableRef{key_.ipv6, key_.table}; }

    ChainKey key_;
    std::uint64_t& set_counter_;
    std::list<Segment> segments_;
    // Per position, O(log n) to reach, insert or erase anywhere; held by pointer so that the
    // journal can put a record back.
    PositionalList<std::shared_ptr<Member>> members_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_COMPILED_CHAIN_H
