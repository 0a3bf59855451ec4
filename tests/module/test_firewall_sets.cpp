// Rule sets, their expansion into rules and their positions in the chains, driven through the
// module's own firewall functions and seen through the memory firewall's dump.
#include <fwinterface/backend.h>

#include "module_fixture.h"

namespace {

// One firewall_rule_set request; lists are comma-separated texts, NULL for none.
struct Request {
    const char* source = nullptr;
    const char* mask = nullptr;
    bool ipv6 = false;
    const char* dest_ports = nullptr;
    uint32_t dest_end = 0;
    const char* src_ports = nullptr;
    uint32_t src_end = 0;
    const char* protocols = nullptr;
    uint32_t icmp_type = 0;
    uint32_t icmp_code = 0;
};

class FirewallSets : public ModuleTest {
protected:
    firewall_rule_t* make_set(bool invert = false) { return api_.firewall_rule_create("", invert); }

    amxd_status_t program(firewall_rule_t* set, const Request& request) {
        amxc_var_t dest;
        amxc_var_t src;
        amxc_var_t protocols;
        amxc_var_init(&dest);
        amxc_var_init(&src);
        amxc_var_init(&protocols);
        auto text = [](amxc_var_t* var, const char* value) {
            if(value == nullptr) {
                return static_cast<amxc_var_t*>(nullptr);
            }
            amxc_var_set_cstring_t(var, value);
            return var;
        };
        const amxd_status_t status = api_.firewall_rule_set(
            set, request.source, nullptr, request.mask, nullptr, request.ipv6, text(&dest, request.dest_ports),
            request.dest_end, text(&src, request.src_ports), request.src_end, text(&protocols, request.protocols),
            request.icmp_type, request.icmp_code);
        amxc_var_clean(&dest);
        amxc_var_clean(&src);
        amxc_var_clean(&protocols);
        return status;
    }

    // The rules one request gives, applied alone on empty chains.
    std::string rules_of(const Request& request) {
        firewall_rule_t* set = make_set();
        EXPECT_EQ(program(set, request), amxd_status_ok);
        EXPECT_EQ(api_.firewall_rule_apply(set), amxd_status_ok);
        std::string text = dump();
        api_.firewall_rule_delete(&set);
        EXPECT_EQ(dump(), expected_dump({})) << "the set's rules must all leave the chains";
        return text;
    }

    std::vector<std::string> firewall_info() const {
        std::vector<std::string> messages;
        for(const TraceLine& line : lines()) {
            if(line.zone == "firewal" && line.mark == 'i') {
                messages.push_back(line.message);
            }
        }
        return messages;
    }
};

// ---- positions and counters --------------------------------------------------------------

TEST_F(FirewallSets, AppliedRulesTakeTheNextPositionOfTheirFamily) {
    firewall_rule_t* set = make_set();
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(program(set, {.source = "10.0.0.1"}), amxd_status_ok);
    ASSERT_EQ(program(set, {.source = "2001:db8::1", .ipv6 = true}), amxd_status_ok);
    ASSERT_EQ(program(set, {.source = "10.0.0.2"}), amxd_status_ok);
    clear_traces();

    EXPECT_EQ(api_.firewall_rule_apply(set), amxd_status_ok);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=2", "i6=2 i4=2", "i6=2 i4=3"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -j DROP", "-s 10.0.0.2/32 -j DROP"}, {"-s 2001:db8::1/128 -j DROP"}));
    EXPECT_EQ(fw_apply_count(), 1u) << "all insertions of a set are one commit";

    firewall_rule_t* second = make_set();
    ASSERT_EQ(program(second, {.source = "10.0.0.3"}), amxd_status_ok);
    clear_traces();
    EXPECT_EQ(api_.firewall_rule_apply(second), amxd_status_ok);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=2 i4=4"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -j DROP", "-s 10.0.0.2/32 -j DROP", "-s 10.0.0.3/32 -j DROP"},
                                    {"-s 2001:db8::1/128 -j DROP"}));
}

TEST_F(FirewallSets, DeletingASetMovesTheLaterRulesUp) {
    firewall_rule_t* a = make_set();
    firewall_rule_t* b = make_set();
    ASSERT_EQ(program(a, {.source = "10.0.0.1", .protocols = "6,17"}), amxd_status_ok);
    ASSERT_EQ(program(b, {.source = "10.0.0.2", .protocols = "6,17"}), amxd_status_ok);
    ASSERT_EQ(api_.firewall_rule_apply(a), amxd_status_ok);
    ASSERT_EQ(api_.firewall_rule_apply(b), amxd_status_ok);
    const uint32_t commits = fw_apply_count();
    clear_traces();

    api_.firewall_rule_delete(&a);
    EXPECT_EQ(a, nullptr);
    // Removed at its lowest position twice; each message shows the counters before the removal.
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=5 (rm=1)", "i6=1 i4=4 (rm=1)"}));
    EXPECT_EQ(fw_apply_count(), commits + 2) << "one commit per removed rule";
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.2/32 -p tcp -j DROP", "-s 10.0.0.2/32 -p udp -j DROP"}));

    // B now stands at 1 and 2, and a new set goes behind it.
    firewall_rule_t* c = make_set();
    ASSERT_EQ(program(c, {.source = "10.0.0.3"}), amxd_status_ok);
    ASSERT_EQ(api_.firewall_rule_apply(c), amxd_status_ok);
    clear_traces();
    api_.firewall_rule_delete(&b);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=4 (rm=1)", "i6=1 i4=3 (rm=1)"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.3/32 -j DROP"}));
    api_.firewall_rule_delete(&c);
    EXPECT_EQ(dump(), expected_dump({}));
}

TEST_F(FirewallSets, DeletingTheLastSetLeavesEarlierOnesInPlace) {
    firewall_rule_t* a = make_set();
    firewall_rule_t* b = make_set();
    ASSERT_EQ(program(a, {.source = "10.0.0.1", .protocols = "6,17"}), amxd_status_ok);
    ASSERT_EQ(program(b, {.source = "10.0.0.2"}), amxd_status_ok);
    ASSERT_EQ(api_.firewall_rule_apply(a), amxd_status_ok);
    ASSERT_EQ(api_.firewall_rule_apply(b), amxd_status_ok);
    clear_traces();

    api_.firewall_rule_delete(&b);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=4 (rm=3)"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -p tcp -j DROP", "-s 10.0.0.1/32 -p udp -j DROP"}));
    api_.firewall_rule_delete(&a);
    EXPECT_EQ(dump(), expected_dump({}));
}

TEST_F(FirewallSets, RemovingIPv6RulesRenumbersOnlyIPv6RulesAboveThem) {
    firewall_rule_t* a = make_set();
    firewall_rule_t* b = make_set();
    firewall_rule_t* c = make_set();
    ASSERT_EQ(program(a, {.source = "10.0.0.1"}), amxd_status_ok);
    ASSERT_EQ(program(a, {.source = "2001:db8::a", .ipv6 = true}), amxd_status_ok);
    ASSERT_EQ(program(b, {.source = "2001:db8::b", .ipv6 = true, .protocols = "6,17"}), amxd_status_ok);
    ASSERT_EQ(program(b, {.source = "10.0.0.2"}), amxd_status_ok);
    ASSERT_EQ(program(c, {.source = "2001:db8::c", .ipv6 = true}), amxd_status_ok);
    ASSERT_EQ(program(c, {.source = "10.0.0.3"}), amxd_status_ok);
    for(firewall_rule_t* set : {a, b, c}) {
        ASSERT_EQ(api_.firewall_rule_apply(set), amxd_status_ok);
    }
    clear_traces();

    api_.firewall_rule_delete(&b);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=5 i4=4 (rm=2)", "i6=4 i4=4 (rm=2)", "i6=3 i4=4 (rm=2)"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -j DROP", "-s 10.0.0.3/32 -j DROP"},
                                    {"-s 2001:db8::a/128 -j DROP", "-s 2001:db8::c/128 -j DROP"}));
    clear_traces();
    api_.firewall_rule_delete(&c);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=3 i4=3 (rm=2)", "i6=2 i4=3 (rm=2)"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -j DROP"}, {"-s 2001:db8::a/128 -j DROP"}));
    api_.firewall_rule_delete(&a);
}

TEST_F(FirewallSets, DeletingNothingChangesNothing) {
    firewall_rule_t* empty = make_set();
    api_.firewall_rule_delete(&empty);
    EXPECT_EQ(empty, nullptr);
    firewall_rule_t* none = nullptr;
    api_.firewall_rule_delete(&none);
    api_.firewall_rule_delete(nullptr);
    EXPECT_EQ(fw_apply_count(), 0u);
    EXPECT_TRUE(firewall_info().empty());

    // The counters are untouched: the next rule still goes to position 1.
    firewall_rule_t* set = make_set();
    ASSERT_EQ(program(set, {.source = "10.0.0.1"}), amxd_status_ok);
    EXPECT_EQ(api_.firewall_rule_apply(set), amxd_status_ok);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=2"}));
}

TEST_F(FirewallSets, CleanupRemovesEverySetAndRestartsTheCounters) {
    EXPECT_TRUE(api_.firewall_cleanup());
    EXPECT_EQ(fw_apply_count(), 0u) << "no set, no firewall call";
    EXPECT_TRUE(api_.firewall_init());

    firewall_rule_t* a = make_set();
    firewall_rule_t* b = make_set();
    ASSERT_EQ(program(a, {.source = "10.0.0.1"}), amxd_status_ok);
    ASSERT_EQ(program(b, {.source = "2001:db8::1", .ipv6 = true}), amxd_status_ok);
    ASSERT_EQ(api_.firewall_rule_apply(a), amxd_status_ok);
    ASSERT_EQ(api_.firewall_rule_apply(b), amxd_status_ok);
    EXPECT_TRUE(api_.firewall_cleanup());
    EXPECT_EQ(dump(), expected_dump({}));

    EXPECT_TRUE(api_.firewall_init());
    firewall_rule_t* c = make_set();
    ASSERT_EQ(program(c, {.source = "10.0.0.2"}), amxd_status_ok);
    clear_traces();
    EXPECT_EQ(api_.firewall_rule_apply(c), amxd_status_ok);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=2"}));
}

TEST_F(FirewallSets, CreateRefusesANullAlias) {
    EXPECT_EQ(api_.firewall_rule_create(nullptr, false), nullptr);
    EXPECT_TRUE(traced('x', "alias can't be null"));
}

// ---- expansion -----------------------------------------------------------------------------

// Protocols vary fastest; destination and source ports are paired by position, the shorter
// list repeating its last; a range end widens only the ports below it; 0 sets nothing; ICMP
// type and code go on IPv4 ICMP rules only, a type above 254 meaning any.
TEST_F(FirewallSets, EachRequestExpandsIntoItsRules) {
    const struct {
        Request request;
        std::vector<std::string> ipv4;
        std::vector<std::string> ipv6 = {};
    } cases[] = {
        {{.source = "192.168.1.10"}, {"-s 192.168.1.10/32 -j DROP"}},
        {{.source = "10.0.0.0", .mask = "8"}, {"-s 10.0.0.0/8 -j DROP"}},
        {{.source = ""}, {"-j DROP"}},  // an empty source is any address
        {{.source = "10.0.0.1", .dest_ports = "80,443,25", .src_ports = "1,2", .protocols = "6,17"},
         {"-s 10.0.0.1/32 -p tcp -m tcp --sport 1 --dport 80 -j DROP", "-s 10.0.0.1/32 -p udp -m udp --sport 1 --dport 80 -j DROP",
          "-s 10.0.0.1/32 -p tcp -m tcp --sport 2 --dport 443 -j DROP", "-s 10.0.0.1/32 -p udp -m udp --sport 2 --dport 443 -j DROP",
          "-s 10.0.0.1/32 -p tcp -m tcp --sport 2 --dport 25 -j DROP", "-s 10.0.0.1/32 -p udp -m udp --sport 2 --dport 25 -j DROP"}},
        {{.source = "10.0.0.1", .dest_ports = "80,443", .src_ports = "53", .protocols = "6"},
         {"-s 10.0.0.1/32 -p tcp -m tcp --sport 53 --dport 80 -j DROP", "-s 10.0.0.1/32 -p tcp -m tcp --sport 53 --dport 443 -j DROP"}},
        {{.source = "10.0.0.1", .dest_ports = "80,443", .dest_end = 100, .protocols = "6"},
         {"-s 10.0.0.1/32 -p tcp -m tcp --dport 80:100 -j DROP", "-s 10.0.0.1/32 -p tcp -m tcp --dport 443 -j DROP"}},
        {{.source = "10.0.0.1", .src_ports = "1000", .src_end = 1000, .protocols = "17"},
         {"-s 10.0.0.1/32 -p udp -m udp --sport 1000 -j DROP"}},
        {{.source = "10.0.0.1", .dest_ports = "0,80", .protocols = "6"},
         {"-s 10.0.0.1/32 -p tcp -j DROP", "-s 10.0.0.1/32 -p tcp -m tcp --dport 80 -j DROP"}},
        {{.source = "10.0.0.1", .protocols = "0"}, {"-s 10.0.0.1/32 -j DROP"}},
        {{.source = "10.0.0.1", .protocols = "1", .icmp_type = 255, .icmp_code = 0}, {"-s 10.0.0.1/32 -p icmp -j DROP"}},
        {{.source = "10.0.0.1", .protocols = "1", .icmp_type = 3, .icmp_code = 255},
         {"-s 10.0.0.1/32 -p icmp -m icmp --icmp-type 3 -j DROP"}},
        {{.source = "10.0.0.1", .protocols = "6,1", .icmp_type = 8, .icmp_code = 0},
         {"-s 10.0.0.1/32 -p tcp -j DROP", "-s 10.0.0.1/32 -p icmp -m icmp --icmp-type 8/0 -j DROP"}},
        {{.source = "2001:db8::1", .ipv6 = true, .protocols = "1", .icmp_type = 8, .icmp_code = 0},
         {}, {"-s 2001:db8::1/128 -p icmp -j DROP"}},
    };
    for(const auto& c : cases) {
        EXPECT_EQ(rules_of(c.request), expected_dump(c.ipv4, c.ipv6)) << c.request.source;
    }
}

// Successive requests append in call order; an inverted set accepts.
TEST_F(FirewallSets, RequestsAppendInCallOrderAndAnInvertedSetAccepts) {
    firewall_rule_t* set = make_set(true);
    ASSERT_EQ(program(set, {.source = "10.0.0.1", .protocols = "6,17"}), amxd_status_ok);
    ASSERT_EQ(program(set, {.source = "10.0.0.2"}), amxd_status_ok);
    ASSERT_EQ(api_.firewall_rule_apply(set), amxd_status_ok);
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -p tcp -j ACCEPT", "-s 10.0.0.1/32 -p udp -j ACCEPT",
                                     "-s 10.0.0.2/32 -j ACCEPT"}));
    api_.firewall_rule_delete(&set);
}

// ---- refusals ------------------------------------------------------------------------------

// A list element that is not a whole number in range would read as 0, "no port", and widen
// the rule to every port: the request fails and adds nothing.
TEST_F(FirewallSets, ListElementsThatAreNotPortsFailTheRequest) {
    firewall_rule_t* set = make_set();
    EXPECT_EQ(program(set, {.source = "10.0.0.1", .dest_ports = "80-90", .protocols = "6"}), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "Invalid destination port element '80-90'"));
    EXPECT_EQ(program(set, {.source = "10.0.0.1", .src_ports = "abc", .protocols = "6"}), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "Invalid source port element 'abc'"));
    EXPECT_EQ(program(set, {.source = "10.0.0.1", .dest_ports = "70000", .protocols = "6"}), amxd_status_unknown_error);
    EXPECT_EQ(program(set, {.source = "10.0.0.1", .dest_ports = "80,,443", .protocols = "6"}), amxd_status_unknown_error);
    EXPECT_EQ(program(set, {.source = "10.0.0.1", .protocols = "256"}), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "Invalid protocol element '256'"));

    EXPECT_EQ(api_.firewall_rule_apply(set), amxd_status_ok);
    EXPECT_EQ(fw_pending_count(), 0u);
    EXPECT_EQ(dump(), expected_dump({})) << "no refused request left a rule in the set";
    api_.firewall_rule_delete(&set);
}

TEST_F(FirewallSets, ANullSetIsAFailure) {
    EXPECT_EQ(program(nullptr, {.source = "10.0.0.1"}), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', ""));
    EXPECT_EQ(api_.firewall_rule_apply(nullptr), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "firewall context can not be NULL"));
}

TEST_F(FirewallSets, AFailingRuleStopsTheRequestAndKeepsWhatWasMade) {
    firewall_rule_t* set = make_set();
    // The third row sets a source range end the firewall refuses; the fourth is never made.
    EXPECT_EQ(program(set, {.source = "10.0.0.1", .src_ports = "0,0,53,54", .src_end = 70000, .protocols = "6"}),
              amxd_status_unknown_error);
    EXPECT_EQ(count("Failed to set SourcePortEndRange"), 1);
    EXPECT_EQ(count("Configuring one of the rules failed, aborting"), 1);

    // The two complete rules go in; the half-configured third one is refused by the firewall.
    EXPECT_EQ(api_.firewall_rule_apply(set), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "Fail to apply rule index 3"));
    EXPECT_EQ(fw_pending_count(), 2u) << "nothing is committed after a failed insertion";
    api_.firewall_rule_delete(&set);
    EXPECT_EQ(dump(), expected_dump({}));
}

// ---- insertion and commit failures ---------------------------------------------------------

TEST_F(FirewallSets, AFailedInsertionStopsAndNeverInsertedRulesAreNotRemoved) {
    firewall_rule_t* set = make_set();
    ASSERT_EQ(program(set, {.source = "10.0.0.1", .protocols = "6"}), amxd_status_ok);
    // Ports without a protocol that has ports: configured, but no firewall takes it.
    ASSERT_EQ(program(set, {.source = "10.0.0.2", .dest_ports = "80"}), amxd_status_ok);
    ASSERT_EQ(program(set, {.source = "10.0.0.3"}), amxd_status_ok);
    const uint32_t commits = fw_apply_count();

    EXPECT_EQ(api_.firewall_rule_apply(set), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "Fail to apply rule index 2"));
    EXPECT_EQ(fw_apply_count(), commits) << "nothing committed";
    EXPECT_EQ(fw_pending_count(), 1u) << "the first rule is inserted and counted";

    clear_traces();
    api_.firewall_rule_delete(&set);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=2 (rm=1)"})) << "only the inserted rule is removed";
    EXPECT_EQ(dump(), expected_dump({}));

    // The counters still match the chain: the next rule goes to position 1.
    firewall_rule_t* next = make_set();
    ASSERT_EQ(program(next, {.source = "10.0.0.4"}), amxd_status_ok);
    clear_traces();
    EXPECT_EQ(api_.firewall_rule_apply(next), amxd_status_ok);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=2"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.4/32 -j DROP"}));
    api_.firewall_rule_delete(&next);
}

TEST_F(FirewallSets, ARefusedCommitForgetsTheSetsPositions) {
    firewall_rule_t* kept = make_set();
    ASSERT_EQ(program(kept, {.source = "10.0.0.1"}), amxd_status_ok);
    ASSERT_EQ(api_.firewall_rule_apply(kept), amxd_status_ok);

    firewall_rule_t* refused = make_set();
    ASSERT_EQ(program(refused, {.source = "10.0.0.2", .protocols = "6,17"}), amxd_status_ok);
    ASSERT_EQ(fw_memory_refuse_next(1), 0);
    EXPECT_EQ(api_.firewall_rule_apply(refused), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "Fail to apply firewall rule"));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -j DROP"}));

    // The refused rules hold no position: deleting their set touches nothing, and the next
    // set goes right behind the kept one.
    const uint32_t commits = fw_apply_count();
    api_.firewall_rule_delete(&refused);
    EXPECT_EQ(fw_apply_count(), commits);
    firewall_rule_t* next = make_set();
    ASSERT_EQ(program(next, {.source = "10.0.0.3"}), amxd_status_ok);
    clear_traces();
    EXPECT_EQ(api_.firewall_rule_apply(next), amxd_status_ok);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=3"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -j DROP", "-s 10.0.0.3/32 -j DROP"}));
    api_.firewall_rule_delete(&kept);
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.3/32 -j DROP"}));
    api_.firewall_rule_delete(&next);
}

}  // namespace
