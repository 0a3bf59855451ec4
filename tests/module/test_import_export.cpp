// Configuration restore (_Import), called over the bus as the configuration manager calls it;
// the round trip with _Export and the shapes a saved tree may take are golden cases.
#include <amxc/amxc_scoped_var.h>
#include <amxj/amxj.h>

#include "module_fixture.h"

namespace {

class ImportExport : public ModuleTest {
protected:
    // Calls _Import with the JSON `saved` tree as its "data" argument.
    int import(const std::string& settings, const std::string& prefix = "", amxc_var_t* ret = nullptr) {
        const std::string json =
            R"({"data": {"set": {"hgwconfig": {")" + prefix + R"(NetworkSettings": )" + settings + "}}}}";
        amxc::ScopedVar args;
        char error[128] = "";
        EXPECT_EQ(amxj_read(args.get(), json.data(), json.size(), error, sizeof(error)), 0) << error;
        const int rc = call(root(), "_Import", args.get(), ret);
        settle();
        return rc;
    }

    bool exists(const std::string& object) const { return amxd_dm_findf(module_.dm, "%s", object.c_str()) != nullptr; }
};

// Port ranges come back as every port of them; only "<Template>-<n>" written plainly is an
// index; a value that cannot be written is reported and its instance withdrawn, since without
// it the instance would block more.
TEST_F(ImportExport, RefusedValuesAreReportedAndNeverWiden) {
    amxc::ScopedVar ret;
    EXPECT_EQ(import(R"({"NetworkObject": [{"kids": {"Name": "Kids", "Rule": [
                           {"r": {"Type": "IPAddress", "SourceIP": "192.168.1.10"}}]}}],
                         "PortForwardingRule": [{"web": {"DestPort": "http", "Protocol": "6"}},
                                                {"PortForwardingRule-4": {"DestPort": "80-82,443", "Protocol": "6"}},
                                                {"PortForwardingRule-07": {"DestPort": "22", "Protocol": "6"}}],
                         "AccessControl": [{"a": {"Enable": true, "Bogus": 1}},
                                           {"b": {"Enable": true, "NetworkGroupRef": "Device.NetworkSettings.NetworkObject.kids",
                                                  "PortForwardingRuleRef": "Device.NetworkSettings.PortForwardingRule.4"}}]})",
                     "", ret.get()),
              0);
    EXPECT_TRUE(traced('x', "fail to restore web.DestPort "));
    amxc_string_t text;
    amxc_string_init(&text, 0);
    amxj_write(ret.get(), &text, false);
    EXPECT_STREQ(amxc_string_get(&text, 0),
                 R"({"refused":[{"path":"Device.NetworkSettings.PortForwardingRule.5.DestPort","value":"http"},)"
                 R"({"path":"Device.NetworkSettings.AccessControl.1.Bogus","value":1}]})");
    amxc_string_clean(&text);
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

class ImportExportPrefixed : public ImportExport {
protected:
    ImportExportPrefixed() { autostart_ = false; }
};

TEST_F(ImportExportPrefixed, TheVendorPrefixNamesTheTreeAndTheSavedTree) {
    start("X_");
    EXPECT_EQ(amxd_dm_findf(module_.dm, "Device.NetworkSettings."), nullptr);
    const std::string group = network_object({ADDRESS_10});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", group}});
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -j DROP"}));

    ASSERT_EQ(import(R"({"AccessControl": [{"a": {"Enable": true}}]})"), 0);
    EXPECT_FALSE(exists(path("AccessControl.a"))) << "a tree without the prefix is not this module's";
    ASSERT_EQ(import(R"({"AccessControl": [{"a": {"Enable": true}}]})", "X_"), 0);
    EXPECT_TRUE(exists("Device.X_NetworkSettings.AccessControl.a"));
}

}  // namespace
