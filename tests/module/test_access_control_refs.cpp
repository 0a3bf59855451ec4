// What an access control refers to: port rules, groups, hosts of the hosts service and
// schedules of the schedules service; how the control follows them and lets go of them.
#include "module_fixture.h"

namespace {

const std::string RECEIVED = "Received event: dm:object-changed";
const std::string ADDED = "Received event: dm:instance-added";

using References = ModuleTest;

// A control follows what each reference names now: after a switch (of one reference, or of
// several in one change) or a clear, changes of the former objects reach nothing.
TEST_F(References, SwitchedAndClearedReferencesAreNoLongerFollowed) {
    const std::string host_path = host("192.168.1.20");
    const std::string group = network_object({ADDRESS_10});
    const std::string web = port_rule({{"DestPort", "80"}, {"Protocol", "6"}});
    const std::string dns = port_rule({{"DestPort", "53"}, {"Protocol", "17"}});
    const std::string on = schedule("Active");
    const std::string off = schedule("Inactive");
    const std::string control = access_control(
        {{"Enable", "true"}, {"NetworkGroupRef", host_path}, {"PortForwardingRuleRef", web}, {"ScheduleRef", on}});
    tick(1000);
    ASSERT_EQ(set(web + ".", {{"DestPort", "8080"}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.20/32 -p tcp -m tcp --dport 8080 -j DROP"}));

    ASSERT_EQ(set(control, {{"NetworkGroupRef", group}}), 0);
    tick(1000);
    ASSERT_EQ(set(control, {{"PortForwardingRuleRef", dns}, {"ScheduleRef", off}}), 0);
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Enabled_ScheduleInactive");
    EXPECT_EQ(dump(), expected_dump({}));
    ASSERT_EQ(set(off + ".", {{"Status", "Active"}}), 0);
    settle();
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -p udp -m udp --dport 53 -j DROP"}));

    clear_traces();
    ASSERT_EQ(add(host_path + ".IPv4Address.", {{"IPAddress", "192.168.1.21"}}), 0);
    ASSERT_EQ(set(web + ".", {{"DestPort", "81"}}), 0);
    ASSERT_EQ(set(on + ".", {{"Status", "Inactive"}}), 0);
    settle();
    EXPECT_FALSE(traced(RECEIVED) || traced(ADDED)) << "none of the former references is followed";
    ASSERT_EQ(set(group + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.12/32 -p udp -m udp --dport 53 -j DROP"}));

    // Cleared: a group, port rule or schedule that is not named no longer counts.
    ASSERT_EQ(set(control, {{"NetworkGroupRef", ""}, {"PortForwardingRuleRef", ""}, {"ScheduleRef", ""}}), 0);
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-j DROP"}));
    clear_traces();
    ASSERT_EQ(set(group + ".Rule.1.", {{"SourceIP", "192.168.1.13"}}), 0);
    ASSERT_EQ(set(dns + ".", {{"DestPort", "54"}}), 0);
    ASSERT_EQ(set(off + ".", {{"Status", "Inactive"}}), 0);
    settle();
    EXPECT_FALSE(traced(RECEIVED));
}

// ---- subscriptions never outlive the control -----------------------------------------------

TEST_F(References, APartlyFailedSubscriptionIsCancelledAtOnce) {
    const std::string ports = port_rule({{"DestPort", "80"}, {"Protocol", "6"}});
    const std::string control = access_control({{"Enable", "true"}, {"PortForwardingRuleRef", ports + ",Nowhere.Rule.1"}});
    EXPECT_TRUE(traced('x', "Fail to subscibe to Nowhere.Rule.1 (status = 2)"));
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Error") << "a reference that cannot be followed dangles";
    EXPECT_EQ(get(control, "StatusInfo"), "PortForwardingRuleRef Nowhere.Rule.1 not found");

    clear_traces();
    ASSERT_EQ(set(ports + ".", {{"DestPort", "81"}}), 0);
    tick(1000);
    EXPECT_FALSE(traced(RECEIVED));
    ASSERT_EQ(del(control), 0);
    ASSERT_EQ(set(ports + ".", {{"DestPort", "82"}}), 0);
    tick(1000);
    EXPECT_FALSE(traced(RECEIVED));
}

// Deleted controls are reached by nothing they referred to: one of every reference, one of a
// host, one whose references are oddly written (a list for one path, blanks around a path),
// and one changed and deleted before the loop delivered the change (it lets go of what it
// really subscribed, not of what its parameters say by then).
TEST_F(References, DeletedControlsAreNoLongerReached) {
    const std::string group = network_object({ADDRESS_10});
    const std::string other = network_object({ADDRESS_11});
    const std::string ports = port_rule({{"DestPort", "80"}, {"Protocol", "6"}});
    const std::string host_path = host("192.168.1.30");
    const std::string plan = schedule("Active");
    const std::string off = schedule("Inactive");
    const std::vector<std::string> controls = {
        access_control({{"Enable", "true"}, {"NetworkGroupRef", group}, {"PortForwardingRuleRef", ports}, {"ScheduleRef", plan}}),
        access_control({{"Enable", "true"}, {"NetworkGroupRef", host_path}}),
        access_control({{"Enable", "true"}, {"NetworkGroupRef", group + "," + other}, {"ScheduleRef", " " + plan + " "}}),
        access_control({{"Enable", "true"}, {"NetworkGroupRef", group}, {"ScheduleRef", plan}})};
    tick(1000);
    ASSERT_EQ(set(controls.back(), {{"NetworkGroupRef", other}, {"ScheduleRef", off}}), 0);
    for(const std::string& control : controls) {
        ASSERT_EQ(del(control), 0);
    }
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({}));

    clear_traces();
    ASSERT_EQ(set(group + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    ASSERT_EQ(set(other + ".Rule.1.", {{"SourceIP", "192.168.1.13"}}), 0);
    ASSERT_EQ(set(ports + ".", {{"DestPort", "81"}}), 0);
    ASSERT_EQ(set(plan + ".", {{"Status", "Inactive"}}), 0);
    ASSERT_EQ(add(host_path + ".IPv4Address.", {{"IPAddress", "192.168.1.31"}}), 0);
    tick(1000);
    EXPECT_FALSE(traced(RECEIVED));
    EXPECT_FALSE(traced(ADDED));
    EXPECT_EQ(dump(), expected_dump({}));
}

TEST_F(References, ControlsTornDownWithTheTreeWithdrawTheirRulesAndLetGoOfTheServices) {
    const std::string host_path = host("192.168.1.30");
    const std::string plan = schedule("Active");
    access_control({{"Enable", "true"}, {"NetworkGroupRef", host_path}, {"ScheduleRef", plan}});
    tick(1000);
    ASSERT_EQ(dump(), expected_dump({"-s 192.168.1.30/32 -j DROP"}));
    unload();
    EXPECT_EQ(dump(), expected_dump({})) << "stop withdraws every rule";
    // The services outlive the module's tree: their events must find nobody.
    ASSERT_EQ(add(host_path + ".IPv4Address.", {{"IPAddress", "192.168.1.31"}}), 0);
    ASSERT_EQ(set(plan + ".", {{"Status", "Inactive"}}), 0);
    settle();
    EXPECT_FALSE(traced(ADDED));
    EXPECT_FALSE(traced(RECEIVED));
}

TEST_F(References, AReferenceChangedBeforeTheControlWasSetUpIsFollowedOnce) {
    const std::string a = network_object({ADDRESS_10});
    const std::string b = network_object({ADDRESS_11});
    uint32_t index = 0;
    ASSERT_EQ(add(path("AccessControl."), {{"Enable", "true"}, {"NetworkGroupRef", a}}, "", &index), 0);
    const std::string control = path("AccessControl." + std::to_string(index) + ".");
    ASSERT_EQ(set(control, {{"NetworkGroupRef", b}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.11/32 -j DROP"}));

    clear_traces();
    ASSERT_EQ(set(b + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    ASSERT_EQ(set(a + ".Rule.1.", {{"SourceIP", "192.168.1.13"}}), 0);
    settle();
    EXPECT_EQ(count(RECEIVED), 1) << "one subscription, on the group in force";
    ASSERT_EQ(del(control), 0);
    clear_traces();
    ASSERT_EQ(set(b + ".Rule.1.", {{"SourceIP", "192.168.1.14"}}), 0);
    tick(1000);
    EXPECT_FALSE(traced(RECEIVED));
}

TEST_F(References, AnInactiveScheduleLooksUpNothing) {
    const std::string plan = schedule("Inactive");
    const std::string control =
        access_control({{"Enable", "true"}, {"NetworkGroupRef", path("NetworkObject.99")}, {"ScheduleRef", plan}});
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Enabled_ScheduleInactive");
    EXPECT_FALSE(traced(path("NetworkObject.99") + " object not found"));
}

}  // namespace
