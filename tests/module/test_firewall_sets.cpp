// Rule sets whose rules the firewall refuses, driven through the module's own firewall
// functions and seen through the memory firewall's dump: the positions they leave behind must
// still match the chains (the golden cases cover sets that go in and out cleanly).
#include <amxc/amxc_scoped_var.h>
#include <fwinterface/backend.h>

#include "module_fixture.h"

namespace {

// One firewall_rule_set request; lists are comma-separated texts, NULL for none.
struct Request {
    const char* source = nullptr;
    const char* dest_ports = nullptr;
    const char* src_ports = nullptr;
    uint32_t src_end = 0;
    const char* protocols = nullptr;
};

class FirewallSets : public ModuleTest {
protected:
    firewall_rule_t* make_set() { return api_.rule_create("", false); }

    amxd_status_t program(firewall_rule_t* set, const Request& request) {
        amxc::ScopedVar dest;
        amxc::ScopedVar src;
        amxc::ScopedVar protocols;
        auto text = [](amxc::ScopedVar& var, const char* value) {
            return value == nullptr ? nullptr : (amxc_var_set_cstring_t(var.get(), value), var.get());
        };
        return api_.rule_set(set, request.source, nullptr, nullptr, nullptr, false, text(dest, request.dest_ports), 0,
                                      text(src, request.src_ports), request.src_end, text(protocols, request.protocols), 0, 0);
    }

    std::vector<std::string> firewall_info() const {
        std::vector<std::string> messages;
        for(const TraceLine& line : lines()) {
            if(line.zone == "firewall_rule" && line.mark == 'i') {
                messages.push_back(line.message);
            }
        }
        return messages;
    }
};

TEST_F(FirewallSets, AFailingRuleStopsTheRequestAndKeepsWhatWasMade) {
    firewall_rule_t* set = make_set();
    // The third row sets a source range end the firewall refuses; the fourth is never made.
    EXPECT_EQ(program(set, {.source = "10.0.0.1", .src_ports = "0,0,53,54", .src_end = 70000, .protocols = "6"}),
              amxd_status_unknown_error);
    EXPECT_EQ(count("Failed to set SourcePortEndRange"), 1);
    EXPECT_EQ(count("Configuring one of the rules failed, aborting"), 1);

    // The two complete rules go in; the half-configured third one is refused by the firewall.
    EXPECT_EQ(api_.rule_apply(set), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "Fail to apply rule index 3"));
    EXPECT_EQ(fw_pending_count(), 2u) << "nothing is committed after a failed insertion";
    api_.rule_delete(&set);
    EXPECT_EQ(dump(), expected_dump({}));
}

TEST_F(FirewallSets, AFailedInsertionStopsAndNeverInsertedRulesAreNotRemoved) {
    firewall_rule_t* set = make_set();
    ASSERT_EQ(program(set, {.source = "10.0.0.1", .protocols = "6"}), amxd_status_ok);
    // Ports without a protocol that has ports: configured, but no firewall takes it.
    ASSERT_EQ(program(set, {.source = "10.0.0.2", .dest_ports = "80"}), amxd_status_ok);
    ASSERT_EQ(program(set, {.source = "10.0.0.3"}), amxd_status_ok);
    const uint32_t commits = fw_apply_count();

    EXPECT_EQ(api_.rule_apply(set), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "Fail to apply rule index 2"));
    EXPECT_EQ(fw_apply_count(), commits) << "nothing committed";
    EXPECT_EQ(fw_pending_count(), 1u) << "the first rule is inserted and counted";

    clear_traces();
    api_.rule_delete(&set);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=2 (rm=1)"})) << "only the inserted rule is removed";
    EXPECT_EQ(dump(), expected_dump({}));

    // The counters still match the chain: the next rule goes to position 1.
    firewall_rule_t* next = make_set();
    ASSERT_EQ(program(next, {.source = "10.0.0.4"}), amxd_status_ok);
    clear_traces();
    EXPECT_EQ(api_.rule_apply(next), amxd_status_ok);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=2"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.4/32 -j DROP"}));
    api_.rule_delete(&next);
}

TEST_F(FirewallSets, ARefusedCommitForgetsTheSetsPositions) {
    firewall_rule_t* kept = make_set();
    ASSERT_EQ(program(kept, {.source = "10.0.0.1"}), amxd_status_ok);
    ASSERT_EQ(api_.rule_apply(kept), amxd_status_ok);

    firewall_rule_t* refused = make_set();
    ASSERT_EQ(program(refused, {.source = "10.0.0.2", .protocols = "6,17"}), amxd_status_ok);
    ASSERT_EQ(fw_memory_refuse_next(1), 0);
    EXPECT_EQ(api_.rule_apply(refused), amxd_status_unknown_error);
    EXPECT_TRUE(traced('x', "Fail to apply firewall rule"));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -j DROP"}));

    // The refused rules hold no position: deleting their set touches nothing, and the next
    // set goes right behind the kept one.
    const uint32_t commits = fw_apply_count();
    api_.rule_delete(&refused);
    EXPECT_EQ(fw_apply_count(), commits);
    firewall_rule_t* next = make_set();
    ASSERT_EQ(program(next, {.source = "10.0.0.3"}), amxd_status_ok);
    clear_traces();
    EXPECT_EQ(api_.rule_apply(next), amxd_status_ok);
    EXPECT_EQ(firewall_info(), (std::vector<std::string>{"i6=1 i4=3"}));
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.1/32 -j DROP", "-s 10.0.0.3/32 -j DROP"}));
    api_.rule_delete(&kept);
    EXPECT_EQ(dump(), expected_dump({"-s 10.0.0.3/32 -j DROP"}));
    api_.rule_delete(&next);
}

}  // namespace
