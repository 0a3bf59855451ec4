// Positions in the kernel's chains follow the mirror: insertions and removals by position,
// alone or many in one commit, checked against what nft lists.

#include <random>

#include "nft_fixture.h"

namespace nfttest {
namespace {

using NftPositions = NftablesTest;

TEST_F(NftPositions, StartsWithTheEmptyAccessControlChainsInTheKernel) {
    EXPECT_EQ(kernel(), dump());
    EXPECT_EQ(dump(),
              "# ipv4\n*filter\n:FORWARD_AccessControl_QK - [0:0]\nCOMMIT\n"
              "# ipv6\n*filter\n:FORWARD6_AccessControl_QK - [0:0]\nCOMMIT\n");
}

TEST_F(NftPositions, InsertionsShiftLaterRulesDownWithoutTouchingThem) {
    insert_now("10.0.0.1", 1);
    insert_now("10.0.0.2", 2);  // the end
    insert_now("10.0.0.3", 1);  // the front
    KernelChain before = read_chain(ns(), access_control_v4);
    insert_now("10.0.0.4", 3);  // the middle

    KernelChain after = read_chain(ns(), access_control_v4);
    ASSERT_EQ(after.error, "");
    EXPECT_EQ(after.rules, (std::vector<std::string>{"-s 10.0.0.3/32 -j DROP", "-s 10.0.0.1/32 -j DROP",
                                                     "-s 10.0.0.4/32 -j DROP", "-s 10.0.0.2/32 -j DROP"}));
    // The rules around the new one are the same kernel rules: nothing was rewritten.
    ASSERT_EQ(before.handles.size(), 3U);
    EXPECT_EQ(after.handles[0], before.handles[0]);
    EXPECT_EQ(after.handles[1], before.handles[1]);
    EXPECT_EQ(after.handles[3], before.handles[2]);
    EXPECT_EQ(kernel(), dump());
}

TEST_F(NftPositions, RemovalsMoveLaterRulesUp) {
    for(const char* source : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}) {
        insert_now(source, size_v4() + 1);
    }
    remove_now("10.0.0.2", 2);
    EXPECT_EQ(kernel(), dump());
    remove_now("10.0.0.1", 1);
    remove_now("10.0.0.4", 2);  // was 4
    KernelChain left = read_chain(ns(), access_control_v4);
    EXPECT_EQ(left.rules, std::vector<std::string>{"-s 10.0.0.3/32 -j DROP"});
    EXPECT_EQ(kernel(), dump());
}

// Rules added earlier in the same commit have no kernel handle yet: later operations of
// that commit must still find them, to insert next to them or to remove them.
TEST_F(NftPositions, OneCommitPlacesAndRemovesRulesThatAreNotInTheKernelYet) {
    insert_now("10.0.0.1", 1);
    insert_now("10.0.0.2", 2);
    const uint32_t commits = fw_apply_count();

    Rule x = RuleMaker().source("10.0.0.10").make();
    Rule y = RuleMaker().source("10.0.0.11").make();
    Rule z = RuleMaker().source("10.0.0.12").make();
    Rule a = RuleMaker().source("10.0.0.1").make();
    Rule v6 = RuleMaker(true).source("fd99::1").make();
    ASSERT_EQ(fw_add_rule(x.get(), 1), FW_OK);     // x a b
    ASSERT_EQ(fw_add_rule(y.get(), 2), FW_OK);     // x y a b: after a pending rule
    ASSERT_EQ(fw_add_rule(z.get(), 1), FW_OK);     // z x y a b: before a pending rule
    ASSERT_EQ(fw_delete_rule(x.get(), 2), FW_OK);  // z y a b: a pending rule removed
    ASSERT_EQ(fw_delete_rule(a.get(), 3), FW_OK);  // z y b
    ASSERT_EQ(fw_add_rule(x.get(), 4), FW_OK);     // z y b x: after a running rule
    ASSERT_EQ(fw_add_rule(v6.get(), 1), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();

    EXPECT_EQ(fw_apply_count(), commits + 1);
    EXPECT_EQ(read_chain(ns(), access_control_v4).rules,
              (std::vector<std::string>{"-s 10.0.0.12/32 -j DROP", "-s 10.0.0.11/32 -j DROP", "-s 10.0.0.2/32 -j DROP",
                                        "-s 10.0.0.10/32 -j DROP"}));
    EXPECT_EQ(kernel(), dump());
}

// nft decodes what the kernel holds on its own; every field must come back as written.
TEST_F(NftPositions, EveryKindOfMatchReachesTheKernelAsWritten) {
    std::vector<Rule> rules;
    rules.push_back(RuleMaker().source("192.168.1.10").protocol(6).source_ports(53).destination_ports(80, 100).make());
    rules.push_back(RuleMaker().source("10.1.2.3", "255.255.0.0").destination("10.9.9.9").protocol(17)
                        .destination_ports(53).target(FW_RULE_POLICY_REJECT).make());
    rules.push_back(RuleMaker().source("10.0.0.0", "8").protocol(1).icmp(8, 0).make());
    rules.push_back(RuleMaker().protocol(1).icmp(3).make());
    rules.push_back(RuleMaker().protocol(1).make());
    rules.push_back(RuleMaker().mac("01:23:45:67:89:AB").target(FW_RULE_POLICY_ACCEPT).make());
    rules.push_back(RuleMaker().protocol(47).make());
    rules.push_back(RuleMaker().protocol(33).destination_ports(5000, 5001).make());
    rules.push_back(RuleMaker().protocol(132).source_ports(7).make());
    rules.push_back(RuleMaker().source("0.0.0.0", "0").destination("10.9.9.8").make());
    rules.push_back(RuleMaker(true).source("fd99:1::", "64").destination("fd99:2::2").protocol(17)
                        .destination_ports(53).make());
    rules.push_back(RuleMaker(true).source("2001:db8::1").protocol(58).target(FW_RULE_POLICY_REJECT).make());
    rules.push_back(RuleMaker(true).mac("02:00:00:00:00:01").protocol(6).destination_ports(1, 65535).make());
    uint32_t v4 = 0;
    uint32_t v6 = 0;
    for(const Rule& rule : rules) {
        ASSERT_NE(rule, nullptr);
        ASSERT_EQ(fw_add_rule(rule.get(), fw_rule_get_ipv6(rule.get()) ? ++v6 : ++v4), FW_OK) << text_of(rule.get());
    }
    ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    EXPECT_EQ(kernel(), dump());
}

// A seeded walk of insertions and removals at random positions, several per commit, in
// both families; after every commit the kernel holds what the dump says.
TEST_F(NftPositions, RandomWalkKeepsKernelAndMirrorAlike) {
    struct Expected {
        std::string source;
        uint32_t port;
    };
    auto make = [](bool ipv6, const Expected& rule) {
        return RuleMaker(ipv6).source(rule.source.c_str()).protocol(6).destination_ports(rule.port).make();
    };
    std::mt19937 random(20240611);
    std::vector<Expected> chain[2];  // what each family's chain should hold
    unsigned next = 1;
    for(int round = 0; round < 25; ++round) {
        const int operations = 1 + static_cast<int>(random() % 4);
        for(int n = 0; n < operations; ++n) {
            const bool ipv6 = random() % 3 == 0;
            std::vector<Expected>& rules = chain[ipv6];
            if(!rules.empty() && random() % 3 == 0) {
                const std::size_t at = random() % rules.size();
                Rule rule = make(ipv6, rules[at]);
                ASSERT_EQ(fw_delete_rule(rule.get(), static_cast<uint32_t>(at + 1)), FW_OK);
                rules.erase(rules.begin() + static_cast<std::ptrdiff_t>(at));
            } else {
                const std::size_t at = random() % (rules.size() + 1);
                Expected added{ipv6 ? "fd99::" + std::to_string(next) : "10.1.0." + std::to_string(next % 250),
                               next % 100 + 1};
                ++next;
                Rule rule = make(ipv6, added);
                ASSERT_EQ(fw_add_rule(rule.get(), static_cast<uint32_t>(at + 1)), FW_OK);
                rules.insert(rules.begin() + static_cast<std::ptrdiff_t>(at), added);
            }
        }
        ASSERT_EQ(fw_apply(), FW_OK) << "round " << round << ": " << fw_backend_error();
        ASSERT_EQ(kernel(), dump()) << "round " << round;
        for(bool ipv6 : {false, true}) {
            std::vector<std::string> expected;
            for(const Expected& rule : chain[ipv6]) {
                expected.push_back(text_of(make(ipv6, rule).get()));
            }
            ASSERT_EQ(read_chain(ns(), ipv6 ? access_control_v6 : access_control_v4).rules, expected)
                << "round " << round;
        }
    }
}

TEST_F(NftPositions, OtherChainsAreCreatedAtTheirFirstInsertionAndEmptiedByReset) {
    const ChainName extra{false, "AccessControl_Extra"};
    Rule rule = RuleMaker().chain("AccessControl_Extra").source("10.0.0.7").make();
    ASSERT_EQ(fw_add_rule(rule.get(), 1), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    EXPECT_EQ(read_chain(ns(), extra).rules, std::vector<std::string>{"-s 10.0.0.7/32 -j DROP"});
    EXPECT_EQ(kernel({extra}), dump());

    fw_reset();
    EXPECT_EQ(fw_backend_error(), std::string());
    KernelChain emptied = read_chain(ns(), extra);
    EXPECT_TRUE(emptied.exists);
    EXPECT_TRUE(emptied.rules.empty());
    EXPECT_EQ(dump().find("AccessControl_Extra"), std::string::npos);
}

// Rules the backend did not write would shift every position, and emptying them would lose
// them: a chain that holds some is refused, and so is the whole commit.
TEST_F(NftPositions, ChainHoldingSomebodyElsesRulesIsRefused) {
    ASSERT_EQ(ns().exec({"nft", "add chain ip filter Foreign; add rule ip filter Foreign ip saddr 10.5.5.5 accept"}).status,
              0);
    Rule ours = RuleMaker().source("10.0.0.1").make();
    Rule foreign = RuleMaker().chain("Foreign").source("10.0.0.2").make();
    ASSERT_EQ(fw_add_rule(ours.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(foreign.get(), 1), FW_OK);
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_NE(std::string(fw_backend_error()).find("ip filter Foreign holds rules"), std::string::npos)
        << fw_backend_error();

    EXPECT_EQ(read_chain(ns(), {false, "Foreign"}).rules, std::vector<std::string>{"-s 10.5.5.5/32 -j ACCEPT"});
    EXPECT_EQ(size_v4(), 0U);
    EXPECT_EQ(kernel(), dump());
}

}  // namespace
}  // namespace nfttest
