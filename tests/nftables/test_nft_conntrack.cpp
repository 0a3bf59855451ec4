// Removing the conntrack entries that new DROP rules cover: which flows a rule covers, and, in
// the router of the client/router/server topology, which entries go and which stay. (That a cut
// connection then meets the DROP rule behind "ct state established accept" is shown with a
// running transfer through gwrt, tests/e2e.)

#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "conntrack_cutter.h"
#include "flow_cover.h"
#include "netns.h"
#include "packets.h"
#include "rule_maker.h"
#include "rule_reader.h"
#include "topology.h"

namespace nfttest {
namespace {

using fwinterface::FlowTuple;
using fwinterface::RuleSpec;

constexpr std::uint8_t tcp = 6;
constexpr std::uint8_t udp = 17;
constexpr std::uint8_t icmp = 1;

// A rule of a chain of the given family, read from its text as fwrules writes it.
RuleSpec rule(std::string_view text, bool ipv6 = false) {
    RuleSpec spec;
    std::string error;
    EXPECT_TRUE(fwinterface::parse_rule_text(text, ipv6, spec, error)) << text << ": " << error;
    return spec;
}

// A flow with ports, or with ICMP type and code for icmp and ipv6-icmp.
FlowTuple flow(const std::string& source, const std::string& destination, std::uint8_t protocol, std::uint16_t first,
               std::uint16_t second) {
    const bool ipv6 = source.find(':') != std::string::npos;
    FlowTuple tuple;
    tuple.source = parse_ip(source, ipv6).value().bytes;
    tuple.destination = parse_ip(destination, ipv6).value().bytes;
    tuple.protocol = protocol;
    if(protocol == icmp || protocol == 58) {
        tuple.icmp_type = first;
        tuple.icmp_code = second;
    } else {
        tuple.source_port = first;
        tuple.destination_port = second;
    }
    return tuple;
}

// Prefixes cover their subnet only (one ends inside a byte); protocols, port ranges, ICMP type
// and code must all match when given; only DROP and REJECT rules without a MAC match cut.
TEST(ConntrackMatch, ARuleCoversTheFlowsItWouldStop) {
    const FlowTuple client = flow("10.99.1.2", "10.99.2.2", tcp, 40000, 80);
    const FlowTuple echo = flow("10.99.1.2", "10.99.2.2", icmp, 8, 0);
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
        {"-p icmp -m icmp --icmp-type 8 -j DROP", flow("10.99.1.2", "10.99.2.2", icmp, 13, 0), false},
        {"-p icmp -m icmp --icmp-type 8 -j DROP", flow("10.99.1.2", "10.99.2.2", tcp, 8, 8), false},
        {"-p icmp -m icmp --icmp-type 8/1 -j DROP", echo, false},
        {"-p ipv6-icmp -j DROP", flow("fd99:1::2", "fd99:2::2", 58, 128, 0), true, true},
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

// The index the cut looks flows up in finds what checking every rule finds, for rules of
// every kind drawn around a few networks (sources of many prefix lengths, host bits set past the
// prefix, none at all; ports, protocols, ICMP, verdicts, MAC) and flows drawn around the same.
TEST(ConntrackMatch, TheIndexOfTheRulesCoversWhatTheRulesCover) {
    std::mt19937 random(20261211);
    auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for(const bool ipv6 : {false, true}) {
        const int bytes = ipv6 ? 16 : 4;
        auto address = [&] {
            std::array<std::uint8_t, 16> a{};
            a[0] = 10;
            for(int i = 1; i < bytes; ++i) {
                a[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i < bytes - 2 ? pick(2) : pick(6) * 37);
            }
            return a;
        };
        auto ports = [&] {
            const auto first = static_cast<std::uint16_t>(1 + pick(4));
            return pick(3) == 0 ? fwinterface::PortMatch{} : fwinterface::PortMatch{first, static_cast<std::uint16_t>(first + pick(2))};
        };
        std::vector<RuleSpec> rules(80);
        for(RuleSpec& r : rules) {
            // The addresses start alike (10, then bytes of 0 or 1): a short prefix, or no source and
            // no port, would cover nearly all of them.
            const bool source = pick(10) != 0;
            if(source) {
                r.source = fwinterface::AddressMatch{address(), static_cast<unsigned>(ipv6 ? 49 + pick(80) : 17 + pick(16))};
            }
            r.protocol = std::array<std::uint8_t, 4>{0, tcp, udp, icmp}[static_cast<std::size_t>(source ? pick(4) : 1)];
            if(r.protocol == tcp || r.protocol == udp) {
                r.source_port = ports();
                r.destination_port = source ? ports() : fwinterface::PortMatch{3, 3};
            } else if(r.protocol == icmp && pick(2) == 0) {
                r.icmp_type = pick(3);
            }
            r.verdict = std::array{fwinterface::Verdict::drop, fwinterface::Verdict::reject,
                                   fwinterface::Verdict::accept}[static_cast<std::size_t>(pick(3))];
            if(pick(20) == 0) {
                r.mac = std::array<std::uint8_t, 6>{2, 0, 0, 0, 0, 1};
            }
        }
        const fwinterface::FlowCover cover(rules);
        int covered = 0;
        for(int i = 0; i < 20000; ++i) {
            FlowTuple f;
            f.source = address();
            f.destination = address();
            f.protocol = std::array<std::uint8_t, 3>{tcp, udp, icmp}[static_cast<std::size_t>(pick(3))];
            if(f.protocol == icmp) {
                f.icmp_type = pick(3);
                f.icmp_code = 0;
            } else {
                f.source_port = static_cast<std::uint16_t>(1 + pick(6));
                f.destination_port = static_cast<std::uint16_t>(1 + pick(6));
            }
            const bool expected = std::ranges::any_of(rules, [&f](const RuleSpec& r) { return fwinterface::rule_covers(r, f); });
            ASSERT_EQ(cover.covers(f), expected) << "flow " << i << (ipv6 ? " (IPv6)" : " (IPv4)");
            covered += expected ? 1 : 0;
        }
        // Both answers were asked for often.
        EXPECT_GT(covered, 2000);
        EXPECT_LT(covered, 18000);
    }
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
    RuleSpec large_code = rule("-p icmp -m icmp --icmp-type 8 -j DROP");
    large_code.icmp_code = 256;
    EXPECT_EQ(refused(large_code, false), "a rule with an ICMP type or code above 255");
}

// --- In the kernel ---------------------------------------------------------------------------

// One packet of a flow through the router is enough for the router to track it. It comes from
// a source of the client's subnet that no host answers for, and the server drops it unanswered:
// a reset would end the flow's entry.
class NftConntrack : public ::testing::Test {
protected:
    void SetUp() override {
        if(!kernel_tests_refused().empty()) {
            GTEST_SKIP() << kernel_tests_refused();
        }
        topology_.emplace();
        ASSERT_TRUE(topology_->ok()) << topology_->error();
        // Conntrack keeps entries only for a namespace where some rule uses it.
        const CommandResult made = exec_in(router(), {"nft", "add table inet ctcut; "
                                                              "add chain inet ctcut forward { type filter hook forward priority 0; }; "
                                                              "add rule inet ctcut forward ct state established,related accept"});
        ASSERT_EQ(made.status, 0) << made.output;
        const CommandResult quiet = exec_in(topology_->server(), {"nft", "add table inet quiet; "
                                                                         "add chain inet quiet input { type filter hook input priority 0; }; "
                                                                         "add rule inet quiet input meta l4proto tcp drop"});
        ASSERT_EQ(quiet.status, 0) << quiet.output;
        std::vector<FlowTuple> flows;
        std::string error;
        if(dump_router(false, flows, error) == fwinterface::ConntrackSocket::Outcome::no_conntrack) {
            GTEST_SKIP() << "no conntrack in this kernel: " << error;
        }
        prober_.emplace(*topology_);
        ASSERT_TRUE(prober_->ok()) << prober_->error();
    }

    std::string router() const { return topology_->router(); }

    Probe flow(bool ipv6, std::uint8_t protocol, std::uint16_t destination_port) {
        Probe probe;
        probe.source = *parse_ip(ipv6 ? "fd99:1::7" : "10.99.1.7", ipv6);
        probe.destination = *parse_ip(ipv6 ? "fd99:2::2" : "10.99.2.2", ipv6);
        probe.source_mac = client_mac;
        probe.protocol = protocol;
        probe.source_port = next_port_++;
        probe.destination_port = destination_port;
        return probe;
    }

    void send(const std::vector<Probe>& flows) {
        EXPECT_EQ(prober_->send(flows, flows.size()), std::vector<bool>(flows.size(), true)) << prober_->error();
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

    // Which of `made` the router has an entry for, in their original direction.
    std::vector<bool> tracked(const std::vector<Probe>& made) const {
        std::vector<bool> found;
        for(const Probe& probe : made) {
            std::vector<FlowTuple> flows;
            std::string error;
            EXPECT_EQ(dump_router(probe.ipv6(), flows, error), fwinterface::ConntrackSocket::Outcome::done) << error;
            found.push_back(std::any_of(flows.begin(), flows.end(), [&probe](const FlowTuple& tuple) {
                return tuple.source == probe.source.bytes && tuple.destination == probe.destination.bytes &&
                       tuple.protocol == probe.protocol && tuple.source_port == probe.source_port &&
                       tuple.destination_port == probe.destination_port;
            }));
        }
        return found;
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
    std::optional<Prober> prober_;
    std::uint16_t next_port_ = 40001;
};

TEST_F(NftConntrack, FlowsCoveredByTheRulesAreRemovedAndNoOthers) {
    // Per family: two flows to the blocked TCP port, one to another port, one UDP flow.
    std::vector<Probe> flows;
    for(const bool ipv6 : {false, true}) {
        const std::pair<std::uint8_t, std::uint16_t> kinds[] = {{tcp, 5001}, {tcp, 5001}, {tcp, 5002}, {udp, 5001}};
        for(const auto& [protocol, port] : kinds) {
            flows.push_back(flow(ipv6, protocol, port));
        }
    }
    send(flows);
    ASSERT_EQ(tracked(flows), std::vector<bool>(8, true));

    // Rules that stop nothing cut nothing.
    EXPECT_EQ(cut({rule("-s 10.99.1.7/32 -j ACCEPT"), rule("-m mac --mac-source 02:99:01:00:00:02 -j DROP")}, false), 0U);
    const std::vector<RuleSpec> rules_v4{rule("-s 10.99.3.0/24 -j DROP"),
                                         rule("-s 10.99.1.7/32 -p tcp -m tcp --dport 5001 -j DROP")};
    EXPECT_EQ(cut(rules_v4, false), 2U);
    EXPECT_EQ(tracked(flows), (std::vector<bool>{false, false, true, true, true, true, true, true}));
    EXPECT_EQ(cut(rules_v4, false), 0U) << "nothing left to cut";

    const std::vector<RuleSpec> rules_v6{rule("-s fd99:1::/64 -p tcp -m tcp --dport 5001 -j REJECT", true),
                                         rule("-d fd99:2::2/128 -p udp -m udp --dport 5000:5001 -j DROP", true)};
    EXPECT_EQ(cut(rules_v6, true), 3U);
    EXPECT_EQ(tracked(flows), (std::vector<bool>{false, false, true, true, false, false, true, false}));
}

// Through the backend: committing a DROP rule removes the entries of the flows it covers,
// unless the option is off.
TEST_F(NftConntrack, CommittedDropRuleCutsTheFlowsItCoversUnlessTheOptionIsOff) {
    for(const bool cut_on : {true, false}) {
        SCOPED_TRACE(cut_on ? "cut_connections 1" : "cut_connections 0");
        const std::vector<Probe> flows{flow(false, tcp, 5001), flow(false, tcp, 5002)};
        send(flows);
        Inside inside(router());
        ASSERT_TRUE(inside.ok());
        ASSERT_EQ(fw_backend_set_option("cut_connections", cut_on ? "1" : "0"), 0);
        ASSERT_EQ(fw_backend_select("nftables"), 0) << fw_backend_error();
        fwtest::Rule rule = fwtest::RuleMaker().source("10.99.1.7").protocol(6).destination_ports(5001).make();
        ASSERT_EQ(fw_add_rule(rule.get(), 1), FW_OK);
        ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
        EXPECT_EQ(tracked(flows), (std::vector<bool>{!cut_on, true}));
        fw_reset();  // empties the chains in the kernel, which closing the backend would not
        fw_backend_select("memory");
        fw_backend_set_option("cut_connections", "1");
    }
}

}  // namespace
}  // namespace nfttest
