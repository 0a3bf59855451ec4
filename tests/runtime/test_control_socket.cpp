// The control socket against other users: kept out by the socket's mode and by their
// credentials unless configured. (Framing faults are the bus listener's tests.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>


#include "support/test_runtime.h"

namespace {

using gwtest::Outcome;
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
// search); the credentials check still decides, and SIGHUP brings new socket-users and mode in.
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

    runtime.dir().write("gwrt.conf", gwtest::read_file(runtime.config()) + "%config { socket-users = [ \"nobody\" ]; socket-mode = \"0666\"; }\n");
    runtime.signal(SIGHUP);
    Outcome served;
    EXPECT_TRUE(gwtest::wait_until([&] { return (served = ctl_as_nobody(runtime)).exit_code == 0; })) << served.err;
    EXPECT_EQ(served.out, "Device.X_Test.Status=Idle\n") << served.err;
    ASSERT_EQ(stat(runtime.socket().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
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
