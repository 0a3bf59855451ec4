// The positional chain of the memory backend against a vector doing the same edits: random
// insertions, removals and reads anywhere, the walk in order, and erased elements put back.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <span>
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

// A long transaction is applied as one rewrite of each chain: it must end where its
// operations one by one end, and refuse what they refuse with nothing changed.
TEST(MemoryBackend, LongTransactionsEndWhereTheirOperationsOneByOneEnd) {
    using Kind = Operation::Kind;
    std::mt19937 random(11);
    MemoryBackend whole;
    MemoryBackend one_by_one;
    std::map<ChainKey, std::vector<std::string>> model;
    for(int round = 0; round < 40; ++round) {
        auto next = model;
        std::vector<Operation> transaction;
        const bool rising = round % 4 != 3;  // as a net difference is; otherwise in any order
        for(const bool ipv6 : {false, true}) {
            const ChainKey chain = access_control_chain(ipv6);
            std::vector<std::string>& rules = next[chain];
            for(const Kind kind : {Kind::insert, Kind::remove}) {
                std::size_t at = random() % 2;
                for(int n = 0; n < 60; ++n, at += (kind == Kind::insert) + random() % 3) {
                    at = rising ? at : random() % (rules.size() + 1);
                    if(kind == Kind::insert ? at > rules.size() : at >= rules.size()) {
                        break;
                    }
                    const auto where = rules.begin() + static_cast<std::ptrdiff_t>(at);
                    std::string rule = kind == Kind::remove ? *where : "-s 10.0." + std::to_string(round) + "." + std::to_string(n) + "/32 -j DROP";
                    kind == Kind::insert ? (void)rules.insert(where, rule) : (void)rules.erase(where);
                    transaction.push_back(Operation{kind, chain, static_cast<std::uint32_t>(at + 1), std::move(rule)});
                }
            }
        }
        if(round % 5 == 4) {
            const std::size_t bad = random() % transaction.size();
            Operation& op = transaction[bad];
            op.kind == Kind::insert ? (void)(op.position += 1000) : (void)(op.rule = "-s 192.0.2.1/32 -j DROP");
            const std::string before = whole.dump();
            EXPECT_FALSE(whole.apply(transaction));
            EXPECT_THAT(std::string(whole.error()), testing::StartsWith("operation " + std::to_string(bad + 1) + ": "));
            EXPECT_EQ(whole.dump(), before);
            continue;
        }
        ASSERT_TRUE(whole.apply(transaction)) << whole.error();
        for(const Operation& op : transaction) {
            ASSERT_TRUE(one_by_one.apply(std::span(&op, 1))) << one_by_one.error();
        }
        ASSERT_EQ(whole.dump(), one_by_one.dump());
        model = std::move(next);
    }
}

}  // namespace
}  // namespace fwinterface
