// Start of the module under a vendor prefix, which names its tree and the saved tree it takes,
// and from a tree without the module's root. (The round trip with _Export, the shapes a saved
// tree may take and the values it refuses are golden cases; what stop leaves in the firewall a
// references test.)
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include <amxc/amxc_scoped_var.h>
#include <amxj/amxj.h>

#include "module_fixture.h"

namespace {

class ModuleStartManual : public ModuleTest {
protected:
    ModuleStartManual() { autostart_ = false; }

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

TEST_F(ModuleStartManual, TheVendorPrefixNamesTheTreeAndTheSavedTree) {
    start("X_");
    EXPECT_FALSE(exists("Device.NetworkSettings."));
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

TEST_F(ModuleStartManual, ADefinitionWithoutTheRootStillStarts) {
    char path[] = "/tmp/ns-no-root-XXXXXX.def";
    const int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "import \"networksettings-qk.so\" as \"ns\";\n"
                           "entry-point ns._networksettings_main;\n"
                           "%define { object Device { string Name; } }\n";
    start("", path);
    std::remove(path);

    EXPECT_EQ(api_.get_root(), nullptr);
    EXPECT_EQ(api_.get_ctx(), module_.ctx) << "the context serving Device. is found all the same";
    EXPECT_EQ(count("*        networksettings service started      *"), 1);
}

}  // namespace
