// gwctl against a running gwrt: reading, writing, methods, events, the firewall, the services,
// and every kind of failure, each with one clear line and a non-zero exit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/json_text.h"
#include "support/test_runtime.h"
#include "support/unix_socket.h"

namespace {

using namespace std::chrono_literals;
using gwtest::compact_json;
using gwtest::Outcome;
using gwtest::TestRuntime;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class Gwctl : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(runtime_.start()) << runtime_.stderr_text(); }

    void TearDown() override { gwtest::expect_clean_exit(runtime_.stop()); }

    // Runs gwctl and expects success; returns stdout.
    std::string ok(const std::vector<std::string>& args) {
        Outcome outcome = runtime_.ctl(args);
        EXPECT_EQ(outcome.exit_code, 0) << "gwctl " << ::testing::PrintToString(args) << ": " << outcome.err;
        EXPECT_EQ(outcome.err, "");
        return outcome.out;
    }

    // Runs gwctl and expects a failure reported as exactly one "gwctl: " line; returns that line.
    std::string refused(const std::vector<std::string>& args, int status) {
        Outcome outcome = runtime_.ctl(args);
        const std::string command = "gwctl " + ::testing::PrintToString(args);
        EXPECT_EQ(outcome.exit_code, status) << command << ": " << outcome.out << outcome.err;
        EXPECT_EQ(outcome.out, "") << command;
        EXPECT_EQ(gwtest::lines(outcome.err).size(), 1u) << command << ": " << outcome.err;
        EXPECT_THAT(outcome.err, StartsWith("gwctl: ")) << command;
        EXPECT_FALSE(gwtest::sanitizer_report(outcome.err)) << outcome.err;
        return outcome.err;
    }

    std::string get(const std::string& path) { return ok({"get", path}); }

    TestRuntime runtime_;
};

TEST_F(Gwctl, GetPrintsEveryObjectBelowInTreeOrder) {
    EXPECT_EQ(get("Device.X_Test.Item."),
              "Device.X_Test.Item.1.Name=first\n"
              "Device.X_Test.Item.1.Count=0\n"
              "Device.X_Test.Item.2.Name=second\n"
              "Device.X_Test.Item.2.Count=0\n"
              "Device.X_Test.Item.10.Name=tenth\n"
              "Device.X_Test.Item.10.Count=0\n");
    // An instance by name, a single parameter, and texts printed as they are.
    EXPECT_EQ(get("Device.X_Test.Item.ten."), "Device.X_Test.Item.10.Name=tenth\nDevice.X_Test.Item.10.Count=0\n");
    // Blanks, quotes and line breaks would split or mislead a reader: quoted as the shell reads them.
    ok({"set", "Device.X_Test.Name=a,b=c"});
    EXPECT_EQ(get("Device.X_Test.Name"), "Device.X_Test.Name=a,b=c\n");
    ok({"set", "Device.X_Test.Name=it's a\nb"});
    std::string all = get("Device.");
    EXPECT_THAT(all, StartsWith("Device.X_Test.Status=Idle\nDevice.X_Test.Name='it'\\''s a\nb'\nDevice.X_Test.Count=0\n"));
    EXPECT_THAT(all, HasSubstr("Device.X_Test.Item.10.Count=0\n"));
}

TEST_F(Gwctl, SetWritesOneObjectPerTransactionInBothForms) {
    EXPECT_EQ(ok({"set", "Device.X_Test.Name=box", "Device.X_Test.Count=+7"}),
              "Device.X_Test.Name=box\nDevice.X_Test.Count=7\n");
    ok({"set", "Device.X_Test.", "Item.1.Name=uno", "Item.2.Count=2"});
    ok({"set", "Device.X_Test.Item.10", "Name="});
    EXPECT_EQ(get("Device.X_Test.Item."),
              "Device.X_Test.Item.1.Name=uno\nDevice.X_Test.Item.1.Count=0\n"
              "Device.X_Test.Item.2.Name=second\nDevice.X_Test.Item.2.Count=2\n"
              "Device.X_Test.Item.10.Name=\nDevice.X_Test.Item.10.Count=0\n");
}

TEST_F(Gwctl, RefusalsSayWhyAndChangeNothing) {
    const std::string before = get("Device.");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const Case cases[] = {
        // The whole object is one transaction: the good value goes with the bad one.
        {{"set", "Device.X_Test.Name=kept?", "Device.X_Test.Count=abc"}, 4, "Count: not an integer from 0 to 4294967295"},
        // Several objects: every one written is put back when a later one is refused.
        {{"set", "Device.X_Test.Item.1.Name=changed", "Device.X_Test.Item.10.Name=changed", "Device.X_Test.Item.2.Count=-1"},
         4, "Device.X_Test.Item.2."},
        // An object that does not exist is found before anything is written.
        {{"set", "Device.X_Test.Item.1.Name=changed", "Device.X_Test.Item.99.Name=x"}, 3, "Device.X_Test.Item.99."},
        {{"set", "Device.X_Test.NoSuchParam=1"}, 3, "NoSuchParam"},
        {{"get", "Nowhere."}, 3, "Nowhere."},
        {{"add", "Device.Nope.", "Name=x"}, 3, "Device.Nope."},
        // A refused value adds nothing, a name already taken neither, and a plain object is no table.
        {{"add", "Device.X_Test.Item.", "Count=many"}, 4, "Count"},
        {{"add", "Device.X_Test.Item.", "--name=ten"}, 4, ""},
        {{"add", "Device.X_Test.", "Name=x"}, 4, ""},
        {{"call", "Device.X_Test.", "_Fail"}, 4, "_Fail"},
        {{"call", "Device.X_Test.", "NoSuchMethod"}, 3, ""},
        {{"call", "Device.X_Test.", "_Echo", "[1]"}, 2, "JSON object"},
        // The in-memory firewall has no kernel side to show: a clear refusal, not an empty text.
        {{"firewall", "--kernel"}, 1, "Firewall.KernelDump()"},
        {{"firewall", "--check"}, 1, "Firewall.Check()"},
        {{"monitor", "Device.X_Test.", "notification =="}, 4, ""},
    };
    for (const Case& c : cases) {
        EXPECT_THAT(refused(c.args, c.status), HasSubstr(c.says));
    }
    EXPECT_EQ(get("Device."), before);
}

TEST_F(Gwctl, AddPrintsTheNewInstanceAndDelRemovesIt) {
    EXPECT_EQ(ok({"add", "Device.X_Test.Item.", "Name=new", "Count=4"}), "Device.X_Test.Item.11.\n");
    EXPECT_EQ(get("Device.X_Test.Item.11."), "Device.X_Test.Item.11.Name=new\nDevice.X_Test.Item.11.Count=4\n");
    EXPECT_EQ(ok({"add", "Device.X_Test.Item", "--name", "named"}), "Device.X_Test.Item.12.\n");
    EXPECT_EQ(get("Device.X_Test.Item.named.Name"), "Device.X_Test.Item.12.Name=\n");
    EXPECT_EQ(ok({"del", "Device.X_Test.Item.11."}), "Device.X_Test.Item.11.\n");
    refused({"get", "Device.X_Test.Item.11."}, 3);
}

// (Replies of calls are printed as JSON in the golden cases.)
TEST_F(Gwctl, GetJsonPrintsTheTree) {
    EXPECT_EQ(compact_json(ok({"--json", "get", "Device.X_Test.Item.2."})),
              R"({"Device.X_Test.Item.2.":{"Name":"second","Count":0}})");
}

// Makes changes with `poke` until the monitor shows it is subscribed.
void wait_subscribed(gwtest::Child& monitor, const std::function<void(int)>& poke) {
    int round = 0;
    bool seen = gwtest::wait_until([&] {
        poke(round++);
        return !monitor.out().empty() || !monitor.running();
    }, 15s);
    EXPECT_TRUE(seen && monitor.running()) << monitor.err();
}

// One monitor of all events under a path, one of a service with an expression: the first ends
// when gwrt goes, the second on SIGTERM.
TEST_F(Gwctl, MonitorPrintsEachEventAsOneJsonLineAndEndsWhenGwrtGoes) {
    const std::string folder = runtime_.dir().path() + "/";
    gwtest::Child all({gwtest::gwctl_path(), "--socket", runtime_.socket(), "monitor", "Device.X_Test."},
                      folder + "all.out", folder + "all.err");
    gwtest::Child added({gwtest::gwctl_path(), "--socket", runtime_.socket(), "monitor", "Hosts.",
                         "notification == 'dm:instance-added'"},
                        folder + "added.out", folder + "added.err");
    wait_subscribed(all, [&](int round) { runtime_.ctl({"set", "Device.X_Test.Name=probe" + std::to_string(round)}); });
    wait_subscribed(added, [&](int round) { runtime_.ctl({"add", "Hosts.Host.", "Name=probe" + std::to_string(round)}); });
    ok({"set", "Device.X_Test.Name=marker"});
    ASSERT_TRUE(gwtest::wait_until([&] { return all.out().find("marker") != std::string::npos; }));
    const std::size_t before = gwtest::lines(all.out()).size();

    ok({"set", "Hosts.Host.1.Name=renamed"});  // not under the first path, and not an addition
    ok({"add", "Hosts.Host.", "--name", "marker"});
    ok({"add", "Device.X_Test.Item.", "Name=watched"});
    ok({"set", "Device.X_Test.Item.11.Count=3"});
    ok({"del", "Device.X_Test.Item.11."});
    ASSERT_TRUE(gwtest::wait_until([&] {
        return gwtest::lines(all.out()).size() >= before + 3 && added.out().find("marker") != std::string::npos;
    }));
    EXPECT_EQ(added.out().find("dm:object-changed"), std::string::npos) << added.out();

    auto events = gwtest::lines(all.out());
    ASSERT_EQ(events.size(), before + 3) << all.out();
    const std::string expected[] = {
        R"({"notification":"dm:instance-added","path":"Device.X_Test.Item.","object":"Device.X_Test.Item.","index":11,)",
        R"({"notification":"dm:object-changed","path":"Device.X_Test.Item.11.","object":"Device.X_Test.Item.11.",)"
        R"("parameters":{"Count":{"from":0,"to":3}}})",
        R"({"notification":"dm:instance-removed","path":"Device.X_Test.Item.")",
    };
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_THAT(compact_json(events[before + i]), HasSubstr(expected[i]));
    }

    gwtest::expect_clean_exit(added.stop(SIGTERM));
    EXPECT_EQ(runtime_.stop().exit_code, 0);
    Outcome end = all.stop(0);
    EXPECT_EQ(end.exit_code, 1);
    EXPECT_EQ(end.err, "gwctl: connection to gwrt lost\n");
    ASSERT_TRUE(runtime_.start()) << runtime_.stderr_text();  // for TearDown
}

TEST(GwctlAlone, ServerThatNeverAnswersTimesOut) {
    gwtest::TempDir dir;
    // Listening, so connecting works, but nobody ever reads or answers.
    gwtest::UnixSocket server(dir.file("mute.sock"), true);
    Outcome outcome = gwtest::run({gwtest::gwctl_path(), "--socket", dir.file("mute.sock"), "--timeout", "1", "get", "Device."}, 10s);
    EXPECT_FALSE(outcome.timed_out) << "gwctl hung";
    EXPECT_EQ(outcome.exit_code, 1);
    EXPECT_EQ(gwtest::lines(outcome.err).size(), 1u) << outcome.err;
    EXPECT_THAT(outcome.err, StartsWith("gwctl: "));
}

}  // namespace
