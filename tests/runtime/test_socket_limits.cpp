// The control socket against other users, kept out by the socket's mode and by their
// credentials unless configured (framing faults are the bus listener's tests), and against
// clients that would stall, starve or exhaust it: a crowd of idle
// connections, one user taking every connection, requests that never finish, replies far
// larger than a frame (the firewall of 65,536 addresses, a tree and an export of several MB),
// also when clients leave them unread, and the module's rebuild of 65,536 rules and a restore of
// 10,000, which readers must not wait for.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include <amxb/amxb.h>

#include "support/json_text.h"
#include "support/raw_client.h"
#include "support/test_runtime.h"

namespace {

using gwtest::Outcome;
using gwtest::RawClient;
using gwtest::RuntimeSetup;
using gwtest::TestRuntime;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr uid_t kNobody = 65534;
constexpr const char* kSetpriv = "/usr/bin/setpriv";

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
        ++n;
    }
    return n;
}

void expect_still_serving(TestRuntime& runtime) {
    Outcome get = runtime.ctl({"get", "Device.X_Test.Status"});
    EXPECT_EQ(get.out, "Device.X_Test.Status=Idle\n") << get.err;
}

// `argv` run as the unprivileged user.
std::vector<std::string> as_nobody(const std::vector<std::string>& argv) {
    std::vector<std::string> all {kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
}

Outcome ctl_as_nobody(const TestRuntime& runtime) {
    return gwtest::run(as_nobody({gwtest::gwctl_path(), "--socket", runtime.socket(), "get", "Device.X_Test.Status"}));
}

// Whether the unprivileged user can run gwctl at all here (root, setpriv, a reachable build).
std::string why_no_other_user() {
    if (geteuid() != 0 || access(kSetpriv, X_OK) != 0) {
        return std::string("needs root and ") + kSetpriv + " to run a client as another user";
    }
    Outcome probe = gwtest::run(as_nobody({gwtest::gwctl_path(), "--help"}));
    return probe.exit_code == 0 ? "" : "uid 65534 cannot run " + gwtest::gwctl_path() + ": " + probe.err;
}

TEST(ControlSocketLimits, AnIdleCrowdLocksNoOneOutAndIdleConnectionsWithoutSubscriptionsGo) {
    RuntimeSetup setup;
    setup.extra = "    socket-idle-timeout = 2;\n";
    TestRuntime runtime(setup);
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    std::vector<std::unique_ptr<RawClient>> crowd;
    for (int i = 0; i < 256; ++i) {
        crowd.push_back(std::make_unique<RawClient>(runtime.socket()));
    }
    // Our own user makes room by closing its longest idle connection instead of being refused.
    expect_still_serving(runtime);
    EXPECT_THAT(runtime.stderr_text(), HasSubstr("to let in a new connection of the same user"));

    RawClient watcher(runtime.socket());
    ASSERT_TRUE(watcher.send_frame(R"({"id": 1, "op": "subscribe", "path": "Device.X_Test.", "sid": 7, "expression": null})"));
    EXPECT_THAT(watcher.read_frame(), HasSubstr("\"status\":0"));
    RawClient idle(runtime.socket());
    EXPECT_THAT(idle.read_frame(), HasSubstr("closed: idle for 2000 ms"));
    EXPECT_TRUE(idle.closed_by_peer());
    EXPECT_EQ(runtime.ctl({"set", "Device.X_Test.Name=late"}).exit_code, 0);
    EXPECT_THAT(watcher.read_frame(), HasSubstr("\"sid\":7")) << "a subscriber is never idle";
}

// Opens `attempts` connections as the unprivileged user (the peer credentials are the
// effective ids at connect, which are set back at once); how many were refused.
int refused_as_nobody(const TestRuntime& runtime, int attempts) {
    std::vector<std::unique_ptr<RawClient>> held;
    if (setegid(kNobody) != 0 || seteuid(kNobody) != 0) {
        return -1;
    }
    for (int i = 0; i < attempts; ++i) {
        held.push_back(std::make_unique<RawClient>(runtime.socket()));
    }
    if (seteuid(0) != 0 || setegid(0) != 0) {
        return -1;
    }
    int refused = 0;
    for (auto& client : held) {
        refused += client->read_frame(std::chrono::milliseconds(300)).find("refused") != std::string::npos ? 1 : 0;
    }
    return refused;
}

TEST(ControlSocketLimits, AUserPastItsShareIsRefusedAndEachRefusalLoggedOnce) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to connect as another user";
    }
    RuntimeSetup setup;
    setup.extra = "    socket-users = [ " + std::to_string(kNobody) + " ];\n    socket-max-per-user = 4;\n";
    TestRuntime runtime(setup);
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    // The test folder and socket opened to everyone, so that only the credentials check remains.
    chmod(runtime.dir().path().c_str(), 0711);
    chmod(runtime.dir().file("run").c_str(), 0711);
    chmod(runtime.socket().c_str(), 0666);
    EXPECT_EQ(refused_as_nobody(runtime, 7), 3);
    EXPECT_TRUE(gwtest::wait_until([&] { return count(runtime.stderr_text(), "uid 65534: refused") >= 3; }));
    EXPECT_EQ(count(runtime.stderr_text(), "uid 65534: refused: this user has 4 connections open, the most allowed"), 3u);
    expect_still_serving(runtime);
}

TEST(ControlSocketLimits, UnfinishedRequestsAreClosedInTimeAndHoldNoOneUp) {
    RuntimeSetup setup;
    setup.extra = "    socket-request-timeout = 1;\n";
    TestRuntime runtime(setup);
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    std::vector<std::unique_ptr<RawClient>> stalled;
    for (int i = 0; i < 24; ++i) {
        stalled.push_back(std::make_unique<RawClient>(runtime.socket()));
        // A request of the largest size announced, a tenth of it sent.
        ASSERT_TRUE(stalled.back()->send_bytes(std::string("\x00\x10\x00\x00", 4) + std::string(100 * 1024, ' ')));
    }
    expect_still_serving(runtime);
    for (auto& client : stalled) {
        EXPECT_THAT(client->read_frame(), HasSubstr("a request was still incomplete after 1000 ms"));
        EXPECT_TRUE(client->closed_by_peer());
    }
    EXPECT_EQ(count(runtime.stderr_text(), "a request was still incomplete"), stalled.size());
}

const std::string kRoot = "Device.NetworkSettings.";

// One access control blocking 65,536 sources, active.
void block_65536_sources(TestRuntime& runtime) {
    for (const std::vector<std::string>& add :
         {std::vector<std::string> {"add", kRoot + "NetworkObject.", "Name=all"},
          {"add", kRoot + "NetworkObject.1.Rule.", "Type=IPRange", "SourceIP=10.0.0.0", "SourceIPRangeMax=10.0.255.255"},
          {"add", kRoot + "AccessControl.", "Enable=true", "NetworkGroupRef=" + kRoot + "NetworkObject.1"}}) {
        ASSERT_EQ(runtime.ctl(add).exit_code, 0);
    }
    ASSERT_TRUE(gwtest::wait_until([&] { return runtime.ctl({"get", kRoot + "AccessControl.1.Status"}).out.find("=Active\n") != std::string::npos; }));
}

std::string status_request(int id) {
    return R"({"id": )" + std::to_string(id) + R"(, "op": "get", "path": ")" + kRoot + R"(AccessControl.1.Status", "depth": 0})";
}

TEST(ControlSocketLargeReplies, FirewallTreeAndExportOfSeveralMegabytesArrive) {
    const std::string& root = kRoot;
    TestRuntime runtime(gwtest::module_setup());
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    block_65536_sources(runtime);
    Outcome firewall = runtime.ctl({"firewall"});
    EXPECT_EQ(firewall.exit_code, 0) << firewall.err;
    EXPECT_EQ(count(firewall.out, " -j DROP\n"), 65536u);
    EXPECT_THAT(firewall.out, HasSubstr("-s 10.0.255.255/32 -j DROP\nCOMMIT\n"));

    // Clients that ask for it and never read: one such reply may wait alone, those that do not
    // fit beside it are closed, and once stalled it makes way for a client that reads.
    std::vector<std::unique_ptr<RawClient>> unread;
    for (int i = 0; i < 4; ++i) {
        unread.push_back(std::make_unique<RawClient>(runtime.socket()));
        ASSERT_TRUE(unread.back()->send_frame(R"({"id": 1, "op": "call", "path": "Firewall.", "method": "Dump", "args": {}})"));
    }
    ASSERT_TRUE(gwtest::wait_until([&] { return count(runtime.stderr_text(), "does not fit beside") + count(runtime.stderr_text(), "left unread for") >= 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * AMXB_LISTEN_STALL_MS));
    EXPECT_EQ(count(runtime.ctl({"firewall"}).out, " -j DROP\n"), 65536u);
    for (auto& client : unread) {
        EXPECT_TRUE(client->closed_by_peer());
    }
    EXPECT_EQ(count(runtime.stderr_text(), "does not fit beside") + count(runtime.stderr_text(), "left unread for"), unread.size());

    RawClient writer(runtime.socket());
    const std::string name(2000, 'n');
    for (int i = 2; i <= 1500; ++i) {
        ASSERT_TRUE(writer.send_frame(R"({"id": 1, "op": "add", "path": ")" + root + R"(NetworkObject.", "index": 0, "name": "", "values": {"Name": ")" +
                                      name + std::to_string(i) + "\"}}"));
        ASSERT_THAT(writer.read_frame(), HasSubstr("\"status\":0"));
    }
    Outcome tree = runtime.ctl({"get", root + "NetworkObject."});
    EXPECT_EQ(tree.exit_code, 0) << tree.err;
    EXPECT_EQ(count(tree.out, ".Name=" + name), 1499u);
    EXPECT_THAT(tree.out, HasSubstr(root + "NetworkObject.1500.Name=" + name + "1500\n"));
    Outcome exported = runtime.ctl({"call", root, "_Export"});
    ASSERT_EQ(exported.exit_code, 0) << exported.err;
    EXPECT_GT(exported.out.size(), 2u * 1024 * 1024);
    EXPECT_NE(gwtest::compact_json(exported.out), "");
    EXPECT_EQ(count(exported.out, name), 1499u);
}

// Enabling the access control builds 65,536 rules in one callback: a reader is answered in its
// middle (Status not written yet), while a request that changes something waits for its end.
TEST(ControlSocketLongWork, ReadersAreAnsweredDuringARebuildAndWritersAfterIt) {
    TestRuntime runtime(gwtest::module_setup());
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    block_65536_sources(runtime);
    ASSERT_EQ(runtime.ctl({"set", kRoot + "AccessControl.1.Enable=false"}).exit_code, 0);
    ASSERT_TRUE(gwtest::wait_until([&] { return runtime.ctl({"get", kRoot + "AccessControl.1.Status"}).out.find("=Inactive\n") != std::string::npos; }));

    RawClient writer(runtime.socket());
    RawClient reader(runtime.socket());
    ASSERT_TRUE(writer.send_frame(R"({"id": 1, "op": "set", "path": ")" + kRoot + R"(AccessControl.1.", "values": {"Enable": true}})"));
    ASSERT_THAT(writer.read_frame(), HasSubstr("\"status\":0"));
    // The rebuild starts once the set is answered.
    ASSERT_TRUE(reader.send_frame(status_request(2)));
    EXPECT_THAT(reader.read_frame(), HasSubstr(R"("Status":"Inactive")"));
    ASSERT_TRUE(writer.send_frame(R"({"id": 3, "op": "add", "path": ")" + kRoot + R"(NetworkObject.", "index": 0, "name": "", "values": {"Name": "later"}})"));
    ASSERT_TRUE(reader.send_frame(status_request(4)));
    EXPECT_THAT(reader.read_frame(), HasSubstr(R"("Status":"Inactive")"));
    ASSERT_THAT(writer.read_frame(), HasSubstr("\"status\":0"));
    ASSERT_TRUE(reader.send_frame(status_request(5)));
    EXPECT_THAT(reader.read_frame(), HasSubstr(R"("Status":"Active")"));
    EXPECT_EQ(count(runtime.ctl({"firewall"}).out, " -j DROP\n"), 65536u);
}

// A restore of 10,000 rules is a method call of 10,000 changes: another client reads between
// them (a rule restored, the last one not yet), while the restoring client's next request waits
// for the restore's reply.
TEST(ControlSocketLongWork, ReadersAreAnsweredBetweenTheChangesOfARestoreAndItsClientAfterIt) {
    TestRuntime runtime(gwtest::module_setup());
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    std::string rules;
    for (int n = 1; n <= 10000; ++n) {
        rules += std::string(n == 1 ? "" : ",") + R"({"Rule-)" + std::to_string(n) + R"(": {"Type": "IPAddress", "SourceIP": "10.1.)" +
                 std::to_string(n / 250) + "." + std::to_string(n % 250 + 1) + R"("}})";
    }
    auto get_rule = [](int id, int rule) {
        return R"({"id": )" + std::to_string(id) + R"(, "op": "get", "path": ")" + kRoot + "NetworkObject.2.Rule." + std::to_string(rule) +
               R"(.SourceIP", "depth": 0})";
    };
    RawClient restorer(runtime.socket());
    RawClient reader(runtime.socket());
    ASSERT_TRUE(restorer.send_frame(R"({"id": 1, "op": "call", "path": ")" + kRoot +
                                    R"(", "method": "_Import", "args": {"data": {"set": {"hgwconfig": {"NetworkSettings": {"NetworkObject": [{"NetworkObject-2": {"Name": "restored", "Rule": [)" +
                                    rules + "]}}]}}}}}}"));
    ASSERT_TRUE(restorer.send_frame(get_rule(2, 10000)));
    std::string first;
    for (int i = 0; i < 2000 && first.find("\"status\":0") == std::string::npos; ++i) {
        ASSERT_TRUE(reader.send_frame(get_rule(3, 1)));
        first = reader.read_frame();
    }
    ASSERT_THAT(first, HasSubstr("10.1.0.2"));
    ASSERT_TRUE(reader.send_frame(get_rule(4, 10000)));
    EXPECT_THAT(reader.read_frame(), Not(HasSubstr("\"status\":0"))) << "read in the middle of the restore";
    EXPECT_THAT(restorer.read_frame(), HasSubstr(R"({"id":1,"status":0,"error":"","result":{"refused":[]}})"));
    EXPECT_THAT(restorer.read_frame(), AllOf(HasSubstr(R"("id":2,"status":0)"), HasSubstr("10.1.40.1")));
}

// socket-mode and socket-group let the group reach the socket (its private folder is opened for
// search); the credentials check still decides, and SIGHUP brings new socket-users and mode in.
TEST(ControlSocketUsers, AnotherUserIsKeptOutUntilAllowedByAReload) {
    if (std::string why = why_no_other_user(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    RuntimeSetup setup;
    setup.extra = "    socket-mode = \"0660\";\n    socket-group = " + std::to_string(kNobody) + ";\n";
    TestRuntime runtime(setup);
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    struct stat st {};
    ASSERT_EQ(stat(runtime.socket().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(st.st_gid, kNobody);
    ASSERT_EQ(stat(runtime.dir().file("run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0710u);

    // The test's own private folder stops the other user at connect.
    Outcome blocked = ctl_as_nobody(runtime);
    EXPECT_EQ(blocked.exit_code, 6);
    EXPECT_THAT(blocked.err, HasSubstr("Permission denied"));

    // With the socket reachable, the credentials check refuses and says who it refused.
    chmod(runtime.dir().path().c_str(), 0711);
    Outcome refused = ctl_as_nobody(runtime);
    EXPECT_EQ(refused.exit_code, 6) << refused.out;
    EXPECT_EQ(count(runtime.stderr_text(), "refused pid"), 1u) << "one gwctl, one connection, one refusal";
    EXPECT_THAT(runtime.stderr_text(), HasSubstr("running as uid 65534 (not an allowed user)"));
    expect_still_serving(runtime);

    runtime.dir().write("gwrt.conf", gwtest::read_file(runtime.config()) + "%config { socket-users = [ \"nobody\" ]; socket-mode = \"0666\"; }\n");
    runtime.signal(SIGHUP);
    Outcome served;
    EXPECT_TRUE(gwtest::wait_until([&] { return (served = ctl_as_nobody(runtime)).exit_code == 0; })) << served.err;
    EXPECT_EQ(served.out, "Device.X_Test.Status=Idle\n") << served.err;
    ASSERT_EQ(stat(runtime.socket().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    gwtest::expect_clean_exit(runtime.stop());
}

}  // namespace
