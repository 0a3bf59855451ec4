// A gwrt killed with SIGKILL cannot take its rules out: they stay in the kernel and keep
// dropping packets until the next gwrt takes the chains over and empties them. Nothing of
// the module's configuration survives a restart here (the gateway's configuration keeps no
// state), so the next run starts with no rules.

#include "e2e_fixture.h"
#include "kernel_view.h"

namespace e2e {
namespace {

using E2eRestart = GatewayTest;

TEST_F(E2eRestart, NextRunRemovesTheRulesAKilledRunLeft) {
    const std::string lan = network_object({{"Type=IPSubnet", "SourceIP=10.99.1.0", "SourceMask=/24"},
                                            {"Type=IPAddress", "SourceIP=" + client_v6}});
    ASSERT_NE(gw().add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(lan)}), "");
    const Chains blocking{{"-s 10.99.1.0/24 -j DROP"}, {"-s fd99:1::2/128 -j DROP"}};
    ASSERT_EQ(gw().settle(blocking), "");
    ASSERT_FALSE(net().tcp(server_v4, 8080));

    gw().kill_hard();
    EXPECT_EQ(gw().kernel(), dump_of(blocking)) << "stale rules stay in the kernel";
    EXPECT_FALSE(net().tcp(server_v4, 8080));
    EXPECT_FALSE(net().ping(server_v6));

    ASSERT_EQ(gw().start(), "");
    EXPECT_EQ(gw().kernel(), dump_of({}));
    EXPECT_EQ(nfttest::hook_jumps(net().router(), false), 1U);
    EXPECT_EQ(nfttest::hook_jumps(net().router(), true), 1U);
    EXPECT_EQ(gw().firewall(), dump_of({}));
    EXPECT_EQ(gw().ctl({"get", root + "AccessControl."}).out, "");
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().ping(server_v6));

    // The new run's positions start at 1 again: its rules land where it counts them.
    const std::string client = network_object({{"Type=IPAddress", "SourceIP=" + client_v4}});
    ASSERT_NE(gw().add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(client)}), "");
    ASSERT_EQ(gw().settle({{"-s 10.99.1.2/32 -j DROP"}, {}}), "");
    EXPECT_FALSE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().ping(server_v6));
}

}  // namespace
}  // namespace e2e
