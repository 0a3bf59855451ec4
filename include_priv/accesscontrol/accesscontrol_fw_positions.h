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

    // Where the rule of the set first at `original` is now, marking it removed.
    int remove(int original);
    // Where a rule of another set, first at `original`, is once every removal is done.
    int after_all(int original);

private:
    std::size_t rank_of(int original) const;
    void build_tree();
    void add_to_tree(std::size_t rank);
    int removed_before(std::size_t rank) const;

    std::vector<int> positions_;     // sorted
    std::vector<int> removed_;       // original positions removed so far
    std::size_t last_rank_ = 0;      // of the last removal
    std::vector<int> removed_tree_;  // empty while the removals come in order
    bool sorted_ = false;
};

}  // namespace accesscontrol

#endif
