// The positional chain of the memory backend against a vector doing the same edits: random
// insertions, removals and reads anywhere, the walk in order, and erased elements put back.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "memory_backend.h"
#include "positional_list.h"

namespace fwinterface {
namespace {

TEST(PositionalList, RandomEditsMatchAVector) {
    std::mt19937 random(7);
    PositionalList<std::string> list;
    std::vector<std::string> model;
    for(int step = 0; step < 20000; ++step) {
        const std::size_t at = model.empty() ? 0 : random() % (model.size() + 1);
        if(model.empty() || random() % 5 < 3) {  // grows, with a bias towards the front
            const std::size_t where = random() % 2 == 0 ? 0 : at;
            list.insert(list.begin() + static_cast<std::ptrdiff_t>(where), std::to_string(step));
            model.insert(model.begin() + static_cast<std::ptrdiff_t>(where), std::to_string(step));
        } else {
            const std::size_t where = random() % 2 == 0 ? 0 : at % model.size();
            ASSERT_EQ(list[where], model[where]);
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(where));
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(where));
        }
        ASSERT_EQ(list.size(), model.size());
        if(step % 2500 == 0) {
            ASSERT_EQ(std::vector<std::string>(list.begin(), list.end()), model);
            list.release_spares();
        }
    }
    // What a roll-back does: put back, in reverse, what was erased.
    const std::vector<std::string> before(list.begin(), list.end());
    std::vector<std::pair<std::size_t, std::string>> erased;
    for(int n = 0; n < 100 && !list.empty(); ++n) {
        const std::size_t where = random() % list.size();
        erased.emplace_back(where, std::move(list[where]));
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(where));
    }
    for(auto it = erased.rbegin(); it != erased.rend(); ++it) {
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(it->first), std::move(it->second));
    }
    EXPECT_EQ(std::vector<std::string>(list.begin(), list.end()), before);
}

// The interface checks positions against its own view; the memory backend checks again, so
// that a transaction reaching it out of step removes or places nothing it should not.
TEST(MemoryBackend, OperationsOutOfStepWithTheChainUndoTheTransaction) {
    MemoryBackend backend;
    const ChainKey chain = access_control_chain(false);
    const auto insert = [&](std::uint32_t at, const char* rule) { return Operation{Operation::Kind::insert, chain, at, rule}; };
    ASSERT_TRUE(backend.apply(std::vector{insert(1, "-s 10.0.0.1/32 -j DROP"), insert(2, "-s 10.0.0.2/32 -j DROP")}));
    const std::string before = backend.dump();

    const Operation other{Operation::Kind::remove, chain, 1, "-s 10.0.0.2/32 -j DROP"};
    EXPECT_FALSE(backend.apply(std::vector{insert(3, "-s 10.0.0.3/32 -j DROP"), other}));
    EXPECT_EQ(backend.error(), "operation 2: another rule at that position");
    EXPECT_EQ(backend.dump(), before);
    EXPECT_FALSE(backend.apply(std::vector{insert(4, "-s 10.0.0.4/32 -j DROP")}));  // one past the end
    EXPECT_EQ(backend.dump(), before);
}

}  // namespace
}  // namespace fwinterface
