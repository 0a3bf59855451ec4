#include "nftables_backend.h"

#include "slice_points.h"

#include <algorithm>
#include <cstdio>

#include "conntrack_cutter.h"
#include "nftables_names.h"
#include "rule_reader.h"
#include "save_format.h"

namespace fwinterface {
namespace {

std::string kernel_reason(const BatchResult& result) {
    std::string text = std::strerror(result.error);
    if(!result.kernel_message.empty()) {
        text += " (" + result.kernel_message + ')';
    }
    return text;
}

constexpr const char* out_of_step_text =
    "the kernel's chains no longer match what this backend wrote; reset the firewall backend";

// A new set of this many addresses or more is filled before its transaction (SetFill), in
// transactions of at most set_fill_per_batch addresses: about 8 ms of the kernel's time each.
constexpr std::size_t set_fill_min = 4096;
constexpr std::size_t set_fill_per_batch = 8192;

}  // namespace

NftablesBackend::NftablesBackend(std::unique_ptr<NftSocket> socket, const NftablesOptions& options)
    : socket_(std::move(socket)), options_(options) {}

std::unique_ptr<NftablesBackend> NftablesBackend::start(const NftablesOptions& options, std::string& error) {
    std::unique_ptr<NftSocket> socket = NftSocket::open(error);
    if(socket == nullptr) {
        return nullptr;
    }
    std::unique_ptr<NftablesBackend> backend(new NftablesBackend(std::move(socket), options));
    // Subscribed before the generation is read, so that no later change goes unnoticed.
    backend->events_ = NftEvents::open(error);
    if(backend->events_ == nullptr || !backend->learn_generation()) {
        error = backend->events_ == nullptr ? error : backend->error_;
        return nullptr;
    }
    backend->warn_of_leftovers();
    // Opened here, so that it lives in the same network namespace as the nf_tables socket.
    ConntrackSocket::Outcome outcome{};
    std::string why;
    backend->conntrack_ = ConntrackSocket::open(outcome, why);
    if(!backend->take_over()) {
        error = backend->error_;
        return nullptr;
    }
    return backend;
}

bool NftablesBackend::is_compiled(const ChainKey& key) const {
    return options_.sets && is_access_control(key);
}

const CompiledChain* NftablesBackend::compiled_chain(const ChainKey& key) const {
    auto it = compiled_.find(key);
    return it == compiled_.end() ? nullptr : &it->second;
}

std::size_t NftablesBackend::chain_size(const ChainKey& key) const {
    if(const CompiledChain* compiled = compiled_chain(key)) {
        return compiled->size();
    }
    auto it = chains_.find(key);
    return it == chains_.end() ? 0 : it->second.size();
}

void NftablesBackend::rules_at(const ChainKey& key, std::size_t first, std::size_t count,
                               std::vector<RuleImage>& out) const {
    if(const CompiledChain* compiled = compiled_chain(key)) {
        compiled->for_each_image(first - 1, count, [&](const RuleImage& image) { out.push_back(image); });
        return;
    }
    chains_.at(key).for_each(first - 1, count,
                             [&](const MirrorRule& rule) { out.push_back(RuleImage::of_text(rule.text)); });
}

void NftablesBackend::write_dump(const DumpSink& put) const {
    auto texts_of = [this](const Chains::value_type& chain, const auto& emit) {
        if(const CompiledChain* compiled = compiled_chain(chain.first)) {
            compiled->for_each_text(0, compiled->size(), emit);
            return;
        }
        for(const MirrorRule& rule : chain.second) {
            emit(rule.text.view());
        }
    };
    write_save(chains_, texts_of, put);
}

void NftablesBackend::write_hooks(NftBatch& batch, bool jump) const {
    for(bool ipv6 : {false, true}) {
        const ChainKey chain = access_control_chain(ipv6);
        const TableRef table = table_of(chain);
        const std::string hook = hook_chain_of(chain);
        batch.add_table(table);
        batch.add_chain(table, chain.chain);
        // Adding the hook chain first makes its removal work whether it exists or not.
        batch.add_forward_hook_chain(table, hook);
        batch.flush_chain(table, hook);
        if(jump) {
            batch.add_jump_rule(table, hook, chain.chain);
        } else {
            batch.delete_chain(table, hook);
        }
    }
}

// Sets named like ours in the access-control tables are left from an earlier run (or from
// this one, when the kernel lost step): deleted in `batch`, after the chains are emptied.
bool NftablesBackend::delete_our_sets(NftBatch& batch) {
    for(bool ipv6 : {false, true}) {
        const ChainKey chain = access_control_chain(ipv6);  // the table's name lives in it
        const TableRef table = table_of(chain);
        std::vector<std::string> names;
        std::string why;
        if(!socket_->list_sets(table, names, why)) {
            error_ = "cannot read the sets of table " + std::string(ipv6 ? "ip6 " : "ip ") + std::string(table.table) +
                     ": " + why;
            return false;
        }
        for(const std::string& name : names) {
            if(is_compiled_set(name, compiled_set_prefix)) {
                batch.delete_set(table, name);
            }
        }
    }
    return true;
}

// Whatever a previous run or the last transactions left, one batch empties the chains, so
// that positions start at 1 again in the kernel as in the mirror.
bool NftablesBackend::take_over() {
    return until_fresh(false, [this] { return take_over_once(); });
}

NftablesBackend::Sent NftablesBackend::take_over_once() {
    NftBatch batch(socket_->next_seq(), events_->generation());
    for(bool ipv6 : {false, true}) {
        const ChainKey chain = access_control_chain(ipv6);
        batch.add_table(table_of(chain));
        batch.add_chain(table_of(chain), chain.chain);
        batch.flush_chain(table_of(chain), chain.chain);
    }
    for(const auto& [key, rules] : chains_) {
        if(!is_access_control(key)) {
            batch.add_table(table_of(key));
            batch.add_chain(table_of(key), key.chain);
            batch.flush_chain(table_of(key), key.chain);
        }
    }
    if(!delete_our_sets(batch)) {
        return Sent::failed;
    }
    write_hooks(batch, options_.jump);
    for(bool ipv6 : {false, true}) {
        write_compiled_table(batch, access_control_chain(ipv6), is_compiled(access_control_chain(ipv6)));
    }
    batch.finish();
    const BatchResult result = commit(batch);
    if(stale(result, batch)) {
        return Sent::stale;
    }
    if(result.outcome != BatchResult::Outcome::committed) {
        error_ = "cannot take the firewall chains over: " + kernel_reason(result);
        return Sent::failed;
    }
    chains_.clear();
    compiled_.clear();
    dispatch_.clear();
    for(bool ipv6 : {false, true}) {
        const ChainKey key = access_control_chain(ipv6);
        chains_.try_emplace(key);
        if(is_compiled(key)) {
            compiled_.try_emplace(key, compiled_chain_of(key), set_counter_);
        }
    }
    out_of_step_ = false;
    repair_due_ = false;
    events_->take_findings();
    events_->take_foreign_rules();
    error_.clear();
    return Sent::done;
}

// Writes every chain of the mirror anew in one transaction (chains emptied, sets deleted,
// rules and sets written as the options say). Used when the kernel's state is unknown after
// lost answers, to switch compilation on or off, and to repair what someone else changed
// (tables, chains and the hooks are created again where they went missing). false when the
// kernel refuses; the caller then knows nothing about the kernel's chains.
bool NftablesBackend::rewrite() {
    return until_fresh(false, [this] { return rewrite_once(); });
}

NftablesBackend::Sent NftablesBackend::rewrite_once() {
    NftBatch batch(socket_->next_seq(), events_->generation());
    write_hooks(batch, options_.jump);
    for(const auto& [key, rules] : chains_) {
        batch.add_table(table_of(key));
        batch.add_chain(table_of(key), key.chain);
        batch.flush_chain(table_of(key), key.chain);
    }
    if(!delete_our_sets(batch)) {
        return Sent::failed;
    }
    for(bool ipv6 : {false, true}) {
        write_compiled_table(batch, access_control_chain(ipv6), is_compiled(access_control_chain(ipv6)));
    }
    // Built beside what stands, which stays as it is unless the kernel takes the batch.
    std::map<ChainKey, CompiledChain> compiled;
    Chains mirror;
    std::uint32_t next_id = 1;
    CompiledTransaction tx(batch, next_id);
    std::vector<std::pair<MirrorRule*, std::uint32_t>> added;
    for(const auto& entry : chains_) {
        const ChainKey& key = entry.first;  // a name, not a binding: the lambda below captures it
        const Rules& rules = entry.second;
        CompiledChain* chain = nullptr;
        if(is_compiled(key)) {
            chain = &compiled.try_emplace(key, compiled_chain_of(key), set_counter_).first->second;
        }
        Rules& kept = mirror[key];
        auto write = [&](const RuleSpec& spec, std::string_view text) {
            if(chain != nullptr) {
                chain->insert(tx, chain->size(), spec, text);
                return;
            }
            MirrorRule& rule = *kept.insert(kept.end(), MirrorRule{InlineText(text), 0, next_id++});
            added.emplace_back(&rule, batch.add_rule(table_of(key), key.chain, rule.id, {}, spec));
        };
        if(const CompiledChain* was = compiled_chain(key)) {
            was->for_each_rule(write);
            continue;
        }
        for(std::size_t i = 0; i < rules.size(); ++i) {
            RuleSpec spec;
            std::string why;
            if(!parse_rule_text(rules[i].text, key.ipv6, spec, why)) {
                error_ = "cannot read back rule " + std::to_string(i + 1) + " of " + chain_name(key) + ": " + why;
                return Sent::failed;
            }
            write(spec, rules[i].text);
        }
    }
    tx.write();
    std::map<ChainKey, DispatchRules> dispatch;
    for(const auto& [key, chain] : compiled) {
        dispatch[key].write(batch, key, chain.verdicts(), next_id);
    }
    batch.finish();
    const BatchResult result = commit(batch);
    if(stale(result, batch)) {
        return Sent::stale;
    }
    if(result.outcome != BatchResult::Outcome::committed) {
        error_ = "cannot write the firewall chains anew: " + kernel_reason(result);
        return Sent::failed;
    }
    bool all = tx.learn(result);
    for(auto& [key, rules] : dispatch) {
        all = rules.learn(result, batch) && all;
    }
    for(auto [rule, seq] : added) {
        rule->handle = result.handles[seq - batch.first_seq() - 1];
        rule->id = 0;
        all = all && rule->handle != 0;
    }
    if(!all) {
        error_ = "the kernel's answer to writing the chains anew was incomplete";
        return Sent::failed;
    }
    chains_ = std::move(mirror);
    compiled_ = std::move(compiled);
    dispatch_ = std::move(dispatch);
    return Sent::done;
}

bool NftablesBackend::set_sets(bool sets) {
    const bool before = options_.sets;
    options_.sets = sets;
    if(!rewrite()) {
        options_.sets = before;
        out_of_step_ = true;
        error_ += "; " + std::string(out_of_step_text);
        return false;
    }
    error_.clear();
    return true;
}

void NftablesBackend::reset() {
    socket_->starve_next_send(false);
    if(!take_over()) {
        out_of_step_ = true;
    }
}

bool NftablesBackend::set_jump(bool jump) {
    return until_fresh(true, [this, jump] {
        NftBatch batch(socket_->next_seq(), events_->generation());
        write_hooks(batch, jump);
        batch.finish();
        const BatchResult result = commit(batch);
        if(stale(result, batch)) {
            return Sent::stale;
        }
        if(result.outcome != BatchResult::Outcome::committed) {
            error_ = std::string("cannot ") + (jump ? "create" : "remove") + " the forward-hook chains: " +
                     kernel_reason(result);
            return Sent::failed;
        }
        options_.jump = jump;
        error_.clear();
        return Sent::done;
    });
}

// A chain new to the mirror is only taken on when the kernel has no rules in it: rules the
// mirror does not know would shift every position, and emptying them would lose someone
// else's rules. Read once per chain, at its first insertion.
bool NftablesBackend::claim_new_chains(std::span<const Operation> transaction) {
    std::vector<const ChainKey*> checked;
    for(const Operation& op : transaction) {
        if(chains_.contains(op.chain) ||
           std::any_of(checked.begin(), checked.end(), [&op](const ChainKey* key) { return *key == op.chain; })) {
            continue;
        }
        std::vector<std::uint64_t> handles;
        std::string why;
        if(!socket_->list_handles(table_of(op.chain), op.chain.chain, handles, why)) {
            error_ = "cannot read chain " + chain_name(op.chain) + ": " + why;
            return false;
        }
        if(!handles.empty()) {
            error_ = "chain " + chain_name(op.chain) + " holds rules that were not written here";
            return false;
        }
        checked.push_back(&op.chain);
    }
    return true;
}

bool NftablesBackend::write_operation(NftBatch& batch, UndoLog<Chains>& undo, CompiledTransaction& compiled,
                                      const Operation& op, std::size_t number, Written& written) {
    auto refuse = [this, number, &op](const std::string& why) {
        error_ = "operation " + std::to_string(number) + " on " + chain_name(op.chain) + ": " + why;
        return false;
    };
    auto reference = [](const MirrorRule& rule) { return RuleRef{rule.handle, rule.handle == 0 ? rule.id : 0}; };

    const TableRef table = table_of(op.chain);
    bool created = false;
    auto chain = undo.chain_of(op.chain, &created);
    if(created) {
        batch.add_table(table);
        batch.add_chain(table, op.chain.chain);
    }
    std::uint64_t& highest_removed = written.touched.try_emplace(op.chain, 0).first->second;
    Rules& rules = chain->second;
    auto found = compiled_.find(op.chain);
    CompiledChain* in_compiled = found == compiled_.end() ? nullptr : &found->second;
    const std::size_t size = in_compiled != nullptr ? in_compiled->size() : rules.size();
    const std::size_t index = op.position - std::size_t{1};
    std::uint32_t seq = 0;
    if(op.kind == Operation::Kind::insert) {
        if(op.position == 0 || index > size) {
            return refuse("no such position");
        }
        RuleSpec spec;
        std::string why;
        if(!parse_rule_text(op.rule, op.chain.ipv6, spec, why)) {
            return refuse(why);
        }
        if(spec.verdict == Verdict::drop || spec.verdict == Verdict::reject) {
            written.stopping[op.chain.ipv6 ? 1 : 0].push_back(spec);
        }
        if(in_compiled != nullptr) {
            if(verdict_mark(spec.verdict) == 0) {
                return refuse("its target has no place in a filter chain");
            }
            in_compiled->insert(compiled, index, spec, op.from_fwrules ? std::string_view() : std::string_view(op.rule));
            written.compiled = true;
            written.operation_seqs.push_back(batch.last_seq());
            return true;
        }
        // In front of the rule at that position, or at the end. Appending keeps this
        // backend's rules in their order even if someone added rules behind its back.
        std::optional<RuleRef> before;
        if(index < rules.size()) {
            before = reference(rules[index]);
        }
        const std::uint32_t id = written.next_id++;
        seq = batch.add_rule(table, op.chain.chain, id, before, spec);
        rules.insert(rules.begin() + static_cast<std::ptrdiff_t>(index), MirrorRule{InlineText(op.rule), 0, id});
        // Its node stays the rule's until the transaction ends: only running rules are removed.
        written.added.emplace_back(&rules[index], seq);
        undo.inserted(chain, index);
    } else {
        // `op.count` rules standing at the position, one after another.
        if(op.position == 0 || index >= size || size - index < op.count ||
           (!op.rule.empty() && !standing_is(op.chain, index, op.rule))) {
            return refuse("another rule at that position");
        }
        for(std::uint32_t n = 0; n < op.count; ++n) {
            if(in_compiled != nullptr) {
                in_compiled->remove(compiled, index);
                continue;
            }
            seq = batch.delete_rule(table, op.chain.chain, reference(rules[index]));
            highest_removed = std::max(highest_removed, rules[index].handle);
            MirrorRule rule = std::move(rules[index]);
            rules.erase(rules.begin() + static_cast<std::ptrdiff_t>(index));
            undo.removed(chain, index, std::move(rule));
        }
        if(in_compiled != nullptr) {
            written.compiled = true;
            seq = batch.last_seq();
        }
    }
    written.operation_seqs.push_back(seq);
    return true;
}

bool NftablesBackend::standing_is(const ChainKey& key, std::size_t index, std::string_view text) const {
    const CompiledChain* compiled = compiled_chain(key);
    return compiled != nullptr ? compiled->holds(index, text) : chains_.at(key)[index].text == text;
}

// How many operations from `first` on remove, in a compiled chain, the rules standing at one
// position one after another, and in `rules` how many rules they remove: a net change
// withdraws a stretch of rules so, and the chain takes the stretch out whole
// (CompiledChain::remove_run()). 0 when they are not such a run or would remove more rules
// than stand there (the operations one by one then say which fails).
std::size_t NftablesBackend::removal_run(std::span<const Operation> transaction, std::size_t first,
                                         std::size_t& rules) const {
    const Operation& head = transaction[first];
    auto same = [&head](const Operation& op) {
        return op.kind == Operation::Kind::remove && op.rule.empty() && op.position == head.position && op.chain == head.chain;
    };
    rules = 0;
    if(!same(head) || head.position == 0 || compiled_chain(head.chain) == nullptr) {
        return 0;
    }
    std::size_t run = 0;
    for(; first + run < transaction.size() && same(transaction[first + run]); ++run) {
        rules += transaction[first + run].count;
    }
    if(head.position - std::size_t{1} + rules > chain_size(head.chain)) {
        rules = 0;
        return 0;
    }
    return run;
}

void NftablesBackend::write_removal_run(CompiledTransaction& compiled, const Operation& head, std::size_t run,
                                        std::size_t rules, Written& written) {
    written.touched.try_emplace(head.chain, 0);
    compiled_.at(head.chain).remove_run(compiled, head.position - std::size_t{1}, rules);
    written.compiled = true;
    written.operation_seqs.insert(written.operation_seqs.end(), run, compiled.batch().last_seq());
}

bool NftablesBackend::apply(std::span<const Operation> transaction) {
    error_.clear();
    // Changes in a burst (a group deleted and built anew) reuse what the one before left for
    // later instead of holding both until the memory goes back, which a burst may put off for
    // as long as it lasts.
    release_retired();  // before this transaction allocates
    if(out_of_step_) {
        error_ = out_of_step_text;
        return false;
    }
    // Someone else's change since the last batch makes this one stale: it is repaired and
    // written again then. A repair that failed earlier is tried first.
    if(repair_due_ && !repair()) {
        return false;
    }
    if(!until_fresh(true, [this, transaction] { return apply_once(transaction); })) {
        return false;
    }
    // Another program that committed beside this batch, unseen, is caught up with at once.
    if(events_->lost() || events_->drifted()) {
        catch_up();
    }
    return true;
}

NftablesBackend::Sent NftablesBackend::apply_once(std::span<const Operation> transaction) {
    if(!claim_new_chains(transaction)) {
        return Sent::failed;
    }
    // The mirror changes in place while the batch is written, so that positions of later
    // operations see earlier ones; the undo log takes it back unless the kernel confirms.
    NftBatch batch(socket_->next_seq(), events_->generation());
    UndoLog<Chains> undo(chains_, rules_in(transaction));
    Written written;
    written.operation_seqs.reserve(transaction.size());
    // Room for every inserted rule's spec at once: grown by doubling, tens of thousands of them
    // would touch twice their size in fresh pages.
    std::array<std::size_t, 2> insertions{};
    for(const Operation& op : transaction) {
        insertions[op.chain.ipv6 ? 1 : 0] += op.kind == Operation::Kind::insert ? 1 : 0;
    }
    written.stopping[0].reserve(insertions[0]);
    written.stopping[1].reserve(insertions[1]);
    CompiledTransaction compiled(batch, written.next_id, transaction.size());
    compiled.fill_sets_ahead(set_fill_min);
    std::size_t number = 1;  // of the next rule, counted one by one
    for(std::size_t n = 0; n < transaction.size();) {
        slice_point();
        std::size_t rules = 0;
        if(const std::size_t run = removal_run(transaction, n, rules); rules > 1) {
            write_removal_run(compiled, transaction[n], run, rules, written);
            n += run;
            number += rules;
            continue;
        }
        if(!write_operation(batch, undo, compiled, transaction[n], number, written)) {
            return Sent::failed;
        }
        number += transaction[n].count;
        ++n;
    }
    compiled.write();
    if(written.compiled) {
        write_dispatch(batch, written.next_id);
    }
    batch.finish();
    if(!compiled.fills().empty()) {
        if(const Sent filled = fill_sets(compiled.fills()); filled != Sent::done) {
            abandon_dispatch();
            return filled;
        }
        batch.set_generation(events_->generation());
    }
    slice_point_now();
    const BatchResult result = commit(batch);
    slice_point_now();
    switch(result.outcome) {
    case BatchResult::Outcome::refused:
        abandon_dispatch();
        drop_filled(compiled.fills());
        if(stale(result, batch)) {
            return Sent::stale;
        }
        error_ = describe_refusal(result, batch, transaction, written);
        return Sent::failed;
    case BatchResult::Outcome::committed:
        if(learn_handles(result, batch, written) && compiled.learn(result) && learn_dispatch(result, batch)) {
            settle(undo, written);
            cut_connections(written);
            return Sent::done;
        }
        break;
    case BatchResult::Outcome::unknown: break;
    }
    if(!written.compiled) {
        return reconcile(undo, written) ? Sent::done : Sent::failed;
    }
    // Set elements cannot be told apart by reading rule handles back: the transaction is
    // taken back here and the kernel's chains are written anew from what stands.
    abandon_dispatch();
    compiled.roll_back();
    undo.roll_back();
    if(!rewrite()) {
        out_of_step_ = true;
        error_ = out_of_step_text;
        return Sent::failed;
    }
    error_ = "lost the kernel's answer; the transaction was taken back";
    return Sent::failed;
}

NftablesBackend::Sent NftablesBackend::fill_sets(std::span<const SetFill> fills) {
    for(std::size_t f = 0; f < fills.size(); ++f) {
        const SetFill& fill = fills[f];
        for(std::size_t first = 0; first == 0 || first < fill.elements.size(); first += set_fill_per_batch) {
            NftBatch batch(socket_->next_seq(), events_->generation());
            const std::uint32_t set_id = 1;
            if(first == 0) {
                batch.add_address_set(fill.table, fill.name, set_id, fill.intervals);
            }
            const std::size_t last = std::min(first + set_fill_per_batch, fill.elements.size());
            for(std::size_t i = first; i < last; i += set_elements_per_message) {
                batch.add_set_elements(fill.table, SetRef{fill.name, first == 0 ? set_id : 0}, fill.intervals,
                                       std::span(fill.elements).subspan(i, std::min(set_elements_per_message, last - i)));
            }
            batch.finish();
            const BatchResult result = commit(batch);
            slice_point_now();
            if(result.outcome != BatchResult::Outcome::committed) {
                const bool was_stale = stale(result, batch);
                error_ = "cannot fill set " + fill.name + ": " + kernel_reason(result);
                // The set of this fill exists unless its creation was refused.
                drop_filled(fills.first(first == 0 && result.outcome == BatchResult::Outcome::refused ? f : f + 1));
                return was_stale ? Sent::stale : Sent::failed;
            }
        }
    }
    return Sent::done;
}

void NftablesBackend::drop_filled(std::span<const SetFill> fills) {
    if(fills.empty()) {
        return;
    }
    NftBatch batch(socket_->next_seq());
    for(const SetFill& fill : fills) {
        batch.delete_set(fill.table, fill.name);
    }
    batch.finish();
    if(commit(batch).outcome != BatchResult::Outcome::committed) {
        std::fprintf(stderr, "fwinterface: %zu unused set(s) stay in the kernel until the chains are written anew\n",
                     fills.size());
    }
}

// A forward chain usually lets established flows through before our rules see them: the
// connections the new stopping rules cover are ended, so that their next packet meets the
// rules. The rules are in place whatever happens here, so a failure is reported and the
// commit stands.
void NftablesBackend::cut_connections(const Written& written) {
    if(!options_.cut_connections || conntrack_ == nullptr) {
        return;
    }
    for(bool ipv6 : {false, true}) {
        const std::vector<RuleSpec>& rules = written.stopping[ipv6 ? 1 : 0];
        std::size_t removed = 0;
        std::string why;
        if(!rules.empty() && !fwinterface::cut_connections(*conntrack_, rules, ipv6, removed, why)) {
            std::fprintf(stderr, "fwinterface: cannot end the connections new rules stop: %s\n", why.c_str());
        }
    }
}

bool NftablesBackend::learn_handles(const BatchResult& result, const NftBatch& batch, const Written& written) {
    bool all = true;
    for(auto [rule, seq] : written.added) {
        rule->handle = result.handles[seq - batch.first_seq() - 1];
        all = all && rule->handle != 0;
    }
    return all;
}

void NftablesBackend::release_retired() {
    for(auto& [key, compiled] : compiled_) {
        compiled.release_retired();
    }
}

void NftablesBackend::settle(UndoLog<Chains>& undo, const Written& written) {
    for(auto [rule, seq] : written.added) {
        rule->id = 0;
    }
    undo.commit();
    for(const auto& [key, highest_removed] : written.touched) {
        chains_.at(key).release_spares();  // kept only for the roll-back
        if(auto compiled = compiled_.find(key); compiled != compiled_.end()) {
            compiled->second.release_spares();
        }
    }
}

// Some of the kernel's answers were lost, so whether the batch landed is read back from the
// chains it touched. It landed when each chain holds the mirror's new order: the known
// handles in place and, where the batch added rules whose echo was lost, handles newer than
// any the chain had (a table hands out ever-growing handles). It did not land when each chain holds exactly
// what the mirror held before. Anything else cannot be worked out.
bool NftablesBackend::reconcile(UndoLog<Chains>& undo, const Written& written) {
    std::vector<std::vector<std::uint64_t>> kernel;
    kernel.reserve(written.touched.size());
    for(const auto& [key, highest_removed] : written.touched) {
        std::string why;
        if(!socket_->list_handles(table_of(key), key.chain, kernel.emplace_back(), why)) {
            undo.roll_back();
            out_of_step_ = true;
            error_ = "lost the kernel's answer and cannot read the chains back: " + why;
            return false;
        }
    }

    bool landed = true;
    std::size_t n = 0;
    for(const auto& [key, highest_removed] : written.touched) {
        const Rules& rules = chains_.at(key);
        const std::vector<std::uint64_t>& handles = kernel[n++];
        std::uint64_t newest_before = highest_removed;
        for(const auto& rule : rules) {
            if(rule.id == 0) {
                newest_before = std::max(newest_before, rule.handle);
            }
        }
        landed = landed && handles.size() == rules.size();
        for(std::size_t i = 0; landed && i < rules.size(); ++i) {
            landed = rules[i].handle != 0 ? handles[i] == rules[i].handle : handles[i] > newest_before;
        }
    }
    if(landed) {
        n = 0;
        for(const auto& [key, highest_removed] : written.touched) {
            const std::vector<std::uint64_t>& handles = kernel[n++];
            Rules& rules = chains_.at(key);
            for(std::size_t i = 0; i < rules.size(); ++i) {
                rules[i].handle = handles[i];
            }
        }
        settle(undo, written);
        return true;
    }

    undo.roll_back();
    bool kept = true;
    n = 0;
    for(const auto& [key, highest_removed] : written.touched) {
        const std::vector<std::uint64_t>& handles = kernel[n++];
        auto it = chains_.find(key);
        const std::size_t size = it == chains_.end() ? 0 : it->second.size();
        kept = kept && handles.size() == size;
        for(std::size_t i = 0; kept && i < size; ++i) {
            kept = handles[i] == it->second[i].handle;
        }
    }
    if(kept) {
        error_ = "lost the kernel's answer; the transaction did not land";
    } else {
        out_of_step_ = true;
        error_ = out_of_step_text;
    }
    return false;
}

std::string NftablesBackend::describe_refusal(const BatchResult& result, const NftBatch& batch,
                                              std::span<const Operation> transaction, const Written& written) const {
    std::string text = "the kernel refused ";
    auto it = std::lower_bound(written.operation_seqs.begin(), written.operation_seqs.end(), result.error_seq);
    if(result.error_seq == batch.first_seq() || it == written.operation_seqs.end()) {
        text += "the transaction";
    } else {
        const auto index = static_cast<std::size_t>(it - written.operation_seqs.begin());
        const Operation& op = transaction[index];
        // Numbered rule by rule, as the caller's operations were.
        text += "operation " + std::to_string(rules_in(transaction.first(index)) + 1) + " of " +
                std::to_string(rules_in(transaction)) + " (" +
                (op.kind == Operation::Kind::insert ? "insertion at " : "removal at ") + std::to_string(op.position) +
                " in " + chain_name(op.chain) + ")";
    }
    return text + ": " + kernel_reason(result);
}

}  // namespace fwinterface
