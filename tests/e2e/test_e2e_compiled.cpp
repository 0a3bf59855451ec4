// gwrt with sources compiled into sets (the default), and open connections cut
// when a rule starts to drop them. The router is set up as home gateways usually are: a
// forward chain of its own lets established flows through, then jumps to the access-control
// chains, and IPv4 leaves towards the server translated to the router's address. Without the
// cut, a transfer that is already running would go on past a new rule. (Without the address
// translation the server's next packet would start the flow's tracking again from its side,
// and the client's packets would pass as its answers.)

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <thread>

#include "e2e_fixture.h"
#include "netns.h"
#include "process.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// A long TCP transfer between a client socket of this process and socat on the server,
// either way; counts the bytes the client moves as they go.
class Transfer {
public:
    enum class Way : std::uint8_t { upload, download };

    Transfer(const nfttest::Topology& net, const std::string& server, int port, Way way)
        : peer_({"/usr/bin/env", "ip", "netns", "exec", net.server(), "socat", "-u",
                 way == Way::download ? "OPEN:/dev/zero" : "TCP4-LISTEN:" + std::to_string(port) + ",reuseaddr",
                 way == Way::download ? "TCP4-LISTEN:" + std::to_string(port) + ",reuseaddr" : "OPEN:/dev/null"},
                "/dev/null", "/dev/null") {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, server.c_str(), &to.sin_addr);
        for(int attempt = 0; attempt < 50 && socket_ < 0; ++attempt) {
            nfttest::Inside inside(net.client());  // the socket stays in the client's namespace
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if(connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == 0) {
                socket_ = fd;
            } else {
                close(fd);
                std::this_thread::sleep_for(100ms);  // until socat listens
            }
        }
        if(socket_ < 0) {
            return;
        }
        const timeval timeout{0, 100000};
        setsockopt(socket_, SOL_SOCKET, way == Way::download ? SO_RCVTIMEO : SO_SNDTIMEO, &timeout, sizeof(timeout));
        mover_ = std::thread([this, way] {
            std::vector<char> buffer(1 << 16);
            while(!stop_) {
                const ssize_t moved = way == Way::download ? recv(socket_, buffer.data(), buffer.size(), 0)
                                                           : send(socket_, buffer.data(), buffer.size(), MSG_NOSIGNAL);
                if(moved > 0) {
                    moved_ += static_cast<uint64_t>(moved);
                }
            }
        });
    }
    ~Transfer() {
        stop_ = true;
        if(mover_.joinable()) {
            mover_.join();
        }
        if(socket_ >= 0) {
            close(socket_);
        }
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    bool connected() const { return socket_ >= 0; }
    // Bytes moved during the next `span`.
    uint64_t during(std::chrono::milliseconds span) const {
        const uint64_t before = moved_;
        std::this_thread::sleep_for(span);
        return moved_ - before;
    }

private:
    gwtest::Child peer_;
    int socket_ = -1;
    std::atomic<uint64_t> moved_{0};
    std::atomic<bool> stop_{false};
    std::thread mover_;
};

class E2eCompiled : public GatewayTest, public ::testing::WithParamInterface<Transfer::Way> {
protected:
    std::string firewall_options() const override { return "sets = true;"; }

    void SetUp() override {
        GatewayTest::SetUp();
        if(IsSkipped() || HasFatalFailure()) {
            return;
        }
        for(const auto& [family, chain] : {std::pair{"ip", "FORWARD_AccessControl_QK"},
                                           std::pair{"ip6", "FORWARD6_AccessControl_QK"}}) {
            const std::string table = std::string(family) + " filter";
            const nfttest::CommandResult made = nfttest::exec_in(
                net().router(), {"nft", "add chain " + table +
                                            " gateway_forward { type filter hook forward priority 0; policy accept; }; "
                                            "add rule " + table + " gateway_forward ct state established,related accept; "
                                            "add rule " + table + " gateway_forward jump " + chain});
            ASSERT_EQ(made.status, 0) << made.output;
        }
        const nfttest::CommandResult nat = nfttest::exec_in(
            net().router(), {"nft", "add table ip nat; "
                                    "add chain ip nat postrouting { type nat hook postrouting priority 100; }; "
                                    "add rule ip nat postrouting oifname r1 masquerade"});
        ASSERT_EQ(nat.status, 0) << nat.output;
    }
};

// Blocks the client's TCP port 5001 (while `schedule` is in force, when given) and waits for
// the access control to become Active.
void block_port_5001(E2eCompiled& test, Gateway& gw, const std::string& schedule = "") {
    const std::string client = test.network_object({{"Type=IPAddress", "SourceIP=" + client_v4}});
    const std::string port = gw.add(root + "PortForwardingRule.", {"DestPort=5001", "Protocol=6"});
    const std::string control = gw.add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(client),
                                                                  "PortForwardingRuleRef=" + ref(port),
                                                                  "ScheduleRef=" + (schedule.empty() ? "" : ref(schedule))});
    ASSERT_NE(control, "");
    ASSERT_TRUE(gwtest::wait_until([&] { return gw.get(control + "Status") == "Active"; }, 10s));
}

// An upload that runs into its access control becoming active, and a download that runs
// into its schedule's window opening on the clock (the access control turns Active by
// itself): each stops within a second, and a transfer to another port goes on.
TEST_P(E2eCompiled, RunningTransferStopsWithinASecondOfItsRuleComingIntoForce) {
    const bool scheduled = GetParam() == Transfer::Way::download;
    Transfer blocked(net(), server_v4, 5001, GetParam());
    Transfer other_port(net(), server_v4, 5002, GetParam());
    ASSERT_TRUE(blocked.connected() && other_port.connected());
    std::string schedule;
    if(scheduled) {
        gw().set_clock("2026-03-30T20:59:56Z");
        schedule = gw().add("Schedules.Schedule.", {"Name=bedtime", "TimeZone=UTC"});
        ASSERT_NE(gw().add(schedule + "Window.", {"Days=Mon", "StartTime=21:00", "EndTime=22:00"}), "");
    }
    ASSERT_GT(blocked.during(300ms), 0U) << "the transfer does not run even without rules";

    block_port_5001(*this, gw(), schedule);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(blocked.during(1s), 0U) << "the transfer still runs a second after the rule came into force";
    EXPECT_GT(other_port.during(300ms), 0U) << "a transfer the rule does not cover must go on";

    // The kernel holds one set lookup for it, the module its positional rule.
    EXPECT_NE(gw().firewall().find("-s 10.99.1.2/32 -p tcp -m tcp --dport 5001 -j DROP"), std::string::npos);
    const std::string kernel = gw().ctl({"firewall", "--kernel"}).out;
    EXPECT_NE(kernel.find("ip saddr @acqk_"), std::string::npos) << kernel;
    EXPECT_NE(kernel.find("10.99.1.2"), std::string::npos) << kernel;
}

INSTANTIATE_TEST_SUITE_P(Ways, E2eCompiled, ::testing::Values(Transfer::Way::upload, Transfer::Way::download),
                         [](const auto& way) { return way.param == Transfer::Way::upload ? "upload" : "download"; });

}  // namespace
}  // namespace e2e
