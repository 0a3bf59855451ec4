// Start and stop of the module: the vendor prefix, a tree without the module's root, and what
// stop leaves in the firewall.
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include <fwinterface/backend.h>

#include "module_fixture.h"

namespace {

using ModuleStart = ModuleTest;

class ModuleStartManual : public ModuleTest {
protected:
    ModuleStartManual() { autostart_ = false; }
};

TEST_F(ModuleStart, StopWithdrawsEveryRule) {
    const std::string group = network_object({{{"Type", "IPAddress"}, {"SourceIP", "192.168.1.10"}}});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", group}});
    tick(1000);
    ASSERT_EQ(get(control, "Status"), "Active");
    ASSERT_EQ(fw_chain_size("filter", FW_CHAIN, false), 1u);

    unload();
    EXPECT_EQ(dump(), expected_dump({}));
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
