// One firewall rule: every setter accepts exactly its documented values and leaves the rule
// unchanged when it refuses one; values that are fine one by one but do not fit together are
// found before insertion; and the rule text, which the dump shows and which identifies a rule
// on removal, has one exact, canonical form.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fwrules/rule_text.hpp>

#include "rule_maker.h"

namespace {

using fwtest::RuleMaker;

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
        {fw_rule_set_source_mask,
         fw_rule_get_source_mask,
         {"0", "8", "32", "128", "255.255.255.0", "0.0.0.0", "255.255.255.255", "", "24", "255.128.0.0"},
         {"129", "-1", "+8", "08", "24 ", "/24", "abc", "1.2.3", "255.0.255.0", "0.255.255.255", "255.255.255.0/24",
          "ffff::", "1000", nullptr}},
        {fw_rule_set_chain, fw_rule_get_chain, {"FORWARD6_AccessControl_QK", longest_name.c_str(), "keep-me_1"}, bad_names},
        {fw_rule_set_table, fw_rule_get_table, {"filter"}, bad_names},
        {fw_rule_set_source, fw_rule_get_source, good_addresses, bad_addresses},
        {fw_rule_set_destination, fw_rule_get_destination, good_addresses, bad_addresses},
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
    EXPECT_STREQ(fw_rule_get_chain(rule), "keep-me_1");  // the table's setting kept it
}

// Rules share their pair of table and chain names: each keeps its own while another rule
// takes, changes or drops the same pair.
TEST_F(FwRuleSetters, RulesSharingTheirNamesKeepThemApart) {
    fw_rule_t* other = nullptr;
    ASSERT_EQ(fw_rule_new(&other), 0);
    ASSERT_EQ(fw_rule_set_table(rule, "filter"), 0);
    ASSERT_EQ(fw_rule_set_chain(rule, "A"), 0);
    ASSERT_EQ(fw_rule_set_chain(other, "A"), 0);
    ASSERT_EQ(fw_rule_set_table(other, "filter"), 0);  // now the same pair
    ASSERT_EQ(fw_rule_set_chain(other, "B"), 0);
    EXPECT_STREQ(fw_rule_get_chain(rule), "A");
    EXPECT_STREQ(fw_rule_get_table(other), "filter");
    fw_rule_delete(&rule);
    ASSERT_EQ(fw_rule_set_chain(other, "A"), 0);  // a pair no rule held any more, taken again
    ASSERT_EQ(fw_rule_set_chain(other, "B"), 0);
    ASSERT_EQ(fw_rule_set_chain(other, "A"), 0);
    fw_rule_t* third = nullptr;  // new pairs made where a pair freed too early would have been
    ASSERT_EQ(fw_rule_new(&third), 0);
    ASSERT_EQ(fw_rule_set_chain(third, "Z"), 0);
    ASSERT_EQ(fw_rule_set_table(third, "raw"), 0);
    EXPECT_STREQ(fw_rule_get_table(other), "filter");
    EXPECT_STREQ(fw_rule_get_chain(other), "A");
    fw_rule_delete(&third);
    fw_rule_delete(&other);
}

// A rule keeps its values parsed; the getters still lend each text as it was written, whether
// a getter or a text in another form came first.
TEST_F(FwRuleSetters, GettersLendTheTextsAsWritten) {
    ASSERT_EQ(fw_rule_set_source(rule, "2001:DB8:0::1"), 0);
    ASSERT_EQ(fw_rule_set_source_mac_address(rule, "AA:bb:CC:dd:EE:0f"), 0);
    EXPECT_STREQ(fw_rule_get_source(rule), "2001:DB8:0::1");
    EXPECT_STREQ(fw_rule_get_source_mac_address(rule), "AA:bb:CC:dd:EE:0f");
    EXPECT_STREQ(fw_rule_get_destination(rule), "");
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

TEST_F(FwRuleSetters, NullRulesAreRefusedAndDeleteClearsThePointer) {
    EXPECT_NE(fw_rule_new(nullptr), 0);
    EXPECT_NE(fw_rule_set_table(nullptr, "filter"), 0);
    EXPECT_NE(fw_rule_set_source(nullptr, ""), 0);
    EXPECT_NE(fw_rule_set_target_policy(nullptr, FW_RULE_POLICY_DROP), 0);
    EXPECT_STREQ(fw_rule_get_chain(nullptr), "");
    EXPECT_STREQ(fw_rule_get_source(nullptr), "");
    EXPECT_EQ(fw_rule_check(nullptr), FW_RULE_ERROR_NULL);
    EXPECT_EQ(fw_rule_delete(&rule), 0);
    EXPECT_EQ(rule, nullptr);
    EXPECT_EQ(fw_rule_delete(&rule), 0);
}

TEST_F(FwRuleSetters, CheckNamesEachMissingPlacementAndTrueChoosesOneFamily) {
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_NO_TABLE);
    fw_rule_set_table(rule, "filter");
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_NO_CHAIN);
    fw_rule_set_chain(rule, "c");
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_NO_FAMILY);
    // IPv6 replaces IPv4; clearing IPv4 then leaves IPv6 alone.
    ASSERT_EQ(fw_rule_set_ipv4(rule, true), 0);
    ASSERT_EQ(fw_rule_set_ipv6(rule, true), 0);
    EXPECT_FALSE(fw_rule_get_ipv4(rule));
    ASSERT_EQ(fw_rule_set_ipv4(rule, false), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_NO_TARGET);
    fw_rule_set_target_policy(rule, FW_RULE_POLICY_REJECT);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_OK);
    EXPECT_STRNE(fw_rule_error_text(FW_RULE_ERROR_NO_TARGET), fw_rule_error_text(FW_RULE_OK));
    ASSERT_EQ(fw_rule_set_ipv6(rule, false), 0);
    EXPECT_EQ(fw_rule_check(rule), FW_RULE_ERROR_NO_FAMILY);
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
        {std::move(RuleMaker().protocol(33).destination_ports(80)), FW_RULE_OK},
        {std::move(RuleMaker().protocol(132).destination_ports(80, 80)), FW_RULE_OK},
        {std::move(RuleMaker().protocol(6).destination_ports(80, 79)), FW_RULE_ERROR_PORTS},
        {std::move(RuleMaker().protocol(6).source_ports(0, 100)), FW_RULE_ERROR_PORTS},  // an end without a start
        // ICMP only on IPv4 protocol 1; type -1 with a code is the module's "any type".
        {std::move(RuleMaker().icmp(8)), FW_RULE_ERROR_ICMP},
        {std::move(RuleMaker(true).protocol(1).icmp(8)), FW_RULE_ERROR_ICMP},
        {std::move(RuleMaker().protocol(1).icmp(-1, 0)), FW_RULE_OK},
    };
    for(auto& c : cases) {
        fwtest::Rule rule = c.maker.make();
        ASSERT_NE(rule, nullptr);
        EXPECT_EQ(fw_rule_check(rule.get()), c.expected) << fwtest::text_of(rule.get());
    }
}

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
        // A range only when its end is above the port.
        {std::move(RuleMaker().protocol(6).destination_ports(80, 80)), "-p tcp -m tcp --dport 80 -j DROP"},
        // A masked source keeps only the network, its first host bit cleared too.
        {std::move(RuleMaker().source("10.1.2.3", "8")), "-s 10.0.0.0/8 -j DROP"},
        {std::move(RuleMaker().source("10.1.2.3", "255.255.255.0")), "-s 10.1.2.0/24 -j DROP"},
        {std::move(RuleMaker().source("10.128.0.1", "8")), "-s 10.0.0.0/8 -j DROP"},
        {std::move(RuleMaker().source("10.1.2.128", "24")), "-s 10.1.2.0/24 -j DROP"},
        {std::move(RuleMaker().source("10.1.2.128", "0")), "-j DROP"},  // every address: no match at all
        // An ICMP code only with a type.
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
// the full length; an inconsistent rule has no text at all.
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
    ASSERT_EQ(fw_rule_set_source(bare.get(), "2001:db8::1"), 0);  // IPv6 source on an IPv4 rule
    EXPECT_EQ(fw_rule_to_text(bare.get(), buf, sizeof(buf)), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(fw_rule_to_text(nullptr, buf, sizeof(buf)), -1);
}

// Two rules' texts compared without writing them agree with their texts written, on pairs
// drawn from few values and differing in a few fields: equal texts from differing values (host
// bits, a range's end, ICMP without protocol 1) and texts that differ by one value.
TEST(FwRuleText, SameTextAgreesWithTheWrittenTexts) {
    std::mt19937 random(20261211);
    auto pick = [&random](auto... values) {
        const std::array options{values...};
        return options[random() % options.size()];
    };
    using Matches = fwrules::TextMatches;
    auto redraw = [&](Matches& m, unsigned field) {
        switch(field) {
        case 0: m.ipv6 = !m.ipv6; break;
        case 1: m.source[random() % 16] ^= static_cast<std::uint8_t>(1U << (random() % 8)); break;
        case 2: m.source_prefix = m.ipv6 ? pick(0U, 64U, 127U, 128U) : pick(0U, 8U, 23U, 24U, 32U); break;
        case 3: m.destination[random() % 16] ^= static_cast<std::uint8_t>(1U << (random() % 8)); break;
        case 4: m.destination_prefix = pick(0U, 32U, 128U); break;
        case 5: m.protocol = pick(0, 1, 6, 17, 33, 47, 58, 132); break;
        case 6: m.mac = pick(std::optional<std::array<std::uint8_t, 6>>(), std::optional(std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}),
                             std::optional(std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 7})); break;
        case 7: m.source_port = pick(0, 80, 81); break;
        case 8: m.source_port_max = pick(0, 79, 80, 81, 65535); break;
        case 9: m.destination_port = pick(0, 80, 81); break;
        case 10: m.destination_port_max = pick(0, 79, 80, 81, 65535); break;
        case 11: m.icmp_type = pick(-1, 0, 3); break;
        case 12: m.icmp_code = pick(-1, 0, 3); break;
        default: m.policy = pick(FW_RULE_POLICY_DROP, FW_RULE_POLICY_ACCEPT, FW_RULE_POLICY_REJECT, FW_RULE_POLICY_MASQUERADE);
        }
    };
    std::size_t same = 0;
    std::size_t different = 0;
    for(int round = 0; round < 20000; ++round) {
        Matches a;
        for(unsigned field = 0; field < 14; ++field) {
            redraw(a, field);
        }
        Matches b = a;
        for(unsigned n = 1 + random() % 3; n > 0; --n) {
            redraw(b, static_cast<unsigned>(random() % 14));
        }
        fwrules::TextRoom a_room;
        fwrules::TextRoom b_room;
        const std::string_view a_text = fwrules::write_rule_text(a, a_room);
        const std::string_view b_text = fwrules::write_rule_text(b, b_room);
        ASSERT_EQ(fwrules::same_text(a, b), a_text == b_text) << a_text << " | " << b_text;
        ++(a_text == b_text ? same : different);
    }
    EXPECT_GT(same, 2000U);
    EXPECT_GT(different, 2000U);
}

}  // namespace
