// gwrt with sources compiled into sets (the default), and open connections cut
// when a rule starts to drop them. The router is set up as home gateways usually are: a
// forward chain of its own lets established flows through, then jumps to the access-control
// chains, and IPv4 leaves towards the server translated to the router's address. Without the
// cut, a transfer that is already running would go on past a new rule. (Without the address
// translation the server's next packet would start the flow's tracking again from its side,
// and the client's packets would pass as its answers.)

#include <thread>
#include <tuple>

#include "e2e_fixture.h"

namespace e2e {
namespace {

enum class Way : std::uint8_t { upload, download };

class E2eCompiled : public GatewayTest, public ::testing::WithParamInterface<Way> {
protected:
    std::string firewall_options() const override { return "sets = true;"; }

    void SetUp() override {
        GatewayTest::SetUp();
        if(IsSkipped() || HasFatalFailure()) {
            return;
        }
        std::string script = "add table ip nat; add chain ip nat postrouting { type nat hook postrouting priority 100; }; "
                             "add rule ip nat postrouting oifname r1 masquerade";
        for(const std::string table : {"ip filter", "ip6 filter"}) {
            const std::string chain = table == "ip filter" ? "FORWARD_AccessControl_QK" : "FORWARD6_AccessControl_QK";
            script += "; add chain " + table + " gateway_forward { type filter hook forward priority 0; policy accept; }; "
                      "add rule " + table + " gateway_forward ct state established,related accept; "
                      "add rule " + table + " gateway_forward jump " + chain;
        }
        // Counts what the router forwards from the client to each server port of the test.
        script += "; add chain ip filter counting { type filter hook postrouting priority 0; }";
        for(const std::string port : {"5001", "5002"}) {
            script += "; add counter ip filter sent" + port + "; add rule ip filter counting ip saddr " + client_v4 +
                      " tcp dport " + port + " counter name sent" + port;
        }
        const nfttest::CommandResult made = nfttest::exec_in(net().router(), {"nft", script});
        ASSERT_EQ(made.status, 0) << made.output;
    }

    // Starts a long TCP transfer to `port` on the server, the test's way, between socat on the
    // client and socat on the server.
    void transfer(const std::string& port) {
        const std::string zero = "OPEN:/dev/zero";
        const std::string null = "OPEN:/dev/null";
        const std::string listen = "TCP4-LISTEN:" + port + ",reuseaddr";
        const std::string connect = "TCP4:" + server_v4 + ":" + port + ",retry=50,interval=0.1";
        const bool down = GetParam() == Way::download;
        for(const auto& [side, from, to] : {std::tuple{net().server(), down ? zero : listen, down ? listen : null},
                                            std::tuple{net().client(), down ? connect : zero, down ? null : connect}}) {
            transfers_.push_back(std::make_unique<gwtest::Child>(
                std::vector<std::string>{"/usr/bin/env", "ip", "netns", "exec", side, "socat", "-u", from, to},
                "/dev/null", "/dev/null"));
        }
    }

    // Bytes the router forwarded from the client to `port` during the next `span`: data or
    // acknowledgements, as long as the transfer runs.
    uint64_t during(const std::string& port, std::chrono::milliseconds span) {
        const auto sent = [&] {
            const std::string listed =
                nfttest::exec_in(net().router(), {"nft", "list counter ip filter sent" + port}).output;
            const std::size_t at = listed.find("bytes ");
            return at == std::string::npos ? 0 : std::stoull(listed.substr(at + 6));
        };
        const uint64_t before = sent();
        std::this_thread::sleep_for(span);
        return sent() - before;
    }

    // Blocks the client's TCP port 5001 (while `schedule` is in force, when given) and waits
    // for the access control to become Active.
    void block_port_5001(const std::string& schedule) {
        const std::string client = network_object({{"Type=IPAddress", "SourceIP=" + client_v4}});
        const std::string port = add(root + "PortForwardingRule.", {"DestPort=5001", "Protocol=6"});
        const std::string control = add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(client),
                                                                   "PortForwardingRuleRef=" + ref(port),
                                                                   "ScheduleRef=" + ref(schedule)});
        ASSERT_NE(control, "");
        ASSERT_TRUE(gwtest::wait_until([&] { return get(control + "Status") == "Active"; }, 10s));
    }

private:
    std::vector<std::unique_ptr<gwtest::Child>> transfers_;
};

// An upload that runs into its access control becoming active, and a download that runs
// into its schedule's window opening on the clock (the access control turns Active by
// itself): each stops within a second, and a transfer to another port goes on.
TEST_P(E2eCompiled, RunningTransferStopsWithinASecondOfItsRuleComingIntoForce) {
    transfer("5001");
    transfer("5002");
    ASSERT_TRUE(gwtest::wait_until([&] { return during("5001", 100ms) > 0 && during("5002", 100ms) > 0; }, 10s))
        << "the transfers do not run even without rules";
    std::string schedule;
    if(GetParam() == Way::download) {
        set_clock("2026-03-30T20:59:56Z");
        schedule = add("Schedules.Schedule.", {"Name=bedtime", "TimeZone=UTC"});
        ASSERT_NE(add(schedule + "Window.", {"Days=Mon", "StartTime=21:00", "EndTime=22:00"}), "");
    }
    block_port_5001(schedule);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(during("5001", 1s), 0U) << "the transfer still runs a second after the rule came into force";
    EXPECT_GT(during("5002", 300ms), 0U) << "a transfer the rule does not cover must go on";

    // The kernel holds one set lookup for it, the module its positional rule.
    EXPECT_NE(firewall().find("-s 10.99.1.2/32 -p tcp -m tcp --dport 5001 -j DROP"), std::string::npos);
    const std::string kernel = ctl({"firewall", "--kernel"}).out;
    EXPECT_NE(kernel.find("ip saddr @acqk_"), std::string::npos) << kernel;
    EXPECT_NE(kernel.find("10.99.1.2"), std::string::npos) << kernel;
}

INSTANTIATE_TEST_SUITE_P(Ways, E2eCompiled, ::testing::Values(Way::upload, Way::download),
                         [](const auto& way) { return way.param == Way::upload ? "upload" : "download"; });

}  // namespace
}  // namespace e2e
