// The structures behind the chains. The union of source intervals that a compiled kernel
// rule's set holds: always the fewest disjoint, non-adjacent intervals covering what was added
// and not removed, and each change reported exactly (what the kernel set must lose and gain).
// The positional chain of the memory backend against a vector doing the same edits: random
// insertions, removals and reads anywhere, and the walk in order (erased rules put back by a
// roll-back are checked through the memory backend below). The pending batch against the same
// operations applied one by one, also where the running rules come as their matches. A
// compiled chain's rules read back as the texts they came with, including texts its own writer
// would give otherwise.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "compiled_chain.h"
#include "interval_union.h"
#include "memory_backend.h"
#include "pending_batch.h"
#include "positional_list.h"
#include "rule_writer.h"

namespace fwinterface {
namespace {

using Merged = std::map<Address128, Address128>;

// Addresses of a small window at the bottom and at the top of the IPv4 space, so that runs
// touch both ends.
Address128 at(std::uint64_t offset, bool top) { return Address128{0, top ? UINT32_MAX - 63 + offset : offset}; }

// The maximal runs of covered addresses, from counts per address of the window.
Merged runs(const std::vector<int>& covered, bool top) {
    Merged merged;
    for(std::size_t i = 0; i < covered.size(); ++i) {
        if(covered[i] > 0 && i > 0 && covered[i - 1] > 0) {
            std::prev(merged.end())->second = at(i, top);
        } else if(covered[i] > 0) {
            merged.emplace(at(i, top), at(i, top));
        }
    }
    return merged;
}

TEST(IntervalUnion, RandomAddsAndRemovesKeepTheFewestIntervalsAndReportEveryChange) {
    for(const bool top : {false, true}) {
        std::mt19937 random(top ? 7 : 3);
        IntervalUnion held;
        std::vector<int> covered(64, 0);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> added;  // offsets, first and last
        for(int step = 0; step < 4000; ++step) {
            const bool add = added.empty() || random() % 3 != 0;
            std::pair<std::uint64_t, std::uint64_t> bounds;
            if(add) {
                const unsigned size_bits = random() % 4 == 0 ? random() % 5 : 0;  // a single address, or a subnet
                const std::uint64_t size = std::uint64_t{1} << size_bits;
                const std::uint64_t first = (random() % 64) / size * size;
                bounds = {first, first + size - 1};
                added.push_back(bounds);
            } else {
                const std::size_t pick = random() % added.size();
                bounds = added[pick];
                added.erase(added.begin() + static_cast<std::ptrdiff_t>(pick));
            }
            const Interval interval{at(bounds.first, top), at(bounds.second, top)};
            Merged before = held.merged();
            const IntervalUnion::Change change = add ? held.add(interval) : held.remove(interval);
            for(std::uint64_t i = bounds.first; i <= bounds.second; ++i) {
                covered[i] += add ? 1 : -1;
            }
            ASSERT_EQ(held.merged(), runs(covered, top)) << "step " << step;
            for(const Interval& gone : change.removed) {
                ASSERT_EQ(before.erase(gone.first), 1U) << "step " << step << ": removed what was not there";
            }
            for(const Interval& come : change.added) {
                ASSERT_TRUE(before.emplace(come.first, come.last).second) << "step " << step;
            }
            ASSERT_EQ(before, held.merged()) << "step " << step << ": the change does not lead to the union";
        }
    }
}

TEST(IntervalUnion, PrefixesCoverTheirWholeSubnetUpToTheEndOfTheSpace) {
    AddressMatch everything;
    everything.prefix = 0;
    EXPECT_EQ(interval_of(everything, false), (Interval{Address128{}, highest_address(false)}));
    EXPECT_EQ(interval_of(everything, true), (Interval{Address128{}, highest_address(true)}));
    AddressMatch subnet;
    subnet.bytes = {10, 1, 2, 0};
    subnet.prefix = 23;
    EXPECT_EQ(interval_of(subnet, false), (Interval{Address128{0, 0x0A010200}, Address128{0, 0x0A0103FF}}));
    AddressMatch v6;
    v6.bytes = {0xfd, 0x99, 0, 1};
    v6.prefix = 72;
    const Interval wide = interval_of(v6, true);
    EXPECT_EQ(wide.first, (Address128{0xfd99000100000000ULL, 0}));
    EXPECT_EQ(wide.last, (Address128{0xfd99000100000000ULL, 0x00FFFFFFFFFFFFFFULL}));
}

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
}

// A compiled chain keeps a rule as its matches and writes its text when read; a text it would
// write otherwise (a protocol by number, an IPv6 address in capitals) is kept as it came, and
// stays until a landed transaction removed its rule, a roll-back putting it back with it.
TEST(CompiledChain, RulesReadBackAsTheTextsTheyCameWith) {
    std::uint64_t sets = 0;
    CompiledChain chain(ChainKey{true, "AccessControl_QK", "FORWARD6_AccessControl_QK"}, sets);
    const std::vector<std::string> given{
        "-s 2001:db8::1/128 -p tcp -m tcp --dport 80 -j DROP",
        "-s 2001:DB8::2/128 -p tcp -m tcp --dport 80 -j DROP",
        "-s 2001:db8:1::/48 -p tcp -m tcp --sport 1000:2000 --dport 443 -j DROP",
        "-d 2001:db8::9/128 -p udp -m mac --mac-source 02:00:00:00:00:0a -m udp --dport 53 -j REJECT",
        "-s 2001:db8::3/128 -p 6 -j ACCEPT",
    };
    auto texts = [&chain] {
        std::vector<std::string> read;
        chain.for_each_text(0, chain.size(), [&read](std::string_view text) { read.emplace_back(text); });
        // What a removal is checked against stands for the same texts.
        std::vector<std::string> imaged;
        chain.for_each_image(0, chain.size(), [&imaged](const RuleImage& image) {
            fwrules::TextRoom room;
            imaged.emplace_back(image.text(room));
        });
        EXPECT_EQ(imaged, read);
        return read;
    };
    auto transaction = [&chain](auto&& change, bool lands) {
        NftBatch batch(1);
        std::uint32_t ids = 1;
        CompiledTransaction tx(batch, ids);
        change(tx);
        tx.write();
        if(lands) {
            BatchResult result;
            result.handles.assign(batch.last_seq() - batch.first_seq(), 1);  // a handle for every message
            tx.learn(result);
            chain.release_spares();
        }
    };
    transaction([&](CompiledTransaction& tx) {
        for(std::size_t i = 0; i < given.size(); ++i) {
            RuleSpec spec;
            std::string error;
            ASSERT_TRUE(parse_rule_text(given[i], true, spec, error)) << given[i] << ": " << error;
            chain.insert(tx, i, spec, given[i]);
        }
    }, true);
    EXPECT_EQ(texts(), given);
    EXPECT_TRUE(chain.holds(1, given[1]));
    EXPECT_FALSE(chain.holds(1, given[0]));

    transaction([&](CompiledTransaction& tx) { chain.remove(tx, 1); chain.remove_run(tx, 1, 2); }, false);
    EXPECT_EQ(texts(), given);

    transaction([&](CompiledTransaction& tx) { chain.remove(tx, 2); chain.remove(tx, 0); }, true);
    EXPECT_THAT(texts(), ::testing::ElementsAre(given[1], given[3], given[4]));
    transaction([&](CompiledTransaction& tx) { chain.remove_run(tx, 0, 2); }, true);
    EXPECT_THAT(texts(), ::testing::ElementsAre(given[4]));
}

// The interface checks positions against its own view; the memory backend checks again, so
// that a transaction reaching it out of step removes or places nothing it should not.
TEST(MemoryBackend, OperationsOutOfStepWithTheChainUndoTheTransaction) {
    MemoryBackend backend;
    const ChainKey chain = access_control_chain(false);
    const auto insert = [&](std::uint32_t at, const char* rule) { return Operation{Operation::Kind::insert, chain, at, 1, rule, false}; };
    const auto apply = [&](std::vector<Operation> transaction) { return backend.apply(transaction); };
    ASSERT_TRUE(apply({insert(1, "-s 10.0.0.1/32 -j DROP"), insert(2, "-s 10.0.0.2/32 -j DROP")}));
    const std::string before = backend.dump();

    const Operation other{Operation::Kind::remove, chain, 1, 1, "-s 10.0.0.2/32 -j DROP", false};
    EXPECT_FALSE(apply({insert(3, "-s 10.0.0.3/32 -j DROP"), other}));
    EXPECT_EQ(backend.error(), "operation 2: another rule at that position");
    EXPECT_EQ(backend.dump(), before);
    EXPECT_FALSE(apply({insert(4, "-s 10.0.0.4/32 -j DROP")}));  // one past the end
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
        std::deque<std::string> texts;  // the operations' texts, as a pending batch keeps them
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
                    if(kind == Kind::remove && n % 2 == 1) {
                        rule.clear();  // as a net difference names them: the rule standing there
                    }
                    Operation* last = transaction.empty() ? nullptr : &transaction.back();
                    if(rule.empty() && last != nullptr && last->kind == Kind::remove && last->rule.empty() &&
                       last->chain == chain && last->position == at + 1) {
                        ++last->count;  // a stretch removed, as one operation
                        continue;
                    }
                    transaction.push_back(
                        Operation{kind, chain, static_cast<std::uint32_t>(at + 1), 1, texts.emplace_back(std::move(rule)), false});
                }
            }
        }
        if(round % 5 == 4) {
            const std::size_t bad = random() % transaction.size();
            Operation& op = transaction[bad];
            op.kind == Kind::insert ? (void)(op.position += 1000) : (void)(op.rule = "-s 192.0.2.1/32 -j DROP");
            const std::string before = whole.dump();
            EXPECT_FALSE(whole.apply(transaction));
            const std::size_t number = rules_in(std::span(transaction).first(bad)) + 1;  // rules count one by one
            EXPECT_THAT(std::string(whole.error()), testing::StartsWith("operation " + std::to_string(number) + ": "));
            EXPECT_EQ(whole.dump(), before);
            continue;
        }
        for(Operation op : transaction) {
            ASSERT_TRUE(one_by_one.apply(std::span(&op, 1))) << one_by_one.error();
        }
        ASSERT_TRUE(whole.apply(transaction)) << whole.error();
        ASSERT_EQ(whole.dump(), one_by_one.dump());
        model = std::move(next);
    }
}

// A batch keeps a run of insertions, one position after another, as one piece. Insertions and
// removals inside a run, at its ends and among the running rules must still be checked rule by
// rule and lead where the same operations one by one lead.
TEST(PendingBatch, RunsOfInsertionsLeadWhereTheirOperationsOneByOneLead) {
    std::mt19937 random(5);
    MemoryBackend running;
    MemoryBackend one_by_one;
    const ChainKey chain = access_control_chain(false);
    std::vector<std::string> model;
    int made = 0;
    for(int round = 0; round < 30; ++round) {
        PendingBatch batch;
        std::size_t run_at = random() % (model.size() + 1);  // where the run goes on
        for(int n = 0; n < 80; ++n) {
            const bool insert = model.empty() || random() % 3 != 0;
            const std::size_t anywhere = random() % (model.size() + (insert ? 1 : 0));
            const std::size_t at = insert && random() % 4 != 0 ? std::min(run_at, model.size()) : anywhere;
            const auto where = model.begin() + static_cast<std::ptrdiff_t>(at);
            const auto position = static_cast<std::uint32_t>(at + 1);
            if(!insert && random() % 8 == 0) {
                ASSERT_EQ(batch.remove(running, chain, position, RuleImage::of_text("-s 192.0.2.1/32 -j DROP")), FW_ERROR_MISMATCH);
                continue;
            }
            std::string rule = insert ? "-s 10.1." + std::to_string(made / 256) + "." + std::to_string(made % 256) + "/32 -j DROP" : *where;
            made += insert ? 1 : 0;
            Operation op{insert ? Operation::Kind::insert : Operation::Kind::remove, chain, position, 1, rule, false};
            ASSERT_TRUE(one_by_one.apply(std::span(&op, 1))) << one_by_one.error();
            ASSERT_EQ(insert ? batch.insert(running, chain, position, rule) : batch.remove(running, chain, position, RuleImage::of_text(rule)), FW_OK);
            insert ? (void)model.insert(where, rule) : (void)model.erase(where);
            run_at = insert ? at + 1 : run_at - (at < run_at ? 1 : 0);
        }
        const std::span<const Operation> net = batch.net_operations(running);
        ASSERT_TRUE(running.apply(net)) << running.error();
        ASSERT_EQ(running.dump(), one_by_one.dump()) << "round " << round;
    }
}

// The memory backend's chains lent as their matches, as a compiled chain lends its rules.
class MatchesBackend final : public Backend {
public:
    std::string_view name() const override { return "matches"; }
    std::size_t chain_size(const ChainKey& key) const override { return texts.chain_size(key); }
    void rules_at(const ChainKey& key, std::size_t first, std::size_t count, std::vector<RuleImage>& out) const override {
        std::vector<RuleImage> lent;
        texts.rules_at(key, first, count, lent);
        for(const RuleImage& image : lent) {
            fwrules::TextRoom room;
            RuleSpec spec;
            std::string error;
            EXPECT_TRUE(parse_rule_text(image.text(room), key.ipv6, spec, error)) << error;
            out.push_back(RuleImage::of_matches(lent_.emplace_back(text_matches(spec, key.ipv6))));
        }
    }
    bool apply(std::span<const Operation> transaction) override {
        lent_.clear();
        return texts.apply(transaction);
    }
    std::string_view error() const override { return texts.error(); }
    void write_dump(const DumpSink& put) const override { texts.write_dump(put); }
    void reset() override {
        lent_.clear();
        texts.reset();
    }

    MemoryBackend texts;

private:
    mutable std::deque<fwrules::TextMatches> lent_;  // what the images borrow, until apply or reset
};

// A group withdrawn and built anew: the rules that come back alike at its front and back stay,
// the others go and come (insertions, then one removal), also where the running rules come as
// their matches.
TEST(PendingBatch, RulesThatComeBackAlikeStayAndNoOthers) {
    const ChainKey chain = access_control_chain(false);
    const std::vector<std::string> a_b_c{"-s 10.0.0.1/32 -j DROP", "-s 10.0.0.2/32 -j DROP", "-s 10.0.0.3/32 -j DROP"};
    struct Case {
        std::vector<std::size_t> built;  // of a_b_c, in the new order
        std::size_t net;                 // operations reaching the backend
    } cases[] = {{{0, 1, 2}, 0}, {{2, 1, 0}, 4}, {{1, 0, 2}, 3}, {{0, 2}, 1}, {{2, 0, 1}, 4}};
    for(const Case& c : cases) {
        MatchesBackend running;
        std::vector<Operation> install;
        for(std::size_t i = 0; i < a_b_c.size(); ++i) {
            install.push_back(Operation{Operation::Kind::insert, chain, static_cast<std::uint32_t>(i + 1), 1, a_b_c[i], false});
        }
        ASSERT_TRUE(running.apply(install));
        PendingBatch batch;
        for(const std::string& rule : a_b_c) {
            RuleSpec spec;
            std::string error;
            ASSERT_TRUE(parse_rule_text(rule, false, spec, error));
            ASSERT_EQ(batch.remove(running, chain, 1, RuleImage::of_matches(text_matches(spec, false))), FW_OK);
        }
        std::string expected;
        for(std::size_t i = 0; i < c.built.size(); ++i) {
            ASSERT_EQ(batch.insert(running, chain, static_cast<std::uint32_t>(i + 1), a_b_c[c.built[i]]), FW_OK);
            expected += "-A FORWARD_AccessControl_QK " + a_b_c[c.built[i]] + "\n";
        }
        const std::span<const Operation> net = batch.net_operations(running);
        EXPECT_EQ(net.size(), c.net);
        ASSERT_TRUE(running.apply(net)) << running.error();
        EXPECT_THAT(running.dump(), ::testing::HasSubstr(expected));
    }
}

}  // namespace
}  // namespace fwinterface
