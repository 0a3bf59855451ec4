#include "compiled_table.h"

#include "nftables_backend.h"
#include "nftables_names.h"

namespace fwinterface {
namespace {

constexpr std::array<Verdict, 3> dispatched = {Verdict::drop, Verdict::reject, Verdict::accept};

}  // namespace

void write_compiled_table(NftBatch& batch, const ChainKey& positional, bool present) {
    const ChainKey compiled = compiled_chain_of(positional);
    const TableRef table = table_of(compiled);
    // Added first, so that the deletion works whether it exists or not.
    batch.add_table(table);
    batch.delete_table(table);
    if(!present) {
        return;
    }
    batch.add_table(table);
    batch.add_chain(table, compiled.chain);
    batch.add_forward_hook_chain(table, compiled_hook_chain, compiled_hook_priority);
    batch.add_mark_clear_rule(table, compiled_hook_chain);
    batch.add_jump_rule(table, compiled_hook_chain, compiled.chain);
}

void DispatchRules::write(NftBatch& batch, const ChainKey& positional, bool wanted, std::uint32_t& next_id) {
    if(wanted == present()) {
        return;
    }
    const TableRef table = table_of(positional);
    for(std::size_t i = 0; i < dispatched.size(); ++i) {
        if(wanted) {
            seqs_[i] = batch.add_mark_dispatch_rule(table, positional.chain, next_id++, dispatched[i]);
        } else {
            batch.delete_rule(table, positional.chain, RuleRef{handles_[i], 0});
        }
    }
    pending_ = wanted ? Pending::add : Pending::remove;
}

bool DispatchRules::learn(const BatchResult& result, const NftBatch& batch) {
    const Pending pending = std::exchange(pending_, Pending::none);
    bool all = true;
    for(std::size_t i = 0; i < handles_.size(); ++i) {
        if(pending == Pending::remove) {
            handles_[i] = 0;
        } else if(pending == Pending::add) {
            handles_[i] = result.handles[seqs_[i] - batch.first_seq() - 1];
            all = all && handles_[i] != 0;
        }
    }
    return all;
}

// Each positional chain compiled in this batch gets its dispatch rules when its compiled chain
// holds rules now, and loses them when it is empty now.
void NftablesBackend::write_dispatch(NftBatch& batch, std::uint32_t& next_id) {
    for(const auto& [key, chain] : compiled_) {
        dispatch_[key].write(batch, key, !chain.empty(), next_id);
    }
}

bool NftablesBackend::learn_dispatch(const BatchResult& result, const NftBatch& batch) {
    bool all = true;
    for(auto& [key, rules] : dispatch_) {
        all = rules.learn(result, batch) && all;
    }
    return all;
}

void NftablesBackend::abandon_dispatch() {
    for(auto& [key, rules] : dispatch_) {
        rules.abandon();
    }
}

}  // namespace fwinterface
