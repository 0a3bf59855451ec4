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

int RemovedPositions::remove(int original) {
    const std::size_t rank = rank_of(original);
    int below = 0;
    if(removed_tree_.empty() && (removed_.empty() || rank > last_rank_)) {
        // Removed in order, as a set's rules are: every rule removed so far lay below.
        below = static_cast<int>(removed_.size());
    } else {
        build_tree();
        below = removed_before(rank);
        add_to_tree(rank);
    }
    last_rank_ = rank;
    removed_.push_back(original);
    return original - below;
}

int RemovedPositions::after_all(int original) {
    if(!sorted_) {
        if(!std::is_sorted(removed_.begin(), removed_.end())) {
            std::sort(removed_.begin(), removed_.end());
        }
        sorted_ = true;
    }
    return original - static_cast<int>(std::lower_bound(removed_.begin(), removed_.end(), original) - removed_.begin());
}

// Its place among the set's positions: in order, the one after the last removed. A search of
// a set of tens of thousands per removal was a tenth of deleting it.
std::size_t RemovedPositions::rank_of(int original) const {
    const std::size_t next = removed_.empty() ? 0 : last_rank_ + 1;
    if(next < positions_.size() && positions_[next] == original) {
        return next;
    }
    return static_cast<std::size_t>(std::lower_bound(positions_.begin(), positions_.end(), original) - positions_.begin());
}

// Removals out of order (should a set's rules ever come so) are counted from then on in a
// Fenwick tree over the ranks, the ones made before them included.
void RemovedPositions::build_tree() {
    if(!removed_tree_.empty()) {
        return;
    }
    removed_tree_.assign(positions_.size() + 1, 0);
    for(int removed : removed_) {
        add_to_tree(static_cast<std::size_t>(std::lower_bound(positions_.begin(), positions_.end(), removed) -
                                             positions_.begin()));
    }
}

void RemovedPositions::add_to_tree(std::size_t rank) {
    for(std::size_t i = rank + 1; i < removed_tree_.size(); i += i & (~i + 1)) {
        removed_tree_[i]++;
    }
}

// Removed positions among the `rank` lowest of the set.
int RemovedPositions::removed_before(std::size_t rank) const {
    int count = 0;
    for(std::size_t i = rank; i > 0; i -= i & (~i + 1)) {
        count += removed_tree_[i];
    }
    return count;
}

}  // namespace accesscontrol
