// %populate: instances and values go in through one transaction, after the definitions of the
// same load, and their events reach the bound handlers once the loop runs.
#include <cstdlib>
#include <string>
#include <vector>

#include "amxo_fixture.h"

namespace {

using Records = std::vector<std::string>;

const char* kDefinition = R"(
import "test-module-a.so" as "a";
%config { prefix_ = "X_"; }
%define {
    object Device {
        object "${prefix_}NetworkSettings" {
            object PortForwardingRule[] {
                string DestPort;
                string Protocol;
                %read-only string Status = "Inactive";
                uint32 Port = 1 { on action validate call _test_range { min = 1; max = 1000; }; }
                object ICMP { uint32 Type = 0; }
                on event "dm:instance-added" call _test_event;
            }
            object NetworkObject[] {
                string Name;
                object Rule[] { string SourceIP; }
            }
        }
    }
}
)";

class Populate : public AmxoTest {
protected:
    std::string value(const std::string& path, const char* param) {
        char* s = amxd_object_get_cstring_t(find(path), param, nullptr);
        std::string out = s != nullptr ? s : "(null)";
        std::free(s);
        return out;
    }
};

TEST_F(Populate, AddsInstancesWithValuesAfterTheDefinitions) {
    const std::string definition = std::string(kDefinition) + R"(
%populate {
    object "Device.${prefix_}NetworkSettings.PortForwardingRule" {
        instance add(0, "web") {
            parameter DestPort = "80,443";
            parameter Protocol = 6;
            parameter Status = "Active";
            object ICMP { parameter Type = 8; }
        }
        instance add(7) { parameter Port = 22; }
        instance add();
    }
    object Device.X_NetworkSettings.NetworkObject {
        instance add(0, "lan") {
            parameter Name = "LAN";
            object Rule { instance add(0, "r1") { parameter SourceIP = "10.0.0.1"; } }
        }
    }
}
)";
    ASSERT_EQ(parse(definition), 0) << message();
    const std::string pfr = "Device.X_NetworkSettings.PortForwardingRule";
    EXPECT_EQ(value(pfr + ".web", "DestPort"), "80,443");
    EXPECT_EQ(value(pfr + ".1", "Protocol"), "6") << "the named instance took the first index";
    EXPECT_EQ(value(pfr + ".web", "Status"), "Active") << "definitions may give read-only parameters values";
    EXPECT_EQ(value(pfr + ".web.ICMP", "Type"), "8");
    EXPECT_EQ(value(pfr + ".7", "Port"), "22");
    EXPECT_EQ(amxd_object_get_instance_count(find(pfr)), 3u);
    EXPECT_EQ(value("Device.X_NetworkSettings.NetworkObject.lan.Rule.r1", "SourceIP"), "10.0.0.1");

    run_loop();
    const Records calls = take_records();
    EXPECT_EQ(calls, (Records{"a: range 3 Port=22 priv={min=1,max=1000}",
                              "a: event dm:instance-added " + pfr + ". priv=" + pfr + ".",
                              "a: event dm:instance-added " + pfr + ". priv=" + pfr + ".",
                              "a: event dm:instance-added " + pfr + ". priv=" + pfr + "."}))
        << "validation runs in the transaction; each added instance raises one event on the loop";
}

TEST_F(Populate, FillsObjectsOfEarlierLoads) {
    ASSERT_EQ(parse(kDefinition), 0) << message();
    ASSERT_EQ(parse("%populate { object Device.X_NetworkSettings.PortForwardingRule { instance add(0, \"ssh\"); } }"), 0)
        << message();
    ASSERT_EQ(parse("%populate { object Device.X_NetworkSettings.PortForwardingRule.ssh { parameter DestPort = \"22\"; } }"), 0)
        << message();
    EXPECT_EQ(value("Device.X_NetworkSettings.PortForwardingRule.ssh", "DestPort"), "22");
}

TEST_F(Populate, RefusesWhatCannotApplyBeforeTouchingAnything) {
    ASSERT_EQ(parse(kDefinition), 0) << message();
    const std::string before = dump();
    const std::pair<std::string, std::string> cases[] = {
        {"%populate { object Device.X_NetworkSettings.PortForwardingRule { parameter DestPort = \"1\"; } }",
         "<string>:1: 'Device.X_NetworkSettings.PortForwardingRule.' is a multi-instance object; set parameters on its instances"},
        {"%populate { object Device.X_NetworkSettings { instance add(); } }",
         "<string>:1: 'Device.X_NetworkSettings.' is not a multi-instance object"},
        {"%populate { object Device.X_NetworkSettings.PortForwardingRule { instance add(0, \"a\") { parameter Port = \"many\"; } } }",
         "<string>:1: value 'many' is not valid for 'Port' (uint32_t)"},
        {"%populate { object Device.X_NetworkSettings.PortForwardingRule { instance add(0, \"a\"); instance add(0, \"a\"); } }",
         "<string>:1: instance 'a' of 'Device.X_NetworkSettings.PortForwardingRule.' already exists"},
        {"%populate { object Device.X_NetworkSettings.PortForwardingRule { instance add(4); instance add(4); } }",
         "<string>:1: instance 4 of 'Device.X_NetworkSettings.PortForwardingRule.' already exists"},
        {"%populate { object Device.X_NetworkSettings.PortForwardingRule.nothing { } }",
         "<string>:1: no instance 'nothing' in 'Device.X_NetworkSettings.PortForwardingRule.'"},
        {"%populate { object Device.X_NetworkSettings.PortForwardingRule { instance add(0, \"123\"); } }",
         "<string>:1: invalid instance name '123'"},
        {"%populate { object Device..X { } }", "<string>:1: expected an object path, found '.'"},
        {"%populate { object \"Device..X\" { } }", "<string>:1: invalid object path 'Device..X'"},
        {"%populate { object Device.X_NetworkSettings.PortForwardingRule { instance add(0, \"a\") { parameter Port = 5000; } } }",
         "<string>:1: populate refused: invalid value for Device.X_NetworkSettings.PortForwardingRule.1.Port"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_NE(parse(text), 0) << text;
        EXPECT_EQ(message(), expected) << text;
        EXPECT_EQ(dump(), before) << text;
    }
    run_loop();
    take_records();
}

}  // namespace
