// The rule text is what the dump shows and what identifies a rule on removal: one exact,
// canonical form.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "rule_maker.h"

namespace {

using fwtest::RuleMaker;

// The text of the rule, checking that the returned length is the text's.
std::string text(RuleMaker&& maker) {
    fwtest::Rule rule = maker.make();
    if(rule == nullptr) {
        return "<refused>";
    }
    char buf[FW_RULE_TEXT_MAX];
    const int length = fw_rule_to_text(rule.get(), buf, sizeof(buf));
    if(length < 0) {
        return "<invalid>";
    }
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(buf));
    return buf;
}

TEST(FwRuleText, CanonicalForms) {
    struct {
        RuleMaker maker;
        const char* expected;
    } cases[] = {
        {RuleMaker(), "-j DROP"},
        {std::move(RuleMaker().target(FW_RULE_POLICY_MASQUERADE)), "-j MASQUERADE"},
        // A range only when its end is above the port.
        {std::move(RuleMaker().protocol(6).destination_ports(80, 80)), "-p tcp -m tcp --dport 80 -j DROP"},
        {std::move(RuleMaker().protocol(6).destination_ports(80, 81)), "-p tcp -m tcp --dport 80:81 -j DROP"},
        // A masked source keeps only the network, its first host bit cleared too.
        {std::move(RuleMaker().source("10.1.2.3", "8")), "-s 10.0.0.0/8 -j DROP"},
        {std::move(RuleMaker().source("10.1.2.3", "255.255.255.0")), "-s 10.1.2.0/24 -j DROP"},
        {std::move(RuleMaker().source("10.128.0.1", "8")), "-s 10.0.0.0/8 -j DROP"},
        {std::move(RuleMaker().source("10.1.2.128", "24")), "-s 10.1.2.0/24 -j DROP"},
        {std::move(RuleMaker().source("10.1.2.128", "0")), "-j DROP"},  // every address: no match at all
        // An ICMP code only with a type.
        {std::move(RuleMaker().protocol(1).icmp(8)), "-p icmp -m icmp --icmp-type 8 -j DROP"},
        {std::move(RuleMaker().protocol(1).icmp(-1, 3)), "-p icmp -j DROP"},
        {std::move(RuleMaker(true).source("2001:DB8:0:0::1")), "-s 2001:db8::1/128 -j DROP"},
        {std::move(RuleMaker(true).source("2001:DB8:0:0::1", "32")), "-s 2001:db8::/32 -j DROP"},
        {std::move(RuleMaker().mac("AA:BB:CC:DD:EE:0F")), "-m mac --mac-source aa:bb:cc:dd:ee:0f -j DROP"},
        {std::move(RuleMaker().destination("1.2.3.4").protocol(47)), "-d 1.2.3.4/32 -p 47 -j DROP"},
        {std::move(RuleMaker().destination("1.2.3.4").protocol(58)), "-d 1.2.3.4/32 -p ipv6-icmp -j DROP"},
        {std::move(RuleMaker().protocol(132).destination_ports(9)), "-p 132 -m sctp --dport 9 -j DROP"},
        // Every match, in its fixed order.
        {std::move(RuleMaker().destination("10.9.9.9").mac("aa:bb:cc:dd:ee:ff").protocol(17).source_ports(1000, 2000)
                       .source("192.168.0.0", "16")),
         "-s 192.168.0.0/16 -d 10.9.9.9/32 -p udp -m mac --mac-source aa:bb:cc:dd:ee:ff -m udp --sport 1000:2000 -j DROP"},
    };
    for(auto& c : cases) {
        EXPECT_EQ(text(std::move(c.maker)), c.expected);
    }
}

// The longest text any rule can have (longest canonical addresses, every match, the longest
// protocol and target names) fits the documented buffer; a short buffer gets a cut text but
// the full length.
TEST(FwRuleText, LengthsAndBuffers) {
    fwtest::Rule longest = RuleMaker(true)
                               .source("ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe")
                               .destination("ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe")
                               .mac("ff:ff:ff:ff:ff:ff")
                               .protocol(132)
                               .source_ports(65534, 65535)
                               .destination_ports(65534, 65535)
                               .target(FW_RULE_POLICY_MASQUERADE)
                               .make();
    const int length = fw_rule_to_text(longest.get(), nullptr, 0);
    EXPECT_EQ(length, 200);
    EXPECT_LT(length, FW_RULE_TEXT_MAX);

    fwtest::Rule bare = RuleMaker().make();
    char buf[5] = "xxxx";
    EXPECT_EQ(fw_rule_to_text(bare.get(), buf, sizeof(buf)), 7);
    EXPECT_STREQ(buf, "-j D");
}

TEST(FwRuleText, InconsistentRuleHasNoText) {
    char buf[FW_RULE_TEXT_MAX] = "stale";
    fwtest::Rule rule = RuleMaker().make();
    ASSERT_EQ(fw_rule_set_source(rule.get(), "2001:db8::1"), 0);  // IPv6 source on an IPv4 rule
    EXPECT_EQ(fw_rule_to_text(rule.get(), buf, sizeof(buf)), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(fw_rule_to_text(nullptr, buf, sizeof(buf)), -1);
}

}  // namespace
