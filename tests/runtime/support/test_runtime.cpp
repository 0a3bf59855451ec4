#include "test_runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "socket_path.h"

namespace gwtest {

std::string data_file(const std::string& name) { return std::string(GWTEST_DATA_DIR) + "/" + name; }

std::string service_file(const std::string& name) {
    return std::string(GWTEST_SOURCE_DIR) + "/services/" + name + "/" + name + ".def";
}

RuntimeSetup module_setup(const std::string& extra) {
    return {{std::string(GWTEST_SOURCE_DIR) + "/datamodel/networksettings-qk.def"},
            {service_file("hosts"), service_file("schedules"), service_file("devices")},
            "",
            extra};
}

std::string gwrt_path() { return GWTEST_GWRT; }
std::string gwctl_path() { return GWTEST_GWCTL; }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

namespace {

std::string list_of(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i == 0 ? " " : ", ") + quoted(items[i]);
    }
    return out + " ]";
}

}  // namespace

TestRuntime::TestRuntime(const RuntimeSetup& setup) {
    socket_ = dir_.path() + "/run/gwrt.sock";
    std::string text = "%config {\n";
    text += "    definitions = " + list_of(setup.definitions) + ";\n";
    text += "    services = " + list_of(setup.services) + ";\n";
    text += "    import-dirs = [ " + quoted(GWTEST_MODULE_DIR) + " ];\n";
    text += "    socket = \"run/gwrt.sock\";\n";  // relative: resolved against this file's folder
    text += "    firewall = { backend = \"memory\"; };\n";
    text += "    trace = \"default=200\";\n";
    text += "    prefix_ = " + quoted(setup.prefix) + ";\n";
    if (std::find(setup.definitions.begin(), setup.definitions.end(), data_file("test.def")) != setup.definitions.end()) {
        text += "    test_log = " + quoted(dir_.file("module.log")) + ";\n";  // a key test.def declares
    }
    text += setup.extra;
    text += "}\n";
    config_ = dir_.write("gwrt.conf", text);
}

TestRuntime::~TestRuntime() {
    if (child_ && child_->running()) {
        child_->stop(SIGKILL, 5s);
    }
}

bool TestRuntime::start(const std::vector<std::string>& args) {
    std::vector<std::string> argv {gwrt_path(), "--config", config_};
    argv.insert(argv.end(), args.begin(), args.end());
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--socket") {
            socket_ = args[i + 1];
        }
    }
    child_ = std::make_unique<Child>(argv, dir_.file("gwrt.out"), dir_.file("gwrt.err"));
    std::string reason;
    return wait_until([&] {
        return !child_->running() || gw::probe_socket(socket_, reason) == gw::SocketProbe::live;
    }) && child_->running();
}

Outcome TestRuntime::stop(int sig) { return child_->stop(sig); }

Outcome TestRuntime::outcome() { return child_->stop(0, 20s); }

Outcome TestRuntime::ctl(const std::vector<std::string>& args, std::chrono::milliseconds limit) const {
    std::vector<std::string> argv {gwctl_path(), "--socket", socket_};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, limit);
}

std::vector<std::string> TestRuntime::log() const { return lines(read_file(dir_.file("module.log"))); }

bool sanitizer_report(const std::string& err) {
    return err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos;
}

void expect_clean_exit(const Outcome& outcome) {
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.term_signal, 0);
    EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
    EXPECT_FALSE(sanitizer_report(outcome.err)) << outcome.err;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            out.push_back(line);
        }
    }
    return out;
}

std::string sorted_lines(const std::string& text) {
    std::vector<std::string> sorted = lines(text);
    std::sort(sorted.begin(), sorted.end());
    std::string out;
    for (const std::string& line : sorted) {
        out += line + "\n";
    }
    return out;
}

}  // namespace gwtest
