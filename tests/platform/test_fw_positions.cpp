// Positional insertion and removal, checked against running + pending, as the module's
// bookkeeping relies on it.

#include <random>
#include <string>
#include <vector>

#include "fw_fixture.h"

namespace fwtest {
namespace {

using FwPositions = FwInterface;

TEST_F(FwPositions, InsertionAtOneGoesInFrontAndShiftsTheRest) {
    insert_now("10.0.0.1", 1);
    insert_now("10.0.0.2", 2);
    insert_now("10.0.0.3", 1);
    EXPECT_EQ(ipv4_sources(), "10.0.0.3,10.0.0.1,10.0.0.2");
    insert_now("10.0.0.4", 4);  // size + 1: the end
    EXPECT_EQ(ipv4_sources(), "10.0.0.3,10.0.0.1,10.0.0.2,10.0.0.4");
}

TEST_F(FwPositions, RemovalInTheMiddleMovesLaterRulesUp) {
    for(const char* source : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) {
        insert_now(source, fw_chain_size("filter", "FORWARD_AccessControl_QK", false) + 1);
    }
    Rule middle = make_rule("10.0.0.2");
    ASSERT_EQ(fw_delete_rule(middle.get(), 2), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(ipv4_sources(), "10.0.0.1,10.0.0.3");

    Rule last = make_rule("10.0.0.3");
    ASSERT_EQ(fw_delete_rule(last.get(), 2), FW_OK);  // was 3, moved up
    ASSERT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(ipv4_sources(), "10.0.0.1");
}

TEST_F(FwPositions, PositionsOutsideTheChainAreRefused) {
    insert_now("10.0.0.1", 1);
    Rule rule = make_rule("10.0.0.1");
    EXPECT_EQ(fw_add_rule(rule.get(), 0), FW_ERROR_POSITION);
    EXPECT_EQ(fw_add_rule(rule.get(), 3), FW_ERROR_POSITION);
    EXPECT_EQ(fw_delete_rule(rule.get(), 0), FW_ERROR_POSITION);
    EXPECT_EQ(fw_delete_rule(rule.get(), 2), FW_ERROR_POSITION);
    Rule ipv6 = make_rule("2001:db8::1", true);
    EXPECT_EQ(fw_delete_rule(ipv6.get(), 1), FW_ERROR_POSITION);  // IPv6 chain is empty
    EXPECT_EQ(fw_pending_count(), 0U);
}

TEST_F(FwPositions, PendingOperationsCountInTheView) {
    Rule a = make_rule("10.0.0.1");
    Rule b = make_rule("10.0.0.2");
    Rule c = make_rule("10.0.0.3");
    ASSERT_EQ(fw_add_rule(a.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(b.get(), 2), FW_OK);  // valid only because of the pending insertion
    ASSERT_EQ(fw_add_rule(c.get(), 1), FW_OK);
    EXPECT_EQ(fw_add_rule(c.get(), 5), FW_ERROR_POSITION);
    ASSERT_EQ(fw_delete_rule(a.get(), 2), FW_OK);  // a moved to 2 behind c
    EXPECT_EQ(fw_delete_rule(a.get(), 2), FW_ERROR_MISMATCH);  // b stands there now
    EXPECT_EQ(fw_chain_size("filter", "FORWARD_AccessControl_QK", false), 0U);
    EXPECT_EQ(fw_pending_count(), 4U);

    ASSERT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(ipv4_sources(), "10.0.0.3,10.0.0.2");
    EXPECT_EQ(fw_pending_count(), 0U);
}

// Random batches of insertions and removals over a running chain, each decision (accepted,
// another rule there) and the committed chain compared with a vector doing the same.
TEST_F(FwPositions, ViewFollowsRemovalsAndInsertionsOverRunningRules) {
    std::mt19937 random(11);
    std::vector<std::string> model;
    auto source = [](std::size_t n) { return "10.0." + std::to_string(n / 256) + "." + std::to_string(n % 256); };
    for(std::size_t n = 0; n < 40; ++n) {
        insert_now(source(n).c_str(), static_cast<uint32_t>(n + 1));
        model.push_back(source(n));
    }
    for(int batch = 0; batch < 40; ++batch) {
        std::vector<std::string> view = model;
        for(int op = 0; op < 30; ++op) {
            const std::size_t at = random() % (view.size() + 1);
            if(view.empty() || random() % 2 == 0) {
                const std::string added = source(1000 + random() % 9000);
                Rule rule = make_rule(added.c_str());
                ASSERT_EQ(fw_add_rule(rule.get(), static_cast<uint32_t>(at + 1)), FW_OK);
                view.insert(view.begin() + static_cast<std::ptrdiff_t>(at), added);
                continue;
            }
            const std::size_t where = at % view.size();
            const bool right = random() % 4 != 0;
            Rule rule = make_rule(right ? view[where].c_str() : "10.255.0.1");
            ASSERT_EQ(fw_delete_rule(rule.get(), static_cast<uint32_t>(where + 1)), right ? FW_OK : FW_ERROR_MISMATCH);
            if(right) {
                view.erase(view.begin() + static_cast<std::ptrdiff_t>(where));
            }
        }
        ASSERT_EQ(fw_apply(), FW_OK);
        model = view;
        std::string expected;
        for(const std::string& item : model) {
            expected += (expected.empty() ? "" : ",") + item;
        }
        ASSERT_EQ(ipv4_sources(), expected) << "batch " << batch;
    }
}

TEST_F(FwPositions, RemovalRefusesAnotherRuleAtThatPosition) {
    insert_now("10.0.0.1", 1);
    Rule other = make_rule("10.0.0.9");
    EXPECT_EQ(fw_delete_rule(other.get(), 1), FW_ERROR_MISMATCH);

    // The same matches written differently are the same rule; the enabled flag is ignored.
    Rule same = make_rule("10.0.0.1");
    ASSERT_EQ(fw_rule_set_source_mask(same.get(), "255.255.255.255"), 0);
    ASSERT_EQ(fw_rule_set_enabled(same.get(), false), 0);
    EXPECT_EQ(fw_delete_rule(same.get(), 1), FW_OK);
}

TEST_F(FwPositions, InsertionKeepsASnapshotOfTheRule) {
    Rule rule = make_rule("10.0.0.1");
    ASSERT_EQ(fw_add_rule(rule.get(), 1), FW_OK);
    ASSERT_EQ(fw_rule_set_source(rule.get(), "10.0.0.2"), 0);
    ASSERT_EQ(fw_add_rule(rule.get(), 2), FW_OK);
    rule.reset();  // the caller frees its object before the commit
    ASSERT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(ipv4_sources(), "10.0.0.1,10.0.0.2");
}

TEST_F(FwPositions, DisabledIncompleteOrInconsistentRulesAreNotInserted) {
    Rule disabled = make_rule("10.0.0.1");
    ASSERT_EQ(fw_rule_set_enabled(disabled.get(), false), 0);
    EXPECT_EQ(fw_add_rule(disabled.get(), 1), FW_ERROR_DISABLED);

    Rule mask33 = make_rule("10.0.0.0");
    ASSERT_EQ(fw_rule_set_source_mask(mask33.get(), "33"), 0);  // fine for IPv6, not here
    EXPECT_EQ(fw_add_rule(mask33.get(), 1), FW_ERROR_RULE);

    fw_rule_t* raw = nullptr;
    ASSERT_EQ(fw_rule_new(&raw), 0);
    Rule bare(raw);
    ASSERT_EQ(fw_rule_set_enabled(raw, true), 0);
    EXPECT_EQ(fw_add_rule(raw, 1), FW_ERROR_RULE);
    EXPECT_EQ(fw_add_rule(nullptr, 1), FW_ERROR_ARGUMENT);
    EXPECT_EQ(fw_delete_rule(nullptr, 1), FW_ERROR_ARGUMENT);
    EXPECT_EQ(fw_pending_count(), 0U);
    EXPECT_STRNE(fw_error_text(FW_ERROR_RULE), fw_error_text(FW_ERROR_POSITION));
}

TEST_F(FwPositions, FamiliesAndChainsArePositionedSeparately) {
    Rule v4 = make_rule("10.0.0.1");
    Rule v6 = make_rule("2001:db8::1", true);
    ASSERT_EQ(fw_add_rule(v4.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(v6.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(v4.get(), 2), FW_OK);
    EXPECT_EQ(fw_add_rule(v6.get(), 3), FW_ERROR_POSITION);
    ASSERT_EQ(fw_apply(), FW_OK);
    EXPECT_EQ(fw_chain_size("filter", "FORWARD_AccessControl_QK", false), 2U);
    EXPECT_EQ(fw_chain_size("filter", "FORWARD6_AccessControl_QK", true), 1U);
    EXPECT_EQ(fw_chain_size("filter", "FORWARD6_AccessControl_QK", false), 0U);
    EXPECT_EQ(fw_chain_size(nullptr, "FORWARD_AccessControl_QK", false), 0U);
}

// Two rule sets of the module, A at 1-2 and B at 3-4; deleting A removes position 1 twice,
// one commit per removal, and leaves B at 1-2.
TEST_F(FwPositions, DeletingASetAtItsLowestPositionLeavesTheNextSetInFront) {
    for(const char* source : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}) {
        insert_now(source, fw_chain_size("filter", "FORWARD_AccessControl_QK", false) + 1);
    }
    uint32_t commits = fw_apply_count();
    for(const char* source : {"10.0.0.1", "10.0.0.2"}) {
        Rule rule = make_rule(source);
        ASSERT_EQ(fw_delete_rule(rule.get(), 1), FW_OK);
        ASSERT_EQ(fw_apply(), FW_OK);
    }
    EXPECT_EQ(ipv4_sources(), "10.0.0.3,10.0.0.4");
    EXPECT_EQ(fw_apply_count(), commits + 2);
}

}  // namespace
}  // namespace fwtest
