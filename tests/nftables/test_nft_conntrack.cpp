// Removing the conntrack entries that new DROP rules cover: which flows a rule covers, and,
// in the router of the client/router/server topology, which entries go and which stay, and
// that a cut connection then meets the DROP rule behind "ct state established accept".

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "conntrack_cutter.h"
#include "netns.h"
#include "rule_maker.h"
#include "rule_reader.h"
#include "topology.h"

namespace nfttest {
namespace {

using fwinterface::FlowTuple;
using fwinterface::RuleSpec;

constexpr std::uint8_t tcp = 6;
constexpr std::uint8_t udp = 17;

// A rule of a chain of the given family, read from its text as fwrules writes it.
RuleSpec rule(std::string_view text, bool ipv6 = false) {
    RuleSpec spec;
    std::string error;
    EXPECT_TRUE(fwinterface::parse_rule_text(text, ipv6, spec, error)) << text << ": " << error;
    return spec;
}

std::array<std::uint8_t, 16> address(const std::string& text) {
    std::array<std::uint8_t, 16> bytes{};
    const bool ipv6 = text.find(':') != std::string::npos;
    EXPECT_EQ(inet_pton(ipv6 ? AF_INET6 : AF_INET, text.c_str(), bytes.data()), 1) << text;
    return bytes;
}

FlowTuple flow(const std::string& source, const std::string& destination, std::uint8_t protocol,
               std::uint16_t source_port = 0, std::uint16_t destination_port = 0) {
    FlowTuple tuple;
    tuple.source = address(source);
    tuple.destination = address(destination);
    tuple.protocol = protocol;
    if(source_port != 0) {
        tuple.source_port = source_port;
        tuple.destination_port = destination_port;
    }
    return tuple;
}

FlowTuple icmp_flow(const std::string& source, const std::string& destination, int type, int code,
                    std::uint8_t protocol = 1) {
    FlowTuple tuple = flow(source, destination, protocol);
    tuple.icmp_type = type;
    tuple.icmp_code = code;
    return tuple;
}

// Prefixes cover their subnet only (one ends inside a byte); protocols, port ranges, ICMP type
// and code must all match when given; only DROP and REJECT rules without a MAC match cut.
TEST(ConntrackMatch, ARuleCoversTheFlowsItWouldStop) {
    const FlowTuple client = flow("10.99.1.2", "10.99.2.2", tcp, 40000, 80);
    const FlowTuple echo = icmp_flow("10.99.1.2", "10.99.2.2", 8, 0);
    const struct {
        const char* rule;
        FlowTuple flow;
        bool covered;
        bool ipv6 = false;
    } cases[] = {
        {"-s 10.99.1.0/24 -j DROP", client, true},
        {"-s 10.99.1.0/24 -j DROP", flow("10.99.1.255", "8.8.8.8", udp, 53, 53), true},
        {"-s 10.99.1.0/24 -j DROP", flow("10.99.2.2", "10.99.1.2", tcp, 80, 40000), false},
        {"-s 10.99.1.0/24 -j DROP", flow("10.99.0.255", "10.99.2.2", tcp, 40000, 80), false},
        {"-s 10.99.1.128/25 -j DROP", flow("10.99.1.200", "10.99.2.2", tcp, 1, 2), true},
        {"-s 10.99.1.128/25 -j DROP", flow("10.99.1.127", "10.99.2.2", tcp, 1, 2), false},
        {"-d 10.99.2.2/32 -j DROP", flow("10.99.1.2", "10.99.2.2", udp, 1, 2), true},
        {"-d 10.99.2.2/32 -j DROP", flow("10.99.1.2", "10.99.2.3", udp, 1, 2), false},
        {"-s fd99::/29 -j DROP", flow("fd99:7::1", "fd99:2::2", tcp, 1, 2), true, true},
        {"-s fd99::/29 -j DROP", flow("fd99:8::1", "fd99:2::2", tcp, 1, 2), false, true},
        {"-s fd99::/29 -j DROP", flow("fd98:1::2", "fd99:2::2", tcp, 1, 2), false, true},
        {"-p tcp -m tcp --dport 5000:5010 -j DROP", flow("10.99.1.2", "10.99.2.2", tcp, 40000, 5000), true},
        {"-p tcp -m tcp --dport 5000:5010 -j DROP", flow("10.99.1.2", "10.99.2.2", tcp, 40000, 5010), true},
        {"-p tcp -m tcp --dport 5000:5010 -j DROP", flow("10.99.1.2", "10.99.2.2", tcp, 40000, 4999), false},
        {"-p tcp -m tcp --dport 5000:5010 -j DROP", flow("10.99.1.2", "10.99.2.2", tcp, 40000, 5011), false},
        {"-p tcp -m tcp --dport 5000:5010 -j DROP", flow("10.99.1.2", "10.99.2.2", udp, 40000, 5005), false},
        {"-p tcp -m tcp --dport 5000:5010 -j DROP", flow("10.99.1.2", "10.99.2.2", tcp, 5005, 40000), false},
        {"-s 10.99.1.2/32 -p udp -m udp --sport 53 --dport 1000:2000 -j DROP", flow("10.99.1.2", "10.99.2.2", udp, 53, 1500), true},
        {"-s 10.99.1.2/32 -p udp -m udp --sport 53 --dport 1000:2000 -j DROP", flow("10.99.1.2", "10.99.2.2", udp, 54, 1500), false},
        {"-s 10.99.1.2/32 -j DROP", echo, true},
        {"-p icmp -m icmp --icmp-type 8 -j DROP", echo, true},
        {"-p icmp -m icmp --icmp-type 8 -j DROP", icmp_flow("10.99.1.2", "10.99.2.2", 13, 0), false},
        {"-p icmp -m icmp --icmp-type 8 -j DROP", flow("10.99.1.2", "10.99.2.2", tcp, 8, 8), false},
        {"-p icmp -m icmp --icmp-type 8/1 -j DROP", echo, false},
        {"-p ipv6-icmp -j DROP", icmp_flow("fd99:1::2", "fd99:2::2", 128, 0, 58), true, true},
        {"-s 10.99.1.2/32 -j REJECT", client, true},
        {"-s 10.99.1.2/32 -j ACCEPT", client, false},
        {"-s 10.99.1.2/32 -j MASQUERADE", client, false},
        {"-s 10.99.1.2/32 -m mac --mac-source 02:99:01:00:00:02 -j DROP", client, false},
    };
    for(const auto& c : cases) {
        EXPECT_EQ(fwinterface::rule_covers(rule(c.rule, c.ipv6), c.flow), c.covered) << c.rule;
    }
    // Ports without a protocol never cover a flow without ports.
    RuleSpec ports_any_protocol;
    ports_any_protocol.destination_port = {5000, 5000};
    EXPECT_FALSE(fwinterface::rule_covers(ports_any_protocol, echo));
    EXPECT_TRUE(fwinterface::rule_covers(ports_any_protocol, flow("10.99.1.2", "10.99.2.2", udp, 1, 5000)));
}

TEST(ConntrackCut, RulesNoChainCanHoldAreRefusedBeforeAnythingIsCut) {
    auto refused = [](const RuleSpec& bad, bool ipv6) {
        std::size_t removed = 99;
        std::string error;
        const std::vector<RuleSpec> rules{rule("-j DROP", ipv6), bad};
        const bool cut = fwinterface::cut_connections(rules, ipv6, removed, error);
        EXPECT_EQ(removed, 0U);
        return cut ? std::string("cut") : error;
    };
    RuleSpec wide = rule("-s 10.99.1.0/24 -j DROP");
    wide.source->prefix = 33;
    EXPECT_EQ(refused(wide, false), "a rule with an address prefix of 33 bits");
    wide.source->prefix = 129;
    EXPECT_EQ(refused(wide, true), "a rule with an address prefix of 129 bits");
    RuleSpec backwards = rule("-p udp -m udp --dport 5000 -j DROP");
    backwards.destination_port.last = 4000;
    EXPECT_EQ(refused(backwards, false), "a rule with a port range from 5000 down to 4000");
    RuleSpec icmp = rule("-p icmp -m icmp --icmp-type 8 -j DROP");
    icmp.icmp_code = 256;
    EXPECT_EQ(refused(icmp, false), "a rule with an ICMP type or code above 255");
}

// --- In the kernel ---------------------------------------------------------------------------

const std::string client_v4 = "10.99.1.2";
const std::string server_v4 = "10.99.2.2";
const std::string client_v6 = "fd99:1::2";
const std::string server_v6 = "fd99:2::2";

struct Endpoint {
    sockaddr_storage storage{};
    socklen_t length = 0;
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

Endpoint endpoint(const std::string& text, std::uint16_t port) {
    Endpoint result;
    if(text.find(':') != std::string::npos) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&result.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        inet_pton(AF_INET6, text.c_str(), &in6->sin6_addr);
        result.length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&result.storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        inet_pton(AF_INET, text.c_str(), &in4->sin_addr);
        result.length = sizeof(sockaddr_in);
    }
    return result;
}

std::uint16_t local_port(int fd) {
    sockaddr_storage local{};
    socklen_t length = sizeof(local);
    if(getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
}

// A socket of the named namespace, with every wait on it bounded by `timeout_ms`; -1 when
// it cannot be made.
int socket_in(const std::string& namespace_name, int family, int type, int timeout_ms) {
    Inside inside(namespace_name);
    if(!inside.ok()) {
        return -1;
    }
    const int made = socket(family, type | SOCK_CLOEXEC, 0);
    const timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    setsockopt(made, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    setsockopt(made, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    return made;
}

// Whether a byte sent on `from` arrives on `to` before the receive timeout of `to`.
bool carries(const Fd& from, const Fd& to) {
    const char sent = 'x';
    char received = 0;
    return send(from.fd, &sent, 1, MSG_NOSIGNAL) == 1 && recv(to.fd, &received, 1, 0) == 1 && received == sent;
}

// Both ends of a flow from the client to the server, through the router.
struct Flow {
    Flow(std::uint8_t protocol_number, std::uint16_t port) : protocol(protocol_number), destination_port(port) {}
    Fd client;
    Fd server;
    std::uint8_t protocol;
    std::uint16_t source_port = 0;
    std::uint16_t destination_port;
};

class NftConntrack : public ::testing::Test {
protected:
    void SetUp() override {
        if(!kernel_tests_refused().empty()) {
            GTEST_SKIP() << kernel_tests_refused();
        }
        topology_.emplace();
        ASSERT_TRUE(topology_->ok()) << topology_->error();
        // Conntrack keeps entries only for a namespace where some rule uses it.
        nft("add table inet ctcut; "
            "add chain inet ctcut forward { type filter hook forward priority 0; policy accept; }; "
            "add rule inet ctcut forward ct state established,related accept");
        if(HasFatalFailure()) {
            return;
        }
        std::vector<FlowTuple> flows;
        std::string error;
        if(dump_router(false, flows, error) == fwinterface::ConntrackSocket::Outcome::no_conntrack) {
            GTEST_SKIP() << "no conntrack in this kernel: " << error;
        }
    }

    std::string router() const { return topology_->router(); }

    void nft(const std::string& commands) const {
        CommandResult result = exec_in(router(), {"nft", commands});
        ASSERT_EQ(result.status, 0) << commands << ": " << result.output;
    }

    // A TCP connection from the client to the server at address:port, through the router.
    std::unique_ptr<Flow> connect_tcp(const std::string& server_address, std::uint16_t port) {
        const Endpoint target = endpoint(server_address, port);
        const int family = target.storage.ss_family;
        auto [place, first] = listeners_.try_emplace({server_address, port});
        Fd& listener = place->second;
        if(first) {
            listener.fd = socket_in(topology_->server(), family, SOCK_STREAM, 2000);
            if(bind(listener.fd, target.get(), target.length) != 0 || listen(listener.fd, 4) != 0) {
                ADD_FAILURE() << "cannot listen on " << server_address << " port " << port;
                return nullptr;
            }
        }
        auto made = std::make_unique<Flow>(tcp, port);
        made->client.fd = socket_in(topology_->client(), family, SOCK_STREAM, 1000);
        if(connect(made->client.fd, target.get(), target.length) != 0) {
            ADD_FAILURE() << "cannot connect to " << server_address << " port " << port;
            return nullptr;
        }
        made->server.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        const timeval timeout{1, 0};
        setsockopt(made->server.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        made->source_port = local_port(made->client.fd);
        if(made->server.fd < 0 || !carries(made->client, made->server)) {
            ADD_FAILURE() << "no data over the connection to " << server_address << " port " << port;
            return nullptr;
        }
        return made;
    }

    // A UDP flow from the client to the server at address:port, one datagram each way.
    std::unique_ptr<Flow> connect_udp(const std::string& server_address, std::uint16_t port) {
        const Endpoint target = endpoint(server_address, port);
        const int family = target.storage.ss_family;
        auto made = std::make_unique<Flow>(udp, port);
        made->client.fd = socket_in(topology_->client(), family, SOCK_DGRAM, 1000);
        made->server.fd = socket_in(topology_->server(), family, SOCK_DGRAM, 1000);
        if(bind(made->server.fd, target.get(), target.length) != 0 ||
           connect(made->client.fd, target.get(), target.length) != 0) {
            ADD_FAILURE() << "cannot set up UDP to " << server_address << " port " << port;
            return nullptr;
        }
        made->source_port = local_port(made->client.fd);
        const Endpoint back = endpoint(server_address.find(':') != std::string::npos ? client_v6 : client_v4,
                                       made->source_port);
        if(!carries(made->client, made->server) || connect(made->server.fd, back.get(), back.length) != 0 ||
           !carries(made->server, made->client)) {
            ADD_FAILURE() << "no datagrams between the client and " << server_address << " port " << port;
            return nullptr;
        }
        return made;
    }

    // Reads the router's conntrack entries of one family with the cutter's own dump.
    fwinterface::ConntrackSocket::Outcome dump_router(bool ipv6, std::vector<FlowTuple>& flows,
                                                      std::string& error) const {
        Inside inside(router());
        fwinterface::ConntrackSocket::Outcome outcome{};
        auto socket = fwinterface::ConntrackSocket::open(outcome, error);
        if(socket == nullptr) {
            return outcome;
        }
        std::vector<fwinterface::ConntrackEntryName> none;
        auto keep = [&flows](const FlowTuple& tuple) {
            flows.push_back(tuple);
            return false;
        };
        outcome = socket->dump(ipv6, keep, none, error);
        EXPECT_TRUE(none.empty());
        return outcome;
    }

    std::vector<FlowTuple> router_flows(bool ipv6) const {
        std::vector<FlowTuple> flows;
        std::string error;
        EXPECT_EQ(dump_router(ipv6, flows, error), fwinterface::ConntrackSocket::Outcome::done) << error;
        return flows;
    }

    // Whether the router has an entry for `made` in its original direction (client to server).
    bool router_tracks(const Flow& made, bool ipv6) const {
        const auto client = address(ipv6 ? client_v6 : client_v4);
        const auto server = address(ipv6 ? server_v6 : server_v4);
        for(const FlowTuple& tuple : router_flows(ipv6)) {
            if(tuple.source == client && tuple.destination == server && tuple.protocol == made.protocol &&
               tuple.source_port == made.source_port && tuple.destination_port == made.destination_port) {
                return true;
            }
        }
        return false;
    }

    // Runs cut_connections in the router; the number of entries removed.
    std::size_t cut(const std::vector<RuleSpec>& rules, bool ipv6) const {
        Inside inside(router());
        EXPECT_TRUE(inside.ok());
        std::size_t removed = 0;
        std::string error;
        EXPECT_TRUE(fwinterface::cut_connections(rules, ipv6, removed, error)) << error;
        return removed;
    }

private:
    std::optional<Topology> topology_;
    std::map<std::pair<std::string, std::uint16_t>, Fd> listeners_;  // by address and port
};

TEST_F(NftConntrack, FlowsCoveredByTheRulesAreRemovedAndNoOthers) {
    // Two connections to the blocked port, one to another port, and a UDP flow, per family.
    const std::string servers[] = {server_v4, server_v6};
    std::unique_ptr<Flow> flows[2][4];
    for(const bool ipv6 : {false, true}) {
        const std::string& server = servers[ipv6];
        flows[ipv6][0] = connect_tcp(server, 5001);
        flows[ipv6][1] = connect_tcp(server, 5001);
        flows[ipv6][2] = connect_tcp(server, 5002);
        flows[ipv6][3] = connect_udp(server, 5001);
        for(const auto& made : flows[ipv6]) {
            ASSERT_TRUE(made && router_tracks(*made, ipv6));
        }
    }
    auto tracked = [&] {
        std::vector<bool> still;
        for(const bool ipv6 : {false, true}) {
            for(const auto& made : flows[ipv6]) {
                still.push_back(router_tracks(*made, ipv6));
            }
        }
        return still;
    };

    // Rules that stop nothing cut nothing.
    EXPECT_EQ(cut({rule("-s 10.99.1.2/32 -j ACCEPT"), rule("-m mac --mac-source 02:99:01:00:00:02 -j DROP")}, false), 0U);
    const std::vector<RuleSpec> rules_v4{rule("-s 10.99.3.0/24 -j DROP"),
                                         rule("-s 10.99.1.2/32 -p tcp -m tcp --dport 5001 -j DROP")};
    EXPECT_EQ(cut(rules_v4, false), 2U);
    EXPECT_EQ(tracked(), (std::vector<bool>{false, false, true, true, true, true, true, true}));
    EXPECT_EQ(cut(rules_v4, false), 0U) << "nothing left to cut";

    const std::vector<RuleSpec> rules_v6{rule("-s fd99:1::/64 -p tcp -m tcp --dport 5001 -j REJECT", true),
                                         rule("-d fd99:2::2/128 -p udp -m udp --dport 5000:5001 -j DROP", true)};
    EXPECT_EQ(cut(rules_v6, true), 3U);
    EXPECT_EQ(tracked(), (std::vector<bool>{false, false, true, true, false, false, true, false}));
}

// Through the backend, on a router set up as gateways are: its forward chain accepts
// established flows and then jumps to the access-control chain. A committed DROP rule ends
// the running connection it covers, unless the option is off.
TEST_F(NftConntrack, CommittedDropRuleEndsTheOpenConnectionsItCovers) {
    for(const bool cut_on : {true, false}) {
        SCOPED_TRACE(cut_on ? "cut_connections 1" : "cut_connections 0");
        auto blocked = connect_tcp(server_v4, 5001);
        auto allowed = connect_tcp(server_v4, 5002);
        ASSERT_TRUE(blocked && allowed);
        Inside inside(router());
        ASSERT_TRUE(inside.ok());
        ASSERT_EQ(fw_backend_set_option("cut_connections", cut_on ? "1" : "0"), 0);
        ASSERT_EQ(fw_backend_select("nftables"), 0) << fw_backend_error();
        nft("add chain ip filter gateway_forward { type filter hook forward priority 0; policy accept; }; "
            "flush chain ip filter gateway_forward; "
            "add rule ip filter gateway_forward ct state established,related accept; "
            "add rule ip filter gateway_forward jump FORWARD_AccessControl_QK");
        ASSERT_TRUE(carries(blocked->client, blocked->server));

        fwtest::Rule rule = fwtest::RuleMaker().source("10.99.1.2").protocol(6).destination_ports(5001).make();
        ASSERT_EQ(fw_add_rule(rule.get(), 1), FW_OK);
        ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
        EXPECT_EQ(carries(blocked->client, blocked->server), !cut_on);
        EXPECT_TRUE(carries(allowed->client, allowed->server));
        fw_reset();  // empties the chains in the kernel, which closing the backend would not
        fw_backend_select("memory");
        fw_backend_set_option("cut_connections", "1");
    }
}

}  // namespace
}  // namespace nfttest
