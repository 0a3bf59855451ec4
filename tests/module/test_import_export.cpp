// Configuration restore (_Import), called over the bus as the configuration manager calls it;
// the round trip with _Export is a golden case.
#include <amxj/amxj.h>

#include "module_fixture.h"

namespace {

class ImportExport : public ModuleTest {
protected:
    // Calls _Import with the JSON `saved` tree as its "data" argument.
    int import(const std::string& settings, const std::string& prefix = "", amxc_var_t* ret = nullptr) {
        const std::string json =
            R"({"data": {"set": {"hgwconfig": {")" + prefix + R"(NetworkSettings": )" + settings + "}}}}";
        amxc_var_t args;
        amxc_var_init(&args);
        char error[128] = "";
        EXPECT_EQ(amxj_read(&args, json.data(), json.size(), error, sizeof(error)), 0) << error;
        const int rc = call(root(), "_Import", &args, ret);
        amxc_var_clean(&args);
        settle();
        return rc;
    }

    bool exists(const std::string& object) const { return amxd_dm_findf(dm_, "%s", object.c_str()) != nullptr; }
};

TEST_F(ImportExport, NothingSavedRestoresNothing) {
    amxc_var_t args;
    amxc_var_init(&args);
    amxc_var_set_type(&args, AMXC_VAR_ID_HTABLE);
    amxc_var_add_new_key_htable(&args, "data");
    EXPECT_EQ(call(root(), "_Import", &args, nullptr), 0);
    amxc_var_clean(&args);
    EXPECT_EQ(import("{}"), 0);
    EXPECT_EQ(amxd_object_get_instance_count(amxd_dm_findf(dm_, "%s", path("AccessControl.").c_str())), 0u);
}

// An empty list, an object without rules and a rule without a range end are ordinary saved
// configurations, not failures.
TEST_F(ImportExport, EmptyListsAndAbsentOptionalEntriesAreValid) {
    EXPECT_EQ(import(R"({"NetworkObject": [], "PortForwardingRule": [{"web": {"DestPort": "80", "Protocol": "6"}}]})"),
              0);
    EXPECT_TRUE(exists(path("PortForwardingRule.web")));

    EXPECT_EQ(import(R"({"NetworkObject": [{"empty": {"Name": "Nobody"}}, {"one": {"Name": "One", "Rule": [
                          {"r": {"Type": "IPAddress", "SourceIP": "10.0.0.1"}}]}}]})"),
              0);
    EXPECT_EQ(get(path("NetworkObject.empty."), "Name"), "Nobody");
    EXPECT_EQ(get(path("NetworkObject.one."), "NetworkObjectIPList"), "IPAddress:10.0.0.1");
}

TEST_F(ImportExport, ValuesOfTheWrongTypeAreErrors) {
    EXPECT_EQ(import(R"({"PortForwardingRule": [{"web": {"DestPort": "80", "Protocol": "6"}}],
                         "AccessControl": {"a": {"Enable": true}}})"),
              amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "wrong data type"));
    EXPECT_TRUE(traced('x', "fail to restore AccessControl"));
    EXPECT_TRUE(exists(path("PortForwardingRule.web"))) << "what came before stays restored";

    for(const char* settings : {R"({"NetworkObject": "kids"})", R"({"NetworkObject": [{"kids": "Kids"}]})",
                                R"({"NetworkObject": [{"kids": {"Name": "Kids", "Rule": "tablet"}}]})",
                                R"({"NetworkObject": [{"kids": {"Name": "Kids", "Rule": [{"r": 5}]}}]})",
                                R"({"NetworkObject": [{"kids": {"Name": {"x": 1}}}]})",
                                R"({"PortForwardingRule": [{"web": ["80"]}]})"}) {
        clear_traces();
        EXPECT_NE(import(settings), 0) << settings;
        EXPECT_TRUE(traced('x', "fail to restore NetworkObject") || traced('x', "fail to restore PortForwardingRule"))
            << settings;
    }
}

// Port ranges come back as every port of them; only "<Template>-<n>" written plainly is an
// index; a value that cannot be written is reported and its instance withdrawn, since without
// it the instance would block more.
TEST_F(ImportExport, RefusedValuesAreReportedAndNeverWiden) {
    amxc_var_t ret;
    amxc_var_init(&ret);
    EXPECT_EQ(import(R"({"NetworkObject": [{"kids": {"Name": "Kids", "Rule": [
                           {"r": {"Type": "IPAddress", "SourceIP": "192.168.1.10"}}]}}],
                         "PortForwardingRule": [{"web": {"DestPort": "http", "Protocol": "6"}},
                                                {"PortForwardingRule-4": {"DestPort": "80-82,443", "Protocol": "6"}},
                                                {"PortForwardingRule-07": {"DestPort": "22", "Protocol": "6"}}],
                         "AccessControl": [{"a": {"Enable": true, "Bogus": 1}},
                                           {"b": {"Enable": true, "NetworkGroupRef": "Device.NetworkSettings.NetworkObject.kids",
                                                  "PortForwardingRuleRef": "Device.NetworkSettings.PortForwardingRule.4"}}]})",
                     "", &ret),
              0);
    EXPECT_TRUE(traced('x', "fail to restore web.DestPort "));
    amxc_string_t text;
    amxc_string_init(&text, 0);
    amxj_write(&ret, &text, false);
    EXPECT_STREQ(amxc_string_get(&text, 0),
                 R"({"refused":[{"path":"Device.NetworkSettings.PortForwardingRule.5.DestPort","value":"http"},)"
                 R"({"path":"Device.NetworkSettings.AccessControl.1.Bogus","value":1}]})");
    amxc_string_clean(&text);
    amxc_var_clean(&ret);
    EXPECT_FALSE(exists(path("PortForwardingRule.web")));
    EXPECT_FALSE(exists(path("AccessControl.a")));
    EXPECT_EQ(get(path("PortForwardingRule.4."), "DestPort"), "80,81,82,443");
    EXPECT_FALSE(exists(path("PortForwardingRule.7"))) << "a key with a leading zero is a name, not index 7";
    EXPECT_EQ(get(path("AccessControl.b."), "NetworkGroupRef"), path("NetworkObject.1"));
    tick(1000);
    std::vector<std::string> rules;
    for(const char* port : {"80", "81", "82", "443"}) {
        rules.push_back(std::string("-s 192.168.1.10/32 -p tcp -m tcp --dport ") + port + " -j DROP");
    }
    EXPECT_EQ(dump(), expected_dump(rules));
}

TEST_F(ImportExport, AnInstanceThatExistsStopsTheRestoreAndIsNamed) {
    ASSERT_EQ(import(R"({"AccessControl": [{"a": {"Enable": true}}, {"AccessControl-5": {}}]})"), 0);
    // What collides is said (the bus passes it on as the reason of the refusal).
    EXPECT_EQ(import(R"({"AccessControl": [{"a": {"Enable": false}}, {"b": {"Enable": false}}]})"), amxd_status_duplicate);
    EXPECT_TRUE(traced('x', "Device.NetworkSettings.AccessControl a: Device.NetworkSettings.AccessControl already has an instance named a"));
    EXPECT_EQ(import(R"({"AccessControl": [{"AccessControl-5": {}}]})"), amxd_status_duplicate);
    EXPECT_TRUE(traced('x', "Device.NetworkSettings.AccessControl AccessControl-5: Device.NetworkSettings.AccessControl.5 already exists"));
    EXPECT_TRUE(traced('x', "instance a restore fail"));
    EXPECT_FALSE(exists(path("AccessControl.b")));
    // A network object of an existing name is updated in place instead.
    ASSERT_EQ(import(R"({"NetworkObject": [{"kids": {"Name": "Kids"}}]})"), 0);
    ASSERT_EQ(import(R"({"NetworkObject": [{"kids": {"Name": "Children"}}]})"), 0);
    EXPECT_EQ(get(path("NetworkObject.kids."), "Name"), "Children");
}

class ImportExportPrefixed : public ImportExport {
protected:
    ImportExportPrefixed() { autostart_ = false; }
};

TEST_F(ImportExportPrefixed, TheVendorPrefixNamesTheSavedTree) {
    start("X_");
    ASSERT_EQ(import(R"({"AccessControl": [{"a": {"Enable": true}}]})"), 0);
    EXPECT_FALSE(exists(path("AccessControl.a"))) << "a tree without the prefix is not this module's";
    ASSERT_EQ(import(R"({"AccessControl": [{"a": {"Enable": true}}]})", "X_"), 0);
    EXPECT_TRUE(exists("Device.X_NetworkSettings.AccessControl.a"));
}

}  // namespace
