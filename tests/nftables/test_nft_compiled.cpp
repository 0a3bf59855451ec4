// Compiled access-control chains: alike rules share one kernel rule (one per port) and a set in
// table AccessControl_QK, a rule of another target splits their run, and every failure leaves
// the kernel as it was.
// The verdicts themselves are proven with packets by the equivalence test.

#include <unistd.h>

// Counts the heap in use whichever allocator the build has.
#if defined(__SANITIZE_ADDRESS__)
#define HEAP_OF_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HEAP_OF_ASAN 1
#endif
#endif
#ifdef HEAP_OF_ASAN
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

#include <algorithm>
#include <cctype>
#include <regex>
#include <sstream>

#include "nft_fixture.h"
#include "nftables_backend.h"

namespace nfttest {
namespace {

const char* const compiled = "AccessControl_QK";
// How a compiled rule gives its verdict, through the packet mark.
const std::string drops = "meta mark set meta mark & 0xdfffffff | 0x10000000 return";
const std::string accepts = "meta mark set meta mark | 0x30000000 return";

class NftCompiled : public NftablesTest {
protected:
    bool sets() const override { return true; }

    // The rules of a chain as `nft list chain` prints them, one trimmed line each: by default
    // the IPv4 compiled chain.
    std::vector<std::string> rules(const ChainName& chain = access_control_v4, const char* table = compiled) const {
        std::istringstream lines(nft(std::string("list chain ") + (chain.ipv6 ? "ip6 " : "ip ") + table + " " + chain.chain).output);
        std::vector<std::string> rules;
        for(std::string line; std::getline(lines, line);) {
            line.erase(0, line.find_first_not_of(" \t"));
            if(!line.empty() && line != "}" && !line.starts_with("table ") && !line.starts_with("chain ") && line[0] != '#') {
                rules.push_back(line);
            }
        }
        return rules;
    }

    // Both tables of a family with handles: what must not change when a commit fails.
    std::string tables(bool ipv6) const {
        const char* family = ipv6 ? "ip6" : "ip";
        return exec_in(ns(), {"nft", "-a", "list", "table", family, "filter"}).output +
               exec_in(ns(), {"nft", "-a", "list", "table", family, compiled}).output;
    }

    // The elements of every IPv4 set, one line per set ("{ a, b }"), the sets sorted (their
    // names are not predictable); nft may spread a long list over several lines.
    std::string elements() const {
        const std::string table = nft(std::string("list table ip ") + compiled).output;
        std::vector<std::string> sets;
        for(std::size_t at = table.find("elements = {"); at != std::string::npos; at = table.find("elements = {", at)) {
            const std::size_t end = table.find('}', at);
            std::string set = "{ ";
            for(const char c : table.substr(at + 12, end - at - 12)) {
                set += c == ',' ? ", " : std::isspace(static_cast<unsigned char>(c)) ? "" : std::string(1, c);
            }
            sets.push_back(set + " }\n");
            at = end;
        }
        std::sort(sets.begin(), sets.end());
        std::string all;
        for(const std::string& set : sets) {
            all += set;
        }
        return all;
    }
};

class NftCompiledWithJump : public NftCompiled {
protected:
    bool jump() const override { return true; }
};

std::string address(int last_byte) { return "10.1.0." + std::to_string(last_byte); }

// "{ 10.1.0.<first>, ..., 10.1.0.<last> }" without the numbers in `without`.
std::string addresses(int first, int last, std::vector<int> without = {}) {
    std::string list = "{ ";
    for(int i = first; i <= last; ++i) {
        if(std::find(without.begin(), without.end(), i) == without.end()) {
            list += (list.size() > 2 ? ", " : "") + address(i);
        }
    }
    return list + " }\n";
}

// The drop rule for TCP from 10.1.0.<host> to `port`.
Rule blocked(int host, uint32_t port) {
    return RuleMaker().source(address(host).c_str()).protocol(6).destination_ports(port).make();
}

// The drop rule for UDP from 10.1.0.<host>, any port.
Rule blocked_udp(int host) { return RuleMaker().source(address(host).c_str()).protocol(17).make(); }

void commit() { ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error(); }
// A rule fwrules refuses reaches these as null, which the firewall refuses too.
void add(const Rule& rule, uint32_t position) { ASSERT_EQ(fw_add_rule(rule.get(), position), FW_OK); }
void del(const Rule& rule, uint32_t position) { ASSERT_EQ(fw_delete_rule(rule.get(), position), FW_OK); }

// What fw_check() finds wrong in the kernel: "" when nothing.
std::string check() {
    char* differences = fw_check();
    const std::string text = differences == nullptr ? std::string("fw_check failed: ") + fw_backend_error() : differences;
    std::free(differences);
    return text;
}

// Sources with ports 80 and 443 each, as the module lays them out: source by source.
void install_two_ports(int sources) {
    uint32_t position = 1;
    for(int i = 1; i <= sources; ++i) {
        add(blocked(i, 80), position++);
        add(blocked(i, 443), position++);
    }
    commit();
}

TEST_F(NftCompiled, AlikeRulesShareOneKernelRuleWithTheirSourcesInASet) {
    install_two_ports(200);
    EXPECT_EQ(size_v4(), 400U);
    const std::vector<std::string> run = rules();
    ASSERT_EQ(run.size(), 2U) << ::testing::PrintToString(run);
    EXPECT_NE(run[0].find("ip saddr @acqk_"), std::string::npos) << run[0];
    EXPECT_NE(run[0].find("tcp dport 80 " + drops), std::string::npos) << run[0];
    EXPECT_NE(run[1].find("tcp dport 443 " + drops), std::string::npos) << run[1];
    std::smatch set;
    ASSERT_TRUE(std::regex_search(run[0], set, std::regex("@acqk_[0-9]+ ")));
    EXPECT_NE(run[1].find(set.str()), std::string::npos) << "one set for both ports: " << run[1];
    EXPECT_EQ(elements(), addresses(1, 200));

    // Removing a source in the middle of the run (both its rules) takes it out of both sets.
    del(blocked(100, 80), 199);
    del(blocked(100, 443), 199);
    commit();
    EXPECT_EQ(size_v4(), 398U);
    EXPECT_EQ(elements(), addresses(1, 200, {100}));
    EXPECT_EQ(rules().size(), 2U);
}

// A port change builds every rule anew before the old ones go, so each source holds both
// ports for a moment; changed back and forth, the sources follow with their one port each.
TEST_F(NftCompiled, PortChangedBackAndForthMovesEverySourceWithIt) {
    const int sources = 3;
    for(int i = 1; i <= sources; ++i) {
        add(blocked(i, 80), i);
    }
    commit();
    for(const uint32_t port : {81U, 80U, 81U}) {
        const uint32_t old = port == 81U ? 80U : 81U;
        for(int i = 1; i <= sources; ++i) {
            add(blocked(i, port), sources + i);
        }
        for(int i = 1; i <= sources; ++i) {
            del(blocked(i, old), 1);
        }
        commit();
        const std::vector<std::string> run = rules();
        ASSERT_EQ(run.size(), 1U) << port << ": " << ::testing::PrintToString(run);
        EXPECT_NE(run[0].find("tcp dport " + std::to_string(port) + " " + drops), std::string::npos) << run[0];
        EXPECT_EQ(elements(), addresses(1, sources));
        EXPECT_EQ(check(), "");
    }
}

// Subnets go into an interval set, merged where they touch; single addresses into a hash set
// beside it; an address that two rules hold stays until both are gone.
TEST_F(NftCompiled, SubnetsAreMergedAndAddressesCountedUntilTheLastRuleGoes) {
    add(RuleMaker().source("10.2.0.0", "255.255.255.0").make(), 1);
    add(RuleMaker().source("10.2.0.7").make(), 2);
    add(RuleMaker().source("10.2.0.7").make(), 3);
    add(RuleMaker().source("10.2.1.0", "255.255.255.0").make(), 4);
    commit();
    EXPECT_EQ(rules().size(), 2U);
    EXPECT_EQ(elements(), "{ 10.2.0.0/23 }\n{ 10.2.0.7 }\n");
    del(RuleMaker().source("10.2.0.0", "255.255.255.0").make(), 1);
    commit();
    EXPECT_EQ(elements(), "{ 10.2.0.7 }\n{ 10.2.1.0/24 }\n");
    del(RuleMaker().source("10.2.0.7").make(), 1);
    commit();
    EXPECT_EQ(elements(), "{ 10.2.0.7 }\n{ 10.2.1.0/24 }\n");
    del(RuleMaker().source("10.2.0.7").make(), 1);
    commit();
    EXPECT_EQ(elements(), "{ 10.2.1.0/24 }\n") << "the set goes with its rule";
    EXPECT_EQ(rules().size(), 1U);
    del(RuleMaker().source("10.2.1.0", "255.255.255.0").make(), 1);
    commit();
    EXPECT_TRUE(rules().empty());
    EXPECT_TRUE(rules(access_control_v4, "filter").empty()) << "no verdict rules for an empty chain";
    EXPECT_EQ(elements(), "");
}

TEST_F(NftCompiled, RuleOfAnotherTargetSplitsTheRunAndItsRemovalJoinsIt) {
    for(uint32_t i = 1; i <= 6; ++i) {
        add(RuleMaker().source(address(static_cast<int>(i)).c_str()).make(), i);
    }
    commit();
    EXPECT_EQ(rules().size(), 1U);
    // The positional chain turns only the verdicts the compiled chain gives into theirs.
    const auto dispatching = [this] {
        std::string marks;
        for(const std::string& rule : rules(access_control_v4, "filter")) {
            marks += rule.substr(0, rule.find(" # ")) + '\n';
        }
        return marks;
    };
    EXPECT_EQ(dispatching(), "meta mark & 0x30000000 == 0x10000000 drop\n");

    // An exception for 10.1.0.4 in front of its drop: 1-3 | accept 4 | 4-6.
    add(RuleMaker().source(address(4).c_str()).target(FW_RULE_POLICY_ACCEPT).make(), 4);
    commit();
    const std::vector<std::string> split = rules();
    ASSERT_EQ(split.size(), 3U) << ::testing::PrintToString(split);
    EXPECT_NE(split[0].find(drops), std::string::npos);
    EXPECT_NE(split[1].find(accepts), std::string::npos) << split[1];
    EXPECT_NE(split[2].find(drops), std::string::npos);
    EXPECT_EQ(elements(), addresses(1, 3) + addresses(4, 4) + addresses(4, 6));
    EXPECT_EQ(dispatching(), "meta mark & 0x30000000 == 0x10000000 drop\n"
                             "meta mark & 0x30000000 == 0x30000000 accept\n");

    del(RuleMaker().source(address(4).c_str()).target(FW_RULE_POLICY_ACCEPT).make(), 4);
    commit();
    EXPECT_EQ(rules().size(), 1U);
    EXPECT_EQ(elements(), addresses(1, 6));
    EXPECT_EQ(dispatching(), "meta mark & 0x30000000 == 0x10000000 drop\n");
    EXPECT_EQ(check(), "") << "the handles of the dispatch rules written anew";
}

// A stretch withdrawn from the middle of a run into the rule of another target behind it, as
// long as that run: each run loses only the stretch's rules, and the two drops left join.
TEST_F(NftCompiled, StretchAcrossTwoRunsTakesOnlyItsOwnRulesFromEach) {
    const auto drop = [](int host) { return RuleMaker().source(address(host).c_str()).make(); };
    const auto accept = RuleMaker().source(address(9).c_str()).target(FW_RULE_POLICY_ACCEPT).make();
    for(int host = 1; host <= 3; ++host) {
        add(drop(host), static_cast<uint32_t>(host));
    }
    add(accept, 4);
    add(drop(4), 5);
    commit();
    ASSERT_EQ(rules().size(), 3U);
    del(drop(2), 2);
    del(drop(3), 2);
    del(accept, 2);
    commit();
    EXPECT_EQ(check(), "");
    EXPECT_EQ(size_v4(), 2U);
    EXPECT_EQ(rules().size(), 1U) << ::testing::PrintToString(rules());
    EXPECT_EQ(elements(), addresses(1, 4, {2, 3}));
}

// A stretch of rules withdrawn in one commit: a family wholly inside it goes at once, with its
// kernel rule and set; a family that keeps rules outside it loses the stretch's members only.
// Refused later in the same commit, all of it is taken back.
TEST_F(NftCompiled, StretchWithdrawnTogetherDropsWholeFamiliesAndThinsTheOthers) {
    install_two_ports(2);  // 1-4: TCP 80 and 443 from .1 and .2
    for(int host = 1; host <= 3; ++host) {
        add(blocked_udp(host), 4 + static_cast<uint32_t>(host));  // 5-7: UDP
    }
    add(blocked(9, 80), 8);
    commit();
    ASSERT_EQ(rules().size(), 4U) << "TCP 80+443, UDP, TCP 80";
    const std::string before = tables(false);
    const std::string dumped = dump();
    const auto withdraw_2_to_7 = [] {
        del(blocked(1, 443), 2);
        del(blocked(2, 80), 2);
        del(blocked(2, 443), 2);
        for(int host = 1; host <= 3; ++host) {
            del(blocked_udp(host), 2);
        }
    };
    withdraw_2_to_7();
    add(RuleMaker(true).target(FW_RULE_POLICY_MASQUERADE).make(), 1);  // refused after the stretch
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_EQ(tables(false), before);
    EXPECT_EQ(dump(), dumped);
    EXPECT_EQ(check(), "");

    withdraw_2_to_7();
    commit();
    EXPECT_EQ(check(), "");
    EXPECT_EQ(size_v4(), 2U);
    ASSERT_EQ(rules().size(), 1U) << ::testing::PrintToString(rules());
    EXPECT_NE(rules()[0].find("tcp dport 80 " + drops), std::string::npos) << rules()[0];
    EXPECT_EQ(elements(), "{ 10.1.0.1, 10.1.0.9 }\n");
}

// A new set of thousands of addresses is made and filled in transactions of its own before
// the one that adds its rule; when filling fails, the set goes and nothing else changed.
TEST_F(NftCompiled, LargeSetIsFilledBeforeItsRuleAndAFailedFillLeavesNothingBehind) {
    constexpr uint32_t sources = 5000;
    const auto install = [] {
        for(uint32_t i = 0; i < sources; ++i) {
            const std::string source = "10.3." + std::to_string(i / 256) + "." + std::to_string(i % 256);
            add(RuleMaker().source(source.c_str()).make(), i + 1);
        }
    };
    const std::string before = tables(false);
    install();
    ASSERT_EQ(fw_nftables_lose_answers_next(), 0);
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_NE(std::string(fw_backend_error()).find("cannot fill set acqk_"), std::string::npos) << fw_backend_error();
    EXPECT_EQ(tables(false), before);
    EXPECT_EQ(size_v4(), 0U);

    install();
    commit();
    EXPECT_EQ(check(), "");
    EXPECT_EQ(size_v4(), sources);
    ASSERT_EQ(rules().size(), 1U);
    const std::string set = elements();
    EXPECT_EQ(static_cast<uint32_t>(std::count(set.begin(), set.end(), ',')), sources - 1);
}

// The heap's bytes in use, as the allocator of this build counts them.
std::size_t heap_in_use() {
#ifdef HEAP_OF_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// A group deleted whole leaves the library holding what it held before the group came, once
// the memory went back: what it keeps for a roll-back meanwhile (a node per rule) is not kept
// for good, delete after delete, large (its memory goes back later) or small (at once); nor
// piled up by a burst of changes that puts the hand-back off, as gwrt's settle timer does.
TEST_F(NftCompiled, DeletedGroupGivesItsMemoryBack) {
    std::vector<Rule> group;
    for(uint32_t i = 0; i < 5000; ++i) {
        const std::string source = "10.4." + std::to_string(i / 256) + "." + std::to_string(i % 256);
        group.push_back(RuleMaker().source(source.c_str()).make());
    }
    // The heap in use after the group was installed and deleted.
    const auto install_and_delete = [&group](uint32_t sources) {
        const std::size_t before = heap_in_use();
        for(uint32_t i = 0; i < sources; ++i) {
            add(group[i], i + 1);
        }
        commit();
        EXPECT_GT(heap_in_use(), before + sources * 64);
        for(uint32_t i = 0; i < sources; ++i) {
            del(group[i], 1);
        }
        commit();
        EXPECT_EQ(size_v4(), 0U);
        return heap_in_use();
    };
    // Each size twice: the first round leaves the room kept for the batches of the next, and
    // the second is measured from where a change of one rule left the library.
    for(const uint32_t sources : {5000U, 1000U}) {
        install_and_delete(sources);
        add(group[0], 1);
        commit();
        del(group[0], 1);
        commit();
        fw_backend_release_memory();
        const std::size_t before = heap_in_use();
        install_and_delete(sources);
        fw_backend_release_memory();
        EXPECT_LT(heap_in_use(), before + sources * 16) << sources << " sources";
    }

    struct Burst {  // the memory goes back only once it ends
        Burst() { fw_backend_release_when_settled([](void*) {}, nullptr); }
        ~Burst() { fw_backend_release_when_settled(nullptr, nullptr); }
    } burst;
    const std::size_t first = install_and_delete(5000);
    install_and_delete(5000);
    EXPECT_LT(install_and_delete(5000), first + 5000 * 16) << "in a burst";
}

// Either kernel form, with the forward hooks owned: a masquerade target has no place in a
// filter chain reached from the forward hook, although the rule itself is complete. The kernel
// (or the compiled form, before it) refuses it after the transaction's other operations.
class NftRefused : public NftCompiledWithJump, public ::testing::WithParamInterface<bool> {
protected:
    bool sets() const override { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Forms, NftRefused, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "sets" : "per_rule"; });

TEST_P(NftRefused, RefusedCommitLeavesKernelAndBookkeepingExactlyAsTheyWere) {
    install_two_ports(20);
    add(RuleMaker(true).source("fd00::1").make(), 1);
    commit();
    const std::string v4 = tables(false);
    const std::string v6 = tables(true);
    const std::string dumped = dump();
    const auto changes = [] {
        del(blocked(1, 80), 1);
        add(RuleMaker().source("10.9.0.1").target(FW_RULE_POLICY_ACCEPT).make(), 5);
        add(RuleMaker(true).source("fd00::2").make(), 2);
    };
    changes();
    add(RuleMaker().target(FW_RULE_POLICY_MASQUERADE).make(), 10);
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_EQ(tables(false), v4);
    EXPECT_EQ(tables(true), v6);
    EXPECT_EQ(dump(), dumped);
    EXPECT_EQ(fw_pending_count(), 0U);

    // The bookkeeping still matches the kernel: the same changes without the refused one land.
    changes();
    commit();
    EXPECT_EQ(check(), "");
    if(GetParam()) {
        EXPECT_EQ(rules().size(), 8U) << "sources by their ports: drop 443 | 80, 443 | 80, accept, drop 443 | 80, 443";
        // The refused accept rule left no trace among the verdicts: with the landed one gone,
        // only drop's is dispatched.
        del(RuleMaker().source("10.9.0.1").target(FW_RULE_POLICY_ACCEPT).make(), 5);
        commit();
        EXPECT_EQ(rules(access_control_v4, "filter").size(), 1U);

        // A port more for the last source (the last record of its family), refused, then landed
        // and withdrawn: the refusal took its count back, so the source has its two ports again.
        const std::size_t kernel_rules = rules().size();
        add(blocked(20, 8080), size_v4() + 1);
        add(RuleMaker().target(FW_RULE_POLICY_MASQUERADE).make(), size_v4() + 2);
        EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
        add(blocked(20, 8080), size_v4() + 1);
        commit();
        EXPECT_GT(rules().size(), kernel_rules);
        del(blocked(20, 8080), size_v4());
        commit();
        EXPECT_EQ(rules().size(), kernel_rules);
        EXPECT_EQ(check(), "");
    } else {
        EXPECT_EQ(kernel(), dump());
    }
}

TEST_F(NftCompiled, LostAnswersTakeTheTransactionBackAndLeaveAnEquivalentKernel) {
    install_two_ports(10);
    const std::string dumped = dump();
    const std::string sets = elements();
    ASSERT_EQ(fw_nftables_lose_answers_next(), 0);
    // New kernel rules (echoed back) and elements: more answers than the starved buffer holds.
    for(uint32_t port = 1000; port < 1040; ++port) {
        add(blocked(50, port), 1);
    }
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_NE(std::string(fw_backend_error()).find("taken back"), std::string::npos) << fw_backend_error();
    EXPECT_EQ(dump(), dumped);
    EXPECT_EQ(elements(), sets);
    EXPECT_EQ(rules().size(), 2U);
    add(blocked(11, 80), 21);
    commit();
    EXPECT_EQ(elements(), addresses(1, 10) + addresses(11, 11)) << "11 has other ports: a set of its own";
}

TEST_F(NftCompiled, NextRunDeletesTheSetsAnEarlierRunLeft) {
    install_two_ports(5);
    ASSERT_EQ(fw_backend_select("memory"), 0);  // closes without touching the kernel, like a crash
    ASSERT_NE(elements(), "");
    ASSERT_EQ(nft("add set ip filter someone_else { type ipv4_addr; }").status, 0);
    ASSERT_EQ(fw_backend_select("nftables"), 0) << fw_backend_error();
    const std::string table = nft(std::string("list table ip ") + compiled).output;
    EXPECT_EQ(table.find("acqk_"), std::string::npos) << table;
    EXPECT_NE(nft("list table ip filter").output.find("someone_else"), std::string::npos) << "sets of others stay";
    EXPECT_TRUE(rules().empty());
}

// A text fwrules would write otherwise (the protocol by its number, as a rule read from the
// kernel may come) stays as it came through a compiled chain: the dump shows it, and only that
// text removes its rule. The backend is driven directly, as the library's own callers do.
TEST_F(NftCompiled, ATextInAnotherFormStaysAsItCame) {
    ASSERT_EQ(fw_backend_select("memory"), 0);  // the chains are this test's backend's
    std::string why;
    const std::unique_ptr<fwinterface::NftablesBackend> backend =
        fwinterface::NftablesBackend::start(fwinterface::NftablesOptions{}, why);
    ASSERT_NE(backend, nullptr) << why;
    using fwinterface::Operation;
    const fwinterface::ChainKey chain = fwinterface::access_control_chain(false);
    const std::string given = "-s 10.0.0.1/32 -p 6 -m tcp --dport 80 -j DROP";
    auto apply = [&](Operation::Kind kind, const std::string& rule) {
        std::vector<Operation> transaction{Operation{kind, chain, 1, 1, rule, false}};
        return backend->apply(transaction);
    };
    ASSERT_TRUE(apply(Operation::Kind::insert, given)) << backend->error();
    EXPECT_NE(backend->dump().find(given), std::string::npos) << backend->dump();
    EXPECT_FALSE(apply(Operation::Kind::remove, "-s 10.0.0.1/32 -p tcp -m tcp --dport 80 -j DROP"));
    EXPECT_TRUE(apply(Operation::Kind::remove, given)) << backend->error();
    EXPECT_EQ(backend->chain_size(chain), 0U);
}

TEST_F(NftCompiled, SwitchingCompilationRewritesTheChainsWithTheSameRules) {
    install_two_ports(3);
    add(RuleMaker(true).source("fd00::1").protocol(17).destination_ports(53).make(), 1);
    commit();
    const std::string dumped = dump();
    ASSERT_EQ(fw_backend_set_option("sets", "0"), 0) << fw_backend_error();
    EXPECT_EQ(kernel(), dumped) << "one kernel rule per rule";
    EXPECT_EQ(elements(), "");
    ASSERT_EQ(fw_backend_set_option("sets", "1"), 0) << fw_backend_error();
    EXPECT_EQ(dump(), dumped);
    EXPECT_EQ(rules().size(), 2U);
    EXPECT_EQ(rules(access_control_v6).size(), 1U);
    // Positions keep working after the rewrite.
    del(blocked(1, 80), 1);
    commit();
    EXPECT_EQ(elements(), addresses(1, 1) + addresses(2, 3));
}

// What someone else does to the chains and sets shows in the check until the backend reads
// the kernel's notifications; then the kernel holds what it held before (the sets under new
// names, so the set is flushed first).
TEST_F(NftCompiledWithJump, CheckSeesTamperingAndTheRepairUndoesIt) {
    install_two_ports(3);
    const std::string table = tables(false);
    std::smatch set;
    ASSERT_TRUE(std::regex_search(table, set, std::regex("acqk_[0-9]+")));
    const std::string sets = elements();
    const std::size_t kept = rules().size();
    const std::string dumped = dump();
    const std::pair<std::string, std::string> tamperings[] = {
        {"flush set ip AccessControl_QK " + set.str(), "set " + set.str() + " holds 0 element(s) where 3 are expected"},
        {"flush chain ip AccessControl_QK FORWARD_AccessControl_QK", "2 of 2 kernel rule(s) missing"},
        {"flush chain ip filter FORWARD_AccessControl_QK", "1 of 1 kernel rule(s) missing"},  // drop's dispatch
        {"flush chain ip AccessControl_QK forward", "the mark's clearing and one jump are expected"},
        {"flush chain ip filter FORWARD_AccessControl_QK_hook", "where one jump is expected"},
        {"insert rule ip AccessControl_QK FORWARD_AccessControl_QK ip saddr 10.9.9.9 accept",
         "not written here: \"ip saddr 10.9.9.9 accept\""},
        {"delete table ip6 AccessControl_QK", "ip6 AccessControl_QK forward: the chain is missing"},
        {"flush ruleset", "FORWARD6_AccessControl_QK: the chain is missing"},
    };
    for(const auto& [command, seen] : tamperings) {
        SCOPED_TRACE(command);
        ASSERT_EQ(nft(command).status, 0);
        const std::string differences = check();
        EXPECT_NE(differences.find(seen), std::string::npos) << differences;
        // As the event loop does: again after the delay it asks for (repairs are spaced).
        int delay = fw_backend_watch();
        for(int round = 0; delay >= 0 && round < 10; ++round, delay = fw_backend_watch()) {
            usleep(static_cast<useconds_t>(delay) * 1000);
        }
        EXPECT_EQ(delay, -1);
        EXPECT_EQ(check(), "");
        EXPECT_EQ(elements(), sets);
        EXPECT_EQ(rules().size(), kept);
        EXPECT_EQ(dump(), dumped);
    }
    // A commit right after a flushed ruleset lands on the chains written anew.
    ASSERT_EQ(nft("flush ruleset").status, 0);
    add(blocked(4, 80), 1);
    commit();
    EXPECT_EQ(check(), "");
    EXPECT_EQ(elements(), addresses(1, 3) + addresses(4, 4));
}

}  // namespace
}  // namespace nfttest
