// Configuration restore (_Import) under a vendor prefix; the round trip with _Export, the shapes
// a saved tree may take and the values it refuses are golden cases.
#include <amxc/amxc_scoped_var.h>
#include <amxj/amxj.h>

#include "module_fixture.h"

namespace {

class ImportExportPrefixed : public ModuleTest {
protected:
    ImportExportPrefixed() { autostart_ = false; }

    // Calls _Import with the JSON `saved` tree as its "data" argument.
    int import(const std::string& settings, const std::string& prefix = "") {
        const std::string json =
            R"({"data": {"set": {"hgwconfig": {")" + prefix + R"(NetworkSettings": )" + settings + "}}}}";
        amxc::ScopedVar args;
        char error[128] = "";
        EXPECT_EQ(amxj_read(args.get(), json.data(), json.size(), error, sizeof(error)), 0) << error;
        const int rc = amxb_call(module_.ctx, root().c_str(), "_Import", args.get(), nullptr, 0);
        settle();
        return rc;
    }

    bool exists(const std::string& object) const { return amxd_dm_findf(module_.dm, "%s", object.c_str()) != nullptr; }
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
