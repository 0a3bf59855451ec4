// Other programs change the kernel's ruleset behind gwrt's back: an administrator's nft, a
// firewall reload, an iptables-nft save and restore. gwrt puts its chains back from the
// module's rules, the client's blocked packets are dropped again, `gwctl firewall --check`
// finds nothing, and no AccessControl turns to "Error". Then gwrt is killed and started again.

#include <regex>

#include "e2e_fixture.h"

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
    std::string firewall_options() const override {
        return GetParam() ? "jump = true; sets = true;" : "jump = true; sets = false;";
    }

    // One AccessControl blocking the client's TCP port 8080, in force.
    std::string block_client() {
        const std::string client = network_object({{"Type=IPAddress", "SourceIP=" + client_v4},
                                                   {"Type=IPAddress", "SourceIP=" + client_v6}});
        const std::string port = add(root + "PortForwardingRule.", {"DestPort=8080", "Protocol=6"});
        const std::string control = add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(client),
                                                                       "PortForwardingRuleRef=" + ref(port)});
        EXPECT_TRUE(gwtest::wait_until([&] { return get(control + "Status") == "Active" && clean(); }));
        return control;
    }

    bool clean() { return ctl({"firewall", "--check"}).exit_code == 0; }

    // Runs `script` in the router; "" or what went wrong.
    std::string tamper(const std::string& script) {
        const nfttest::CommandResult done = nfttest::exec_in(net().router(), {"sh", "-c", script});
        return done.status == 0 ? "" : script + ": " + done.output;
    }

    // The table of the kernel rules that hold the sources: the compiled table, or filter.
    std::string table() const { return GetParam() ? "ip AccessControl_QK" : "ip filter"; }

    // What `nft` shows of the chain of those rules with rule handles.
    std::string listed() {
        return nfttest::exec_in(net().router(), {"nft", "-a", "list chain " + table() + " FORWARD_AccessControl_QK"}).output;
    }
};

TEST_P(E2eTamper, ChainsComeBackAfterEachTampering) {
    const std::string control = block_client();
    ASSERT_FALSE(net().tcp(server_v4, 8080));
    // iptables-nft reads the chains back as what the kernel does, in either mode: the rules one
    // by one, or the compiled chain's verdict read from the packet mark.
    ASSERT_EQ(tamper("iptables-nft -A FORWARD -j FORWARD_AccessControl_QK"), "");
    const std::string saved = nfttest::exec_in(net().router(), {"iptables-nft-save"}).output;
    std::string ours;
    for(const std::string& line : gwtest::lines(saved)) {
        ours += line.starts_with("-A FORWARD_AccessControl_QK ") ? line + '\n' : "";
    }
    // A chain that only drops dispatches only that verdict.
    EXPECT_EQ(ours, GetParam() ? "-A FORWARD_AccessControl_QK -m mark --mark 0x10000000/0x30000000 -j DROP\n"
                               : "-A FORWARD_AccessControl_QK " + blocked_v4 + "\n")
        << saved;
    std::smatch found;
    const std::string chain = table() + " FORWARD_AccessControl_QK";
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
                        ? "nft flush set " + table() + ' ' + found[1].str()
                        : "nft insert rule " + chain + " ip saddr 10.99.1.2 accept";
         }},
        {"replaced rules",
         [&] { return "iptables-nft-save | iptables-nft-restore && ip6tables-nft-save | ip6tables-nft-restore"; }},
        {"packets marked before", [&] { return std::string("nft 'add table ip premark; add chain ip premark pre { type "
                                                           "filter hook prerouting priority -300; }; add rule ip premark "
                                                           "pre meta mark set 0x10000000'"); }},
        {"flushed ruleset", [&] { return std::string("nft flush ruleset"); }},
        {"deleted table", [&] { return std::string("nft delete table ip filter"); }},
        {"flushed positional chain", [&] { return std::string("nft flush chain ip6 filter FORWARD6_AccessControl_QK"); }},
        {"deleted compiled table", [&] { return "nft delete table ip6 " + std::string(GetParam() ? "AccessControl_QK" : "filter"); }},
    };
    for(const auto& [what, script] : tamperings) {
        SCOPED_TRACE(what);
        ASSERT_EQ(tamper(script()), "");
        EXPECT_TRUE(gwtest::wait_until([&] { return clean(); }, std::chrono::seconds(5)))
            << ctl({"firewall", "--check"}).out;
        EXPECT_FALSE(net().tcp(server_v4, 8080));
        EXPECT_FALSE(net().tcp(server_v6, 8080));
        EXPECT_TRUE(net().tcp(server_v4, 8081));
    }
    EXPECT_EQ(get(control + "Status"), "Active");
    EXPECT_EQ(firewall(), dump_of(blocked_v4, blocked_v6));

    // A reload flushes everything just as changes come in: they all land.
    ASSERT_EQ(tamper("nft flush ruleset"), "");
    const std::string port = add(root + "PortForwardingRule.", {"DestPort=8081", "Protocol=6"});
    const std::string later = add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=Device.NetworkSettings.NetworkObject.1",
                                                                 "PortForwardingRuleRef=" + ref(port)});
    EXPECT_TRUE(gwtest::wait_until([&] { return get(later + "Status") == "Active" && clean(); }));
    EXPECT_EQ(get(control + "Status"), "Active");
    EXPECT_FALSE(net().tcp(server_v4, 8081));
    EXPECT_FALSE(net().tcp(server_v4, 8080));

    // A gwrt killed with SIGKILL cannot take its rules out: they keep dropping packets until
    // the next run takes the chains over and empties them. The gateway's configuration keeps
    // no state, so the next run starts with no rules, and counts its positions from 1 again.
    kill_hard();
    EXPECT_FALSE(net().tcp(server_v4, 8081));
    EXPECT_FALSE(net().tcp(server_v6, 8080));
    ASSERT_EQ(start(), "");
    EXPECT_EQ(firewall(), dump_of());
    EXPECT_EQ(nfttest::hook_jumps(net().router(), false), 1U);
    EXPECT_EQ(nfttest::hook_jumps(net().router(), true), 1U);
    EXPECT_EQ(ctl({"get", root + "AccessControl."}).out, "");
    EXPECT_TRUE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().tcp(server_v6, 8080));
    block_client();
    EXPECT_EQ(firewall(), dump_of(blocked_v4, blocked_v6));
    EXPECT_FALSE(net().tcp(server_v4, 8080));
    EXPECT_TRUE(net().tcp(server_v4, 8081));
}

INSTANTIATE_TEST_SUITE_P(Modes, E2eTamper, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& mode) { return mode.param ? "sets" : "per_rule"; });

}  // namespace
}  // namespace e2e
