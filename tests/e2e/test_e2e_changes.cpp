// The rules follow what they depend on outside the module: a schedule of the schedules
// service and the addresses of a host of the hosts service, all written with gwctl.

#include "e2e_fixture.h"

namespace e2e {
namespace {

using E2eChanges = GatewayTest;

TEST_F(E2eChanges, ScheduleGoingInactiveUnblocksAndGoingActiveBlocksAgain) {
    const std::string schedule = gw().add("Schedules.Schedule.", {"Name=homework", "Status=Active"});
    const std::string client = network_object({{"Type=IPAddress", "SourceIP=" + client_v4}});
    const std::string control = gw().add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(client),
                                                                   "ScheduleRef=" + ref(schedule)});
    ASSERT_NE(control, "");
    ASSERT_EQ(gw().settle({{"-s 10.99.1.2/32 -j DROP"}, {}}), "");
    EXPECT_FALSE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().tcp(server_v6, 8080));

    ASSERT_TRUE(gw().set(schedule + "Status=Inactive"));
    ASSERT_EQ(gw().settle({}), "");
    EXPECT_EQ(gw().get(control + "Status"), "Enabled_ScheduleInactive");
    EXPECT_TRUE(net().tcp(server_v4, 8080));

    ASSERT_TRUE(gw().set(schedule + "Status=Active"));
    ASSERT_EQ(gw().settle({{"-s 10.99.1.2/32 -j DROP"}, {}}), "");
    EXPECT_EQ(gw().get(control + "Status"), "Active");
    EXPECT_FALSE(net().tcp(server_v4, 8080));

    // Inverse mode: the rules hold while the schedule is not in force.
    ASSERT_TRUE(gw().set(schedule + "InverseMode=true"));
    ASSERT_EQ(gw().settle({}), "");
    EXPECT_TRUE(net().tcp(server_v4, 8080));
}

TEST_F(E2eChanges, RulesFollowAHostWhoseAddressesChange) {
    const std::string host = gw().add("Hosts.Host.", {"Name=laptop"});
    const std::string v4 = gw().add(host + "IPv4Address.", {"IPAddress=10.99.1.3"});
    const std::string v6 = gw().add(host + "IPv6Address.", {"IPAddress=fd99:1::3"});
    const std::string port = gw().add(root + "PortForwardingRule.", {"DestPort=8080", "Protocol=6"});
    const std::string control = gw().add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(host),
                                                                   "PortForwardingRuleRef=" + ref(port)});
    ASSERT_NE(control, "");
    ASSERT_EQ(gw().settle({{"-s 10.99.1.3/32 -p tcp -m tcp --dport 8080 -j DROP"},
                           {"-s fd99:1::3/128 -p tcp -m tcp --dport 8080 -j DROP"}}),
              "");
    EXPECT_TRUE(net().tcp(server_v4, 8080)) << "the host is not the client yet";
    EXPECT_TRUE(net().tcp(server_v6, 8080));

    // The host moves to the client's IPv4 address.
    ASSERT_TRUE(gw().set(v4 + "IPAddress=" + client_v4));
    ASSERT_EQ(gw().settle({{"-s 10.99.1.2/32 -p tcp -m tcp --dport 8080 -j DROP"},
                           {"-s fd99:1::3/128 -p tcp -m tcp --dport 8080 -j DROP"}}),
              "");
    EXPECT_FALSE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().tcp(server_v6, 8080));

    // And to its IPv6 address, given as a new address entry replacing the old one.
    ASSERT_NE(gw().add(host + "IPv6Address.", {"IPAddress=" + client_v6}), "");
    ASSERT_EQ(gw().ctl({"del", v6}).exit_code, 0);
    ASSERT_EQ(gw().settle({{"-s 10.99.1.2/32 -p tcp -m tcp --dport 8080 -j DROP"},
                           {"-s fd99:1::2/128 -p tcp -m tcp --dport 8080 -j DROP"}}),
              "");
    EXPECT_FALSE(net().tcp(server_v6, 8080));

    // It leaves the client's IPv4 address: the client gets through again there.
    ASSERT_EQ(gw().ctl({"del", v4}).exit_code, 0);
    ASSERT_EQ(gw().settle({{}, {"-s fd99:1::2/128 -p tcp -m tcp --dport 8080 -j DROP"}}), "");
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    EXPECT_FALSE(net().tcp(server_v6, 8080));
    EXPECT_EQ(gw().get(control + "Status"), "Active");
}

}  // namespace
}  // namespace e2e
