// Positional insertion and removal, checked against running + pending as the module's
// bookkeeping relies on it, on both backends: the memory one, and the kernel one (a kernel
// rule per rule, and rules compiled into sets) in a namespace of its own, where after every
// commit the kernel must hold what the dump says.
// (Random transactions against a model of the chains are in test_nft_equivalence.cpp.)

#include "nft_fixture.h"

namespace nfttest {
namespace {

enum class Backend { memory, nftables, nftables_sets };

class Positions : public NftablesTest, public ::testing::WithParamInterface<Backend> {
protected:
    bool kernel_backend() const override { return GetParam() != Backend::memory; }
    bool sets() const override { return GetParam() == Backend::nftables_sets; }

    static Rule rule(const std::string& source, bool ipv6 = false) { return RuleMaker(ipv6).source(source.c_str()).make(); }

    // A kernel rule per rule reads back as the dump; rules compiled into sets are as the chains
    // say when fw_check() finds nothing.
    void expect_kernel_as_dump() {
        if(!sets()) {
            EXPECT_EQ(kernel(), dump());
            return;
        }
        char* differences = fw_check();
        ASSERT_NE(differences, nullptr) << fw_backend_error();
        EXPECT_STREQ(differences, "");
        std::free(differences);
    }
};

INSTANTIATE_TEST_SUITE_P(Backends, Positions, ::testing::Values(Backend::memory, Backend::nftables, Backend::nftables_sets),
                         [](const ::testing::TestParamInfo<Backend>& param) {
                             return param.param == Backend::memory ? "memory" : param.param == Backend::nftables ? "nftables" : "nftables_sets";
                         });

TEST_P(Positions, InsertionsShiftLaterRulesDownAndRemovalsMoveThemUp) {
    insert_now("10.0.0.1", 1);
    insert_now("10.0.0.2", 2);  // size + 1: the end
    insert_now("10.0.0.3", 1);  // the front
    const bool rule_per_rule = GetParam() == Backend::nftables;
    KernelChain before = rule_per_rule ? chain(access_control_v4) : KernelChain{};
    insert_now("10.0.0.4", 3);  // the middle
    EXPECT_EQ(sources(), "10.0.0.3,10.0.0.1,10.0.0.4,10.0.0.2");
    expect_kernel_as_dump();
    if(rule_per_rule) {
        // The rules around the new one are the same kernel rules: nothing was rewritten.
        KernelChain after = chain(access_control_v4);
        ASSERT_EQ(before.handles.size(), 3U);
        ASSERT_EQ(after.handles.size(), 4U);
        EXPECT_EQ(after.handles[0], before.handles[0]);
        EXPECT_EQ(after.handles[1], before.handles[1]);
        EXPECT_EQ(after.handles[3], before.handles[2]);
    }
    remove_now("10.0.0.1", 2);
    remove_now("10.0.0.2", 3);  // was 4
    EXPECT_EQ(sources(), "10.0.0.3,10.0.0.4");
    expect_kernel_as_dump();
}

// Positions outside the chain, other rules, and disabled, incomplete or inconsistent rules.
TEST_P(Positions, RefusedOperationsLeaveNothingPending) {
    insert_now("10.0.0.1", 1);
    Rule same = rule("10.0.0.1");
    EXPECT_EQ(fw_add_rule(same.get(), 0), FW_ERROR_POSITION);
    EXPECT_EQ(fw_add_rule(same.get(), 3), FW_ERROR_POSITION);
    EXPECT_EQ(fw_delete_rule(same.get(), 0), FW_ERROR_POSITION);
    EXPECT_EQ(fw_delete_rule(same.get(), 2), FW_ERROR_POSITION);
    EXPECT_EQ(fw_delete_rule(rule("2001:db8::1", true).get(), 1), FW_ERROR_POSITION);  // IPv6 chain is empty
    EXPECT_EQ(fw_delete_rule(rule("10.0.0.9").get(), 1), FW_ERROR_MISMATCH);
    Rule disabled = rule("10.0.0.1");
    ASSERT_EQ(fw_rule_set_enabled(disabled.get(), false), 0);
    EXPECT_EQ(fw_add_rule(disabled.get(), 1), FW_ERROR_DISABLED);
    Rule mask33 = rule("10.0.0.0");
    ASSERT_EQ(fw_rule_set_source_mask(mask33.get(), "33"), 0);  // fine for IPv6, not here
    EXPECT_EQ(fw_add_rule(mask33.get(), 1), FW_ERROR_RULE);
    EXPECT_EQ(fw_delete_rule(mask33.get(), 1), FW_ERROR_RULE);
    fw_rule_t* raw = nullptr;
    ASSERT_EQ(fw_rule_new(&raw), 0);
    Rule bare(raw);
    ASSERT_EQ(fw_rule_set_enabled(raw, true), 0);
    EXPECT_EQ(fw_add_rule(raw, 1), FW_ERROR_RULE);
    EXPECT_EQ(fw_add_rule(nullptr, 1), FW_ERROR_ARGUMENT);
    EXPECT_EQ(fw_delete_rule(nullptr, 1), FW_ERROR_ARGUMENT);
    EXPECT_EQ(fw_pending_count(), 0U);
    // A removal is checked against a rule inserted in the same transaction too.
    Rule pending = rule("10.0.0.5");
    ASSERT_EQ(fw_add_rule(pending.get(), 1), FW_OK);
    EXPECT_EQ(fw_delete_rule(rule("10.0.0.1").get(), 1), FW_ERROR_MISMATCH);  // the pending one is there
    EXPECT_EQ(fw_delete_rule(pending.get(), 1), FW_OK);
    EXPECT_EQ(fw_apply(), FW_OK);
    EXPECT_STRNE(fw_error_text(FW_ERROR_RULE), fw_error_text(FW_ERROR_POSITION));
    EXPECT_EQ(fw_chain_size(nullptr, "FORWARD_AccessControl_QK", false), 0U);

    // The same matches written differently are the same rule; the enabled flag is ignored.
    ASSERT_EQ(fw_rule_set_source_mask(same.get(), "255.255.255.255"), 0);
    ASSERT_EQ(fw_rule_set_enabled(same.get(), false), 0);
    EXPECT_EQ(fw_delete_rule(same.get(), 1), FW_OK);
}

using NftPositions = NftablesTest;

TEST_F(NftPositions, OtherChainsAreCreatedAtTheirFirstInsertionAndEmptiedByReset) {
    const ChainName extra{false, "AccessControl_Extra"};
    Rule rule = RuleMaker().chain("AccessControl_Extra").source("10.0.0.7").make();
    ASSERT_EQ(fw_add_rule(rule.get(), 1), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    EXPECT_EQ(chain(extra).rules, std::vector<std::string>{"-s 10.0.0.7/32 -j DROP"});
    EXPECT_EQ(kernel({extra}), dump());

    fw_reset();
    EXPECT_EQ(fw_backend_error(), std::string());
    KernelChain emptied = chain(extra);
    EXPECT_TRUE(emptied.exists);
    EXPECT_TRUE(emptied.rules.empty());
    EXPECT_EQ(dump().find("AccessControl_Extra"), std::string::npos);
}

// Rules the backend did not write would shift every position, and emptying them would lose
// them: a chain that holds some is refused, and so is the whole commit.
TEST_F(NftPositions, ChainHoldingSomebodyElsesRulesIsRefused) {
    ASSERT_EQ(nft("add chain ip filter Foreign; add rule ip filter Foreign ip saddr 10.5.5.5 accept").status, 0);
    Rule ours = RuleMaker().source("10.0.0.1").make();
    Rule foreign = RuleMaker().chain("Foreign").source("10.0.0.2").make();
    ASSERT_EQ(fw_add_rule(ours.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(foreign.get(), 1), FW_OK);
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_NE(std::string(fw_backend_error()).find("ip filter Foreign holds rules"), std::string::npos)
        << fw_backend_error();

    EXPECT_EQ(chain({false, "Foreign"}).rules, std::vector<std::string>{"-s 10.5.5.5/32 -j ACCEPT"});
    EXPECT_EQ(size_v4(), 0U);
    EXPECT_EQ(kernel(), dump());
}

}  // namespace
}  // namespace nfttest
