// Every setter accepts exactly its documented values and leaves the rule unchanged when it
// refuses one.

#include <gtest/gtest.h>

#include <string>

#include <fwrules/fw_rule.h>

namespace {

class FwRuleSetters : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(fw_rule_new(&rule), 0); }
    void TearDown() override { fw_rule_delete(&rule); }

    fw_rule_t* rule = nullptr;
};

TEST_F(FwRuleSetters, NamesAreShortAndMadeOfSafeCharacters) {
    ASSERT_EQ(fw_rule_set_chain(rule, "FORWARD6_AccessControl_QK"), 0);
    EXPECT_EQ(fw_rule_set_chain(rule, std::string(FW_RULE_NAME_MAX, 'c').c_str()), 0);
    ASSERT_EQ(fw_rule_set_chain(rule, "keep-me_1"), 0);

    for(const char* bad : {"", "a b", "a;b", "x$(id)", "-j", "tab\t", "\xc3\xa9t\xc3\xa9"}) {
        EXPECT_NE(fw_rule_set_chain(rule, bad), 0) << bad;
        EXPECT_NE(fw_rule_set_table(rule, bad), 0) << bad;
    }
    EXPECT_NE(fw_rule_set_chain(rule, std::string(FW_RULE_NAME_MAX + 1, 'c').c_str()), 0);
    EXPECT_NE(fw_rule_set_chain(rule, nullptr), 0);
    EXPECT_STREQ(fw_rule_get_chain(rule), "keep-me_1");
    EXPECT_STREQ(fw_rule_get_table(rule), "");
}

TEST_F(FwRuleSetters, AddressesAreEmptyOrOneAddress) {
    for(const char* good : {"192.168.1.10", "2001:db8::1", "::ffff:1.2.3.4", "0.0.0.0", ""}) {
        EXPECT_EQ(fw_rule_set_source(rule, good), 0) << good;
        EXPECT_EQ(fw_rule_set_destination(rule, good), 0) << good;
    }
    ASSERT_EQ(fw_rule_set_source(rule, "10.0.0.1"), 0);
    ASSERT_EQ(fw_rule_set_destination(rule, "fe80::2"), 0);
    std::string huge(4096, '1');
    for(const char* bad : {"1.2.3.4; rm", "300.1.1.1", "10.0.0.0/8", " 1.2.3.4", "1.2.3.4 ", "1.2.3", "01.2.3.4",
                           "fe80::1%eth0", "2001:db8:::1", "localhost", huge.c_str()}) {
        EXPECT_NE(fw_rule_set_source(rule, bad), 0) << bad;
        EXPECT_NE(fw_rule_set_destination(rule, bad), 0) << bad;
    }
    EXPECT_NE(fw_rule_set_source(rule, nullptr), 0);
    EXPECT_STREQ(fw_rule_get_source(rule), "10.0.0.1");
    EXPECT_STREQ(fw_rule_get_destination(rule), "fe80::2");
}

TEST_F(FwRuleSetters, MaskIsAPrefixOrAContiguousNetmask) {
    for(const char* good : {"0", "8", "32", "128", "255.255.255.0", "0.0.0.0", "255.255.255.255", "255.128.0.0", ""}) {
        EXPECT_EQ(fw_rule_set_source_mask(rule, good), 0) << good;
    }
    ASSERT_EQ(fw_rule_set_source_mask(rule, "24"), 0);
    for(const char* bad : {"129", "-1", "+8", "08", "24 ", "/24", "abc", "1.2.3", "255.0.255.0", "0.255.255.255",
                           "255.255.255.0/24", "ffff::", "1000"}) {
        EXPECT_NE(fw_rule_set_source_mask(rule, bad), 0) << bad;
    }
    EXPECT_STREQ(fw_rule_get_source_mask(rule), "24");
}

TEST_F(FwRuleSetters, MacIsSixHexPairsJoinedByColons) {
    EXPECT_EQ(fw_rule_set_source_mac_address(rule, "01:23:45:67:89:AB"), 0);
    ASSERT_EQ(fw_rule_set_source_mac_address(rule, "01:23:45:67:89:ab"), 0);
    for(const char* bad : {"01-23-45-67-89-ab", "0123.4567.89ab", "01:23:45:67:89", "01:23:45:67:89:ab:cd",
                           "g1:23:45:67:89:ab", "01:23:45:67:89:a", "1:23:45:67:89:ab0"}) {
        EXPECT_NE(fw_rule_set_source_mac_address(rule, bad), 0) << bad;
    }
    EXPECT_STREQ(fw_rule_get_source_mac_address(rule), "01:23:45:67:89:ab");
    EXPECT_EQ(fw_rule_set_source_mac_address(rule, ""), 0);
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
