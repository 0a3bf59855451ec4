// Removals held to the end of the event loop's turn: a group withdrawn rule by rule and built
// anew reaches the backend as one transaction of its net change, and a refusal never takes
// back what fw_apply() already reported applied.

#include "fw_fixture.h"

namespace fwtest {
namespace {

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
    // Withdraws the three rules as the module does: position 1 each time, one fw_apply() each.
    static void withdraw_all() {
        for(const char* source : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) {
            Rule rule = RuleMaker().source(source).make();
            ASSERT_EQ(fw_delete_rule(rule.get(), 1), FW_OK);
            ASSERT_EQ(fw_apply(), FW_OK);
        }
    }
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
}

TEST_F(FwHeld, ARefusedRebuildFailsAndTheWithdrawalReportedAppliedStillLands) {
    withdraw_all();
    add("10.0.0.4", 1);
    ASSERT_EQ(fw_memory_refuse_next(1), 0);
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_EQ(sources(), "");
    EXPECT_EQ(fw_pending_count(), 0U);
}

TEST_F(FwHeld, RemovalsAloneLandAtTheTurnsEnd) {
    Rule last = RuleMaker().source("10.0.0.3").make();
    ASSERT_EQ(fw_delete_rule(last.get(), 3), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(sources(), "10.0.0.1,10.0.0.2,10.0.0.3");
    EXPECT_EQ(fw_delete_rule(last.get(), 3), FW_ERROR_POSITION) << "the view counts the held removal";
    EXPECT_EQ(fw_backend_apply_held(), FW_OK);
    EXPECT_EQ(sources(), "10.0.0.1,10.0.0.2");
    Rule first = RuleMaker().source("10.0.0.1").make();
    ASSERT_EQ(fw_delete_rule(first.get(), 1), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(turns_, 2) << "a new turn asks again";
}

}  // namespace
}  // namespace fwtest
