// Start and stop of the module: the context it keeps, the vendor prefix, and what stop leaves.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <fwinterface/backend.h>

#include "module_fixture.h"

namespace {

const char* const STARTED = "*        networksettings service started      *";
const char* const STOPPED = "*        networksettings service stopped      *";
const char* const BANNER = "***********************************************";

using ModuleStart = ModuleTest;

class ModuleStartManual : public ModuleTest {
protected:
    ModuleStartManual() { autostart_ = false; }
};

// Start keeps the runtime's objects and banners its start; other reasons do nothing; stop
// forgets the context.
TEST_F(ModuleStart, StartKeepsTheContextUntilStop) {
    EXPECT_EQ(api_.get_dm(), dm_);
    EXPECT_EQ(api_.get_parser(), parser_);
    EXPECT_EQ(api_.get_ctx(), ctx_);
    EXPECT_EQ(api_.get_root(), amxd_dm_findf(dm_, "Device.NetworkSettings."));
    EXPECT_STREQ(api_.get_vendor_prefix(), "");
    EXPECT_EQ(count(STARTED), 1);
    EXPECT_EQ(count(BANNER), 2);
    const std::vector<TraceLine> traced = lines();
    EXPECT_TRUE(std::any_of(traced.begin(), traced.end(), [](const TraceLine& line) {
        return line.message == STARTED && line.zone == "network" && line.mark == 'i' &&
               line.function == "networksettings_start";
    }));

    clear_traces();
    EXPECT_EQ(api_.main(2, nullptr, nullptr), 0);
    EXPECT_TRUE(captured_.empty());
    EXPECT_EQ(api_.get_dm(), dm_);

    EXPECT_EQ(api_.main(1, dm_, parser_), 0);
    EXPECT_EQ(api_.get_dm(), nullptr);
    EXPECT_EQ(api_.get_ctx(), nullptr);
    EXPECT_EQ(api_.get_root(), nullptr);
    EXPECT_STREQ(api_.get_vendor_prefix(), "");
    EXPECT_EQ(count(STOPPED), 1);
}

TEST_F(ModuleStart, StopWithdrawsEveryRule) {
    const std::string group = network_object({{{"Type", "IPAddress"}, {"SourceIP", "192.168.1.10"}}});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", group}});
    tick(1000);
    ASSERT_EQ(get(control, "Status"), "Active");
    ASSERT_EQ(fw_chain_size("filter", FW_CHAIN, false), 1u);

    unload();
    EXPECT_EQ(dump(), expected_dump({}));
}

TEST_F(ModuleStartManual, APrefixIsInsertedInTheRoot) {
    start("X_");
    EXPECT_STREQ(api_.get_vendor_prefix(), "X_");
    ASSERT_NE(api_.get_root(), nullptr);
    EXPECT_EQ(api_.get_root(), amxd_dm_findf(dm_, "Device.X_NetworkSettings."));
    EXPECT_EQ(amxd_dm_findf(dm_, "Device.NetworkSettings."), nullptr);
    EXPECT_EQ(api_.get_ctx(), ctx_);

    // The whole road works under the prefixed root.
    const std::string group = network_object({{{"Type", "IPAddress"}, {"SourceIP", "192.168.1.10"}}});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", group}});
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -j DROP"}));
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

    EXPECT_EQ(api_.get_dm(), dm_);
    EXPECT_EQ(api_.get_root(), nullptr);
    EXPECT_EQ(api_.get_ctx(), ctx_) << "the context serving Device. is found all the same";
    EXPECT_EQ(count(STARTED), 1);
}

}  // namespace
