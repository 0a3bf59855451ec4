// One fw_apply is one transaction: all of it lands or nothing does.

#include "fw_fixture.h"

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

TEST_F(FwApply, ResetEmptiesTheChainsAndDropsThePendingAndTheHook) {
    insert_now("10.0.0.1", 1);
    Rule rule = RuleMaker().source("10.0.0.2").make();
    ASSERT_EQ(fw_add_rule(rule.get(), 1), FW_OK);
    ASSERT_EQ(fw_memory_refuse_next(1), 0);
    fw_reset();
    EXPECT_EQ(fw_pending_count(), 0U);
    EXPECT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(fw_apply_count(), 0U) << "nothing pending does not touch the backend";
    EXPECT_EQ(fw_chain_size("filter", "FORWARD_AccessControl_QK", false), 0U);
    insert_now("10.0.0.3", 1);  // the hook was cleared too
    EXPECT_EQ(sources(), "10.0.0.3");
}

}  // namespace
}  // namespace fwtest
