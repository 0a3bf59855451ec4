#include "gateway.h"

#include <csignal>

#include "kernel_view.h"
#include "netns.h"
#include "test_runtime.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The module's commit delay plus a margin: a state seen this long after the last change is
// not one a pending rebuild is about to replace.
constexpr auto settle_delay = 1200ms;

std::string without_line_end(std::string text) {
    while(!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::string config_text(const std::string& socket, const std::string& clock, const std::string& firewall_options) {
    using gwtest::quoted;
    using gwtest::service_file;
    return "%config {\n"
           "    definitions = [ " + quoted(std::string(GWTEST_SOURCE_DIR) + "/datamodel/networksettings-qk.def") + " ];\n"
           "    services = [ " + quoted(service_file("hosts")) + ", " + quoted(service_file("schedules")) + ", " +
           quoted(service_file("devices")) + " ];\n"
           "    socket = " + quoted(socket) + ";\n"
           "    firewall = { backend = \"nftables\"; " + firewall_options + " };\n"
           "    trace = \"default=200\";\n"
           "    schedules-clock = " + quoted("fake:" + clock) + ";\n"
           "}\n";
}

}  // namespace

const std::string& machine_refuses() {
    return !nfttest::kernel_tests_refused().empty() ? nfttest::kernel_tests_refused() : nfttest::packet_tools_missing();
}

std::string ref(const std::string& path) {
    return !path.empty() && path.back() == '.' ? path.substr(0, path.size() - 1) : path;
}

std::string dump_of(const Chains& chains) {
    std::string out = "# ipv4\n*filter\n:FORWARD_AccessControl_QK - [0:0]\n";
    for(const std::string& rule : chains.v4) {
        out += "-A FORWARD_AccessControl_QK " + rule + "\n";
    }
    out += "COMMIT\n# ipv6\n*filter\n:FORWARD6_AccessControl_QK - [0:0]\n";
    for(const std::string& rule : chains.v6) {
        out += "-A FORWARD6_AccessControl_QK " + rule + "\n";
    }
    return out + "COMMIT\n";
}

Gateway::Gateway(const std::string& firewall_options) : socket_(dir_.file("gwrt.sock")), last_change_(Clock::now()) {
    topology_.emplace();
    if(!topology_->ok()) {
        error_ = topology_->error();
    }
    config_ = dir_.write("gwrt.conf", config_text(socket_, dir_.file("clock"), firewall_options));
    set_clock("2026-01-05T12:00:00Z");
}

void Gateway::set_clock(const std::string& utc) { dir_.write("clock", utc + "\n"); }

Gateway::~Gateway() {
    // gwrt goes before its namespace.
    gwrt_.reset();
}

std::string Gateway::start() {
    std::vector<std::string> argv{"/usr/bin/env", "ip", "netns", "exec", topology_->router()};
    const std::string preload = E2E_GWRT_PRELOAD;
    if(!preload.empty()) {
        argv.insert(argv.end(), {"env", "LD_PRELOAD=" + preload});
    }
    argv.insert(argv.end(), {gwtest::gwrt_path(), "--config", config_});
    // `env`, `ip netns exec` and `env` replace themselves with gwrt: the child is gwrt itself.
    gwrt_ = std::make_unique<gwtest::Child>(argv, dir_.file("gwrt.out"), dir_.file("gwrt.err"));
    const bool up = gwtest::wait_until(
        [this] { return !gwrt_->running() || ctl({"get", "Device.NetworkSettings."}).exit_code == 0; }, 20s);
    last_change_ = Clock::now();
    if(up && gwrt_->running()) {
        return "";
    }
    return "gwrt did not come up: " + gwrt_->err();
}

gwtest::Outcome Gateway::stop() { return gwrt_->stop(SIGTERM); }

void Gateway::kill_hard() { gwrt_->stop(SIGKILL); }

gwtest::Outcome Gateway::ctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{gwtest::gwctl_path(), "--socket", socket_};
    argv.insert(argv.end(), args.begin(), args.end());
    gwtest::Outcome outcome = gwtest::run(argv, 20s);
    if(!args.empty() && (args[0] == "add" || args[0] == "set" || args[0] == "del")) {
        last_change_ = Clock::now();
    }
    return outcome;
}

std::string Gateway::add(const std::string& table, const std::vector<std::string>& values) {
    std::vector<std::string> args{"add", table};
    args.insert(args.end(), values.begin(), values.end());
    gwtest::Outcome outcome = ctl(args);
    std::string path = without_line_end(outcome.out);
    if(outcome.exit_code != 0 || path.empty()) {
        return "";
    }
    return path.back() == '.' ? path : path + '.';
}

std::string Gateway::get(const std::string& parameter) {
    gwtest::Outcome outcome = ctl({"get", parameter});
    const std::string prefix = parameter + "=";
    if(outcome.exit_code != 0 || outcome.out.compare(0, prefix.size(), prefix) != 0) {
        return "";
    }
    return without_line_end(outcome.out.substr(prefix.size()));
}

std::string Gateway::firewall() { return ctl({"firewall"}).out; }

std::string Gateway::kernel() const {
    return nfttest::kernel_dump(topology_->router(), {nfttest::access_control_v4, nfttest::access_control_v6});
}

std::string Gateway::settle(const Chains& expected, std::chrono::milliseconds deadline) {
    std::string kernel_text;
    std::string module_text;
    const bool held = gwtest::wait_until(
        [&] {
            if(Clock::now() - last_change_ < settle_delay) {
                return false;
            }
            kernel_text = kernel();
            module_text = firewall();
            return kernel_text == dump_of(expected) && module_text == kernel_text;
        },
        deadline);
    return held ? "" : "expected:\n" + dump_of(expected) + "the kernel holds:\n" + kernel_text + "gwctl firewall:\n" + module_text;
}

}  // namespace e2e
