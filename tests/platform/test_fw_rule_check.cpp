// Values that are fine one by one but do not fit together are found before insertion.

#include <gtest/gtest.h>

#include "rule_maker.h"

namespace {

using fwtest::RuleMaker;

TEST(FwRuleCheck, EachMissingPlacementIsNamed) {
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

TEST(FwRuleCheck, FieldsMustFitTogether) {
    struct {
        RuleMaker maker;
        int expected;
    } cases[] = {
        // Addresses of the rule's family.
        {std::move(RuleMaker().source("2001:db8::1")), FW_RULE_ERROR_ADDRESS_FAMILY},
        {std::move(RuleMaker(true).source("2001:db8::1")), FW_RULE_OK},
        {std::move(RuleMaker(true).source("2001:db8::1").destination("10.0.0.1")), FW_RULE_ERROR_ADDRESS_FAMILY},
        // A mask needs a source and must fit the family.
        {std::move(RuleMaker().source("", "24")), FW_RULE_ERROR_MASK},
        {std::move(RuleMaker().source("10.0.0.0", "24")), FW_RULE_OK},
        {std::move(RuleMaker().source("10.0.0.0", "33")), FW_RULE_ERROR_MASK},
        {std::move(RuleMaker(true).source("2001:db8::", "33")), FW_RULE_OK},
        {std::move(RuleMaker(true).source("2001:db8::", "255.255.0.0")), FW_RULE_ERROR_MASK},
        // Ports need a protocol with ports and an ordered range.
        {std::move(RuleMaker().destination_ports(80)), FW_RULE_ERROR_PORTS},
        {std::move(RuleMaker().protocol(1).destination_ports(80)), FW_RULE_ERROR_PORTS},
        {std::move(RuleMaker().protocol(6).destination_ports(80)), FW_RULE_OK},
        {std::move(RuleMaker().protocol(17).destination_ports(80)), FW_RULE_OK},
        {std::move(RuleMaker().protocol(33).destination_ports(80)), FW_RULE_OK},
        {std::move(RuleMaker().protocol(132).destination_ports(80, 80)), FW_RULE_OK},
        {std::move(RuleMaker().protocol(6).destination_ports(80, 79)), FW_RULE_ERROR_PORTS},
        {std::move(RuleMaker().protocol(6).source_ports(0, 100)), FW_RULE_ERROR_PORTS},  // an end without a start
        // ICMP only on IPv4 protocol 1; type -1 with a code is the module's "any type".
        {std::move(RuleMaker().icmp(8)), FW_RULE_ERROR_ICMP},
        {std::move(RuleMaker().protocol(1).icmp(8)), FW_RULE_OK},
        {std::move(RuleMaker(true).protocol(1).icmp(8)), FW_RULE_ERROR_ICMP},
        {std::move(RuleMaker().protocol(1).icmp(-1, 0)), FW_RULE_OK},
    };
    for(auto& c : cases) {
        fwtest::Rule rule = c.maker.make();
        ASSERT_NE(rule, nullptr);
        EXPECT_EQ(fw_rule_check(rule.get()), c.expected) << fwtest::text_of(rule.get());
    }
}

}  // namespace
