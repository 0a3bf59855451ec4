#include "accesscontrol/accesscontrol_fw_positions.h"

#include <algorithm>
#include <utility>

namespace accesscontrol {

RemovedPositions::RemovedPositions(std::vector<int> set_positions) : positions_(std::move(set_positions)) {
    // A set's rules are inserted in order, so their positions come sorted.
    if(!std::is_sorted(positions_.begin(), positions_.end())) {
        std::sort(positions_.begin(), positions_.end());
    }
    positions_.erase(std::unique(positions_.begin(), positions_.end()), positions_.end());
}

RemovedPositions::RemovedPositions(int first, std::size_t count) : listed_(false), first_(first), count_(count) {}

int RemovedPositions::remove(int original) {
    const std::size_t rank = rank_of(original);
    std::size_t below = 0;
    if(removed_tree_.empty() && rank == in_order_) {
        // Removed in order, as a set's rules are: every rule removed so far lay below.
        below = in_order_++;
    } else {
        build_tree();
        below = removed_before(rank);
        add_to_tree(rank);
    }
    return original - static_cast<int>(below);
}

int RemovedPositions::after_all(int original) const {
    const std::size_t below = positions_below(original);
    return original - static_cast<int>(removed_tree_.empty() ? std::min(below, in_order_) : removed_before(below));
}

int RemovedPositions::position_at(std::size_t rank) const {
    return listed_ ? positions_[rank] : first_ + static_cast<int>(rank);
}

std::size_t RemovedPositions::positions_below(int original) const {
    if(listed_) {
        return static_cast<std::size_t>(std::lower_bound(positions_.begin(), positions_.end(), original) -
                                        positions_.begin());
    }
    return original <= first_ ? 0 : std::min(count_, static_cast<std::size_t>(original - first_));
}

// Its place among the set's positions: in order, the one after the last removed. A search of
// a set of tens of thousands per removal was a tenth of deleting it.
std::size_t RemovedPositions::rank_of(int original) const {
    if(in_order_ < size() && position_at(in_order_) == original) {
        return in_order_;
    }
    return positions_below(original);
}

// Removals out of order (should a set's rules ever come so) are counted from then on in a
// Fenwick tree over the ranks, the ones made in order before them included.
void RemovedPositions::build_tree() {
    if(!removed_tree_.empty()) {
        return;
    }
    removed_tree_.assign(size() + 1, 0);
    for(std::size_t rank = 0; rank < in_order_; ++rank) {
        add_to_tree(rank);
    }
}

void RemovedPositions::add_to_tree(std::size_t rank) {
    for(std::size_t i = rank + 1; i < removed_tree_.size(); i += i & (~i + 1)) {
        removed_tree_[i]++;
    }
}

// Removed positions among the `rank` lowest of the set.
std::size_t RemovedPositions::removed_before(std::size_t rank) const {
    std::size_t count = 0;
    for(std::size_t i = rank; i > 0; i -= i & (~i + 1)) {
        count += removed_tree_[i];
    }
    return count;
}

}  // namespace accesscontrol
