#include "compiled_table.h"

#include "nftables_backend.h"
#include "nftables_names.h"

namespace fwinterface {

std::optional<std::size_t> dispatch_index(Verdict verdict) {
    for(std::size_t i = 0; i < dispatched_verdicts.size(); ++i) {
        if(dispatched_verdicts[i] == verdict) {
            return i;
        }
    }
    return std::nullopt;
}

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

std::vector<std::uint64_t> DispatchRules::handles() const {
    std::vector<std::uint64_t> standing;
    for(std::uint64_t handle : handles_) {
        if(handle != 0) {
            standing.push_back(handle);
        }
    }
    return standing;
}

void DispatchRules::write(NftBatch& batch, const ChainKey& positional, DispatchedVerdicts wanted,
                          std::uint32_t& next_id) {
    if(wanted == verdicts_with(handles_)) {
        return;
    }
    const TableRef table = table_of(positional);
    for(std::uint64_t handle : handles_) {
        if(handle != 0) {
            batch.delete_rule(table, positional.chain, RuleRef{handle, 0});
        }
    }
    for(std::size_t i = 0; i < dispatched_verdicts.size(); ++i) {
        if(wanted[i]) {
            seqs_[i] = batch.add_mark_dispatch_rule(table, positional.chain, next_id++, dispatched_verdicts[i]);
        }
    }
    adding_ = wanted;
    pending_ = true;
}

bool DispatchRules::learn(const BatchResult& result, const NftBatch& batch) {
    if(!std::exchange(pending_, false)) {
        return true;
    }
    bool all = true;
    for(std::size_t i = 0; i < handles_.size(); ++i) {
        handles_[i] = adding_[i] ? result.handles[seqs_[i] - batch.first_seq() - 1] : 0;
        all = all && (!adding_[i] || handles_[i] != 0);
    }
    return all;
}

// Each positional chain compiled in this batch gets the dispatch rules of the verdicts its
// compiled chain gives now.
void NftablesBackend::write_dispatch(NftBatch& batch, std::uint32_t& next_id) {
    for(const auto& [key, chain] : compiled_) {
        dispatch_[key].write(batch, key, chain.verdicts(), next_id);
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
