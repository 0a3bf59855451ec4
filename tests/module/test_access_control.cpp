// Access controls from the inside: failures of the firewall, the commit delay, events that race
// a deletion and the range bound; the paths that work are golden cases.
#include <amxc/amxc_scoped_var.h>
#include <fwinterface/backend.h>

#include "module_fixture.h"

namespace {

class AccessControl : public ModuleTest {
protected:
    // An enabled control of a group of one address, programmed.
    std::string active_control(const Params& rule = ADDRESS_10, const std::string& ports = "") {
        const std::string group = network_object({rule});
        const std::string control =
            access_control({{"Enable", "true"}, {"NetworkGroupRef", group}, {"PortForwardingRuleRef", ports}});
        tick(1000);
        EXPECT_EQ(get(control, "Status"), "Active");
        return control;
    }
};

// Ports without a protocol that has ports cannot be expressed: the firewall refuses the rule,
// the whole set is withdrawn and the control reports the error.
TEST_F(AccessControl, RulesTheFirewallRefusesGiveAnErrorAndNoRule) {
    const std::string ports = port_rule({{"DestPort", "80"}, {"Protocol", "6"}});
    const std::string control = active_control(ADDRESS_10, ports);
    ASSERT_EQ(set(ports + ".", {{"Protocol", ""}}), 0);
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Error");
    EXPECT_EQ(dump(), expected_dump({}));
    EXPECT_EQ(fw_pending_count(), 0u);

    ASSERT_EQ(set(ports + ".", {{"Protocol", "17"}}), 0);
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -p udp -m udp --dport 80 -j DROP"}));
}

TEST_F(AccessControl, ARefusedCommitGivesAnErrorAndLeavesTheRulesetAsItWas) {
    active_control();
    const std::string group = network_object({ADDRESS_11});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", group}});
    ASSERT_EQ(fw_memory_refuse_next(1), 0);
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Error");
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -j DROP"}));

    // The positions still match the chain: the next update lands behind the first control.
    ASSERT_EQ(set(control, {{"Enable", "false"}}), 0);
    ASSERT_EQ(set(control, {{"Enable", "true"}}), 0);
    settle();
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -j DROP", "-s 192.168.1.11/32 -j DROP"}));
}

TEST_F(AccessControl, ChangesWithinOneSecondGiveOneRebuild) {
    const std::string group = network_object({ADDRESS_10});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", group}});
    tick(1000);
    ASSERT_EQ(get(control, "Status"), "Active");
    const uint32_t commits = fw_apply_count();
    clear_traces();

    for(const char* address : {"192.168.1.20", "192.168.1.21", "192.168.1.22"}) {
        ASSERT_EQ(set(group + ".Rule.1.", {{"SourceIP", address}}), 0);
        tick(400);
    }
    EXPECT_EQ(count("Received event: dm:object-changed"), 3);
    tick(599);
    EXPECT_EQ(fw_apply_count(), commits) << "nothing before one second after the last change";
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -j DROP"}));

    tick(1);
    EXPECT_EQ(fw_apply_count(), commits + 2) << "one rebuild: one removal and one insertion";
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.22/32 -j DROP"}));
}

// A client may delete a control before the loop delivered its creation: there is nothing of
// the module's to release yet, and the deletion goes through.
TEST_F(AccessControl, AControlDeletedBeforeItWasSetUpIsDeleted) {
    const std::string group = network_object({ADDRESS_10});
    uint32_t index = 0;
    ASSERT_EQ(add(path("AccessControl."), {{"Enable", "true"}, {"NetworkGroupRef", group}}, "", &index), 0);
    EXPECT_EQ(del(path("AccessControl." + std::to_string(index) + ".")), 0);
    tick(1000);
    EXPECT_EQ(amxd_object_get_instance_count(amxd_dm_findf(module_.dm, "%s", path("AccessControl.").c_str())), 0u);
    EXPECT_EQ(dump(), expected_dump({}));
    clear_traces();
    ASSERT_EQ(set(group + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    tick(1000);
    EXPECT_FALSE(traced("Received event: dm:object-changed"));
}

TEST_F(AccessControl, RangeExpansionNeverGoesPastItsEnd) {
    amxc::ScopedVar scoped;
    amxc_var_t* sources = scoped.get();
    amxc_var_set_type(sources, AMXC_VAR_ID_LIST);
    EXPECT_FALSE(api_.convert_ip_range(sources, "10.0.0.9", "10.0.0.1"));
    EXPECT_TRUE(traced('!', "IPRange:10.0.0.9-10.0.0.1 ends before it starts"));
    EXPECT_FALSE(api_.convert_ip_range(sources, "10.0.0.1", "2001:db8::1"));
    EXPECT_EQ(amxc_var_size(sources), 0u);

    // The largest range allowed, and one address more.
    EXPECT_TRUE(api_.convert_ip_range(sources, "10.0.0.0", "10.0.255.255"));
    EXPECT_EQ(amxc_var_size(sources), 65536u);
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxc_var_get_key(amxc_var_get_last(sources), "SourceIP",
                                                                AMXC_VAR_FLAG_DEFAULT)),
                 "10.0.255.255");
    EXPECT_FALSE(api_.convert_ip_range(sources, "10.0.0.0", "10.1.0.0"));
    EXPECT_EQ(amxc_var_size(sources), 65536u);
}

}  // namespace
