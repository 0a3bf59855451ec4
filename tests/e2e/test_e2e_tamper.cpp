// Other programs change the kernel's ruleset behind gwrt's back: an administrator's nft, a
// firewall reload, an iptables-nft save and restore. gwrt puts its chains back from the
// module's rules, the client's blocked packets are dropped again, `gwctl firewall --check`
// finds nothing, and no AccessControl turns to "Error".

#include <regex>

#include "e2e_fixture.h"
#include "netns.h"
#include "process.h"

namespace e2e {
namespace {

const std::string blocked_v4 = "-s 10.99.1.2/32 -p tcp -m tcp --dport 8080 -j DROP";
const std::string blocked_v6 = "-s fd99:1::2/128 -p tcp -m tcp --dport 8080 -j DROP";

class E2eTamper : public GatewayTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        if(nfttest::run_command({"sh", "-c", "command -v iptables-nft-restore && command -v ip6tables-nft-restore"}).status != 0) {
            GTEST_SKIP() << "iptables-nft is not installed";
        }
        GatewayTest::SetUp();
    }
    std::string firewall_options() const override { return GetParam() ? "jump = true; sets = true;" : "jump = true;"; }

    // One AccessControl blocking the client's TCP port 8080, in force.
    std::string block_client() {
        const std::string client = network_object({{"Type=IPAddress", "SourceIP=" + client_v4},
                                                   {"Type=IPAddress", "SourceIP=" + client_v6}});
        const std::string port = gw().add(root + "PortForwardingRule.", {"DestPort=8080", "Protocol=6"});
        const std::string control = gw().add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(client),
                                                                       "PortForwardingRuleRef=" + ref(port)});
        EXPECT_TRUE(gwtest::wait_until([&] { return gw().get(control + "Status") == "Active" && clean(); }));
        return control;
    }

    bool clean() { return gw().ctl({"firewall", "--check"}).exit_code == 0; }

    // Runs `script` in the router; "" or what went wrong.
    std::string tamper(const std::string& script) {
        const nfttest::CommandResult done = nfttest::exec_in(net().router(), {"sh", "-c", script});
        return done.status == 0 ? "" : script + ": " + done.output;
    }

    // What `nft` shows of the access-control chain with rule handles.
    std::string listed() {
        return nfttest::exec_in(net().router(), {"nft", "-a", "list chain ip filter FORWARD_AccessControl_QK"}).output;
    }
};

TEST_P(E2eTamper, ChainsComeBackAfterEachTampering) {
    const std::string control = block_client();
    ASSERT_FALSE(net().tcp(server_v4, 8080));
    const std::smatch none;
    std::smatch found;
    const std::string chain = "ip filter FORWARD_AccessControl_QK";
    // Each entry makes the script from what the kernel holds now.
    const std::vector<std::pair<const char*, std::function<std::string()>>> tamperings = {
        {"flushed chain", [&] { return "nft flush chain " + chain; }},
        {"deleted rule",
         [&] {
             const std::string text = listed();
             return std::regex_search(text, found, std::regex("# handle ([0-9]+)\n\t}"))
                        ? "nft delete rule " + chain + " handle " + found[1].str() : std::string("false");
         }},
        {"flushed set or inserted rule",
         [&] {
             const std::string text = listed();
             return std::regex_search(text, found, std::regex("@(acqk_[0-9]+)"))
                        ? "nft flush set ip filter " + found[1].str()
                        : "nft insert rule " + chain + " ip saddr 10.99.1.2 accept";
         }},
        {"replaced rules", [&] { return "iptables-nft-save | iptables-nft-restore"; }},
        {"flushed ruleset", [&] { return std::string("nft flush ruleset"); }},
        {"deleted table", [&] { return std::string("nft delete table ip filter"); }},
    };
    for(const auto& [what, script] : tamperings) {
        SCOPED_TRACE(what);
        ASSERT_EQ(tamper(script()), "");
        EXPECT_TRUE(gwtest::wait_until([&] { return clean(); }, std::chrono::seconds(5)))
            << gw().ctl({"firewall", "--check"}).out;
        EXPECT_FALSE(net().tcp(server_v4, 8080));
        EXPECT_FALSE(net().tcp(server_v6, 8080));
        EXPECT_TRUE(net().tcp(server_v4, 8081));
    }
    EXPECT_EQ(gw().get(control + "Status"), "Active");
    EXPECT_EQ(gw().firewall(), dump_of({{blocked_v4}, {blocked_v6}}));

    // A reload flushes everything just as changes come in: they all land.
    ASSERT_EQ(tamper("nft flush ruleset"), "");
    const std::string port = gw().add(root + "PortForwardingRule.", {"DestPort=8081", "Protocol=6"});
    const std::string later = gw().add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=Device.NetworkSettings.NetworkObject.1",
                                                                 "PortForwardingRuleRef=" + ref(port)});
    EXPECT_TRUE(gwtest::wait_until([&] { return gw().get(later + "Status") == "Active" && clean(); }));
    EXPECT_EQ(gw().get(control + "Status"), "Active");
    EXPECT_FALSE(net().tcp(server_v4, 8081));
    EXPECT_FALSE(net().tcp(server_v4, 8080));
}

// iptables-nft reads the chains back as what the kernel does, in either mode: with sets asked
// for, iptables-nft writing the table (here: the usual jump from its FORWARD chain) turns the
// chains into one kernel rule per rule.
TEST_P(E2eTamper, IptablesSaveAndRestoreKeepTheBlock) {
    block_client();
    ASSERT_EQ(tamper("iptables-nft -A FORWARD -j FORWARD_AccessControl_QK"), "");
    std::string saved;
    EXPECT_TRUE(gwtest::wait_until([&] {
        saved = nfttest::exec_in(net().router(), {"iptables-nft-save"}).output;
        return saved.find("-A FORWARD_AccessControl_QK " + blocked_v4 + "\n") != std::string::npos;
    })) << saved;
    EXPECT_EQ(saved.find("-A FORWARD_AccessControl_QK -p tcp"), std::string::npos) << saved;
    ASSERT_EQ(tamper("iptables-nft-save | iptables-nft-restore && ip6tables-nft-save | ip6tables-nft-restore"), "");
    EXPECT_TRUE(gwtest::wait_until([&] { return clean(); }, std::chrono::seconds(5)));
    EXPECT_FALSE(net().tcp(server_v4, 8080));
    EXPECT_FALSE(net().tcp(server_v6, 8080));
    EXPECT_TRUE(net().tcp(server_v4, 8081));
}

INSTANTIATE_TEST_SUITE_P(Modes, E2eTamper, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& mode) { return mode.param ? "sets" : "per_rule"; });

}  // namespace
}  // namespace e2e
