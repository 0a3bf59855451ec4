// The four filters that access-control instances put on their bus subscriptions, written
// exactly as the service passes them (long runs of blanks included), against the events they
// must let through and those they must hold back.

#include <gtest/gtest.h>

#include "test_expr_event_data.h"

namespace {

const char* const port_forwarding_filter =
    R"(((notification == 'dm:object-changed') &&                                                   (contains('parameters.SourcePort') || contains('parameters.SourcePortEndRange') ||                                                   contains('parameters.DestPort') || contains('parameters.DestPortEndRange') ||                                                   contains('parameters.Protocol') || contains('parameters.Code') || contains('parameters.Type'))))";
const char* const network_group_filter = R"((notification == 'dm:object-changed') && contains('parameters.NetworkObjectIPList'))";
const char* const hosts_filter = R"(notification in ['dm:object-changed', 'dm:instance-added'] && contains('parameters.IPAddress'))";
const char* const schedules_filter =
    R"((notification == 'dm:object-changed') &&                                              (contains('parameters.Status') || contains('parameters.InverseMode')))";

}  // namespace

TEST(ExprSubscriptions, PortForwardingRuleFilter) {
    const char* const pfr = "Device.NetworkSettings.PortForwardingRule.1.";
    for (const char* parameter :
         {"SourcePort", "SourcePortEndRange", "DestPort", "DestPortEndRange", "Protocol", "Code", "Type"}) {
        EXPECT_TRUE(eval(port_forwarding_filter, Event("dm:object-changed", pfr).changed(parameter, 80u, 8080u)))
            << parameter;
    }
    EXPECT_TRUE(eval(port_forwarding_filter,
                     Event("dm:object-changed", pfr).changed("Description", "a", "b").changed("Protocol", "6", "17")));
    EXPECT_FALSE(eval(port_forwarding_filter, Event("dm:object-changed", pfr).changed("Description", "a", "b")));
    EXPECT_FALSE(eval(port_forwarding_filter, Event("dm:object-changed", pfr).changed("Enable", false, true)));
    EXPECT_FALSE(eval(port_forwarding_filter, Event("dm:instance-added", pfr).with("DestPort", "80")));
    // A name that merely starts like a watched one is another parameter.
    EXPECT_FALSE(eval(port_forwarding_filter, Event("dm:object-changed", pfr).changed("DestPortX", 1u, 2u)));
}

TEST(ExprSubscriptions, NetworkGroupFilter) {
    const char* const group = "Device.NetworkSettings.NetworkObject.2.";
    EXPECT_TRUE(eval(network_group_filter,
                     Event("dm:object-changed", group).changed("NetworkObjectIPList", "", "192.168.1.2")));
    EXPECT_FALSE(eval(network_group_filter, Event("dm:object-changed", group).changed("Alias", "a", "b")));
    EXPECT_FALSE(eval(network_group_filter, Event("dm:instance-added", group).with("NetworkObjectIPList", "")));
}

TEST(ExprSubscriptions, HostsFilter) {
    const char* const host = "Hosts.Host.3.";
    EXPECT_TRUE(eval(hosts_filter, Event("dm:instance-added", host).with("IPAddress", "192.168.1.20")));
    EXPECT_TRUE(eval(hosts_filter, Event("dm:object-changed", host).changed("IPAddress", "", "192.168.1.20")));
    EXPECT_FALSE(eval(hosts_filter, Event("dm:object-changed", host).changed("HostName", "a", "b")));
    EXPECT_FALSE(eval(hosts_filter, Event("dm:instance-removed", host).with("IPAddress", "192.168.1.20")));
}

TEST(ExprSubscriptions, SchedulesFilter) {
    const char* const schedule = "Schedules.Schedule.1.";
    EXPECT_TRUE(eval(schedules_filter, Event("dm:object-changed", schedule).changed("Status", "Inactive", "Active")));
    EXPECT_TRUE(eval(schedules_filter, Event("dm:object-changed", schedule).changed("InverseMode", false, true)));
    EXPECT_FALSE(eval(schedules_filter, Event("dm:object-changed", schedule).changed("Name", "a", "b")));
    EXPECT_FALSE(eval(schedules_filter, Event("dm:instance-added", schedule).with("Status", "Active")));
}

TEST(ExprSubscriptions, FiltersHoldBackEventsWithoutTheirFields) {
    Table empty;
    for (const char* filter : {port_forwarding_filter, network_group_filter, hosts_filter, schedules_filter}) {
        EXPECT_FALSE(eval(filter, empty)) << filter;
        EXPECT_FALSE(eval(filter, nullptr)) << filter;
    }
}
