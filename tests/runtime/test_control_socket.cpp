// The control socket against hostile or broken clients: other users, malformed, oversized and
// truncated requests, and a client that stops reading. The runtime answers with errors, drops
// only the offending connection, and keeps serving everyone else.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "support/raw_client.h"
#include "support/test_runtime.h"

namespace {

using gwtest::Outcome;
using gwtest::RawClient;
using gwtest::RuntimeSetup;
using gwtest::TestRuntime;
using ::testing::HasSubstr;

constexpr uid_t kNobody = 65534;
constexpr const char* kSetpriv = "/usr/bin/setpriv";

void expect_still_serving(TestRuntime& runtime) {
    Outcome get = runtime.ctl({"get", "Device.X_Test.Status"});
    EXPECT_EQ(get.out, "Device.X_Test.Status=Idle\n") << get.err;
}

void expect_clean_stop(TestRuntime& runtime) {
    Outcome outcome = runtime.stop();
    EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
    EXPECT_FALSE(gwtest::sanitizer_report(outcome.err)) << outcome.err;
}

TEST(ControlSocketFraming, MalformedRequestsGetErrorsAndTheConnectionGoesOn) {
    TestRuntime runtime;
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    RawClient client(runtime.socket());
    ASSERT_TRUE(client.connected());
    const std::pair<std::string, std::string> cases[] = {
        {"{\"id\": 1, \"op\": ", "malformed message"},          // not JSON
        {"[1, 2]", "a request is an object with an integer"},    // not a request
        {"{\"id\": 3, \"op\": \"frobnicate\", \"path\": \"Device.\"}", "malformed request"},
        {std::string("{\"id\": 4, \"path\": \"\xff\"}"), "malformed message"},  // not UTF-8
    };
    for (const auto& [request, expected] : cases) {
        ASSERT_TRUE(client.send_frame(request));
        std::string reply = client.read_frame();
        EXPECT_THAT(reply, HasSubstr(expected)) << request;
        EXPECT_THAT(reply, ::testing::Not(HasSubstr("\"status\":0"))) << request;
    }
    // The same connection still serves a good request.
    ASSERT_TRUE(client.send_frame(gwtest::get_request(9, "Device.X_Test.")));
    EXPECT_THAT(client.read_frame(), HasSubstr("\"id\":9"));
    expect_clean_stop(runtime);
}

TEST(ControlSocketFraming, OversizedAndTruncatedRequestsGetAnErrorAndAClose) {
    TestRuntime runtime;
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();

    RawClient oversized(runtime.socket());
    ASSERT_TRUE(oversized.send_bytes(std::string("\x7f\xff\xff\xff{", 5)));
    EXPECT_THAT(oversized.read_frame(), HasSubstr("exceeds the frame limit"));
    EXPECT_TRUE(oversized.closed_by_peer());

    // Half a request, then the client stops sending but still listens.
    RawClient truncated(runtime.socket());
    std::string request = gwtest::get_request(1, "Device.");
    ASSERT_TRUE(truncated.send_bytes(std::string("\0\0\0", 3) + static_cast<char>(request.size()) + request.substr(0, 10)));
    // A client with a request half sent holds up no one else.
    expect_still_serving(runtime);
    truncated.shutdown_sending();
    EXPECT_THAT(truncated.read_frame(), HasSubstr("truncated: the connection ended 14 bytes into a message"));
    EXPECT_TRUE(truncated.closed_by_peer());

    expect_still_serving(runtime);
    expect_clean_stop(runtime);
}

TEST(ControlSocketFraming, AClientThatStopsReadingIsDroppedAndBlocksNoOne) {
    TestRuntime runtime;
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    RawClient hoarder(runtime.socket());
    // Requests whose replies outgrow the per-client backlog, never read.
    std::string burst;
    for (int id = 1; id <= 60000; ++id) {
        std::string body = gwtest::get_request(id, "Device.");
        const auto size = static_cast<uint32_t>(body.size());
        burst += std::string {static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                              static_cast<char>(size)} +
                 body;
    }
    std::thread writer([&] { hoarder.send_bytes(burst); });  // may block until the runtime gives up on it
    expect_still_serving(runtime);
    writer.join();
    EXPECT_TRUE(hoarder.closed_by_peer(std::chrono::seconds(20)));
    expect_still_serving(runtime);
    expect_clean_stop(runtime);
}

// Runs gwctl as the unprivileged user against `runtime`.
Outcome ctl_as_nobody(const TestRuntime& runtime) {
    return gwtest::run({kSetpriv, "--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(kNobody),
                        "--clear-groups", gwtest::gwctl_path(), "--socket", runtime.socket(), "get", "Device.X_Test.Status"});
}

// Whether the unprivileged user can run gwctl at all here (root, setpriv, a reachable build).
std::string why_no_other_user() {
    if (geteuid() != 0) {
        return "needs root to run a client as another user";
    }
    if (access(kSetpriv, X_OK) != 0) {
        return std::string("needs ") + kSetpriv + " (util-linux) to run a client as another user";
    }
    Outcome probe = gwtest::run({kSetpriv, "--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(kNobody),
                                 "--clear-groups", gwtest::gwctl_path(), "--help"});
    if (probe.exit_code != 0) {
        return "uid " + std::to_string(kNobody) + " cannot run " + gwtest::gwctl_path() + ": " + probe.err;
    }
    return "";
}

// The test folder and socket opened to everyone, so that only the credentials check remains.
void open_up(const TestRuntime& runtime) {
    chmod(runtime.dir().path().c_str(), 0711);
    chmod(runtime.dir().file("run").c_str(), 0711);
    chmod(runtime.socket().c_str(), 0666);
}

TEST(ControlSocketUsers, AnotherUserIsKeptOutByTheModeAndByItsCredentials) {
    if (std::string why = why_no_other_user(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    TestRuntime runtime;
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();

    // The socket's folder and mode stop the other user at connect.
    Outcome blocked = ctl_as_nobody(runtime);
    EXPECT_EQ(blocked.exit_code, 6);
    EXPECT_THAT(blocked.err, HasSubstr("Permission denied"));

    // With the socket reachable, the credentials check refuses and says who it refused.
    open_up(runtime);
    Outcome refused = ctl_as_nobody(runtime);
    EXPECT_EQ(refused.exit_code, 6) << refused.out;
    EXPECT_TRUE(gwtest::wait_until([&] { return runtime.stderr_text().find("refused pid") != std::string::npos; }));
    EXPECT_THAT(runtime.stderr_text(), HasSubstr("running as uid 65534 (not an allowed user)"));
    expect_still_serving(runtime);
    expect_clean_stop(runtime);
}

// socket-mode and socket-group let the group reach the socket (its private folder is opened for
// search); the credentials check still decides, and SIGHUP brings new socket-users in.
TEST(ControlSocketUsers, TheSocketsGroupReachesItAndReloadedUsersAreServed) {
    if (std::string why = why_no_other_user(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    RuntimeSetup setup;
    setup.extra = "    socket-mode = \"0660\";\n    socket-group = " + std::to_string(kNobody) + ";\n";
    TestRuntime runtime(setup);
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    chmod(runtime.dir().path().c_str(), 0711);
    struct stat st {};
    ASSERT_EQ(stat(runtime.socket().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(st.st_gid, kNobody);
    ASSERT_EQ(stat(runtime.dir().file("run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0710u);

    EXPECT_EQ(ctl_as_nobody(runtime).exit_code, 6);
    EXPECT_TRUE(gwtest::wait_until([&] { return runtime.stderr_text().find("refused pid") != std::string::npos; }));

    runtime.dir().write("gwrt.conf", gwtest::read_file(runtime.config()) + "%config { socket-users = [ \"nobody\" ]; }\n");
    runtime.signal(SIGHUP);
    Outcome served;
    EXPECT_TRUE(gwtest::wait_until([&] { return (served = ctl_as_nobody(runtime)).exit_code == 0; })) << served.err;
    EXPECT_EQ(served.out, "Device.X_Test.Status=Idle\n") << served.err;
    expect_clean_stop(runtime);
}

TEST(ControlSocketUsers, UnknownUserNamesAreRefusedAtStart) {
    RuntimeSetup setup;
    setup.extra = "    socket-users = [ \"no-such-user-here\" ];\n";
    TestRuntime runtime(setup);
    EXPECT_FALSE(runtime.start());
    EXPECT_THAT(runtime.outcome().err, HasSubstr("'socket-users': no user named 'no-such-user-here'"));
}

}  // namespace
