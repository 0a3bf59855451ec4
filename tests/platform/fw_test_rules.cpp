#include <gtest/gtest.h>

#include "rule_builder.h"

namespace fwtest {

Rule make_rule(const char* source, bool ipv6) {
    fw_rule_t* raw = nullptr;
    EXPECT_EQ(fw_rule_new(&raw), 0);
    Rule rule(raw);
    EXPECT_EQ(fw_rule_set_source(raw, source), 0) << source;
    EXPECT_EQ(ipv6 ? fw_rule_set_ipv6(raw, true) : fw_rule_set_ipv4(raw, true), 0);
    EXPECT_EQ(fw_rule_set_table(raw, "filter"), 0);
    EXPECT_EQ(fw_rule_set_chain(raw, ipv6 ? "FORWARD6_AccessControl_QK" : "FORWARD_AccessControl_QK"), 0);
    EXPECT_EQ(fw_rule_set_target_policy(raw, FW_RULE_POLICY_DROP), 0);
    EXPECT_EQ(fw_rule_set_enabled(raw, true), 0);
    return rule;
}

std::string text_of(const fw_rule_t* rule) {
    char buf[FW_RULE_TEXT_MAX];
    return fw_rule_to_text(rule, buf, sizeof(buf)) < 0 ? "<invalid>" : buf;
}

}  // namespace fwtest
