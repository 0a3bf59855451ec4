// gwctl against a running gwrt: reading, writing, methods, events, the firewall, the services,
// and every kind of failure, each with one clear line and a non-zero exit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <amxc/amxc_scoped_var.h>
#include <amxj/amxj.h>

#include "support/test_runtime.h"
#include "support/unix_socket.h"

namespace {

using namespace std::chrono_literals;
using gwtest::Outcome;
using gwtest::TestRuntime;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class Gwctl : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(runtime_.start()) << runtime_.stderr_text(); }

    void TearDown() override {
        Outcome end = runtime_.stop();
        EXPECT_EQ(end.exit_code, 0) << end.err;
        EXPECT_FALSE(gwtest::sanitizer_report(end.err)) << end.err;
    }

    // Runs gwctl and expects success; returns stdout.
    std::string ok(const std::vector<std::string>& args) {
        Outcome outcome = runtime_.ctl(args);
        EXPECT_EQ(outcome.exit_code, 0) << "gwctl " << ::testing::PrintToString(args) << ": " << outcome.err;
        EXPECT_EQ(outcome.err, "");
        return outcome.out;
    }

    // Runs gwctl and expects a failure reported as exactly one line; returns that line.
    std::string refused(const std::vector<std::string>& args, int status) {
        Outcome outcome = runtime_.ctl(args);
        EXPECT_EQ(outcome.exit_code, status) << outcome.out;
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(gwtest::lines(outcome.err).size(), 1u) << outcome.err;
        EXPECT_FALSE(gwtest::sanitizer_report(outcome.err)) << outcome.err;
        return outcome.err;
    }

    std::string get(const std::string& path) { return ok({"get", path}); }

    TestRuntime runtime_;
};

// Parses JSON printed by gwctl.
class Json {
public:
    explicit Json(const std::string& text) {
        char error[128] = "";
        valid_ = amxj_read(var_.get(), text.data(), text.size(), error, sizeof(error)) == 0;
        error_ = error;
    }
    bool valid() const { return valid_; }
    const std::string& error() const { return error_; }
    std::string text(const char* path) const {
        const char* text = amxc_var_get_const_cstring_t(amxc_var_get_path(var_.get(), path, AMXC_VAR_FLAG_DEFAULT));
        return text != nullptr ? text : "<none>";
    }
    int64_t number(const char* path) const { return amxc_var_get_int64_t(amxc_var_get_path(var_.get(), path, AMXC_VAR_FLAG_DEFAULT)); }
    const amxc_var_t* at(const char* path) const { return amxc_var_get_path(var_.get(), path, AMXC_VAR_FLAG_DEFAULT); }

private:
    amxc::ScopedVar var_;
    bool valid_ = false;
    std::string error_;
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
    EXPECT_EQ(get("Device.X_Test.Name"), "Device.X_Test.Name='it'\\''s a\nb'\n");
    std::string all = get("Device.");
    EXPECT_THAT(all, StartsWith("Device.X_Test.Status=Idle\nDevice.X_Test.Name='it'\\''s a\nb'\nDevice.X_Test.Count=0\n"));
    EXPECT_THAT(all, HasSubstr("Device.X_Test.Item.10.Count=0\n"));
}

TEST_F(Gwctl, SetWritesOneObjectPerTransactionInBothForms) {
    EXPECT_EQ(ok({"set", "Device.X_Test.Name=box", "Device.X_Test.Count=+7"}),
              "Device.X_Test.Name=box\nDevice.X_Test.Count=7\n");
    ok({"set", "Device.X_Test.", "Item.1.Name=uno", "Item.2.Count=2"});
    EXPECT_EQ(get("Device.X_Test.Item.1.Name"), "Device.X_Test.Item.1.Name=uno\n");
    EXPECT_EQ(get("Device.X_Test.Item.2.Count"), "Device.X_Test.Item.2.Count=2\n");
    ok({"set", "Device.X_Test.Item.2", "Name="});
    EXPECT_EQ(get("Device.X_Test.Item.2.Name"), "Device.X_Test.Item.2.Name=\n");
}

TEST_F(Gwctl, RefusedWritesChangeNothingAndMissingPathsAreNamed) {
    std::string read_only = refused({"set", "Device.X_Test.Status=Busy"}, 6);
    EXPECT_THAT(read_only, StartsWith("gwctl: Device.X_Test."));
    EXPECT_THAT(read_only, HasSubstr("read-only"));
    EXPECT_EQ(get("Device.X_Test.Status"), "Device.X_Test.Status=Idle\n");

    // The whole object is one transaction: the good value goes with the bad one.
    EXPECT_THAT(refused({"set", "Device.X_Test.Name=kept?", "Device.X_Test.Count=abc"}, 4), HasSubstr("Count: not an integer from 0 to 4294967295"));
    EXPECT_EQ(get("Device.X_Test.Name"), "Device.X_Test.Name=\n");

    // Several objects: every one written is put back when a later one is refused.
    EXPECT_THAT(refused({"set", "Device.X_Test.Item.1.Name=changed", "Device.X_Test.Item.10.Name=changed",
                         "Device.X_Test.Item.2.Count=-1"}, 4),
                HasSubstr("Device.X_Test.Item.2."));
    EXPECT_EQ(get("Device.X_Test.Item.1.Name"), "Device.X_Test.Item.1.Name=first\n");
    EXPECT_EQ(get("Device.X_Test.Item.10.Name"), "Device.X_Test.Item.10.Name=tenth\n");

    // An object that does not exist is found before anything is written.
    EXPECT_THAT(refused({"set", "Device.X_Test.Item.1.Name=changed", "Device.X_Test.Item.99.Name=x"}, 3),
                HasSubstr("Device.X_Test.Item.99."));
    EXPECT_EQ(get("Device.X_Test.Item.1.Name"), "Device.X_Test.Item.1.Name=first\n");
    EXPECT_THAT(refused({"set", "Device.X_Test.NoSuchParam=1"}, 3), HasSubstr("NoSuchParam"));
    // Missing paths, whatever the command.
    EXPECT_THAT(refused({"get", "Device.Nope."}, 3), HasSubstr("Device.Nope."));
    EXPECT_THAT(refused({"get", "Nowhere."}, 3), HasSubstr("Nowhere."));
    EXPECT_THAT(refused({"del", "Device.X_Test.Item.99."}, 3), HasSubstr("Device.X_Test.Item.99."));
    EXPECT_THAT(refused({"add", "Device.Nope.", "Name=x"}, 3), HasSubstr("Device.Nope."));
}

TEST_F(Gwctl, AddPrintsTheNewInstanceAndDelRemovesIt) {
    EXPECT_EQ(ok({"add", "Device.X_Test.Item.", "Name=new", "Count=4"}), "Device.X_Test.Item.11.\n");
    EXPECT_EQ(get("Device.X_Test.Item.11."), "Device.X_Test.Item.11.Name=new\nDevice.X_Test.Item.11.Count=4\n");
    EXPECT_EQ(ok({"add", "Device.X_Test.Item", "--name", "named"}), "Device.X_Test.Item.12.\n");
    EXPECT_EQ(get("Device.X_Test.Item.named.Name"), "Device.X_Test.Item.12.Name=\n");

    // A refused value adds nothing, and a duplicate name neither.
    EXPECT_THAT(refused({"add", "Device.X_Test.Item.", "Count=many"}, 4), HasSubstr("Count"));
    refused({"add", "Device.X_Test.Item.", "--name=named"}, 4);
    EXPECT_THAT(refused({"get", "Device.X_Test.Item.13."}, 3), HasSubstr("Item.13"));

    EXPECT_EQ(ok({"del", "Device.X_Test.Item.11."}), "Device.X_Test.Item.11.\n");
    refused({"get", "Device.X_Test.Item.11."}, 3);
    // Not a table: nothing to add to.
    refused({"add", "Device.X_Test.", "Name=x"}, 4);
}

TEST_F(Gwctl, CallAndGetJsonPrintTheReply) {
    Json echo(ok({"call", "Device.X_Test.", "_Echo", R"({"data": {"a": 1, "b": "two"}})"}));
    ASSERT_TRUE(echo.valid()) << echo.error();
    EXPECT_EQ(echo.number("data.a"), 1);
    EXPECT_EQ(echo.text("data.b"), "two");
    EXPECT_THAT(refused({"call", "Device.X_Test.", "_Fail"}, 4), HasSubstr("_Fail"));
    refused({"call", "Device.X_Test.", "NoSuchMethod"}, 3);
    EXPECT_THAT(refused({"call", "Device.X_Test.", "_Echo", "{bad json"}, 2), StartsWith("gwctl: arguments are not JSON: 1:"));
    EXPECT_THAT(refused({"call", "Device.X_Test.", "_Echo", "[1]"}, 2), HasSubstr("JSON object"));

    Json reply(ok({"--json", "get", "Device.X_Test.Item.2."}));
    ASSERT_TRUE(reply.valid()) << reply.error();
    const amxc_var_t* objects = reply.at("");
    ASSERT_EQ(amxc_var_size(objects), 1u);
    EXPECT_STREQ(amxc_var_key(amxc_var_get_first(objects)), "Device.X_Test.Item.2.");
    const amxc_var_t* params = amxc_var_get_first(objects);
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxc_var_get_key(params, "Name", AMXC_VAR_FLAG_DEFAULT)), "second");
}

TEST_F(Gwctl, FirewallPrintsTheRunningRules) {
    std::string dump = ok({"firewall"});
    EXPECT_THAT(dump, StartsWith("# ipv4\n*filter\n:FORWARD_AccessControl_QK - [0:0]\n"));
    EXPECT_THAT(dump, HasSubstr("# ipv6\n*filter\n:FORWARD6_AccessControl_QK - [0:0]\n"));
    // The in-memory firewall has no kernel side to show: a clear refusal, not an empty text.
    EXPECT_THAT(refused({"firewall", "--kernel"}, 1), HasSubstr("Firewall.KernelDump()"));
    EXPECT_THAT(refused({"firewall", "--check"}, 1), HasSubstr("Firewall.Check()"));
}

// Starts `gwctl monitor`, and makes changes with `poke` until the monitor shows it is
// subscribed; returns the number of lines seen by then.
std::size_t wait_subscribed(gwtest::Child& monitor, const std::function<void(int)>& poke) {
    int round = 0;
    bool seen = gwtest::wait_until([&] {
        poke(round++);
        return !monitor.out().empty() || !monitor.running();
    }, 15s);
    EXPECT_TRUE(seen && monitor.running()) << monitor.err();
    return gwtest::lines(monitor.out()).size();
}

TEST_F(Gwctl, MonitorPrintsEachEventAsOneJsonLine) {
    gwtest::Child monitor({gwtest::gwctl_path(), "--socket", runtime_.socket(), "monitor", "Device.X_Test."},
                          runtime_.dir().file("monitor.out"), runtime_.dir().file("monitor.err"));
    wait_subscribed(monitor, [&](int round) { runtime_.ctl({"set", "Device.X_Test.Name=probe" + std::to_string(round)}); });
    ok({"set", "Device.X_Test.Name=marker"});
    ASSERT_TRUE(gwtest::wait_until([&] { return monitor.out().find("marker") != std::string::npos; }));
    std::size_t before = gwtest::lines(monitor.out()).size();

    ok({"add", "Hosts.Host.", "Name=elsewhere"});  // not under the monitored path
    ok({"add", "Device.X_Test.Item.", "Name=watched"});
    ok({"set", "Device.X_Test.Item.11.Count=3"});
    ok({"del", "Device.X_Test.Item.11."});
    ASSERT_TRUE(gwtest::wait_until([&] { return gwtest::lines(monitor.out()).size() >= before + 3; }));

    auto events = gwtest::lines(monitor.out());
    ASSERT_EQ(events.size(), before + 3) << monitor.out();
    Json added(events[before]);
    Json changed(events[before + 1]);
    Json removed(events[before + 2]);
    ASSERT_TRUE(added.valid() && changed.valid() && removed.valid()) << monitor.out();
    EXPECT_EQ(added.text("notification"), "dm:instance-added");
    EXPECT_EQ(added.text("path"), "Device.X_Test.Item.");
    EXPECT_EQ(added.number("index"), 11);
    EXPECT_EQ(changed.text("notification"), "dm:object-changed");
    EXPECT_EQ(changed.text("path"), "Device.X_Test.Item.11.");
    EXPECT_EQ(changed.number("parameters.Count.to"), 3);
    EXPECT_EQ(removed.text("notification"), "dm:instance-removed");

    Outcome end = monitor.stop(SIGTERM);
    EXPECT_EQ(end.exit_code, 0) << end.err;
    EXPECT_FALSE(gwtest::sanitizer_report(end.err)) << end.err;
}

TEST_F(Gwctl, MonitorAppliesTheExpressionAndEndsWhenGwrtGoes) {
    gwtest::Child monitor({gwtest::gwctl_path(), "--socket", runtime_.socket(), "monitor", "Hosts.",
                           "notification == 'dm:instance-added'"},
                          runtime_.dir().file("monitor.out"), runtime_.dir().file("monitor.err"));
    std::size_t seen = wait_subscribed(monitor, [&](int round) {
        runtime_.ctl({"add", "Hosts.Host.", "Name=probe" + std::to_string(round)});
    });
    ok({"set", "Hosts.Host.1.Name=renamed"});
    ok({"add", "Hosts.Host.", "--name", "marker"});
    ASSERT_TRUE(gwtest::wait_until([&] { return monitor.out().find("marker") != std::string::npos; }));
    EXPECT_EQ(monitor.out().find("dm:object-changed"), std::string::npos) << monitor.out();
    EXPECT_GT(gwtest::lines(monitor.out()).size(), seen);

    Outcome end = runtime_.stop();
    EXPECT_EQ(end.exit_code, 0);
    Outcome monitor_end = monitor.stop(0);
    EXPECT_EQ(monitor_end.exit_code, 1);
    EXPECT_EQ(monitor_end.err, "gwctl: connection to gwrt lost\n");
    ASSERT_TRUE(runtime_.start()) << runtime_.stderr_text();  // for TearDown
}

TEST_F(Gwctl, MonitorRefusesABadExpression) {
    EXPECT_THAT(refused({"monitor", "Device.X_Test.", "notification =="}, 4), StartsWith("gwctl: "));
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
