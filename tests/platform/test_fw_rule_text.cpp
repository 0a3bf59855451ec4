// The rule text is what the dump shows and what identifies a rule on removal: one exact,
// canonical form.

#include <gtest/gtest.h>

#include <string>

#include <fwrules/fw_rule.h>

namespace {

class FwRuleText : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(fw_rule_new(&rule), 0);
        ASSERT_EQ(fw_rule_set_table(rule, "filter"), 0);
        ASSERT_EQ(fw_rule_set_chain(rule, "FORWARD_AccessControl_QK"), 0);
        ASSERT_EQ(fw_rule_set_ipv4(rule, true), 0);
        ASSERT_EQ(fw_rule_set_target_policy(rule, FW_RULE_POLICY_DROP), 0);
    }
    void TearDown() override { fw_rule_delete(&rule); }

    std::string text() const {
        char buf[FW_RULE_TEXT_MAX];
        int length = fw_rule_to_text(rule, buf, sizeof(buf));
        if(length < 0) {
            return "<invalid>";
        }
        EXPECT_EQ(static_cast<size_t>(length), std::string(buf).size());
        return buf;
    }
    void ipv6() const { ASSERT_EQ(fw_rule_set_ipv6(rule, true), 0); }

    fw_rule_t* rule = nullptr;
};

TEST_F(FwRuleText, BareRuleIsOnlyItsTarget) {
    EXPECT_EQ(text(), "-j DROP");
    fw_rule_set_target_policy(rule, FW_RULE_POLICY_MASQUERADE);
    EXPECT_EQ(text(), "-j MASQUERADE");
}

TEST_F(FwRuleText, PortRangeOnlyWhenItsMaxIsAboveThePort) {
    fw_rule_set_protocol(rule, 6);
    fw_rule_set_destination_port(rule, 80);
    fw_rule_set_destination_port_range_max(rule, 80);
    EXPECT_EQ(text(), "-p tcp -m tcp --dport 80 -j DROP");
    fw_rule_set_destination_port_range_max(rule, 81);
    EXPECT_EQ(text(), "-p tcp -m tcp --dport 80:81 -j DROP");
}

TEST_F(FwRuleText, MaskedSourceKeepsOnlyTheNetwork) {
    fw_rule_set_source(rule, "10.1.2.3");
    fw_rule_set_source_mask(rule, "8");
    EXPECT_EQ(text(), "-s 10.0.0.0/8 -j DROP");
    fw_rule_set_source_mask(rule, "255.255.255.0");
    EXPECT_EQ(text(), "-s 10.1.2.0/24 -j DROP");
    // the first host bit under the prefix is cleared too
    fw_rule_set_source(rule, "10.128.0.1");
    fw_rule_set_source_mask(rule, "8");
    EXPECT_EQ(text(), "-s 10.0.0.0/8 -j DROP");
    fw_rule_set_source(rule, "10.1.2.128");
    fw_rule_set_source_mask(rule, "24");
    EXPECT_EQ(text(), "-s 10.1.2.0/24 -j DROP");
    fw_rule_set_source_mask(rule, "0");  // matches every address: no source match at all
    EXPECT_EQ(text(), "-j DROP");
}

TEST_F(FwRuleText, IcmpCodeOnlyWithAType) {
    fw_rule_set_protocol(rule, 1);
    fw_rule_set_icmp_type(rule, 8);
    EXPECT_EQ(text(), "-p icmp -m icmp --icmp-type 8 -j DROP");
    fw_rule_set_icmp_type(rule, -1);
    fw_rule_set_filtered_icmp_code(rule, 3);
    EXPECT_EQ(text(), "-p icmp -j DROP");
}

TEST_F(FwRuleText, Ipv6AddressesAreCanonical) {
    ipv6();
    fw_rule_set_chain(rule, "FORWARD6_AccessControl_QK");
    fw_rule_set_source(rule, "2001:DB8:0:0::1");
    EXPECT_EQ(text(), "-s 2001:db8::1/128 -j DROP");
    fw_rule_set_source_mask(rule, "32");
    EXPECT_EQ(text(), "-s 2001:db8::/32 -j DROP");
}

TEST_F(FwRuleText, ProtocolNamesAndNumbers) {
    fw_rule_set_destination(rule, "1.2.3.4");
    fw_rule_set_protocol(rule, 47);
    EXPECT_EQ(text(), "-d 1.2.3.4/32 -p 47 -j DROP");
    fw_rule_set_protocol(rule, 58);
    EXPECT_EQ(text(), "-d 1.2.3.4/32 -p ipv6-icmp -j DROP");
    fw_rule_set_protocol(rule, 132);
    fw_rule_set_destination_port(rule, 9);
    EXPECT_EQ(text(), "-d 1.2.3.4/32 -p 132 -m sctp --dport 9 -j DROP");
}

TEST_F(FwRuleText, AllMatchesInTheirFixedOrder) {
    fw_rule_set_destination(rule, "10.9.9.9");
    fw_rule_set_source_mac_address(rule, "aa:bb:cc:dd:ee:ff");
    fw_rule_set_protocol(rule, 17);
    fw_rule_set_source_port(rule, 1000);
    fw_rule_set_source_port_range_max(rule, 2000);
    fw_rule_set_source(rule, "192.168.0.0");
    fw_rule_set_source_mask(rule, "16");
    EXPECT_EQ(text(),
              "-s 192.168.0.0/16 -d 10.9.9.9/32 -p udp -m mac --mac-source aa:bb:cc:dd:ee:ff -m udp --sport 1000:2000 "
              "-j DROP");
}

// The longest text any rule can have: longest canonical addresses, every match, the longest
// protocol and target names.
TEST_F(FwRuleText, LongestRuleFitsTheDocumentedBuffer) {
    ipv6();
    fw_rule_set_source(rule, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe");
    fw_rule_set_destination(rule, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe");
    fw_rule_set_source_mac_address(rule, "ff:ff:ff:ff:ff:ff");
    fw_rule_set_protocol(rule, 132);
    fw_rule_set_source_port(rule, 65534);
    fw_rule_set_source_port_range_max(rule, 65535);
    fw_rule_set_destination_port(rule, 65534);
    fw_rule_set_destination_port_range_max(rule, 65535);
    fw_rule_set_target_policy(rule, FW_RULE_POLICY_MASQUERADE);
    int length = fw_rule_to_text(rule, nullptr, 0);
    EXPECT_EQ(length, 200);
    EXPECT_LT(length, FW_RULE_TEXT_MAX);
}

TEST_F(FwRuleText, ShortBufferIsCutButTheFullLengthIsReturned) {
    char buf[5] = "xxxx";
    EXPECT_EQ(fw_rule_to_text(rule, buf, sizeof(buf)), 7);
    EXPECT_STREQ(buf, "-j D");
}

TEST_F(FwRuleText, InconsistentRuleHasNoText) {
    char buf[FW_RULE_TEXT_MAX] = "stale";
    fw_rule_set_source(rule, "2001:db8::1");  // IPv6 source on an IPv4 rule
    EXPECT_EQ(fw_rule_to_text(rule, buf, sizeof(buf)), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(fw_rule_to_text(nullptr, buf, sizeof(buf)), -1);
}

}  // namespace
