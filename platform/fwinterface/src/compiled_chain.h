#ifndef FWINTERFACE_COMPILED_CHAIN_H
#define FWINTERFACE_COMPILED_CHAIN_H

#include <array>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <memory_resource>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "compiled_table.h"
#include "counting_pool.h"
#include "interval_union.h"
#include "nft_messages.h"
#include "nft_socket.h"
#include "positional_list.h"
#include "rule_reader.h"
#include "rule_writer.h"
#include "ruleset_backend.h"
#include "undo_step.h"

namespace fwinterface {

// Named sets this library creates carry this prefix and a number, so that a later run can
// find and delete what an earlier one left.
inline constexpr std::string_view compiled_set_prefix = "acqk_";

// Largest number of intervals in one element message: the element list is one netlink
// attribute, whose length must fit in 16 bits.
inline constexpr std::size_t set_elements_per_message = 500;

struct Segment;
struct Family;

// Kernel rules standing for positional rules that differ only in their source address and
// destination port: one rule per port, all looking the source up in one set holding the union
// of the sources. That is exact only for sources that all have the same ports, so sources are
// grouped by their port list; an access control gives every source the same ports and so
// costs one set whatever its ports. Single addresses go into a hash set (constant time to
// change in the kernel, whatever its size), subnets into an interval set beside it, each with
// its own rules. Rules without a source share kernel rules when they are alike in everything
// else.
struct KernelGroup {
    // One kernel rule of the group: its handle, 0 until confirmed, and while the batch that
    // adds it is open its id.
    struct Rule {
        std::uint64_t handle = 0;
        std::uint32_t id = 0;
    };

    std::string key;  // the family's key and the port list
    Family* family = nullptr;
    char kind = 'A';  // the family's: 'H' a hash set, 'W' an interval set, 'A' any source
    std::list<Segment>::iterator segment;
    std::vector<PortMatch> ports;  // one kernel rule each, in kernel order
    std::vector<Rule> rules;       // empty until written into a batch
    std::string set_name;          // likewise
    std::uint32_t set_id = 0;      // while the batch that creates the set is open
    std::size_t members = 0;       // sources (or, without a source, 1)
    IntervalUnion sources;            // of an interval set
    std::map<Interval, int> pending;  // element changes not yet written: +1 add, -1 remove
    bool touched = false;             // listed among the groups the transaction changed
    bool alive = true;

    bool in_kernel() const { return !rules.empty(); }
};

// The ports the rules of one source name within a family, each with its number of rules,
// sorted; and the group of the port list as the kernel has it. A source whose rules the open
// transaction changed is settled into the group of its new list when the batch is written,
// once, however many of its ports came or went.
//
// One per source and family, tens of thousands in a family: 32 bytes, so that a record with
// its key and map node fits the pool's blocks of 96 bytes. The one port nearly every source
// has is kept in place; more go into a block of the family's port pool, which a transaction
// never shrinks, so that counting a port back in (a roll-back) never allocates; once the
// kernel took it, a source left with one port takes it back in place (compact()).
class SourcePorts {
public:
    using GroupIt = std::list<KernelGroup>::iterator;
    struct Count {
        PortMatch port;
        std::uint32_t rules;
    };

    explicit SourcePorts(std::pmr::memory_resource* memory) : memory_(memory) {}
    SourcePorts(const SourcePorts&) = delete;
    SourcePorts& operator=(const SourcePorts&) = delete;
    ~SourcePorts() { release(); }

    std::span<const Count> ports() const { return {counts(), size_}; }
    // Counts one rule naming `port` in (+1) or out (-1); a port counted out to 0 goes. Throws
    // std::bad_alloc with nothing changed when a new port finds no room.
    void count(PortMatch port, int step);
    // Whether its one port or none is in a block, which compact() gives back.
    bool spread() const { return capacity_log2_ != 0 && size_ <= 1; }
    void compact();

    std::optional<GroupIt> group() const { return grouped_ ? std::optional(group_) : std::nullopt; }
    void set_group(std::optional<GroupIt> group) {
        grouped_ = group.has_value();
        group_ = group.value_or(GroupIt{});
    }

private:
    std::size_t capacity() const { return std::size_t{1} << capacity_log2_; }
    Count* counts() { return capacity_log2_ == 0 ? &one_ : many_; }
    const Count* counts() const { return capacity_log2_ == 0 ? &one_ : many_; }
    void release();

    std::pmr::memory_resource* memory_;
    union {
        Count one_;
        Count* many_;
    };
    std::uint32_t size_ = 0;
    std::uint8_t capacity_log2_ = 0;  // room for 1 (in place), 4, 8, ... ports
    bool grouped_ = false;

public:
    bool unsettled = false;

private:
    GroupIt group_{};
};
static_assert(sizeof(SourcePorts) == 32);

// A rule's source as its family's records key it: the addresses it covers, or for a rule
// without a source `any_source`, an interval no address makes (its first above its last).
inline constexpr Interval any_source{Address128{UINT64_MAX, UINT64_MAX}, Address128{0, 0}};

using SourceMap = std::pmr::map<Interval, SourcePorts>;
// A source's record. Its address holds while the record is in its map, and again once a
// roll-back put it back: extracted nodes keep their element.
using SourceRecord = SourceMap::value_type;

// The rules of a run that are alike but for their source and destination port.
//
// A source's record outlives the rules that name it (a port change keeps it), while a rebuild
// allocates every rule's own blocks anew before it frees the old ones. Among those blocks in the
// heap, one record per source kept each freed generation's pages resident for good, so the
// records and their port lists come from a pool of the family's own. The pool keeps what the
// family once held (its records are reused) until the family goes.
//
// The map is not destroyed with the family: every node and port list it holds lives in the
// family's pools, which go whole right after. Taking the map apart first walked every node
// only to give it back to its pool; for a deleted access control of 65,536 sources, a cache
// miss per node and a seventh of the deletion.
struct Family {
    Family()
        : pool(std::make_unique<std::pmr::unsynchronized_pool_resource>()),
          port_pool(std::make_unique<CountingPool>()) {
        new(&sources) SourceMap(pool.get());
    }
    ~Family() {}  // see above: the pools release what the map holds
    Family(const Family&) = delete;
    Family& operator=(const Family&) = delete;

    std::string key;  // everything of the rule but its source address and destination port
    RuleSpec spec;    // the same; the source only tells whether there is one
    // The family's matches as fwrules writes and compares them: a member's rule is these with
    // its source and port put in, without a RuleSpec made and converted per rule (a deleted
    // access control's every rule is read so, to check its removal).
    fwrules::TextMatches matches;
    std::unique_ptr<std::pmr::unsynchronized_pool_resource> pool;
    // The sources' port lists of more than one port: short-lived when ports change.
    std::unique_ptr<CountingPool> port_pool;
    union {
        SourceMap sources;  // destroyed with the pools, not by its destructor
    };
    std::size_t members = 0;  // positional rules
    bool dropped = false;     // removed whole by the open transaction: its sources settle nowhere
};

// A run of positional rules with one target. Any packet a rule of the run matches gets that
// target, whichever rule of the run matches first, so the run's kernel rules may stand in any
// order; runs follow each other as in the chain.
struct Segment {
    Verdict verdict = Verdict::drop;
    std::list<KernelGroup> groups;  // kernel order
    std::unordered_map<std::string, std::list<KernelGroup>::iterator> by_key;
    std::unordered_map<std::string, Family> families;
    std::size_t members = 0;
};

class CompiledChain;

// A new set filled before the transaction that makes rules look it up: the kernel adds
// elements at about a microsecond each within its commit, and a set of tens of thousands in
// the transaction itself would hold the event loop that long in one system call. Unreferenced,
// the set matches nothing, so filling it in transactions of its own changes no packet's fate.
struct SetFill {
    TableRef table;
    std::string name;
    bool intervals = false;
    std::vector<Interval> elements;
};

// Everything one fw_apply() changes in the compiled chains: the batch being written, how to
// take every change back, and what to learn from the kernel's answer.
class CompiledTransaction {
public:
    // `operations`: how many are expected, to size the journal (a few steps each).
    CompiledTransaction(NftBatch& batch, std::uint32_t& next_id, std::size_t operations = 0)
        : batch_(batch), next_id_(next_id), serial_(next_serial()) {
        undo_.reserve(operations * 8);
    }
    CompiledTransaction(const CompiledTransaction&) = delete;
    CompiledTransaction& operator=(const CompiledTransaction&) = delete;
    ~CompiledTransaction() { roll_back(); }

    NftBatch& batch() { return batch_; }
    std::uint32_t take_id() { return next_id_++; }
    // Tells this transaction from every other of the process, those before it included.
    std::uint64_t serial() const { return serial_; }
    template <typename F>
    void on_undo(F&& step) {
        undo_.emplace_back(std::forward<F>(step));
    }
    void added_rule(KernelGroup& group, std::size_t rule, std::uint32_t seq) { added_.push_back({&group, rule, seq}); }
    void touched(CompiledChain& chain, KernelGroup& group);
    void unsettled(CompiledChain& chain, std::list<Segment>::iterator segment, Family& family, SourceRecord& source) {
        unsettled_.push_back({&chain, segment, &family, &source});
    }
    // A source settled with one port in a block: it takes the port back in place once the
    // kernel took the transaction.
    void spread(Family& family, SourceRecord& source) { spread_.emplace_back(&family, &source); }
    // Writes what the operations so far changed in the kernel: the rules and sets of groups
    // left empty go, those of new groups come, then the element changes. Groups a source
    // only passed through on its way (its ports one by one) never reach the kernel.
    void write();
    // From now on a new set of at least `elements` addresses is not created in the batch but
    // listed in fills(), for the caller to create and fill before it sends the batch.
    void fill_sets_ahead(std::size_t elements) { fill_from_ = elements; }
    std::size_t fill_from() const { return fill_from_; }
    std::vector<SetFill>& fills() { return fills_; }

    // The kernel confirmed the batch: new rules take their handles (false when one is
    // missing from the answer), the batch ids are forgotten, sources left with one port take
    // it back in place and a family's port pool with no block lent goes back to the heap.
    bool learn(const BatchResult& result);
    // Takes back every change, newest first.
    void roll_back() noexcept;

    std::list<Segment> dead_segments;     // kept until the transaction ends, for undo
    std::list<KernelGroup> dead_groups;
    std::list<std::unordered_map<std::string, Family>::node_type> dead_families;
    std::list<SourceMap::node_type> dead_sources;  // destroyed before the families holding their pools

private:
    struct Unsettled {
        CompiledChain* chain;
        std::list<Segment>::iterator segment;
        Family* family;
        SourceRecord* record;
    };
    struct Added {
        KernelGroup* group;
        std::size_t rule;
        std::uint32_t seq;
    };

    static std::uint64_t next_serial();

    NftBatch& batch_;
    std::uint32_t& next_id_;
    std::uint64_t serial_;
    std::vector<UndoStep> undo_;
    std::vector<Added> added_;
    std::vector<std::pair<CompiledChain*, KernelGroup*>> touched_;
    std::vector<Unsettled> unsettled_;
    std::vector<std::pair<Family*, SourceRecord*>> spread_;
    std::size_t fill_from_ = 0;  // 0: every set in the batch
    std::vector<SetFill> fills_;
};

// The kernel side of one positional chain when rules are compiled into sets, in a chain of
// the compiled table (compiled_table.h): each kernel rule gives its verdict through the packet
// mark and returns, so that the first match decides, as in the positional chain. It follows the
// positional chain step by step (insertions and removals at positions, as the mirror does);
// when the transaction is written, its batch gets the net change in the kernel: set elements
// for sources joining or leaving a group, rules and a set for a new group, and when a rule of
// another target split a run (or its removal joined two) the groups of the runs concerned.
class CompiledChain {
public:
    CompiledChain(ChainKey key, std::uint64_t& set_counter) : key_(std::move(key)), set_counter_(set_counter) {}

    // `text` is the rule's text, which `spec` was read from: kept only when the chain would
    // write it back otherwise (write_rule_text()). Empty for a text fwrules wrote, which it
    // writes back alike.
    void insert(CompiledTransaction& tx, std::size_t index, const RuleSpec& spec, std::string_view text);
    void remove(CompiledTransaction& tx, std::size_t index);
    // Removes the `count` rules from `index` on, as many remove() calls would. A family whose
    // every rule is among them goes whole, its kernel rules and set deleted, without a step
    // per source: an access control deleted costs the kernel a few messages, and this chain
    // about as little as freeing its records.
    void remove_run(CompiledTransaction& tx, std::size_t index, std::size_t count);
    // Once the kernel took the transaction: the removed members' nodes were kept for a roll-back
    // only. Kept on, the next rebuild would place its members in them, among the freed blocks
    // of the generation before. The runs remove_run() took out are retired, not freed: one
    // node each, a deleted access control of 65,536 sources took the heap a seventh of its
    // deletion to free them, which release_retired() does later, when the memory goes back.
    void release_spares();
    void release_retired() { retired_.clear(); }

    // The positional chain: its rules, and their texts from 0-based position `first` on, each
    // through `put` (the view lasts for the call).
    std::size_t size() const { return members_.size(); }
    template <typename Put>
    void for_each_text(std::size_t first, std::size_t count, Put&& put) const {
        members_.for_each(first, count, [this, &put](const Member& member) { put(text_of(member)); });
    }
    // The same rules as a removal is checked against: their matches, or a text kept as given.
    template <typename Put>
    void for_each_image(std::size_t first, std::size_t count, Put&& put) const {
        members_.for_each(first, count, [this, &put](const Member& member) { put(image_of(member)); });
    }
    // Whether the rule at 0-based `index` has this text.
    bool holds(std::size_t index, std::string_view text) const { return text_of(members_[index]) == text; }
    // The matches of every rule, with its text, in chain order.
    template <typename Put>
    void for_each_rule(Put&& put) const {
        members_.for_each(0, members_.size(), [this, &put](const Member& member) { put(spec_of(member), text_of(member)); });
    }

    // What the kernel should hold: the rules' handles in chain order, and each set with the
    // number of elements it holds.
    struct KernelView {
        std::vector<std::uint64_t> handles;
        std::vector<std::pair<std::string, std::size_t>> sets;
    };
    KernelView kernel_view() const;
    bool empty() const { return segments_.empty(); }
    // The verdicts its rules give, which the positional chain dispatches.
    DispatchedVerdicts verdicts() const { return verdicts_with(runs_of_); }

private:
    friend class CompiledTransaction;
    using SegmentIt = std::list<Segment>::iterator;
    using GroupIt = std::list<KernelGroup>::iterator;
    // The source is its family's record, not a copy of the address: a member weighs 32 bytes
    // instead of 56, and leaving needs no lookup.
    struct Member {
        SegmentIt segment;
        Family* family;
        SourceRecord* record;
        PortMatch port;
        std::uint32_t own_text = 0;  // its text as given, in own_texts_, when not 0
    };
    // Journals `step` for a roll-back, unless the chain stood empty when `tx` first changed it
    // (begin_change()): such a chain is taken back by emptying it. An install into an empty
    // chain, at start or on a restore, journals one step instead of several per rule, each 56
    // bytes of fresh memory: 7 MB for 40,000 rules.
    template <typename F>
    void journal(CompiledTransaction& tx, F&& step) {
        if(unjournaled_in_ != tx.serial()) {
            tx.on_undo(std::forward<F>(step));
        }
    }
    void begin_change(CompiledTransaction& tx);
    RuleSpec spec_of(const Member& member) const;
    // Its text kept as given, or its family's matches with its source and port put in:
    // borrowed until the chain changes.
    RuleImage image_of(const Member& member) const;
    // Valid until the next call.
    std::string_view text_of(const Member& member) const;
    void release_own_text(CompiledTransaction& tx, const Member& member);

    SegmentIt new_segment(CompiledTransaction& tx, SegmentIt before, Verdict verdict);
    void drop_segment(CompiledTransaction& tx, SegmentIt segment);
    void count_run(Verdict verdict, int step);
    Family& family_of(CompiledTransaction& tx, SegmentIt segment, const std::string& key, const RuleSpec& spec);
    void join(CompiledTransaction& tx, std::size_t index, SegmentIt segment, Family& family, const Interval& source);
    // The source's record in `family`, made (and journaled) when new, which `fresh` tells.
    SourceRecord& record_of(CompiledTransaction& tx, Family& family, const Interval& source, bool& fresh);
    void leave(CompiledTransaction& tx, std::size_t index);
    // Counts a rule of the record's source naming `port` in (+1) or out (-1) of the family;
    // the source is settled into the group of its port list when the batch is written. A
    // `fresh` record is taken back whole, its count with it.
    void count_port(CompiledTransaction& tx, SegmentIt segment, Family& family, SourceRecord& record, PortMatch port,
                    int step, bool fresh = false);
    void settle(CompiledTransaction& tx, SegmentIt segment, Family& family, SourceRecord& record);
    GroupIt group_for(CompiledTransaction& tx, SegmentIt segment, Family& family, const SourcePorts& ports);
    void enter_group(CompiledTransaction& tx, GroupIt group, const Interval& source, bool add);
    void move_member(CompiledTransaction& tx, std::size_t index, SegmentIt to);
    void count_families(std::size_t index, std::size_t count, SegmentIt segment,
                        std::vector<std::pair<Family*, std::size_t>>& families, bool& alike) const;
    void drop_family(CompiledTransaction& tx, SegmentIt segment, Family& family);
    // The last member of `segment`, at `index`, went: the run goes, and the runs around it
    // become one when they have the same target.
    void emptied(CompiledTransaction& tx, SegmentIt segment, std::size_t index);
    // The write phase, group by group (see CompiledTransaction::write).
    void retire(CompiledTransaction& tx, KernelGroup& group);
    void materialise(CompiledTransaction& tx, KernelGroup& group);
    std::optional<RuleRef> first_rule_after(SegmentIt segment);
    TableRef table() const { return TableRef{key_.ipv6, key_.table}; }

    ChainKey key_;
    std::uint64_t& set_counter_;
    std::list<Segment> segments_;
    // Runs per verdict, in the order of dispatched_verdicts: verdicts() without a walk.
    std::array<std::size_t, dispatched_verdicts.size()> runs_of_{};
    // Per position, O(log n) to reach, insert or erase anywhere; in their nodes, which a
    // member of its own block would double.
    using Members = PositionalList<Member>;
    Members members_;
    std::vector<Members> taken_;   // runs remove_run() took out, kept for a roll-back only
    std::vector<Members> retired_;  // those of transactions that landed, until release_retired()
    std::vector<Member> removed_;  // members remove() took out, likewise
    std::string family_key_;      // room for the family key of the rule being inserted
    mutable RuleTextRoom text_room_;  // for the text of a rule being written
    // The texts of the rules whose text write_rule_text() does not give back as they came,
    // and those of rules the open transaction removed, to forget once it landed.
    std::unordered_map<std::uint32_t, std::string> own_texts_;
    std::uint32_t own_text_count_ = 0;
    std::vector<std::uint32_t> released_texts_;
    std::uint64_t unjournaled_in_ = 0;  // the serial of the transaction that found it empty
};

}  // namespace fwinterface

#endif  // FWINTERFACE_COMPILED_CHAIN_H
