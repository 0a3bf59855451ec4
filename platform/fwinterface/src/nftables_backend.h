#ifndef FWINTERFACE_NFTABLES_BACKEND_H
#define FWINTERFACE_NFTABLES_BACKEND_H

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "compiled_chain.h"
#include "compiled_table.h"
#include "conntrack_cutter.h"
#include "inline_text.h"
#include "nft_events.h"
#include "nft_socket.h"
#include "ruleset_backend.h"
#include "undo_log.h"

namespace fwinterface {

// The running ruleset in the kernel's nf_tables, in the network namespace of the thread
// that started the backend. Each chain is a chain of table "filter" of family ip or ip6.
//
// The backend keeps a mirror of its chains: per position the rule's text and the handle
// the kernel gave it (a compiled chain, below, is its own mirror). Positions are turned into
// handles through the mirror, so a transaction costs its own size, never a listing of the
// kernel's chains; the handles of new rules come back in the kernel's echo of the batch. A transaction is one nf_tables
// batch, which the kernel applies whole or not at all; the mirror follows only what the
// kernel confirmed.
//
// The access-control chains belong to this backend: starting empties them of whatever a
// previous run left. Any other chain is taken on at its first insertion, created when
// missing and refused when it already holds rules, so that no one else's rules are lost.
//
// Nobody else should change what this backend owns, but on a gateway someone may (a firewall
// reload, an administrator, a package upgrade). The backend follows nf_tables' notifications
// and every batch carries the generation it was written for: when another program changed
// its tables, chains or sets, it writes them anew from the mirror in one transaction (a
// repair, logged) before anything else; a batch refused because the ruleset moved on is
// written again after that.
//
// With the option `sets` the access-control chains are compiled (see CompiledChain) into a
// table of their own (compiled_table.h): the kernel holds one rule per run of alike rules,
// matching the source against a named set, and the positional chain only turns their verdict
// into its own; positions, the dump and every answer stay those of the positional chain. The
// CompiledChain holds the positional chain's rules, as their matches, and writes their texts
// when they are read: the mirror's entry for such a chain stays empty.
struct NftablesOptions {
    bool jump = false;  // own the forward-hook chains that jump to the access-control chains
    // Compile the access-control chains into set lookups, kept out of the tables iptables-nft
    // reads and restores.
    bool sets = true;
    bool cut_connections = true;  // DROP rules a commit adds end the open connections they cover
};

class NftablesBackend final : public Backend {
public:
    static constexpr std::string_view backend_name = "nftables";

    // Opens the kernel connection and takes the access-control chains over in one
    // transaction: tables and chains created when missing, emptied, sets an earlier run left
    // deleted, and the forward-hook chains created (jump) or removed. nullptr, with the
    // reason in `error`, when the kernel refuses (no permission, no nf_tables).
    static std::unique_ptr<NftablesBackend> start(const NftablesOptions& options, std::string& error);

    std::string_view name() const override { return backend_name; }
    std::size_t chain_size(const ChainKey& key) const override;
    void rules_at(const ChainKey& key, std::size_t first, std::size_t count,
                  std::vector<RuleImage>& out) const override;
    bool apply(std::span<const Operation> transaction) override;
    std::string_view error() const override { return error_; }
    void write_dump(const DumpSink& put) const override;
    // The access-control tables as the kernel holds them, in nft syntax; false, with the
    // reason in `text`, when they cannot be read.
    bool kernel_listing(std::string& text) const;
    // The rules of one kernel chain in nft syntax with their handles, in chain order; `missing`
    // tells a chain that does not exist. false, with the reason in `error`, when the kernel
    // cannot be read.
    using RuleTexts = std::vector<std::pair<std::uint64_t, std::string>>;
    bool rule_texts(const ChainKey& key, RuleTexts& rules, bool& missing, std::string& error) const;
    // Empties every chain of the mirror in the kernel; the mirror holds the two empty
    // access-control chains again. Also brings a backend that lost step back in step.
    void reset() override;
    void release_retired() override;

    // Creates (true) or removes (false) the base chains on the forward hook that jump to
    // the access-control chains. false, with nothing changed, when the kernel refuses.
    bool set_jump(bool jump);

    // Switches between compiled and one-kernel-rule-per-rule chains: the kernel's chains are
    // rewritten in one transaction. false, with nothing changed, when the kernel refuses.
    bool set_sets(bool sets);

    void set_cut_connections(bool cut) { options_.cut_connections = cut; }

    // For the event loop: the descriptor that becomes readable when the kernel reports a
    // change, and what to do then (or when the delay watch() asked for has passed). watch()
    // returns that delay in milliseconds, -1 for none.
    int watch_fd() const { return events_->fd(); }
    int watch();

    // Compares the kernel with the mirror: `differences` holds one line per difference, ""
    // when they agree. false, with the reason in `differences`, when the kernel cannot be read.
    bool check(std::string& differences);

    // Test hook: the answers to the next transaction overflow the receive buffer.
    void lose_answers_next() { socket_->starve_next_send(true); }

private:
    struct MirrorRule {
        InlineText text;  // a node of 104 bytes, its text mostly in it
        std::uint64_t handle = 0;  // 0 until the kernel confirmed the rule
        std::uint32_t id = 0;      // not 0 only while the batch that adds it is settled: its id there
    };
    using Rules = PositionalList<MirrorRule>;  // O(log n) per position, each rule in its node
    using Chains = std::map<ChainKey, Rules>;  // every chain; empty for a compiled one

    // What the batch being written does, to settle the mirror once the kernel answered.
    struct Written {
        std::vector<std::pair<MirrorRule*, std::uint32_t>> added;  // new rule, its message
        std::map<ChainKey, std::uint64_t> touched;                // chain, highest handle removed
        std::vector<std::uint32_t> operation_seqs;                // per operation, its last message
        std::uint32_t next_id = 1;                                // rule and set ids of the batch
        bool compiled = false;                                    // a compiled chain was changed
        std::array<std::vector<RuleSpec>, 2> stopping;            // inserted DROP/REJECT rules: IPv4, IPv6
    };

    enum class Sent : std::uint8_t { done, failed, stale };

    NftablesBackend(std::unique_ptr<NftSocket> socket, const NftablesOptions& options);

    Sent apply_once(std::span<const Operation> transaction);
    // Creates and fills the sets a transaction's batch will look up, a transaction of its own
    // per few thousand elements (the loop may serve readers between them). On failure, with
    // the reason in error_, the sets made so far are deleted again.
    Sent fill_sets(std::span<const SetFill> fills);
    // Deletes sets filled for a batch that did not land; a failure leaves them unreferenced
    // (they match nothing) until the next rewrite or start deletes every set of ours.
    void drop_filled(std::span<const SetFill> fills);
    Sent take_over_once();
    Sent rewrite_once();
    // Runs `attempt` again, after reading what changed (and repairing, with `repair`), while
    // its batch is refused because another program committed first.
    bool until_fresh(bool repair, const std::function<Sent()>& attempt);
    void warn_of_leftovers();
    // Sends a finished batch; one the kernel committed is expected among the notifications.
    BatchResult commit(const NftBatch& batch);
    static bool stale(const BatchResult& result, const NftBatch& batch);
    NftEvents::Concern owns(const NftEvents::Subject& subject) const;
    // Reads the notifications and repairs (unless not `repair_now`: then it is only due) when
    // someone else changed what we own. false when a repair was needed and did not happen.
    bool catch_up(bool repair_now = true);
    void read_events();
    bool learn_generation();
    bool repair();
    std::string name_rules(const std::vector<NftEvents::ForeignRule>& rules) const;
    bool check_chain(const ChainKey& key, std::string& differences);
    bool compare_chain(const ChainKey& listed, const CompiledChain::KernelView& expected, std::string& differences);
    // The dispatch rules of the compiled chains (compiled_table.h) in the batch being written,
    // learnt from the kernel's answer or forgotten when it did not land.
    void write_dispatch(NftBatch& batch, std::uint32_t& next_id);
    bool learn_dispatch(const BatchResult& result, const NftBatch& batch);
    void abandon_dispatch();

    bool is_compiled(const ChainKey& key) const;
    // The chain holding the positional rules of `key` when it is compiled, nullptr otherwise.
    const CompiledChain* compiled_chain(const ChainKey& key) const;
    // Whether the rule at 0-based `index` of a running chain has this text.
    bool standing_is(const ChainKey& key, std::size_t index, std::string_view text) const;
    bool delete_our_sets(NftBatch& batch);
    bool take_over();
    bool rewrite();
    void write_hooks(NftBatch& batch, bool jump) const;
    bool claim_new_chains(std::span<const Operation> transaction);
    bool write_operation(NftBatch& batch, UndoLog<Chains>& undo, CompiledTransaction& compiled, const Operation& op,
                         std::size_t number, Written& written);
    std::size_t removal_run(std::span<const Operation> transaction, std::size_t first, std::size_t& rules) const;
    void write_removal_run(CompiledTransaction& compiled, const Operation& head, std::size_t run, std::size_t rules,
                           Written& written);
    bool learn_handles(const BatchResult& result, const NftBatch& batch, const Written& written);
    void settle(UndoLog<Chains>& undo, const Written& written);
    bool reconcile(UndoLog<Chains>& undo, const Written& written);
    void cut_connections(const Written& written);
    std::string describe_refusal(const BatchResult& result, const NftBatch& batch,
                                 std::span<const Operation> transaction, const Written& written) const;

    std::unique_ptr<NftSocket> socket_;
    std::unique_ptr<NftEvents> events_;
    std::unique_ptr<ConntrackSocket> conntrack_;  // nullptr where the kernel has no conntrack
    NftablesOptions options_;
    Chains chains_;
    std::map<ChainKey, CompiledChain> compiled_;  // by positional chain
    std::map<ChainKey, DispatchRules> dispatch_;
    std::uint64_t set_counter_ = 0;
    std::string error_;
    // The kernel's chains no longer match the mirror in a way that could be worked out:
    // every transaction is refused until reset() empties the chains.
    bool out_of_step_ = false;
    bool repair_due_ = false;    // failed or waiting for its spacing: done before the next transaction
    std::string repair_reason_;  // what was found, for the repair's log line
    std::chrono::steady_clock::time_point last_repair_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_NFTABLES_BACKEND_H
