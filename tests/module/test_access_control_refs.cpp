// What an access control refers to: port rules, groups, hosts of the hosts service and
// schedules of the schedules service; how the control follows them and lets go of them.
#include "module_fixture.h"

namespace {

const Params ADDRESS_10 = {{"Type", "IPAddress"}, {"SourceIP", "192.168.1.10"}};
const Params ADDRESS_11 = {{"Type", "IPAddress"}, {"SourceIP", "192.168.1.11"}};
const std::string RECEIVED = "Received event: dm:object-changed";

using References = ModuleTest;

// ---- setting, changing and clearing references ---------------------------------------------

TEST_F(References, PortRulesAreFollowedAsTheyAreSetChangedAndCleared) {
    const std::string group = network_object({ADDRESS_10});
    const std::string web = port_rule({{"DestPort", "80"}, {"Protocol", "6"}});
    const std::string dns = port_rule({{"DestPort", "53"}, {"Protocol", "17"}});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", group}});
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -j DROP"}));

    ASSERT_EQ(set(control, {{"PortForwardingRuleRef", web}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -p tcp -m tcp --dport 80 -j DROP"}));

    // A change of the referenced rule is followed...
    ASSERT_EQ(set(web + ".", {{"DestPort", "8080"}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -p tcp -m tcp --dport 8080 -j DROP"}));

    // ...until the control refers to another one.
    ASSERT_EQ(set(control, {{"PortForwardingRuleRef", dns}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -p udp -m udp --dport 53 -j DROP"}));
    clear_traces();
    ASSERT_EQ(set(web + ".", {{"DestPort", "81"}}), 0);
    settle();
    EXPECT_FALSE(traced(RECEIVED));

    ASSERT_EQ(set(control, {{"PortForwardingRuleRef", ""}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -j DROP"}));
    clear_traces();
    ASSERT_EQ(set(dns + ".", {{"DestPort", "54"}}), 0);
    settle();
    EXPECT_FALSE(traced(RECEIVED));
}

TEST_F(References, GroupsAreFollowedAsTheyAreChangedAndCleared) {
    const std::string first = network_object({ADDRESS_10});
    const std::string second = network_object({ADDRESS_11});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", first}});
    tick(1000);

    ASSERT_EQ(set(control, {{"NetworkGroupRef", second}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.11/32 -j DROP"}));
    clear_traces();
    ASSERT_EQ(set(first + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    settle();
    EXPECT_FALSE(traced(RECEIVED)) << "the former group is no longer followed";

    ASSERT_EQ(set(control, {{"NetworkGroupRef", ""}}), 0);
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-j DROP"}));
}

// One transaction that changes several references: each of them is followed.
TEST_F(References, EveryReferenceOfOneChangeIsFollowed) {
    const std::string first = network_object({ADDRESS_10});
    const std::string second = network_object({ADDRESS_11});
    const std::string on = schedule("Active");
    const std::string off = schedule("Inactive");
    const std::string control =
        access_control({{"Enable", "true"}, {"NetworkGroupRef", first}, {"ScheduleRef", on}});
    tick(1000);
    ASSERT_EQ(get(control, "Status"), "Active");

    ASSERT_EQ(set(control, {{"NetworkGroupRef", second}, {"ScheduleRef", off}}), 0);
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Enabled_ScheduleInactive");
    EXPECT_EQ(dump(), expected_dump({}));

    ASSERT_EQ(set(off + ".", {{"Status", "Active"}}), 0);
    settle();
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.11/32 -j DROP"}));

    clear_traces();
    ASSERT_EQ(set(first + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    ASSERT_EQ(set(on + ".", {{"Status", "Inactive"}}), 0);
    settle();
    EXPECT_FALSE(traced(RECEIVED)) << "neither former reference is followed";
    EXPECT_EQ(get(control, "Status"), "Active");
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

TEST_F(References, ADeletedControlIsNoLongerReached) {
    const std::string group = network_object({ADDRESS_10});
    const std::string ports = port_rule({{"DestPort", "80"}, {"Protocol", "6"}});
    const std::string host_path = host({"192.168.1.30"});
    const std::string plan = schedule("Active");
    const std::string by_group = access_control(
        {{"Enable", "true"}, {"NetworkGroupRef", group}, {"PortForwardingRuleRef", ports}, {"ScheduleRef", plan}});
    const std::string by_host = access_control({{"Enable", "true"}, {"NetworkGroupRef", host_path}});
    tick(1000);
    ASSERT_EQ(del(by_group), 0);
    ASSERT_EQ(del(by_host), 0);
    settle();
    EXPECT_EQ(dump(), expected_dump({}));

    clear_traces();
    ASSERT_EQ(set(group + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    ASSERT_EQ(set(ports + ".", {{"DestPort", "81"}}), 0);
    ASSERT_EQ(set(plan + ".", {{"Status", "Inactive"}}), 0);
    ASSERT_EQ(add(host_path + ".IPv4Address.", {{"IPAddress", "192.168.1.31"}}), 0);
    tick(1000);
    EXPECT_FALSE(traced(RECEIVED));
    EXPECT_FALSE(traced("Received event: dm:instance-added"));
    EXPECT_EQ(dump(), expected_dump({}));
}

TEST_F(References, ControlsTornDownWithTheTreeLetGoOfTheServices) {
    const std::string host_path = host({"192.168.1.30"});
    const std::string plan = schedule("Active");
    access_control({{"Enable", "true"}, {"NetworkGroupRef", host_path}, {"ScheduleRef", plan}});
    tick(1000);
    unload();
    // The services outlive the module's tree: their events must find nobody.
    ASSERT_EQ(add(host_path + ".IPv4Address.", {{"IPAddress", "192.168.1.31"}}), 0);
    ASSERT_EQ(set(plan + ".", {{"Status", "Inactive"}}), 0);
    settle();
    EXPECT_FALSE(traced("Received event: dm:instance-added"));
    EXPECT_FALSE(traced(RECEIVED));
}

// A single-path reference written as a list, or with blanks around it: whatever was subscribed
// for it goes with the control.
TEST_F(References, OddlyWrittenReferencesLeaveNoSubscriptionBehind) {
    const std::string a = network_object({ADDRESS_10});
    const std::string b = network_object({ADDRESS_11});
    const std::string plan = schedule("Active");
    const std::string control =
        access_control({{"Enable", "true"}, {"NetworkGroupRef", a + "," + b}, {"ScheduleRef", " " + plan + " "}});
    tick(1000);
    ASSERT_EQ(del(control), 0);
    settle();

    clear_traces();
    ASSERT_EQ(set(a + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    ASSERT_EQ(set(b + ".Rule.1.", {{"SourceIP", "192.168.1.13"}}), 0);
    ASSERT_EQ(set(plan + ".", {{"Status", "Inactive"}}), 0);
    tick(1000);
    EXPECT_FALSE(traced(RECEIVED));
}

// A client may change and delete a control before the loop delivered the change: the control
// lets go of what it really subscribed, not of what its parameters say by then.
TEST_F(References, AControlDeletedBeforeItsChangeWasHandledLetsGoOfEverything) {
    const std::string a = network_object({ADDRESS_10});
    const std::string b = network_object({ADDRESS_11});
    const std::string on = schedule("Active");
    const std::string off = schedule("Inactive");
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", a}, {"ScheduleRef", on}});
    tick(1000);
    ASSERT_EQ(set(control, {{"NetworkGroupRef", b}, {"ScheduleRef", off}}), 0);
    ASSERT_EQ(del(control), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({}));

    clear_traces();
    ASSERT_EQ(set(a + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    ASSERT_EQ(set(on + ".", {{"Status", "Inactive"}}), 0);
    tick(1000);
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

// ---- hosts of the hosts service ------------------------------------------------------------

TEST_F(References, SwitchingFromAHostToAGroupMovesTheSubscription) {
    const std::string host_path = host({"192.168.1.20"});
    const std::string group = network_object({ADDRESS_10});
    const std::string control = access_control({{"Enable", "true"}, {"NetworkGroupRef", host_path}});
    tick(1000);
    ASSERT_EQ(set(control, {{"NetworkGroupRef", group}}), 0);
    tick(1000);
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -j DROP"}));

    clear_traces();
    ASSERT_EQ(add(host_path + ".IPv4Address.", {{"IPAddress", "192.168.1.21"}}), 0);
    settle();
    EXPECT_FALSE(traced("Received event: dm:instance-added"));
    ASSERT_EQ(set(group + ".Rule.1.", {{"SourceIP", "192.168.1.12"}}), 0);
    tick(1000);
    EXPECT_TRUE(traced(RECEIVED));
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.12/32 -j DROP"}));
}

// ---- schedules -----------------------------------------------------------------------------

TEST_F(References, SwitchingSchedulesFollowsTheNewOne) {
    const std::string group = network_object({ADDRESS_10});
    const std::string on = schedule("Active");
    const std::string off = schedule("Inactive");
    const std::string control =
        access_control({{"Enable", "true"}, {"NetworkGroupRef", group}, {"ScheduleRef", on}});
    tick(1000);
    ASSERT_EQ(set(control, {{"ScheduleRef", off}}), 0);
    tick(1000);
    EXPECT_EQ(get(control, "Status"), "Enabled_ScheduleInactive");

    clear_traces();
    ASSERT_EQ(set(on + ".", {{"Status", "Inactive"}}), 0);
    settle();
    EXPECT_FALSE(traced(RECEIVED)) << "the former schedule is no longer followed";

    // Cleared: the schedule no longer counts.
    ASSERT_EQ(set(control, {{"ScheduleRef", ""}}), 0);
    tick(1000);
    EXPECT_TRUE(traced('x', "path schedules should not be empty"));
    EXPECT_EQ(get(control, "Status"), "Active");
    EXPECT_EQ(dump(), expected_dump({"-s 192.168.1.10/32 -j DROP"}));
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
