// Network objects: what each kind of rule publishes in RuleIPList, the object's sorted
// NetworkObjectIPList, and rules that follow devices of the device map.
#include <algorithm>

#include "module_fixture.h"
#include "networkobject/networkobject_dm.h"

namespace {

class NetworkObject : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        object_ = network_object({}, "lan");
        rules_ = object_ + ".Rule.";
    }

    // Adds a rule and returns its path with a trailing dot.
    std::string rule(const Params& values) {
        uint32_t index = 0;
        EXPECT_EQ(add(rules_, values, "", &index), 0);
        settle();
        return rules_ + std::to_string(index) + ".";
    }
    std::string rule_list(const std::string& rule_path) const { return get(rule_path, "RuleIPList"); }
    std::string object_list() const { return get(object_ + ".", "NetworkObjectIPList"); }

    // The rule's record as the module keeps it.
    networkobject_rule_t* record(const std::string& rule_path) const {
        amxd_object_t* instance = amxd_dm_findf(dm_, "%s", rule_path.c_str());
        return instance == nullptr ? nullptr : static_cast<networkobject_rule_t*>(amxd_object_get_priv(instance));
    }

    // A device of the device map, as the LAN discovery writes it.
    std::string device(const Params& values) {
        Params all = {{"Tags", "physical lan"}};
        all.insert(all.end(), values.begin(), values.end());
        uint32_t index = 0;
        EXPECT_EQ(add("Devices.Device.", all, "", &index), 0);
        settle();
        return "Devices.Device." + std::to_string(index) + ".";
    }

    std::string object_;
    std::string rules_;
};

// ---- address rules -------------------------------------------------------------------------

TEST_F(NetworkObject, AddressRulesPublishTheirEntryWithoutAQuery) {
    const std::string address = rule({{"Type", "IPAddress"}, {"SourceIP", "192.168.1.10"}});
    EXPECT_EQ(rule_list(address), "IPAddress:192.168.1.10");
    EXPECT_EQ(object_list(), "IPAddress:192.168.1.10");
    ASSERT_NE(record(address), nullptr);
    EXPECT_EQ(record(address)->query, nullptr);
}

TEST_F(NetworkObject, EachAddressTypeHasItsForm) {
    struct Row {
        Params values;
        const char* list;
    };
    const Row rows[] = {
        {{{"Type", "IPRange"}, {"SourceIP", "10.0.0.1"}, {"SourceIPRangeMax", "10.0.0.9"}}, "IPRange:10.0.0.1-10.0.0.9"},
        {{{"Type", "IPRange"}, {"SourceIP", "10.0.0.1"}}, "IPAddress:10.0.0.1"},
        {{{"Type", "IPRange"}, {"SourceIP", "10.0.0.1"}, {"SourceIPRangeMax", "10.0.0.1"}}, "IPAddress:10.0.0.1"},
        {{{"Type", "IPSubnet"}, {"SourceIP", "192.168.1.0"}, {"SourceMask", "255.255.255.0/24"}}, "IPSubnet:192.168.1.0/24"},
        {{{"Type", "IPSubnet"}, {"SourceIP", "192.168.1.0"}, {"SourceMask", "/24"}}, "IPSubnet:192.168.1.0/24"},
    };
    for(const Row& row : rows) {
        const std::string path_of_rule = rule(row.values);
        EXPECT_EQ(rule_list(path_of_rule), row.list) << row.list;
        ASSERT_EQ(del(path_of_rule), 0);
        settle();
    }
    EXPECT_EQ(object_list(), "");
}

TEST_F(NetworkObject, IncompleteRulesAreReportedAndPublishNothing) {
    struct Row {
        Params values;
        const char* warning;
    };
    const Row rows[] = {
        {{{"Type", "IPAddress"}}, "Empty SourceIP is not supported when Type is IPAddress."},
        {{{"Type", "IPRange"}, {"SourceIPRangeMax", ""}}, "Empty SourceIP is not supported when Type is IPRange."},
        {{{"Type", "IPSubnet"}, {"SourceMask", "/24"}}, "Empty SourceIP is not supported when Type is IPSubnet."},
        {{{"Type", "IPSubnet"}, {"SourceIP", "10.0.0.0"}}, "Empty SourceMask is not supported."},
        {{{"Type", "MACAddress"}}, "Empty SourceMACAddress is not supported when Type is MACAddress."},
        {{{"Type", "HostName"}}, "Empty HostName is not supported when Type is HostName."},
        {{{"Type", "VendorClassID"}}, "Empty VendorClassID is not supported when Type is VendorClassID."},
        {{{"Type", "ClientID"}}, "Empty ClientID is not supported when Type is ClientID."},
        {{{"Type", "UserClassID"}}, "Empty UserClassID is not supported when Type is UserClassID."},
    };
    for(const Row& row : rows) {
        clear_traces();
        const std::string path_of_rule = rule(row.values);
        EXPECT_TRUE(traced('!', row.warning)) << row.warning;
        EXPECT_EQ(rule_list(path_of_rule), "") << row.warning;
        ASSERT_NE(record(path_of_rule), nullptr);
        EXPECT_EQ(record(path_of_rule)->query, nullptr) << row.warning;
    }
    EXPECT_EQ(object_list(), "") << "rules without entries leave no empty items";
}

TEST_F(NetworkObject, TheObjectListIsSortedByteWiseWithDuplicates) {
    rule({{"Type", "IPAddress"}, {"SourceIP", "10.0.0.2"}});
    rule({{"Type", "IPSubnet"}, {"SourceIP", "10.0.0.0"}, {"SourceMask", "/8"}});
    rule({{"Type", "IPAddress"}});  // publishes nothing
    rule({{"Type", "IPAddress"}, {"SourceIP", "10.0.0.10"}});
    rule({{"Type", "IPRange"}, {"SourceIP", "10.0.0.1"}, {"SourceIPRangeMax", "10.0.0.5"}});
    const std::string duplicate = rule({{"Type", "IPAddress"}, {"SourceIP", "10.0.0.2"}});
    EXPECT_EQ(object_list(),
              "IPAddress:10.0.0.10,IPAddress:10.0.0.2,IPAddress:10.0.0.2,IPRange:10.0.0.1-10.0.0.5,IPSubnet:10.0.0.0/8");

    ASSERT_EQ(del(duplicate), 0);
    settle();
    EXPECT_EQ(object_list(), "IPAddress:10.0.0.10,IPAddress:10.0.0.2,IPRange:10.0.0.1-10.0.0.5,IPSubnet:10.0.0.0/8");
}

TEST_F(NetworkObject, ChangingARuleRepublishesIt) {
    const std::string changing = rule({{"Type", "IPAddress"}, {"SourceIP", "10.0.0.1"}});
    ASSERT_EQ(set(changing, {{"Type", "IPRange"}, {"SourceIPRangeMax", "10.0.0.3"}}), 0);
    settle();
    EXPECT_EQ(rule_list(changing), "IPRange:10.0.0.1-10.0.0.3");
    EXPECT_EQ(object_list(), "IPRange:10.0.0.1-10.0.0.3");
}

// An instance that is gone by the time its added event is handled gets no record.
TEST_F(NetworkObject, AnAddedEventForAGoneRuleAttachesNothing) {
    uint32_t index = 0;
    ASSERT_EQ(add(rules_, {{"Type", "IPAddress"}, {"SourceIP", "10.0.0.1"}}, "", &index), 0);
    ASSERT_EQ(del(rules_ + std::to_string(index) + "."), 0);
    settle();
    EXPECT_TRUE(traced('x', "No Rule instance " + std::to_string(index) + " found"));
    EXPECT_EQ(object_list(), "");
}

// ---- device rules --------------------------------------------------------------------------

TEST_F(NetworkObject, EachDevicePropertyOpensAQuery) {
    device({{"PhysAddress", "aa:bb:cc:dd:ee:01"}, {"Name", "laptop"}, {"VendorClassID", "android-dhcp-13"},
            {"ClientID", "client-7"}, {"UserClassID", "kids"}, {"IPAddress", "192.168.1.50"}});
    const Params rows[] = {
        {{"Type", "MACAddress"}, {"SourceMACAddress", "aa:bb:cc:dd:ee:01"}},
        {{"Type", "HostName"}, {"HostName", "laptop"}},
        {{"Type", "VendorClassID"}, {"SourceVendorClassID", "android-dhcp-13"}},
        {{"Type", "ClientID"}, {"SourceClientID", "client-7"}},
        {{"Type", "UserClassID"}, {"SourceUserClassID", "kids"}},
    };
    for(const Params& values : rows) {
        const std::string path_of_rule = rule(values);
        ASSERT_NE(record(path_of_rule), nullptr);
        ASSERT_NE(record(path_of_rule)->query, nullptr) << values[0].second;
        EXPECT_STREQ(record(path_of_rule)->query->expression,
                     ("not self and physical and ." +
                      std::string(values[0].second == "MACAddress" ? "PhysAddress"
                                  : values[0].second == "HostName" ? "Name"
                                                                   : values[0].second) +
                      " matches \"" + (values[0].second == "MACAddress" ? "^" + values[1].second + "$" : values[1].second) +
                      "\"")
                         .c_str());
        EXPECT_EQ(rule_list(path_of_rule), "IPAddress:192.168.1.50") << values[0].second;
        ASSERT_EQ(del(path_of_rule), 0);
        settle();
    }
}

TEST_F(NetworkObject, DeviceReportsKeepTheRuleListCurrent) {
    const std::string phone = device({{"Name", "phone"}, {"IPAddress", "192.168.1.51"}});
    const std::string mac_rule = rule({{"Type", "HostName"}, {"HostName", "^phone$"}});
    rule({{"Type", "IPAddress"}, {"SourceIP", "192.168.1.9"}});
    EXPECT_EQ(rule_list(mac_rule), "IPAddress:192.168.1.51");
    EXPECT_EQ(object_list(), "IPAddress:192.168.1.51,IPAddress:192.168.1.9");

    // Updated address, a second matching device, one without address, one that stops matching.
    ASSERT_EQ(set(phone, {{"IPAddress", "192.168.1.52"}}), 0);
    settle();
    EXPECT_EQ(rule_list(mac_rule), "IPAddress:192.168.1.52");
    const std::string other = device({{"Name", "phone"}, {"IPAddress", "192.168.1.60"}});
    device({{"Name", "phone"}, {"IPAddress", ""}});
    EXPECT_EQ(rule_list(mac_rule), "IPAddress:192.168.1.52,IPAddress:192.168.1.60");
    ASSERT_EQ(set(phone, {{"Name", "tablet"}}), 0);
    settle();
    EXPECT_EQ(rule_list(mac_rule), "IPAddress:192.168.1.60");
    ASSERT_EQ(del(other), 0);
    settle();
    EXPECT_EQ(rule_list(mac_rule), "");
    EXPECT_EQ(object_list(), "IPAddress:192.168.1.9");
}

// A device-map rule may select far more addresses than a text parameter holds by default.
TEST_F(NetworkObject, ListsLongerThanATextBoundArePublished) {
    for(int i = 0; i < 300; ++i) {
        device({{"Name", "tv"}, {"IPAddress", "10.1." + std::to_string(i / 200) + "." + std::to_string(i % 200)}});
    }
    const std::string tvs = rule({{"Type", "HostName"}, {"HostName", "^tv$"}});
    EXPECT_GT(rule_list(tvs).size(), AMXD_PARAM_MAX_LENGTH);
    const std::string all = object_list();
    EXPECT_EQ(std::count(all.begin(), all.end(), ','), 299);
}

// The closed query reports nothing more: devices only it matched must not come back.
TEST_F(NetworkObject, ANewSelectionStartsFromAnEmptyDeviceTable) {
    device({{"PhysAddress", "aa:bb:cc:dd:ee:01"}, {"IPAddress", "192.168.1.50"}});
    device({{"PhysAddress", "aa:bb:cc:dd:ee:02"}, {"IPAddress", "192.168.1.51"}});
    const std::string mac_rule = rule({{"Type", "MACAddress"}, {"SourceMACAddress", "aa:bb:cc:dd:ee:01"}});
    ASSERT_EQ(rule_list(mac_rule), "IPAddress:192.168.1.50");

    ASSERT_EQ(set(mac_rule, {{"SourceMACAddress", "aa:bb:cc:dd:ee:02"}}), 0);
    settle();
    EXPECT_EQ(rule_list(mac_rule), "IPAddress:192.168.1.51");

    ASSERT_EQ(set(mac_rule, {{"Type", "IPAddress"}, {"SourceIP", "10.0.0.1"}}), 0);
    settle();
    EXPECT_EQ(record(mac_rule)->query, nullptr);
    EXPECT_EQ(rule_list(mac_rule), "IPAddress:10.0.0.1");
}

TEST_F(NetworkObject, ADeletedRuleHearsNoMoreOfItsDevices) {
    const std::string laptop = device({{"PhysAddress", "aa:bb:cc:dd:ee:01"}, {"IPAddress", "192.168.1.50"}});
    const std::string mac_rule = rule({{"Type", "MACAddress"}, {"SourceMACAddress", "aa:bb:cc:dd:ee:01"}});
    ASSERT_EQ(object_list(), "IPAddress:192.168.1.50");
    ASSERT_EQ(del(mac_rule), 0);
    settle();
    EXPECT_EQ(object_list(), "");
    clear_traces();
    ASSERT_EQ(set(laptop, {{"IPAddress", "192.168.1.55"}}), 0);
    settle();
    EXPECT_FALSE(traced("device key ID-1"));
    EXPECT_EQ(object_list(), "");
}

TEST_F(NetworkObject, AccessControlsFollowTheDevicesOfTheirGroup) {
    rule({{"Type", "MACAddress"}, {"SourceMACAddress", "aa:bb:cc:dd:ee:01"}});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", object_}});
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Inactive") << "no device yet";

    const std::string laptop = device({{"PhysAddress", "AA:BB:CC:DD:EE:01"}, {"IPAddress", "192.168.1.50"}});
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.50/32 -j DROP"}));

    ASSERT_EQ(set(laptop, {{"IPAddress", "192.168.1.77"}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.77/32 -j DROP"}));
    ASSERT_EQ(del(laptop), 0);
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Inactive");
    EXPECT_EQ(dump(), expected_dump({}));
}

}  // namespace
