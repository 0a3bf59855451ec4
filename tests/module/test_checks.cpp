// The module's checks: address classification, the port list check bound on port forwarding
// rules, and the validations of network object rules, as a client meets them.
#include <amxd/amxd_types.h>

#include "module_fixture.h"

namespace {

using Checks = ModuleTest;

TEST_F(Checks, AddressesAreClassifiedByFamily) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"1.2.3.4", 4}, {"192.168.001.001", 4}, {"255.255.255.255", 4}, {"256.1.1.1", 0}, {"1.2.3.4 ", 0},
        {"1.2.3", 0}, {"1.2.3.4/24", 0}, {"::1", 6}, {"::", 6}, {"2001:db8::1", 6}, {"fe80::1%eth0", 6},
        {"::ffff:1.2.3.4", 6}, {"2001:DB8:0:0:0:0:0:1", 6}, {"2001:db8::1::2", 0}, {"01:23:45:67:89:ab", 0},
        {"", 0}, {nullptr, 0}};
    for(const auto& [text, family] : cases) {
        EXPECT_EQ(api_.check_is_valid_ip(text), family) << (text == nullptr ? "(null)" : text);
    }
}

TEST_F(Checks, MacAddressesAreSixColonSeparatedPairs) {
    EXPECT_TRUE(api_.check_is_valid_macaddr("01:23:45:67:89:ab"));
    EXPECT_TRUE(api_.check_is_valid_macaddr("01:23:45:67:89:AB"));
    EXPECT_FALSE(api_.check_is_valid_macaddr("01-23-45-67-89-ab"));
    EXPECT_FALSE(api_.check_is_valid_macaddr("01:23:45:67:89"));
    EXPECT_FALSE(api_.check_is_valid_macaddr("01:23:45:67:89:ab:cd"));
    EXPECT_FALSE(api_.check_is_valid_macaddr(""));
    EXPECT_FALSE(api_.check_is_valid_macaddr(nullptr));
}

// ---- port lists, through the definition's bindings (ports 0..65535, protocols 0..255) ------

class PortLists : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        ASSERT_EQ(add(path("PortForwardingRule."), {}, "", &index_), 0);
        rule_ = path("PortForwardingRule." + std::to_string(index_) + ".");
    }
    int set_param(const char* name, const char* value) { return set(rule_, {{name, value}}); }

    uint32_t index_ = 0;
    std::string rule_;
};

// Characters other than digits, commas and hyphens are traced; a hyphen passes that scan, but
// "80-90" is no whole number: read as 0 it would pass the lower bound and give a rule without
// its port. A refused value changes nothing.
TEST_F(PortLists, OnlyListsOfWholeNumbersWithinTheBoundsAreAccepted) {
    const struct {
        const char* name;
        const char* value;
        bool accepted;
        bool traced;
    } cases[] = {
        {"DestPort", "80,443", true, false}, {"SourcePort", "0,65535", true, false}, {"Protocol", "6,17,255", true, false},
        {"Protocol", "", true, false},  // any
        {"DestPort", "65536", false, false}, {"Protocol", "6,256", false, false}, {"DestPort", "80,,443", false, false},
        {"DestPort", "80,", false, false},   {"DestPort", "-", false, false},     {"DestPort", "1-", false, false},
        {"DestPort", "80 443", false, true}, {"DestPort", "http", false, true},   {"DestPort", "80;443", false, true},
        {"DestPort", "+80", false, true},    {"DestPort", "8\n0", false, true},
    };
    for(const auto& c : cases) {
        const std::string before = get(rule_, c.name);
        clear_traces();
        EXPECT_EQ(set_param(c.name, c.value), c.accepted ? amxd_status_ok : amxd_status_invalid_value) << c.value;
        EXPECT_EQ(get(rule_, c.name), c.accepted ? c.value : before) << c.value;
        EXPECT_EQ(traced('x', "value is not a digit"), c.traced) << c.value;
    }
}

// ---- network object rules ------------------------------------------------------------------

class RuleChecks : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        uint32_t object = 0;
        ASSERT_EQ(add(path("NetworkObject."), {{"Name", "lan"}}, "", &object), 0);
        table_ = path("NetworkObject." + std::to_string(object) + ".Rule.");
        ASSERT_EQ(add(table_, {{"Type", "IPRange"}}, "", &index_), 0);
        rule_ = table_ + std::to_string(index_) + ".";
        settle();
    }

    uint32_t index_ = 0;
    std::string table_;
    std::string rule_;
};

TEST_F(RuleChecks, ARangeMayNotEndBeforeItStarts) {
    EXPECT_EQ(set(rule_, {{"SourceIP", "10.0.0.10"}, {"SourceIPRangeMax", "10.0.0.9"}}), amxd_status_invalid_value);
    // Compared as numbers: 10.0.0.9 is below 10.0.0.10.
    EXPECT_EQ(set(rule_, {{"SourceIP", "10.0.0.9"}, {"SourceIPRangeMax", "10.0.0.10"}}), 0);
    EXPECT_EQ(set(rule_, {{"SourceIP", "10.0.0.10"}, {"SourceIPRangeMax", "10.0.0.10"}}), 0);
    EXPECT_EQ(set(rule_, {{"SourceIP", "10.0.1.0"}}), amxd_status_invalid_value);
    EXPECT_EQ(get(rule_, "SourceIP"), "10.0.0.10");
    // At most 65536 addresses.
    EXPECT_EQ(set(rule_, {{"SourceIP", "10.0.0.0"}, {"SourceIPRangeMax", "10.0.255.255"}}), 0);
    EXPECT_EQ(set(rule_, {{"SourceIPRangeMax", "10.1.0.0"}}), amxd_status_invalid_value);
}

TEST_F(RuleChecks, ARangeEndNeedsAStart) {
    EXPECT_EQ(set(rule_, {{"SourceIPRangeMax", "10.0.0.9"}}), amxd_status_invalid_value);
    EXPECT_EQ(add(table_, {{"Type", "IPRange"}, {"SourceIPRangeMax", "10.0.0.9"}}), amxd_status_invalid_value);
    EXPECT_EQ(set(rule_, {{"SourceIP", ""}, {"SourceIPRangeMax", ""}}), 0) << "no range end: anything goes";
}

TEST_F(RuleChecks, DeviceSelectionsMayNotHoldDoubleQuotes) {
    for(const char* param : {"SourceMACAddress", "HostName", "SourceVendorClassID", "SourceClientID",
                             "SourceUserClassID"}) {
        EXPECT_EQ(set(rule_, {{param, "a\" or true or \""}}), amxd_status_invalid_value) << param;
    }
    for(const char* param : {"HostName", "SourceVendorClassID", "SourceClientID", "SourceUserClassID"}) {
        EXPECT_EQ(set(rule_, {{param, "laptop's-name"}}), 0) << param;
    }
}

}  // namespace
