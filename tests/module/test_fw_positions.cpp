// A set's rules removed one after another, in order and in any order, against renumbering
// every rule after each removal as the chain does.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "accesscontrol/accesscontrol_fw_positions.h"

namespace {

// A chain of `size` rules, the set's at `set` (1-based): each of the set's rules, removed in
// `order`, is looked up where it stands then, and the others' positions checked at the end.
// A set lying together is checked both listed and as its range.
void expect_positions(int size, const std::vector<int>& set, const std::vector<int>& order, bool as_range = false) {
    std::vector<int> chain(static_cast<std::size_t>(size));  // original positions, as they stand
    for(int i = 0; i < size; ++i) {
        chain[static_cast<std::size_t>(i)] = i + 1;
    }
    const bool together = !set.empty() && set.back() - set.front() + 1 == static_cast<int>(set.size());
    if(together && !as_range) {
        expect_positions(size, set, order, true);
    }
    accesscontrol::RemovedPositions removed =
        as_range ? accesscontrol::RemovedPositions(set.front(), set.size()) : accesscontrol::RemovedPositions(set);
    for(int original : order) {
        const auto standing = std::find(chain.begin(), chain.end(), original);
        ASSERT_EQ(removed.remove(original), standing - chain.begin() + 1) << "rule first at " << original;
        chain.erase(standing);
    }
    for(std::size_t now = 0; now < chain.size(); ++now) {
        EXPECT_EQ(removed.after_all(chain[now]), static_cast<int>(now) + 1) << "rule first at " << chain[now];
    }
}

TEST(RemovedPositions, InOrderOutOfOrderAndMixed) {
    expect_positions(7, {2, 3, 5}, {2, 3, 5});
    expect_positions(7, {2, 3, 5}, {5, 3, 2});
    expect_positions(9, {1, 4, 6, 8}, {1, 4, 8, 6});  // in order, then not
    expect_positions(9, {1, 4, 6, 8}, {6, 1, 4, 8});  // out of order first
    expect_positions(9, {3, 4, 5, 6}, {3, 4, 6, 5});  // together, the last two swapped
    std::mt19937 random(20261211);
    for(int round = 0; round < 300; ++round) {
        const int size = std::uniform_int_distribution<int>(1, 40)(random);
        std::vector<int> set;
        if(round % 2 == 0) {  // half of them together
            const int first = std::uniform_int_distribution<int>(1, size)(random);
            const int last = std::uniform_int_distribution<int>(first, size)(random);
            for(int position = first; position <= last; ++position) {
                set.push_back(position);
            }
        }
        for(int position = 1; position <= size && round % 2 != 0; ++position) {
            if(random() % 2 == 0) {
                set.push_back(position);
            }
        }
        std::vector<int> order = set;
        if(round % 3 != 0) {  // a third in order
            const auto keep = static_cast<std::ptrdiff_t>(random() % (order.size() + 1));
            std::shuffle(order.begin() + keep, order.end(), random);
        }
        expect_positions(size, set, order);
    }
}

}  // namespace
