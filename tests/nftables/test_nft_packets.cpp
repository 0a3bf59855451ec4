// Real packets from a client namespace through a router namespace, whose forward hook jumps
// to the access-control chains, to a server namespace: what the rules installed through the
// C API let through and what they stop. A probe that must fail costs its one-second timeout.

#include <optional>

#include <gtest/gtest.h>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "netns.h"
#include "rule_maker.h"
#include "topology.h"

namespace nfttest {
namespace {

const std::string server_v4 = "10.99.2.2";
const std::string server_v6 = "fd99:2::2";

class NftPackets : public ::testing::Test {
protected:
    void SetUp() override {
        if(!kernel_tests_refused().empty()) {
            GTEST_SKIP() << kernel_tests_refused();
        }
        if(!packet_tools_missing().empty()) {
            GTEST_SKIP() << packet_tools_missing();
        }
        topology_.emplace();
        ASSERT_TRUE(topology_->ok()) << topology_->error();
        inside_.emplace(topology_->router());
        ASSERT_TRUE(inside_->ok());
        ASSERT_EQ(fw_backend_set_option("jump", "1"), 0) << fw_backend_error();
        ASSERT_EQ(fw_backend_select("nftables"), 0) << fw_backend_error();
    }
    void TearDown() override {
        fw_backend_select("memory");
        fw_backend_set_option("jump", "0");
        inside_.reset();
        topology_.reset();
    }

    const Topology& net() const { return *topology_; }

    // Inserts at `position` and commits.
    static void install(Rule rule, uint32_t position) {
        ASSERT_NE(rule, nullptr);
        ASSERT_EQ(fw_add_rule(rule.get(), position), FW_OK) << text_of(rule.get());
        ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    }

    // Removes the rule at `position` and commits.
    static void uninstall(Rule rule, uint32_t position) {
        ASSERT_NE(rule, nullptr);
        ASSERT_EQ(fw_delete_rule(rule.get(), position), FW_OK) << text_of(rule.get());
        ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    }

private:
    std::optional<Topology> topology_;
    std::optional<Inside> inside_;
};

TEST_F(NftPackets, BlockedTcpPortFailsWhileAnotherWorksUntilTheRuleIsDeleted) {
    ASSERT_TRUE(net().tcp(server_v4, 8080)) << "no connection even without rules";
    install(RuleMaker().protocol(6).destination_ports(8080).make(), 1);
    EXPECT_FALSE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().tcp(server_v4, 8081));
    uninstall(RuleMaker().protocol(6).destination_ports(8080).make(), 1);
    EXPECT_TRUE(net().tcp(server_v4, 8080));
}

TEST_F(NftPackets, PortRangeStopsEveryPortInItAndNoOther) {
    install(RuleMaker().protocol(6).destination_ports(9000, 9010).make(), 1);
    EXPECT_FALSE(net().tcp(server_v4, 9010));
    EXPECT_TRUE(net().tcp(server_v4, 9011));
    EXPECT_TRUE(net().tcp(server_v4, 8999));
}

TEST_F(NftPackets, IcmpRuleStopsEchoRequestsOnly) {
    ASSERT_TRUE(net().ping(server_v4));
    install(RuleMaker().protocol(1).icmp(13).make(), 1);  // timestamp requests: not ours
    EXPECT_TRUE(net().ping(server_v4));
    install(RuleMaker().protocol(1).icmp(8, 0).make(), 2);
    EXPECT_FALSE(net().ping(server_v4));
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    uninstall(RuleMaker().protocol(1).icmp(8, 0).make(), 2);
    EXPECT_TRUE(net().ping(server_v4));
}

TEST_F(NftPackets, SourceSubnetIsStoppedAndOtherSubnetsAreNot) {
    install(RuleMaker().source("10.99.3.0", "255.255.255.0").make(), 1);
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    install(RuleMaker().source("10.99.1.77", "24").make(), 2);  // host bits cleared: 10.99.1.0/24
    EXPECT_FALSE(net().tcp(server_v4, 8080));
    uninstall(RuleMaker().source("10.99.1.0", "24").make(), 2);
    EXPECT_TRUE(net().tcp(server_v4, 8080));
}

TEST_F(NftPackets, Ipv6IsFilteredByTheIpv6ChainAlone) {
    ASSERT_TRUE(net().tcp(server_v6, 8080));
    install(RuleMaker(true).protocol(6).destination_ports(8080).make(), 1);
    EXPECT_FALSE(net().tcp(server_v6, 8080));
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().ping(server_v6));

    install(RuleMaker(true).source("fd99:1::", "64").protocol(58).make(), 1);
    EXPECT_FALSE(net().ping(server_v6));
    EXPECT_TRUE(net().ping(server_v4));
}

TEST_F(NftPackets, SourceMacIsStopped) {
    install(RuleMaker().mac("02:99:01:00:00:03").make(), 1);
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    install(RuleMaker().mac("02:99:01:00:00:02").make(), 1);
    EXPECT_FALSE(net().tcp(server_v4, 8080));
}

// The first rule that matches decides: an accept rule inserted in front of a drop rule lets
// its port through.
TEST_F(NftPackets, RuleInFrontDecides) {
    install(RuleMaker().source("10.99.1.0", "24").make(), 1);
    install(RuleMaker().protocol(6).destination_ports(8080).target(FW_RULE_POLICY_ACCEPT).make(), 1);
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    EXPECT_FALSE(net().tcp(server_v4, 8081));
}

}  // namespace
}  // namespace nfttest
