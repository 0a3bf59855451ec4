// %populate: what cannot apply is refused before anything changes.
#include <string>

#include "amxo_fixture.h"

namespace {

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

using Populate = AmxoTest;

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
