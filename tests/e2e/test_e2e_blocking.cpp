// What the module's rules stop once gwrt has put them into the kernel: real connections from
// the client to the server through the router, IPv4 and IPv6. A probe that must fail costs
// its one-second timeout.

#include "e2e_fixture.h"

namespace e2e {
namespace {

using E2eBlocking = GatewayTest;

const std::string tcp_8080_v4 = "-s 10.99.1.2/32 -p tcp -m tcp --dport 8080 -j DROP";
const std::string tcp_8080_v6 = "-s fd99:1::2/128 -p tcp -m tcp --dport 8080 -j DROP";

TEST_F(E2eBlocking, BlockedTcpPortFailsWhileAnotherWorksUntilDisabled) {
    ASSERT_TRUE(net().tcp(server_v4, 8080)) << "no connection even without rules";
    ASSERT_TRUE(net().tcp(server_v6, 8080)) << "no connection even without rules";
    const std::string client = network_object({{"Type=IPAddress", "SourceIP=" + client_v4},
                                               {"Type=IPAddress", "SourceIP=" + client_v6}});
    const std::string port = gw().add(root + "PortForwardingRule.", {"DestPort=8080", "Protocol=6"});
    const std::string control = gw().add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(client),
                                                                   "PortForwardingRuleRef=" + ref(port)});
    ASSERT_NE(control, "");
    ASSERT_EQ(gw().settle({{tcp_8080_v4}, {tcp_8080_v6}}), "");
    EXPECT_EQ(gw().get(control + "Status"), "Active");

    EXPECT_FALSE(net().tcp(server_v4, 8080));
    EXPECT_FALSE(net().tcp(server_v6, 8080));
    EXPECT_TRUE(net().tcp(server_v4, 8081));
    EXPECT_TRUE(net().tcp(server_v6, 8081));
    EXPECT_TRUE(net().ping(server_v4));

    ASSERT_TRUE(gw().set(control + "Enable=false"));
    ASSERT_EQ(gw().settle({}), "");
    EXPECT_EQ(gw().get(control + "Status"), "Inactive");
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().tcp(server_v6, 8080));

    ASSERT_TRUE(gw().set(control + "Enable=true"));
    ASSERT_EQ(gw().settle({{tcp_8080_v4}, {tcp_8080_v6}}), "");
    EXPECT_FALSE(net().tcp(server_v4, 8080));
}

TEST_F(E2eBlocking, IcmpRuleStopsEchoRequestsOnly) {
    ASSERT_TRUE(net().ping(server_v4)) << "no echo reply even without rules";
    const std::string lan = network_object({{"Type=IPSubnet", "SourceIP=10.99.1.0", "SourceMask=/24"}});
    const std::string echo = gw().add(root + "PortForwardingRule.", {"Protocol=1"});
    ASSERT_TRUE(gw().ctl({"set", echo + "ICMP.", "Type=8", "Code=0"}).exit_code == 0);
    const std::string control = gw().add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(lan),
                                                                   "PortForwardingRuleRef=" + ref(echo)});
    ASSERT_EQ(gw().settle({{"-s 10.99.1.0/24 -p icmp -m icmp --icmp-type 8/0 -j DROP"}, {}}), "");

    EXPECT_FALSE(net().ping(server_v4));
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().ping(server_v6)) << "an IPv4 source stops no IPv6 traffic";

    // Echo replies are type 0: a rule for them leaves the client's requests alone.
    ASSERT_TRUE(gw().ctl({"set", echo + "ICMP.", "Type=0"}).exit_code == 0);
    ASSERT_EQ(gw().settle({{"-s 10.99.1.0/24 -p icmp -m icmp --icmp-type 0/0 -j DROP"}, {}}), "");
    EXPECT_TRUE(net().ping(server_v4));
    EXPECT_EQ(gw().get(control + "Status"), "Active");
}

}  // namespace
}  // namespace e2e
