// gwrt keeps the module's configuration across restarts and crashes: the same objects at the
// same paths, the same firewall rules, and a damaged state file set aside for the last good one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <amxj/amxj.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "socket_path.h"
#include "state_file.h"
#include "support/json_text.h"
#include "support/raw_client.h"
#include "support/test_runtime.h"

namespace {

using gwtest::Outcome;
using gwtest::RuntimeSetup;
using gwtest::TestRuntime;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kRoot = "Device.NetworkSettings.";

RuntimeSetup saving_setup(unsigned delay_ms) {
    return gwtest::module_setup("    state = { dir = \"state\"; delay = " + std::to_string(delay_ms) +
                  "; export = \"Device.${prefix_}NetworkSettings._Export\"; "
                  "import = \"Device.${prefix_}NetworkSettings._Import\"; "
                  "ignore = [ \"Status\", \"RuleIPList\", \"NetworkObjectIPList\" ]; "
                  "services = [ { export = \"Schedules._Export\"; import = \"Schedules._Import\"; } ]; };\n"
                  "    schedules-sync-check = \"none\";\n");
}

std::string state_file(const TestRuntime& runtime) { return runtime.dir().file("state/gwrt-state.json"); }

// The export tree of the state file as compact JSON; "" when the file does not read as good.
std::string saved_export(const TestRuntime& runtime) {
    amxc::ScopedVar state;
    std::string error;
    return gw::decode_state_file(gwtest::read_file(state_file(runtime)), state.get(), error)
               ? gwtest::json_text(amxc_var_get_key(state.get(), "export", AMXC_VAR_FLAG_DEFAULT))
               : "";
}

// Waits until the state file holds what the module exports now.
bool wait_saved(const TestRuntime& runtime) {
    std::string now = gwtest::compact_json(runtime.ctl({"call", kRoot, "_Export"}).out);
    return !now.empty() && gwtest::wait_until([&] { return saved_export(runtime) == now; });
}

void ok(const TestRuntime& runtime, const std::vector<std::string>& args) {
    Outcome outcome = runtime.ctl(args);
    ASSERT_EQ(outcome.exit_code, 0) << args[0] << " " << args[1] << ": " << outcome.err;
}

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Everything a client sees: the whole tree (computed values included) and the firewall. A
// network object's Alias is not part of the module's export (only its Name and rules are), so
// it is left out.
std::string snapshot(const TestRuntime& runtime) {
    std::string tree;
    for (const std::string& line : gwtest::lines(runtime.ctl({"get", kRoot}).out + runtime.ctl({"get", "Schedules."}).out)) {
        bool object_alias = line.find(".Rule.") == std::string::npos && line.find("NetworkObject.") != std::string::npos &&
                            line.find(".Alias=") != std::string::npos;
        tree += object_alias ? "" : line + "\n";
    }
    // Rules land in a chain in the order their access controls were last rebuilt, which a
    // restore cannot replay; all are independent drops, so the set of rules is what counts.
    return tree + gwtest::sorted_lines(runtime.ctl({"firewall"}).out);
}

std::vector<std::string> values_of(const std::string& get_output, const std::string& param) {
    std::vector<std::string> values;
    for (const std::string& line : gwtest::lines(get_output)) {
        std::size_t at = line.find("." + param + "=");
        if (at != std::string::npos) {
            values.push_back(line.substr(at + param.size() + 2));
        }
    }
    return values;
}

TEST(Persistence, RestartKeepsPathsReferencesAndTheFirewall) {
    TestRuntime runtime(saving_setup(50));
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    const std::string no = kRoot + "NetworkObject.", pfr = kRoot + "PortForwardingRule.", ac = kRoot + "AccessControl.";
    ok(runtime, {"add", no, "Name=old"});
    ok(runtime, {"add", no, "Name=kids"});
    ok(runtime, {"add", no + "2.Rule.", "Type=IPAddress", "SourceIP=192.168.1.9"});
    ok(runtime, {"add", no + "2.Rule.", "Type=IPRange", "SourceIP=192.168.1.10", "SourceIPRangeMax=192.168.1.12"});
    ok(runtime, {"add", no, "--name", "guests", "Name=guests"});
    ok(runtime, {"add", no + "3.Rule.", "Type=IPAddress", "SourceIP=192.168.1.50"});
    ok(runtime, {"add", no + "3.Rule.", "Type=IPAddress", "SourceIP=2001:db8::5"});
    ok(runtime, {"add", pfr, "Protocol=1"});
    ok(runtime, {"add", pfr, "DestPort=80,443", "Protocol=6"});
    ok(runtime, {"add", pfr, "DestPort=53", "Protocol=17"});
    ok(runtime, {"set", pfr + "2.ICMP.", "Type=8"});
    // Schedules are kept beside the module's tree, a computed one and a client's alike.
    ok(runtime, {"add", "Schedules.Schedule.", "Name=gone"});
    ok(runtime, {"add", "Schedules.Schedule.", "Name=always", "TimeZone=Asia/Tokyo"});
    ok(runtime, {"add", "Schedules.Schedule.2.Window.", "Days=Mon,Tue,Wed,Thu,Fri,Sat,Sun", "StartTime=06:00", "EndTime=06:00"});
    ok(runtime, {"add", "Schedules.Schedule.", "--name", "manual", "Status=Active"});
    ok(runtime, {"del", "Schedules.Schedule.1."});
    // A table whose only index, 1, is gone: its counter is all that remembers it.
    ok(runtime, {"add", "Schedules.Schedule.3.Window.", "Days=Mon", "StartTime=06:00", "EndTime=07:00"});
    ok(runtime, {"del", "Schedules.Schedule.3.Window.1."});
    ok(runtime, {"add", ac, "Enable=true", "NetworkGroupRef=" + no + "1"});
    ok(runtime, {"add", ac, "Enable=true", "NetworkGroupRef=" + no + "2", "PortForwardingRuleRef=" + pfr + "2"});
    ok(runtime, {"add", ac, "Enable=true", "NetworkGroupRef=" + no + "3", "PortForwardingRuleRef=" + pfr + "2," + pfr + "3",
                 "ScheduleRef=Schedules.Schedule.2"});
    ok(runtime, {"add", ac, "--name", "night", "NetworkGroupRef=" + no + "3"});
    // Gaps everywhere: a restart that renumbered would point the references elsewhere.
    ok(runtime, {"del", ac + "1."});
    ok(runtime, {"del", no + "1."});
    ok(runtime, {"del", pfr + "1."});
    ok(runtime, {"del", no + "2.Rule.1."});
    // The highest index deleted: after the restart it must not be given out again.
    ok(runtime, {"add", no, "Name=gone"});
    ok(runtime, {"del", no + "4."});
    ASSERT_TRUE(gwtest::wait_until([&] {
        return runtime.ctl({"get", ac + "3.Status"}).out == ac + "3.Status=Active\n" &&
               runtime.ctl({"get", ac + "2.Status"}).out == ac + "2.Status=Active\n";
    })) << runtime.ctl({"get", ac}).out;
    ASSERT_TRUE(wait_saved(runtime));
    // Rebuilds still due would change the firewall after the snapshot: wait them out.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::string before = snapshot(runtime);
    ASSERT_THAT(before, HasSubstr("192.168.1.11/32 -p tcp -m tcp --dport 443 -j DROP"));
    ASSERT_THAT(before, HasSubstr("2001:db8::5/128 -p udp -m udp --dport 53 -j DROP"));

    // A crash after the save: what was saved comes back, computed values and rules included.
    runtime.signal(SIGKILL);
    runtime.outcome();
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    EXPECT_TRUE(gwtest::wait_until([&] { return snapshot(runtime) == before; }))
        << "before:\n" << before << "after:\n" << snapshot(runtime);
    EXPECT_THAT(runtime.stderr_text(), Not(HasSubstr("state:")));
    // New instances continue after every index given before the stop.
    EXPECT_EQ(runtime.ctl({"add", no}).out, no + "5.\n");
    EXPECT_EQ(runtime.ctl({"add", no + "2.Rule."}).out, no + "2.Rule.3.\n");
    EXPECT_EQ(runtime.ctl({"add", "Schedules.Schedule.3.Window.", "Days=Mon", "StartTime=06:00", "EndTime=07:00"}).out,
              "Schedules.Schedule.3.Window.2.\n");
    gwtest::expect_clean_exit(runtime.stop());
}

TEST(Persistence, CleanStopWritesAPendingSave) {
    TestRuntime runtime(saving_setup(60000));
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    ok(runtime, {"add", kRoot + "NetworkObject.", "Name=late"});
    EXPECT_EQ(gwtest::read_file(state_file(runtime)), "") << "saved before the delay";
    gwtest::expect_clean_exit(runtime.stop());
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    EXPECT_EQ(runtime.ctl({"get", kRoot + "NetworkObject.1.Name"}).out, kRoot + "NetworkObject.1.Name=late\n");
    runtime.stop();
}

TEST(Persistence, KillDuringABurstLeavesTheLastGoodState) {
    const std::string pfr = kRoot + "PortForwardingRule.", ac = kRoot + "AccessControl.";
    for (int kill_at : {347, 600, 1000}) {
        TestRuntime runtime(saving_setup(0));  // a save after nearly every change: kills land mid-save
        ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
        ok(runtime, {"add", pfr, "Description=d-0"});
        ASSERT_TRUE(wait_saved(runtime));  // saves run beside the burst: one must be there to be kept
        {
            // A client of its own, so that a burst is not slowed down by starting a process per change.
            gwtest::RawClient client(runtime.socket());
            ASSERT_TRUE(client.connected());
            // Change k (1..1000): every tenth adds an access control "b-k", the others rename the rule "d-k".
            for (int k = 1; k <= 1000; ++k) {
                const std::string n = std::to_string(k);
                const std::string request =
                    k % 10 == 0 ? R"({"id": 1, "op": "add", "path": ")" + ac + R"(", "index": 0, "name": "", "values": {"Alias": "b-)" + n + "\"}}"
                                : R"({"id": 1, "op": "set", "path": ")" + pfr + R"(1.", "values": {"Description": "d-)" + n + "\"}}";
                const std::string reply = client.send_frame(request) ? client.read_frame() : "";
                if (k == kill_at) {
                    ASSERT_TRUE(k < 1000 || wait_saved(runtime)) << "the end of a burst is not saved";
                    runtime.signal(SIGKILL);
                }
                if (reply.find("\"status\":0") == std::string::npos) {
                    ASSERT_GT(k, kill_at) << "change " << k << " refused: " << reply;
                    break;
                }
            }
        }
        runtime.outcome();
        // A save's process, forked just before the kill, may hold the listener a moment longer.
        std::string reason;
        ASSERT_TRUE(gwtest::wait_until([&] { return gw::probe_socket(runtime.socket(), reason) != gw::SocketProbe::live; }));
        ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
        EXPECT_THAT(runtime.stderr_text(), Not(HasSubstr("state:")));
        // One moment of the sequence: the rule's last name "d-j", and exactly the additions up to it.
        std::vector<std::string> description = values_of(runtime.ctl({"get", pfr + "1.Description"}).out, "Description");
        ASSERT_EQ(description.size(), 1u);
        int j = std::stoi(description[0].substr(2));
        EXPECT_LE(j, kill_at);
        std::vector<std::string> expected;
        for (int m = 10; m <= j + 1; m += 10) {
            expected.push_back("b-" + std::to_string(m));
        }
        std::vector<std::string> aliases = values_of(runtime.ctl({"get", ac}).out, "Alias");
        if ((j + 1) % 10 == 0 && aliases.size() + 1 == expected.size()) {
            expected.pop_back();  // saved just before the addition that followed d-j
        }
        EXPECT_EQ(aliases, expected) << "last description d-" << j;
        EXPECT_THAT(files_in(runtime.dir().file("state")), Not(::testing::Contains(::testing::HasSubstr("corrupt"))));
        gwtest::expect_clean_exit(runtime.stop());
    }
}

void damage(const std::string& path, bool truncate) {
    std::string bytes = gwtest::read_file(path);
    ASSERT_FALSE(bytes.empty()) << path;
    if (truncate) {
        bytes.resize(bytes.size() / 2);
    } else {
        bytes[bytes.size() / 2] ^= 0x01;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A file with a sound checksum that the module does not take.
void write_unrestorable(const TestRuntime& runtime, const std::string& name) {
    amxc::ScopedVar state;
    const std::string text = R"({"instances":{},"export":{"data":{"set":{"hgwconfig":{"NetworkSettings":{"AccessControl":{"a":{}}}}}}}})";
    ASSERT_EQ(amxj_read(state.get(), text.data(), text.size(), nullptr, 0), 0);
    runtime.dir().write("state/" + name, gw::encode_state_file(state.get()));
}

// A damaged copy, or one that does not restore, is set aside for the last good one; with
// none left, gwrt starts empty and says so, and holds saving when a copy may still be mended.
TEST(Persistence, BadStateIsSetAsideAndTheLastGoodCopyUsed) {
    TestRuntime runtime(saving_setup(0));
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    for (const char* name : {"Name=first", "Name=second"}) {  // the previous copy holds "first"
        ok(runtime, {"add", kRoot + "NetworkObject.", name});
        ASSERT_TRUE(wait_saved(runtime));
    }
    runtime.stop();

    damage(state_file(runtime), false);
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    EXPECT_THAT(runtime.stderr_text(), HasSubstr("gwrt-state.json is damaged ("));
    EXPECT_THAT(runtime.stderr_text(), HasSubstr("kept as " + state_file(runtime) + ".corrupt-"));
    EXPECT_EQ(values_of(runtime.ctl({"get", kRoot + "NetworkObject."}).out, "Name"), std::vector<std::string> {"first"})
        << "the previous copy, restored";
    // The restored copy is written back as the current file.
    ASSERT_TRUE(wait_saved(runtime));
    runtime.stop();

    // The current copy does not restore: the previous one does, and the bad one is set aside.
    write_unrestorable(runtime, "gwrt-state.json");
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    EXPECT_THAT(runtime.stderr_text(), HasSubstr("gwrt-state.json does not restore (Device.NetworkSettings._Import failed: AccessControl: wrong data type"));
    EXPECT_EQ(values_of(runtime.ctl({"get", kRoot + "NetworkObject."}).out, "Name"), std::vector<std::string> {"first"});
    EXPECT_THAT(runtime.ctl({"call", "State.", "Status"}).out, HasSubstr("\"Restore\":\"restored from " + state_file(runtime) + ".prev\""));
    EXPECT_THAT(files_in(runtime.dir().file("state")), ::testing::Contains(HasSubstr("gwrt-state.json.unrestored-")));
    ASSERT_TRUE(wait_saved(runtime));
    runtime.stop();

    // Neither copy restores: gwrt starts empty, says so, and writes neither file over.
    write_unrestorable(runtime, "gwrt-state.json");
    write_unrestorable(runtime, "gwrt-state.json.prev");
    const std::string bad = gwtest::read_file(state_file(runtime));
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    EXPECT_THAT(runtime.stderr_text(), HasSubstr("SAVING IS HELD"));
    EXPECT_EQ(runtime.ctl({"get", kRoot + "NetworkObject."}).out, "");
    EXPECT_THAT(runtime.ctl({"call", "State.", "Status"}).out, HasSubstr("\"Saving\":\"held\""));
    ok(runtime, {"add", kRoot + "NetworkObject.", "Name=meanwhile"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Outcome stop = runtime.stop();
    EXPECT_EQ(stop.exit_code, 0) << stop.err;
    EXPECT_THAT(stop.err, HasSubstr("saving is held; the running configuration is kept as " + state_file(runtime) + ".unsaved-"));
    EXPECT_EQ(gwtest::read_file(state_file(runtime)), bad);
    EXPECT_EQ(gwtest::read_file(state_file(runtime) + ".prev"), bad);

    // Until a client says to keep what runs.
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    ok(runtime, {"add", kRoot + "NetworkObject.", "Name=kept"});
    ok(runtime, {"call", "State.", "Save"});
    EXPECT_THAT(runtime.ctl({"call", "State.", "Status"}).out, HasSubstr("\"Saving\":\"saved\""));
    ASSERT_TRUE(wait_saved(runtime));
    runtime.stop();

    // Both copies damaged (one torn): set aside, and the runtime starts empty and says so.
    damage(state_file(runtime), true);
    damage(state_file(runtime) + ".prev", false);
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    EXPECT_THAT(runtime.stderr_text(), HasSubstr("no saved configuration in " + state_file(runtime) + "; starting empty"));
    EXPECT_EQ(runtime.ctl({"get", kRoot + "NetworkObject."}).out, "");
    std::vector<std::string> files = files_in(runtime.dir().file("state"));
    EXPECT_EQ(std::count_if(files.begin(), files.end(), [](const std::string& f) { return f.find(".corrupt-") != std::string::npos; }), 3)
        << ::testing::PrintToString(files);
    runtime.stop();
}

// A change that comes while a save runs is saved once that save ends, with no later change.
TEST(Persistence, AChangeDuringASaveIsSavedAfterIt) {
    TestRuntime runtime(saving_setup(0));
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    gwtest::RawClient client(runtime.socket());
    // About 750 KB of names, so that a save takes longer than the next request.
    std::string objects;
    for (int i = 1; i <= 250; ++i) {
        objects += std::string(i > 1 ? "," : "") + R"({"o)" + std::to_string(i) + R"(":{"Name":")" + std::string(3000, 'n') + "\"}}";
    }
    ASSERT_TRUE(client.send_frame(R"({"id": 1, "op": "call", "path": ")" + kRoot + R"(", "method": "_Import", "args": )"
                                  R"({"data":{"set":{"hgwconfig":{"NetworkSettings":{"NetworkObject":[)" + objects + "]}}}}}}"));
    ASSERT_THAT(client.read_frame(), HasSubstr("\"status\":0"));
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(wait_saved(runtime));
        for (const char* name : {"first", "second"}) {
            ASSERT_TRUE(client.send_frame(R"({"id": 1, "op": "set", "path": ")" + kRoot + R"(NetworkObject.1.", "values": {"Name": ")" + name + "\"}}"));
            ASSERT_THAT(client.read_frame(), HasSubstr("\"status\":0"));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the first name's save has started
        }
        EXPECT_TRUE(wait_saved(runtime)) << "the name set during a save is not saved, round " << round;
    }
}

TEST(Persistence, AFailingSaveIsRetriedAndAStopThatCannotSaveFails) {
    TestRuntime runtime(saving_setup(0));
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    const std::string blocker = state_file(runtime) + ".tmp";  // a folder where the new copy goes: writes fail
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    ok(runtime, {"add", kRoot + "NetworkObject.", "Name=one"});
    EXPECT_TRUE(gwtest::wait_until([&] { return runtime.ctl({"call", "State.", "Status"}).out.find("retrying") != std::string::npos; }));
    ASSERT_EQ(rmdir(blocker.c_str()), 0);
    EXPECT_TRUE(wait_saved(runtime)) << "saved by a retry, without a new change";
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    ok(runtime, {"add", kRoot + "NetworkObject.", "Name=two"});
    Outcome stop = runtime.stop();
    EXPECT_EQ(stop.exit_code, 1);
    EXPECT_THAT(stop.err, HasSubstr("gwrt: changes could not be saved before the stop"));
    rmdir(blocker.c_str());
}

// Shapes of the state section are refused with the other configurations (gwrt tests).
TEST(Persistence, BadStateConfigurationsAreRefused) {
    RuntimeSetup setup = saving_setup(0);
    setup.extra = "    state = { export = \"Device.NetworkSettings.Nothing\"; import = \"Device.NetworkSettings._Import\"; };\n";
    TestRuntime runtime(setup);
    EXPECT_FALSE(runtime.start());
    EXPECT_THAT(runtime.outcome().err, HasSubstr("state: the data model has no method Device.NetworkSettings.Nothing"));
    TestRuntime plain;
    EXPECT_FALSE(plain.start({"--state-dir", plain.dir().file("s")}));
    EXPECT_THAT(plain.outcome().err, HasSubstr("has no 'state' section"));
}

}  // namespace
