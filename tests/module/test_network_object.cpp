// Network objects from the inside: events that race a deletion, device selections longer than
// a text bound; what rules publish (incomplete ones included) is a golden case.
#include <algorithm>

#include "module_fixture.h"

namespace {

class NetworkObject : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        object_ = network_object({}, "lan");
        rules_ = object_ + ".Rule.";
    }

    // Adds a rule and returns its path with a trailing dot.
    std::string rule(const Params& values) { return added(rules_, values) + "."; }
    std::string rule_list(const std::string& rule_path) const { return get(rule_path, "RuleIPList"); }
    std::string object_list() const { return get(object_ + ".", "NetworkObjectIPList"); }

    // A device of the device map, as the LAN discovery writes it.
    std::string device(const Params& values) {
        Params all = {{"Tags", "physical lan"}};
        all.insert(all.end(), values.begin(), values.end());
        return added("Devices.Device.", all) + ".";
    }

    std::string object_;
    std::string rules_;
};

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

}  // namespace
