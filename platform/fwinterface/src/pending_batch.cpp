#include "pending_batch.h"

namespace fwinterface {

PendingBatch::ChainView& PendingBatch::view_of(const Backend& running, const ChainKey& key) {
    auto [it, fresh] = views_.try_emplace(key);
    if(fresh) {
        try {
            const std::size_t size = running.chain_size(key);
            if(size > 0) {
                it->second.insert(it->second.end(), Piece{1, size});
            }
        } catch(...) {
            views_.erase(it);
            throw;
        }
    }
    return it->second;
}

// Makes `boundary` (0-based, a count of positions) the start of a piece, splitting the stretch
// of running positions that crosses it. Throws std::bad_alloc with the view unchanged.
void PendingBatch::cut(ChainView& view, std::size_t boundary) {
    if(boundary == 0 || boundary >= view.size()) {
        return;
    }
    auto [piece, offset] = view.locate(boundary);
    if(offset == 0) {
        return;
    }
    const Piece whole = *piece;
    view.reserve_spares(1);  // with the erased node: both halves go in without allocating
    const std::size_t start = boundary - offset;
    view.erase(view.begin() + static_cast<std::ptrdiff_t>(start));
    view.insert(view.begin() + static_cast<std::ptrdiff_t>(start), Piece{whole.first, offset});
    view.insert(view.begin() + static_cast<std::ptrdiff_t>(boundary), Piece{whole.first + offset, whole.count - offset});
}

const std::string* PendingBatch::rule_at(const Backend& running, const ChainKey& key, ChainView& view,
                                         std::size_t position) {
    auto [piece, offset] = view.locate(position - 1);
    if(piece->count == 0) {
        return &operations_[piece->first].rule;
    }
    return running.rule_at(key, piece->first + offset);
}

fw_error_t PendingBatch::insert(const Backend& running, ChainKey key, std::uint32_t position, std::string rule) {
    if(operations_.size() >= FW_PENDING_MAX) {
        return FW_ERROR_FULL;
    }
    ChainView& view = view_of(running, key);
    if(position == 0 || position > view.size() + 1) {
        return FW_ERROR_POSITION;
    }
    if(view.size() >= FW_CHAIN_MAX) {
        return FW_ERROR_FULL;
    }
    cut(view, position - 1);
    view.reserve_spares(1);
    operations_.push_back(Operation{Operation::Kind::insert, std::move(key), position, std::move(rule)});
    view.insert(view.begin() + static_cast<std::ptrdiff_t>(position - 1), Piece{operations_.size() - 1, 0});
    return FW_OK;
}

fw_error_t PendingBatch::remove(const Backend& running, ChainKey key, std::uint32_t position,
                                const std::string& rule) {
    if(operations_.size() >= FW_PENDING_MAX) {
        return FW_ERROR_FULL;
    }
    ChainView& view = view_of(running, key);
    if(position == 0 || position > view.size()) {
        return FW_ERROR_POSITION;
    }
    const std::string* standing = rule_at(running, key, view, position);
    if(standing == nullptr || *standing != rule) {
        return FW_ERROR_MISMATCH;
    }
    cut(view, position - 1);
    cut(view, position);
    operations_.push_back(Operation{Operation::Kind::remove, std::move(key), position, rule});
    view.erase(view.begin() + static_cast<std::ptrdiff_t>(position - 1));
    return FW_OK;
}

void PendingBatch::clear() {
    operations_.clear();
    views_.clear();
}

}  // namespace fwinterface
