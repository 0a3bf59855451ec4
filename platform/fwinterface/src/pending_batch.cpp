#include "pending_batch.h"

namespace fwinterface {

PendingBatch::ChainView& PendingBatch::view_of(const Backend& running, const ChainKey& key) {
    auto [it, fresh] = views_.try_emplace(key);
    if(fresh) {
        it->second.size = running.chain_size(key);
    }
    return it->second;
}

const std::string* PendingBatch::rule_at(const Backend& running, const ChainKey& key, const ChainView& view,
                                         std::size_t position) const {
    // Undo the pending operations one by one, latest first, following the position back.
    for(auto it = view.operations.rbegin(); it != view.operations.rend(); ++it) {
        const Operation& op = operations_[*it];
        if(op.kind == Operation::Kind::insert) {
            if(position == op.position) {
                return &op.rule;
            }
            if(position > op.position) {
                --position;
            }
        } else if(position >= op.position) {
            ++position;
        }
    }
    return running.rule_at(key, position);
}

void PendingBatch::record(ChainView& view, Operation operation) {
    // Both appends or neither, so the view always describes operations_.
    view.operations.push_back(operations_.size());
    try {
        operations_.push_back(std::move(operation));
    } catch(...) {
        view.operations.pop_back();
        throw;
    }
}

fw_error_t PendingBatch::insert(const Backend& running, ChainKey key, std::uint32_t position, std::string rule) {
    if(operations_.size() >= FW_PENDING_MAX) {
        return FW_ERROR_FULL;
    }
    ChainView& view = view_of(running, key);
    if(position == 0 || position > view.size + 1) {
        return FW_ERROR_POSITION;
    }
    if(view.size >= FW_CHAIN_MAX) {
        return FW_ERROR_FULL;
    }
    record(view, Operation{Operation::Kind::insert, std::move(key), position, std::move(rule)});
    ++view.size;
    return FW_OK;
}

fw_error_t PendingBatch::remove(const Backend& running, ChainKey key, std::uint32_t position,
                                const std::string& rule) {
    if(operations_.size() >= FW_PENDING_MAX) {
        return FW_ERROR_FULL;
    }
    ChainView& view = view_of(running, key);
    if(position == 0 || position > view.size) {
        return FW_ERROR_POSITION;
    }
    const std::string* standing = rule_at(running, key, view, position);
    if(standing == nullptr || *standing != rule) {
        return FW_ERROR_MISMATCH;
    }
    record(view, Operation{Operation::Kind::remove, std::move(key), position, rule});
    --view.size;
    return FW_OK;
}

void PendingBatch::clear() {
    operations_.clear();
    views_.clear();
}

}  // namespace fwinterface
