// The firewall interface on the memory backend: one fw_apply is one transaction (all of it
// lands or nothing does), the dump byte for byte (golden tests of the module compare against
// it), and removals held to the end of the event loop's turn: a group withdrawn rule by rule
// and built anew reaches the backend as one transaction of its net change, and a refusal never
// takes back what fw_apply() already reported applied.

#include <initializer_list>
#include <utility>

#include "fw_fixture.h"

extern "C" int insert_mac_accept_rule_from_c(uint32_t position);

namespace fwtest {
namespace {

using FwApply = FwInterface;

// The first two operations change the running chains when applied (a removal, a new chain);
// the backend refuses the third, so both must be taken back.
TEST_F(FwApply, RefusedTransactionLeavesTheRunningRulesetAndDropsThePending) {
    insert_now("10.0.0.1", 1);
    insert_now("10.0.0.2", 2);
    const std::string before = dump();
    const uint32_t commits = fw_apply_count();

    Rule removed = RuleMaker().source("10.0.0.1").make();
    Rule in_new_chain = RuleMaker().source("10.0.0.3").make();
    ASSERT_EQ(fw_rule_set_chain(in_new_chain.get(), "NEW_CHAIN"), 0);
    Rule added = RuleMaker().source("10.0.0.4").make();
    ASSERT_EQ(fw_delete_rule(removed.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(in_new_chain.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(added.get(), 1), FW_OK);
    ASSERT_EQ(fw_memory_refuse_next(3), 0);

    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_EQ(dump(), before);
    EXPECT_EQ(fw_apply_count(), commits);
    EXPECT_EQ(fw_pending_count(), 0U);

    // The view is the running ruleset again: the dropped operations no longer count.
    EXPECT_EQ(fw_add_rule(added.get(), 4), FW_ERROR_POSITION);
    EXPECT_EQ(fw_delete_rule(removed.get(), 1), FW_OK);
    // The hook was used up: this commit goes through.
    EXPECT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(sources(), "10.0.0.2");
}

// Tables and chains sorted, new chains kept when emptied, and a rule made in C (so that the
// public headers compile as C11) in its canonical form. (The dump of the access-control chains
// is shown by every golden case of the module.)
TEST_F(FwApply, DumpSortsTablesAndChainsAndKeepsEmptiedNewChains) {
    auto rule_in = [](const char* table, const char* chain) {
        Rule rule = RuleMaker().source("").make();
        EXPECT_EQ(fw_rule_set_table(rule.get(), table), 0);
        EXPECT_EQ(fw_rule_set_chain(rule.get(), chain), 0);
        return rule;
    };
    Rule nat = rule_in("nat", "POSTROUTING_x");
    ASSERT_EQ(fw_rule_set_target_policy(nat.get(), FW_RULE_POLICY_MASQUERADE), 0);
    Rule zeta = rule_in("filter", "zeta");
    Rule alpha = rule_in("filter", "Alpha");
    ASSERT_EQ(fw_add_rule(nat.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(zeta.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(alpha.get(), 1), FW_OK);
    ASSERT_EQ(insert_mac_accept_rule_from_c(1), FW_OK);
    // A text longer than what a rule keeps beside its position, and its twin but for the last port.
    const auto long_one = [](uint32_t port) {
        return RuleMaker(true).source("2001:db8:1234:5678:9abc:def0:1234:5678").destination("2001:db8::99")
                              .protocol(6).destination_ports(port).make();
    };
    ASSERT_EQ(fw_add_rule(long_one(8081).get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(long_one(8080).get(), 1), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK);
    ASSERT_EQ(fw_delete_rule(long_one(8081).get(), 1), FW_ERROR_MISMATCH);
    ASSERT_EQ(fw_delete_rule(zeta.get(), 1), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK);

    EXPECT_EQ(dump(),
              "# ipv4\n"
              "*filter\n"
              ":Alpha - [0:0]\n"
              ":FORWARD_AccessControl_QK - [0:0]\n"
              ":zeta - [0:0]\n"
              "-A Alpha -j DROP\n"
              "-A FORWARD_AccessControl_QK -m mac --mac-source 01:23:45:67:89:ab -j ACCEPT\n"
              "COMMIT\n"
              "*nat\n"
              ":POSTROUTING_x - [0:0]\n"
              "-A POSTROUTING_x -j MASQUERADE\n"
              "COMMIT\n"
              "# ipv6\n"
              "*filter\n"
              ":FORWARD6_AccessControl_QK - [0:0]\n"
              "-A FORWARD6_AccessControl_QK -s 2001:db8:1234:5678:9abc:def0:1234:5678/128 -d 2001:db8::99/128 "
              "-p tcp -m tcp --dport 8080 -j DROP\n"
              "-A FORWARD6_AccessControl_QK -s 2001:db8:1234:5678:9abc:def0:1234:5678/128 -d 2001:db8::99/128 "
              "-p tcp -m tcp --dport 8081 -j DROP\n"
              "COMMIT\n");
}

class FwHeld : public FwInterface {
protected:
    void SetUp() override {
        FwInterface::SetUp();
        fw_backend_hold_removals(&FwHeld::turn_started, this);
        for(const char* source : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) {
            insert_now(source, fw_chain_size("filter", "FORWARD_AccessControl_QK", false) + 1);
        }
    }
    void TearDown() override {
        fw_backend_hold_removals(nullptr, nullptr);
        FwInterface::TearDown();
    }
    static int turn_started(void* priv) {
        ++static_cast<FwHeld*>(priv)->turns_;
        return 0;
    }
    // Withdraws the rules as the module does: position 1 each time, one fw_apply() each.
    static void withdraw_all_of(std::initializer_list<const char*> standing) {
        for(const char* source : standing) {
            Rule rule = RuleMaker().source(source).make();
            ASSERT_EQ(fw_delete_rule(rule.get(), 1), FW_OK);
            ASSERT_EQ(fw_apply(), FW_OK);
        }
    }
    static void withdraw_all() { withdraw_all_of({"10.0.0.1", "10.0.0.2", "10.0.0.3"}); }
    static void add(const char* source, uint32_t position) {
        Rule rule = RuleMaker().source(source).make();
        ASSERT_EQ(fw_add_rule(rule.get(), position), FW_OK);
    }
    int turns_ = 0;
};

TEST_F(FwHeld, AGroupRebuiltWithOneMoreMemberIsOneCommitOfOneInsertion) {
    const uint32_t commits = fw_apply_count();
    withdraw_all();
    EXPECT_EQ(sources(), "10.0.0.1,10.0.0.2,10.0.0.3") << "the withdrawal is held";
    EXPECT_EQ(turns_, 1) << "the first held removal asks for the turn's end, once";
    uint32_t position = 1;
    for(const char* source : {"10.0.0.1", "10.0.0.4", "10.0.0.2", "10.0.0.3"}) {
        add(source, position++);
    }
    // The backend would refuse a second operation: the net change must be the insertion alone.
    ASSERT_EQ(fw_memory_refuse_next(2), 0);
    ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    EXPECT_EQ(sources(), "10.0.0.1,10.0.0.4,10.0.0.2,10.0.0.3");
    EXPECT_EQ(fw_apply_count(), commits + 1);
    EXPECT_EQ(fw_pending_count(), 0U);
    EXPECT_EQ(fw_backend_apply_held(), FW_OK) << "nothing left for the turn's end";
    remove_now("10.0.0.1", 1);
    EXPECT_EQ(turns_, 2) << "a new turn asks again";

    // And one member fewer, in the next turn: one removal.
    ASSERT_EQ(fw_backend_apply_held(), FW_OK);
    withdraw_all_of({"10.0.0.4", "10.0.0.2", "10.0.0.3"});
    add("10.0.0.4", 1);
    add("10.0.0.3", 2);
    ASSERT_EQ(fw_memory_refuse_next(2), 0);
    ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    EXPECT_EQ(sources(), "10.0.0.4,10.0.0.3");
}

TEST_F(FwHeld, ARefusedRebuildFailsAndTheWithdrawalReportedAppliedStillLands) {
    withdraw_all();
    add("10.0.0.4", 1);
    ASSERT_EQ(fw_memory_refuse_next(1), 0);
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_EQ(sources(), "");
    EXPECT_EQ(fw_pending_count(), 0U);
}

// Removals at one place are recorded as one run: the one not yet applied joins the run of the
// held one before it, and must not land with it when its own commit fails; the held one at
// another place is another run.
TEST_F(FwHeld, ARefusedCommitLandsOnlyTheRemovalsReportedApplied) {
    for(auto [source, position] : {std::pair{"10.0.0.2", 2U}, std::pair{"10.0.0.1", 1U}}) {
        Rule rule = RuleMaker().source(source).make();
        ASSERT_EQ(fw_delete_rule(rule.get(), position), FW_OK);
        ASSERT_EQ(fw_apply(), FW_OK);
    }
    Rule third = RuleMaker().source("10.0.0.3").make();
    ASSERT_EQ(fw_delete_rule(third.get(), 1), FW_OK);
    add("10.0.0.4", 1);
    EXPECT_EQ(fw_pending_count(), 4U);
    ASSERT_EQ(fw_memory_refuse_next(1), 0);
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_EQ(sources(), "10.0.0.3");
    EXPECT_EQ(fw_pending_count(), 0U);
}

// With the loop's settle hook, a large transaction's freed pages wait for the changes to settle
// instead of asking for the turn's end; a small transaction asks for nothing.
TEST_F(FwHeld, ALargeTransactionLeavesItsMemoryUntilTheChangesSettle) {
    int settling = 0;
    fw_backend_release_when_settled([](void* priv) { ++*static_cast<int*>(priv); }, &settling);
    constexpr uint32_t large = 4096;
    for(uint32_t n = 0; n < large; ++n) {
        const std::string source = "10.1." + std::to_string(n / 256) + "." + std::to_string(n % 256);
        add(source.c_str(), 4 + n);
    }
    ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    EXPECT_EQ(settling, 1);
    EXPECT_EQ(turns_, 0) << "nothing waits for the turn's end";
    add("10.2.0.1", 1);
    ASSERT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(settling, 1) << "a small transaction leaves the heap alone";
    for(uint32_t n = 0; n < large; ++n) {
        const std::string source = "10.1." + std::to_string(n / 256) + "." + std::to_string(n % 256);
        Rule rule = RuleMaker().source(source.c_str()).make();
        ASSERT_EQ(fw_delete_rule(rule.get(), 5), FW_OK);
        ASSERT_EQ(fw_apply(), FW_OK);
    }
    EXPECT_EQ(settling, 1) << "held removals are not committed yet";
    ASSERT_EQ(fw_backend_apply_held(), FW_OK);
    EXPECT_EQ(settling, 2);
    EXPECT_EQ(sources(), "10.2.0.1,10.0.0.1,10.0.0.2,10.0.0.3");
    fw_backend_release_when_settled(nullptr, nullptr);
    fw_backend_release_memory();  // nothing due: nothing happens
}

}  // namespace
}  // namespace fwtest
