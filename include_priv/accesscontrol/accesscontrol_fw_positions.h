#ifndef ACCESSCONTROL_FW_POSITIONS_H
#define ACCESSCONTROL_FW_POSITIONS_H

/* Positions of a rule set's rules while the set is deleted (C++ only). */

#include <cstddef>
#include <vector>

namespace accesscontrol {

// Positions of one family's rules removed while a set is deleted, in the chain's numbering
// before the deletion. A rule moves up one place for each removed rule below it: counting
// them replaces renumbering every rule after each single removal, which made deleting a set
// of n rules cost n times the whole chain.
class RemovedPositions {
public:
    // The set's positions of this family, in any order.
    explicit RemovedPositions(std::vector<int> set_positions);
    // A set whose `count` positions of this family are first, first + 1, ... : a set's rules go
    // in one after another and stay together, and a list of tens of thousands of them, made
    // for each deletion, was a tenth of it.
    RemovedPositions(int first, std::size_t count);

    // Where the rule of the set first at `original` is now, marking it removed.
    int remove(int original);
    // Where a rule of another set, first at `original`, is once every removal is done.
    int after_all(int original) const;

private:
    std::size_t size() const { return listed_ ? positions_.size() : count_; }
    int position_at(std::size_t rank) const;
    // The set's positions below `original`.
    std::size_t positions_below(int original) const;
    std::size_t rank_of(int original) const;
    void build_tree();
    void add_to_tree(std::size_t rank);
    std::size_t removed_before(std::size_t rank) const;

    bool listed_ = true;
    std::vector<int> positions_;  // sorted, when listed_
    int first_ = 0;               // otherwise the range first_, first_ + count_ - 1
    std::size_t count_ = 0;
    // While the removals come in order, they are the ranks below this.
    std::size_t in_order_ = 0;
    std::vector<std::size_t> removed_tree_;  // from the first removal out of order on
};

}  // namespace accesscontrol

#endif
