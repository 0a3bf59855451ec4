// Values that are fine one by one but do not fit together are found before insertion.

#include <gtest/gtest.h>

#include <fwrules/fw_rule.h>

namespace {

class FwRuleCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(fw_rule_new(&rule), 0);
        ASSERT_EQ(fw_rule_set_table(rule, "filter"), 0);
        ASSERT_EQ(fw_rule_set_chain(rule, "FORWARD_AccessControl_QK"), 0);
        ASSERT_EQ(fw_rule_set_ipv4(rule, true), 0);
        ASSERT_EQ(fw_rule_set_target_policy(rule, FW_RULE_POLICY_DROP), 0);
        ASSERT_EQ(fw_rule_check(rule), FW_RULE_OK);
    }
    void TearDown() override { fw_rule_delete(&rule); }

    fw_rule_t* rule = nullptr;
};

TEST(FwRuleCheckComplete, EachMissingPlacementIsNamed) {
    fw_rule_t* rule = nullptr;
    ASSERT_EQ(fw_rule_new(&rule), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_NO_TABLE);
    fw_rule_set_table(rule, "filter");
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_NO_CHAIN);
    fw_rule_set_chain(rule, "c");
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_NO_FAMILY);
    fw_rule_set_ipv6(rule, true);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_NO_TARGET);
    fw_rule_set_target_policy(rule, FW_RULE_POLICY_REJECT);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_OK);
    EXPECT_STRNE(fw_rule_error_text(FW_RULE_ERROR_NO_TARGET), fw_rule_error_text(FW_RULE_OK));
    fw_rule_delete(&rule);
}

TEST_F(FwRuleCheck, AddressesMustBeOfTheRuleFamily) {
    ASSERT_EQ(fw_rule_set_source(rule, "2001:db8::1"), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_ADDRESS_FAMILY);
    fw_rule_set_ipv6(rule, true);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_OK);
    ASSERT_EQ(fw_rule_set_destination(rule, "10.0.0.1"), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_ADDRESS_FAMILY);
}

TEST_F(FwRuleCheck, MaskNeedsASourceAndMustFitTheFamily) {
    ASSERT_EQ(fw_rule_set_source_mask(rule, "24"), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_MASK);  // a mask on "any"
    ASSERT_EQ(fw_rule_set_source(rule, "10.0.0.0"), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_OK);
    ASSERT_EQ(fw_rule_set_source_mask(rule, "33"), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_MASK);

    ASSERT_EQ(fw_rule_set_source(rule, "2001:db8::"), 0);
    fw_rule_set_ipv6(rule, true);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_OK);
    ASSERT_EQ(fw_rule_set_source_mask(rule, "255.255.0.0"), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_MASK);
}

TEST_F(FwRuleCheck, PortsNeedAProtocolWithPortsAndAnOrderedRange) {
    ASSERT_EQ(fw_rule_set_destination_port(rule, 80), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_PORTS);
    fw_rule_set_protocol(rule, 1);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_PORTS);
    for(uint32_t protocol : {6U, 17U, 33U, 132U}) {
        fw_rule_set_protocol(rule, protocol);
        EXPECT_EQ(fw_rule_check(rule), FW_RULE_OK) << protocol;
    }
    fw_rule_set_destination_port_range_max(rule, 79);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_PORTS);
    fw_rule_set_destination_port_range_max(rule, 80);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_OK);
    fw_rule_set_source_port_range_max(rule, 100);  // a range end without its start
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_PORTS);
}

TEST_F(FwRuleCheck, IcmpOnlyOnIpv4Protocol1) {
    ASSERT_EQ(fw_rule_set_icmp_type(rule, 8), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_ICMP);
    fw_rule_set_protocol(rule, 1);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_OK);
    fw_rule_set_ipv6(rule, true);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_ICMP);

    // The pair the module sends for "any type": type -1 with a code.
    fw_rule_set_ipv4(rule, true);
    fw_rule_set_icmp_type(rule, -1);
    fw_rule_set_filtered_icmp_code(rule, 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_OK);
}

}  // namespace
