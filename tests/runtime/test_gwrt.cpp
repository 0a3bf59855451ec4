// gwrt as a process: start, the stop sequence, configuration and load failures, the socket.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "support/test_runtime.h"

namespace {

using gwtest::expect_clean_exit;
using gwtest::Outcome;
using gwtest::RuntimeSetup;
using gwtest::TestRuntime;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A start that must fail: exit 1 with exactly one line on stderr, nothing started, no socket.
std::string expect_refused_start(TestRuntime& runtime, const std::vector<std::string>& args = {}) {
    EXPECT_FALSE(runtime.start(args));
    Outcome outcome = runtime.outcome();
    EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
    EXPECT_FALSE(gwtest::sanitizer_report(outcome.err)) << outcome.err;
    EXPECT_THAT(outcome.err, StartsWith("gwrt: "));
    EXPECT_EQ(gwtest::lines(outcome.err).size(), 1u) << outcome.err;
    EXPECT_TRUE(runtime.log().empty()) << "an entry point ran";
    EXPECT_NE(access(runtime.socket().c_str(), F_OK), 0) << "socket created by a failed start";
    return outcome.err;
}

TEST(GwrtLifecycle, ServesAloneAndSigtermRunsTheStopSequenceInOrder) {
    TestRuntime runtime;
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    EXPECT_THAT(runtime.log(), ElementsAre("start a prefix=X_ services=distinct", "start b prefix=X_ services=distinct"));

    // The control socket is private.
    struct stat st {};
    ASSERT_EQ(stat(runtime.socket().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(runtime.dir().file("run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A second runtime on the same socket is refused before it loads anything.
    Outcome second = gwtest::run({gwtest::gwrt_path(), "--config", runtime.config()});
    EXPECT_EQ(second.exit_code, 1);
    EXPECT_EQ(second.err, "gwrt: " + runtime.socket() + " is already served by a running gwrt\n");
    EXPECT_EQ(runtime.ctl({"get", "Device.X_Test.Status"}).out, "Device.X_Test.Status=Idle\n");

    expect_clean_exit(runtime.stop(SIGTERM));
    // Entry points stop in reverse order, then the tree is torn down with its destroy actions.
    auto log = runtime.log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[2], "stop b");
    EXPECT_EQ(log[3], "stop a");
    EXPECT_THAT(std::vector<std::string>(log.begin() + 4, log.end()),
                ::testing::UnorderedElementsAre("destroy Device.X_Test.Item.1.", "destroy Device.X_Test.Item.2.",
                                                "destroy Device.X_Test.Item.10."));
    EXPECT_NE(access(runtime.socket().c_str(), F_OK), 0) << "socket file left behind";
}

// SIGHUP puts the file's trace levels in force; a file that no longer reads changes nothing.
TEST(GwrtLifecycle, SighupReloadsTheTraceLevelsAndSigintStops) {
    TestRuntime runtime;
    ASSERT_TRUE(runtime.start()) << runtime.stderr_text();
    const std::string conf = gwtest::read_file(runtime.config());
    const std::string quiet = "trace = \"default=200\";";
    auto reload = [&](const std::string& trace, const std::string& expected) {
        std::string text = conf;
        runtime.dir().write("gwrt.conf", text.replace(text.find(quiet), quiet.size(), trace));
        runtime.signal(SIGHUP);
        EXPECT_TRUE(gwtest::wait_until([&] { return runtime.stderr_text().find(expected) != std::string::npos; })) << runtime.stderr_text();
    };
    reload("trace = \"gwrt=300\";", "[n]reloaded " + runtime.config() + ": trace levels \"gwrt=300\"");
    reload("tracer = \"gwrt=500\";", "[x]reload refused, nothing changed: " + runtime.config() + ":");
    EXPECT_THAT(runtime.stderr_text(), HasSubstr("unknown configuration key 'tracer'"));
    reload(quiet, "");
    EXPECT_EQ(runtime.ctl({"get", "Device.X_Test.Name"}).out, "Device.X_Test.Name=\n");
    Outcome end = runtime.stop(SIGINT);
    expect_clean_exit(end);
    EXPECT_THAT(end.err, ::testing::Not(HasSubstr("stopping"))) << "levels back at default=200: no notice";
    EXPECT_EQ(runtime.log().at(2), "stop b");
}

// Also: a second definition file adds its own top-level object beside the main model.
TEST(GwrtConfiguration, CommandLineWinsOverTheFile) {
    RuntimeSetup setup;
    setup.definitions.push_back(gwtest::data_file("extra.def"));
    TestRuntime runtime(setup);
    std::string configured = runtime.socket();
    ASSERT_TRUE(runtime.start({"--prefix", "Y_", "--trace", "default=100", "--socket", runtime.dir().file("other.sock")}))
        << runtime.stderr_text();
    EXPECT_EQ(runtime.log().at(0), "start a prefix=Y_ services=distinct");
    EXPECT_EQ(runtime.socket(), runtime.dir().file("other.sock"));
    EXPECT_NE(access(configured.c_str(), F_OK), 0);
    EXPECT_EQ(runtime.ctl({"get", "Device.Y_Test.Status"}).out, "Device.Y_Test.Status=Idle\n");
    EXPECT_NE(runtime.ctl({"get", "Device.X_Test."}).exit_code, 0);
    EXPECT_EQ(runtime.ctl({"get", "Extra."}).out, "Extra.Note=extra\n");
    expect_clean_exit(runtime.stop());
}

TEST(GwrtConfiguration, RefusesBadConfigurations) {
    struct Case {
        const char* config;  // "": the test's own configuration
        const char* message;
        std::vector<std::string> args = {};
    };
    const Case cases[] = {
        {"%config { definitions = 5; }", "'definitions' must be a list of non-empty texts"},
        {"%config { services = [ \"a.def\", [ ] ]; }", "'services' must be a list of non-empty texts"},
        {"%config { socket = [ ]; }", "'socket' must be a text"},
        {"%config { firewall = { backend = 1; }; }", "'firewall.backend' must be a text"},
        {"%config { import-dirs = \"no/such/folder\"; }", "no/such/folder does not exist"},
        {"%config { trace = \"default=\"; }", "trace: bad level configuration 'default='"},
        {"%config { firewall = { jump = \"yes\"; }; }", "'firewall.jump' must be true or false"},
        {"%config { firewall = { sets = 1; }; }", "'firewall.sets' must be true or false"},
        {"%config {\n    fire_wall = { backend = \"memory\"; };\n}", "case.conf:2: unknown configuration key 'fire_wall'"},
        {"%config {\n    firewall = {\n        bakend = \"memory\"; }; }", "case.conf:3: unknown configuration key 'firewall.bakend'"},
        {"%config { trace-output = \"journal\"; }", "'trace-output' must be \"stderr\" or \"syslog\""},
        {"%config { socket-mode = \"0755\"; }", "'socket-mode' must be octal read/write bits"},
        {"%config { socket-group = \"no-such-group-here\"; }", "'socket-group': no group named 'no-such-group-here'"},
        {"%config { socket-users = [ \"no-such-user-here\" ]; }", "'socket-users': no user named 'no-such-user-here'"},
        {"%config { }\n%define { object Stray { } }\n", "holds only %config"},
        {"%config {\n    socket = ;\n}\n", "case.conf:2"},
        {"%config { state = { export = \"A.B\"; }; }", "'state.import' name the methods"},
        {"%config { state = { export = \"_Export\"; import = \"A.B\"; }; }", "is not Object.Path.Method"},
        {"%config { state = { export = \"A.B\"; import = \"A.B\"; delay = \"soon\"; }; }", "'state.delay' must be a number"},
        {"%config { state = { export = \"A.B\"; import = \"A.B\"; ignore = \"Status\"; }; }", "'state.ignore' must be a list"},
        {"", "unknown firewall backend \"nosuch\" (valid: memory, nftables)", {"--firewall", "nosuch"}},
    };
    for (const Case& c : cases) {
        TestRuntime runtime;
        std::vector<std::string> args = c.args;
        if (c.config[0] != '\0') {
            args = {"--config", runtime.dir().write("case.conf", c.config)};
        }
        EXPECT_THAT(expect_refused_start(runtime, args), HasSubstr(c.message)) << c.config;
    }
}

TEST(GwrtConfiguration, UsageErrors) {
    for (const auto& [option, message] : {std::pair {"--bogus", "gwrt: unknown option --bogus\n"}, {"--config", "gwrt: --config needs a value\n"}}) {
        Outcome outcome = gwtest::run({gwtest::gwrt_path(), option});
        EXPECT_EQ(outcome.exit_code, 2);
        EXPECT_THAT(outcome.err, StartsWith(message));
    }
    // An empty value after '=' is a value where one may be empty, not a missing one.
    Outcome outcome = gwtest::run({gwtest::gwrt_path(), "--prefix=", "--help"});
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_THAT(outcome.out, HasSubstr("memory (default) or nftables"));
}

// Unknown functions, missing files and top-level objects claimed twice: named in the one line.
TEST(GwrtLoadFailure, FaultsAreNamedWithTheirFile) {
    struct Case {
        std::vector<std::string> definitions;
        std::vector<std::string> services;
        std::string message;
        bool in_folder = false;  // a path relative to the runtime's folder, named in full
    };
    const std::string hosts = gwtest::service_file("hosts"), unknown = gwtest::data_file("unknown_function.def");
    const Case cases[] = {
        {{unknown}, {}, "gwrt: " + unknown + ":9: unknown function '_no_such_function'"},
        {{gwtest::data_file("test.def"), "missing.def"}, {}, "missing.def", true},
        {{gwtest::data_file("test.def")}, {"nosuch/service.def"}, "nosuch/service.def", true},
        {{gwtest::data_file("test.def")}, {hosts, hosts}, "gwrt: Hosts. is declared by both " + hosts + " and " + hosts},
        {{gwtest::data_file("test.def"), gwtest::data_file("firewall.def")}, {hosts}, "Firewall. is served by the runtime itself"},
    };
    for (const Case& c : cases) {
        RuntimeSetup setup;
        setup.definitions = c.definitions;
        setup.services = c.services;
        TestRuntime runtime(setup);
        EXPECT_THAT(expect_refused_start(runtime), HasSubstr(c.in_folder ? runtime.dir().file(c.message) : c.message));
    }
}

TEST(GwrtLoadFailure, FailedEntryPointStopsWhatStarted) {
    RuntimeSetup setup;
    setup.extra = "    test_fail_start = true;\n";
    TestRuntime runtime(setup);
    EXPECT_FALSE(runtime.start());
    Outcome outcome = runtime.outcome();
    EXPECT_EQ(outcome.exit_code, 1);
    EXPECT_THAT(outcome.err, HasSubstr("gwrt: 1 module entry point(s) failed to start\n"));
    auto log = runtime.log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[2], "stop b");
    EXPECT_EQ(log[3], "stop a");
}

}  // namespace
