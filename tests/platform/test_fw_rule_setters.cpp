// Every setter accepts exactly its documented values and leaves the rule unchanged when it
// refuses one.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fwrules/fw_rule.h>

namespace {

class FwRuleSetters : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(fw_rule_new(&rule), 0); }
    void TearDown() override { fw_rule_delete(&rule); }

    fw_rule_t* rule = nullptr;
};

// Each text setter takes the values of its own list and refuses the others, keeping its last
// accepted value.
TEST_F(FwRuleSetters, TextsAreTakenOnlyInTheirDocumentedForm) {
    const std::string longest_name(FW_RULE_NAME_MAX, 'c');
    const std::string too_long_name(FW_RULE_NAME_MAX + 1, 'c');
    const std::vector<const char*> bad_names{"", "a b", "a;b", "x$(id)", "-j", "tab\t", "\xc3\xa9t\xc3\xa9",
                                             too_long_name.c_str(), nullptr};
    const std::vector<const char*> good_addresses{"192.168.1.10", "2001:db8::1", "::ffff:1.2.3.4", "0.0.0.0", "",
                                                  "fe80::2"};
    const std::string huge(4096, '1');
    const std::vector<const char*> bad_addresses{"1.2.3.4; rm", "300.1.1.1", "10.0.0.0/8", " 1.2.3.4", "1.2.3.4 ",
                                                 "1.2.3", "01.2.3.4", "fe80::1%eth0", "2001:db8:::1", "localhost",
                                                 huge.c_str(), nullptr};
    const struct {
        int (*set)(fw_rule_t*, const char*);
        const char* (*get)(const fw_rule_t*);
        std::vector<const char*> good;  // the last one is kept
        std::vector<const char*> bad;
    } setters[] = {
        {fw_rule_set_chain, fw_rule_get_chain, {"FORWARD6_AccessControl_QK", longest_name.c_str(), "keep-me_1"}, bad_names},
        {fw_rule_set_table, fw_rule_get_table, {"filter"}, bad_names},
        {fw_rule_set_source, fw_rule_get_source, good_addresses, bad_addresses},
        {fw_rule_set_destination, fw_rule_get_destination, good_addresses, bad_addresses},
        {fw_rule_set_source_mask,
         fw_rule_get_source_mask,
         {"0", "8", "32", "128", "255.255.255.0", "0.0.0.0", "255.255.255.255", "255.128.0.0", "", "24"},
         {"129", "-1", "+8", "08", "24 ", "/24", "abc", "1.2.3", "255.0.255.0", "0.255.255.255", "255.255.255.0/24",
          "ffff::", "1000", nullptr}},
        {fw_rule_set_source_mac_address,
         fw_rule_get_source_mac_address,
         {"", "01:23:45:67:89:AB", "01:23:45:67:89:ab"},
         {"01-23-45-67-89-ab", "0123.4567.89ab", "01:23:45:67:89", "01:23:45:67:89:ab:cd", "g1:23:45:67:89:ab",
          "01:23:45:67:89:a", "1:23:45:67:89:ab0", nullptr}},
    };
    for(const auto& setter : setters) {
        for(const char* good : setter.good) {
            EXPECT_EQ(setter.set(rule, good), 0) << good;
        }
        for(const char* bad : setter.bad) {
            EXPECT_NE(setter.set(rule, bad), 0) << (bad == nullptr ? "null" : bad);
        }
        EXPECT_STREQ(setter.get(rule), setter.good.back());
    }
}

TEST_F(FwRuleSetters, NumbersStayInTheirRanges) {
    ASSERT_EQ(fw_rule_set_protocol(rule, 255), 0);
    EXPECT_NE(fw_rule_set_protocol(rule, 256), 0);
    EXPECT_EQ(fw_rule_get_protocol(rule), 255U);

    ASSERT_EQ(fw_rule_set_destination_port(rule, 65535), 0);
    EXPECT_NE(fw_rule_set_destination_port(rule, 65536), 0);
    EXPECT_NE(fw_rule_set_source_port(rule, 65536), 0);
    EXPECT_NE(fw_rule_set_source_port_range_max(rule, 70000), 0);
    EXPECT_NE(fw_rule_set_destination_port_range_max(rule, UINT32_MAX), 0);
    EXPECT_EQ(fw_rule_get_destination_port(rule), 65535U);
    EXPECT_EQ(fw_rule_get_source_port(rule), 0U);

    ASSERT_EQ(fw_rule_set_icmp_type(rule, 255), 0);
    EXPECT_NE(fw_rule_set_icmp_type(rule, -2), 0);
    EXPECT_NE(fw_rule_set_icmp_type(rule, 256), 0);
    EXPECT_EQ(fw_rule_get_icmp_type(rule), 255);
    EXPECT_EQ(fw_rule_set_filtered_icmp_code(rule, -1), 0);
    EXPECT_NE(fw_rule_set_filtered_icmp_code(rule, -2), 0);

    ASSERT_EQ(fw_rule_set_target_policy(rule, FW_RULE_POLICY_MASQUERADE), 0);
    EXPECT_NE(fw_rule_set_target_policy(rule, FW_RULE_POLICY_LAST), 0);
    EXPECT_NE(fw_rule_set_target_policy(rule, static_cast<fw_rule_policy_t>(7)), 0);
    EXPECT_EQ(fw_rule_get_target_policy(rule), FW_RULE_POLICY_MASQUERADE);
}

TEST_F(FwRuleSetters, FamilyTrueChoosesFalseClearsOnlyItsOwn) {
    ASSERT_EQ(fw_rule_set_ipv4(rule, true), 0);
    ASSERT_EQ(fw_rule_set_ipv6(rule, true), 0);
    EXPECT_TRUE(fw_rule_get_ipv6(rule));
    EXPECT_FALSE(fw_rule_get_ipv4(rule));
    ASSERT_EQ(fw_rule_set_ipv4(rule, false), 0);
    EXPECT_TRUE(fw_rule_get_ipv6(rule));
    ASSERT_EQ(fw_rule_set_ipv6(rule, false), 0);
    EXPECT_FALSE(fw_rule_get_ipv6(rule));
    EXPECT_FALSE(fw_rule_get_ipv4(rule));
}

TEST(FwRuleLifecycle, NullRulesAreRefusedAndDeleteClearsThePointer) {
    EXPECT_NE(fw_rule_new(nullptr), 0);
    EXPECT_NE(fw_rule_set_table(nullptr, "filter"), 0);
    EXPECT_NE(fw_rule_set_source(nullptr, ""), 0);
    EXPECT_NE(fw_rule_set_target_policy(nullptr, FW_RULE_POLICY_DROP), 0);
    EXPECT_STREQ(fw_rule_get_chain(nullptr), "");
    EXPECT_EQ(fw_rule_check(nullptr), FW_RULE_ERROR_NULL);

    fw_rule_t* rule = nullptr;
    ASSERT_EQ(fw_rule_new(&rule), 0);
    EXPECT_EQ(fw_rule_delete(&rule), 0);
    EXPECT_EQ(rule, nullptr);
    EXPECT_EQ(fw_rule_delete(&rule), 0);
}

}  // namespace
