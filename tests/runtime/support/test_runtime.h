// A gwrt started for one test: its own folder, configuration, socket and log, and gwctl runs
// against it. Everything is stopped and removed when the object goes, whatever happened.
#pragma once

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "process.h"
#include "temp_dir.h"

namespace gwtest {

// A file of tests/runtime/data, and a service definition of the source tree ("hosts").
std::string data_file(const std::string& name);
std::string service_file(const std::string& name);

struct RuntimeSetup {
    std::vector<std::string> definitions {data_file("test.def")};
    std::vector<std::string> services {service_file("hosts"), service_file("schedules")};
    std::string prefix = "X_";
    std::string extra;  // more lines inside %config { }
};

// The shipped access-control module with its three services, unprefixed; `extra` as above.
RuntimeSetup module_setup(const std::string& extra = "");

// A quoted text of the definition language.
std::string quoted(const std::string& text);

class TestRuntime {
public:
    explicit TestRuntime(const RuntimeSetup& setup = {});
    ~TestRuntime();

    // Starts gwrt with the configuration and `args` and waits until it serves its socket (the
    // one of "--socket PATH" in `args` when given).
    // False when it exited or did not come up in time (outcome() then tells why).
    bool start(const std::vector<std::string>& args = {});

    // Sends `sig` and waits for the end.
    Outcome stop(int sig = SIGTERM);

    // What the last start or stop ended with, when gwrt is no longer running.
    Outcome outcome();

    void signal(int sig) { child_->signal(sig); }

    // Runs gwctl against this runtime's socket.
    Outcome ctl(const std::vector<std::string>& args, std::chrono::milliseconds limit = 20s) const;

    const TempDir& dir() const { return dir_; }
    const std::string& config() const { return config_; }
    const std::string& socket() const { return socket_; }
    std::string stderr_text() const { return child_ ? child_->err() : ""; }

    // The lines the test module wrote.
    std::vector<std::string> log() const;

private:
    TempDir dir_;
    std::string config_;
    std::string socket_;
    std::unique_ptr<Child> child_;
};

// The built programs.
std::string gwrt_path();
std::string gwctl_path();

// Whether a sanitizer reported something in this stderr text.
bool sanitizer_report(const std::string& err);
// Expects a process that ended by itself (or on a signal it handles): exit 0, in time, and no
// sanitizer report.
void expect_clean_exit(const Outcome& outcome);

// The non-empty lines of a text.
std::vector<std::string> lines(const std::string& text);
// Those lines sorted, each ending in a line break: for sets of rules whose order does not count.
std::string sorted_lines(const std::string& text);

}  // namespace gwtest
