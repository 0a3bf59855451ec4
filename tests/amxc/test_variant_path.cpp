#include <amxc/amxc_variant.h>

#include <gtest/gtest.h>

#include "var_test_util.h"

namespace {

using amxc_test::dump;
using amxc_test::typed;
using amxc_test::Var;

// [ { Device: { NetworkSettings: { Name: "ns", Rules: [ "r0", "r1" ], "0": "zero" } } } ]
class PathTest : public ::testing::Test {
protected:
    void SetUp() override {
        amxc_var_t* entry = amxc_var_add_new_htable(tree.get());
        amxc_var_t* device = amxc_var_add_new_key_htable(entry, "Device");
        amxc_var_t* ns = amxc_var_add_new_key_htable(device, "NetworkSettings");
        amxc_var_add_key(cstring_t, ns, "Name", "ns");
        amxc_var_t* rules = amxc_var_add_new_key_list(ns, "Rules");
        amxc_var_add(cstring_t, rules, "r0");
        amxc_var_add(cstring_t, rules, "r1");
        amxc_var_add_key(cstring_t, ns, "0", "zero");
    }
    std::string at(const char* path) {
        return dump(amxc_var_get_path(tree.get(), path, AMXC_VAR_FLAG_DEFAULT));
    }
    Var tree = typed(AMXC_VAR_ID_LIST);
};

TEST_F(PathTest, WalksTablesByKeyAndListsByIndex) {
    EXPECT_EQ(at("0.Device.NetworkSettings.Name"), "'ns'");
    EXPECT_EQ(at("0.Device.NetworkSettings.Rules.1"), "'r1'");
    EXPECT_EQ(at("0.Device.NetworkSettings.Rules.01"), "'r1'");
    EXPECT_EQ(at("0.Device.NetworkSettings.0"), "'zero'");  // a key, not an index
    EXPECT_EQ(at("0.Device.NetworkSettings.Rules."), "['r0', 'r1']");
    EXPECT_EQ(at(""), dump(tree));
}

TEST_F(PathTest, MissingOrMalformedComponentsFindNothing) {
    for(const char* path : {"1", "0.Device.Missing", "0.Device.NetworkSettings.Rules.2",
                            "0.Device.NetworkSettings.Rules.-1", "0.Device.NetworkSettings.Rules.+1",
                            "0.Device.NetworkSettings.Rules.x", "0..Device", ".0", "0.Device..",
                            "0.Device.NetworkSettings.Name.more", "Device",
                            "0.Device.NetworkSettings.Rules.99999999999999999999"}) {
        EXPECT_EQ(amxc_var_get_path(tree.get(), path, AMXC_VAR_FLAG_DEFAULT), nullptr) << path;
    }
    EXPECT_EQ(amxc_var_get_path(nullptr, "0", AMXC_VAR_FLAG_DEFAULT), nullptr);
    EXPECT_EQ(amxc_var_get_path(tree.get(), nullptr, AMXC_VAR_FLAG_DEFAULT), nullptr);
}

}  // namespace
