// The product end to end, for one test: the client/router/server namespaces of
// netns-topology.sh and gwrt running in the router namespace with the nftables backend,
// reached only through gwctl. Afterwards gwrt is stopped the clean way, which must end well
// and leave the module's chains empty in the kernel; everything is then removed.
#ifndef TESTS_E2E_E2E_FIXTURE_H
#define TESTS_E2E_E2E_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kernel_view.h"
#include "netns.h"
#include "test_runtime.h"
#include "topology.h"

namespace e2e {

using namespace std::chrono_literals;

inline const std::string root = "Device.NetworkSettings.";
inline const std::string client_v4 = "10.99.1.2";
inline const std::string client_v6 = "fd99:1::2";
inline const std::string server_v4 = "10.99.2.2";
inline const std::string server_v6 = "fd99:2::2";

// An instance path as a reference parameter holds it: without the trailing dot.
inline std::string ref(const std::string& path) {
    return !path.empty() && path.back() == '.' ? path.substr(0, path.size() - 1) : path;
}

// The dump of the access-control chains (the form of `gwctl firewall`) holding at most one
// rule each, given as its text after the chain name.
inline std::string dump_of(const std::string& v4 = "", const std::string& v6 = "") {
    const auto rule = [](const std::string& chain, const std::string& text) {
        return text.empty() ? "" : "-A " + chain + " " + text + "\n";
    };
    return "# ipv4\n*filter\n:FORWARD_AccessControl_QK - [0:0]\n" + rule("FORWARD_AccessControl_QK", v4) +
           "COMMIT\n# ipv6\n*filter\n:FORWARD6_AccessControl_QK - [0:0]\n" + rule("FORWARD6_AccessControl_QK", v6) +
           "COMMIT\n";
}

class GatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string& refused = !nfttest::kernel_tests_refused().empty() ? nfttest::kernel_tests_refused()
                                                                              : nfttest::packet_tools_missing();
        if(!refused.empty()) {
            GTEST_SKIP() << refused;
        }
        topology_.emplace();
        ASSERT_TRUE(topology_->ok()) << topology_->error();
        const gwtest::RuntimeSetup module = gwtest::module_setup();
        std::string services;
        for(const std::string& service : module.services) {
            services += (services.empty() ? "" : ", ") + gwtest::quoted(service);
        }
        config_ = dir_.write("gwrt.conf", "%config {\n    definitions = [ " + gwtest::quoted(module.definitions[0]) +
                                              " ];\n    services = [ " + services + " ];\n"
                                              "    socket = " + gwtest::quoted(socket_) + ";\n"
                                              "    firewall = { backend = \"nftables\"; " + firewall_options() + " };\n"
                                              "    trace = \"default=200\";\n"
                                              "    schedules-clock = " + gwtest::quoted("fake:" + dir_.file("clock")) +
                                              ";\n}\n");
        set_clock("2026-01-05T12:00:00Z");
        ASSERT_EQ(start(), "");
    }
    void TearDown() override {
        if(running()) {
            gwtest::expect_clean_exit(gwrt_->stop(SIGTERM));
            EXPECT_EQ(kernel(), dump_of()) << "a clean stop leaves no rule behind";
        }
        gwrt_.reset();  // gwrt goes before its namespaces
    }

    // The firewall options of gwrt's configuration. By default gwrt hooks its chains on the
    // forward path and the kernel holds one rule per rule.
    virtual std::string firewall_options() const { return "jump = true; sets = false;"; }

public:
    const nfttest::Topology& net() const { return *topology_; }

    // Starts gwrt in the router namespace and waits until it answers; "" or why not.
    std::string start() {
        std::vector<std::string> argv{"/usr/bin/env", "ip", "netns", "exec", net().router()};
        if(!std::string(E2E_GWRT_PRELOAD).empty()) {
            argv.insert(argv.end(), {"env", "LD_PRELOAD=" E2E_GWRT_PRELOAD});
        }
        argv.insert(argv.end(), {gwtest::gwrt_path(), "--config", config_});
        // `env`, `ip netns exec` and `env` replace themselves with gwrt: the child is gwrt itself.
        gwrt_ = std::make_unique<gwtest::Child>(argv, dir_.file("gwrt.out"), dir_.file("gwrt.err"));
        const bool up = gwtest::wait_until([this] { return !running() || ctl({"get", root}).exit_code == 0; });
        return up && running() ? "" : "gwrt did not come up: " + gwrt_->err();
    }
    // SIGKILL: gwrt gets no chance to clean up.
    void kill_hard() { gwrt_->stop(SIGKILL); }
    bool running() { return gwrt_ && gwrt_->running(); }

    // gwctl against this gateway.
    gwtest::Outcome ctl(const std::vector<std::string>& args) {
        std::vector<std::string> argv{gwtest::gwctl_path(), "--socket", socket_};
        argv.insert(argv.end(), args.begin(), args.end());
        return gwtest::run(argv);
    }
    // `gwctl add`; the new instance's path, ending in a dot, "" when refused.
    std::string add(const std::string& table, const std::vector<std::string>& values) {
        std::vector<std::string> args{"add", table};
        args.insert(args.end(), values.begin(), values.end());
        const gwtest::Outcome outcome = ctl(args);
        const std::vector<std::string> lines = gwtest::lines(outcome.out);
        if(outcome.exit_code != 0 || lines.empty()) {
            return "";
        }
        return lines[0].back() == '.' ? lines[0] : lines[0] + '.';
    }
    // The value of one parameter, "" when it cannot be read.
    std::string get(const std::string& parameter) {
        const gwtest::Outcome outcome = ctl({"get", parameter});
        const std::vector<std::string> lines = gwtest::lines(outcome.out);
        const std::string prefix = parameter + "=";
        return outcome.exit_code == 0 && !lines.empty() && lines[0].starts_with(prefix) ? lines[0].substr(prefix.size())
                                                                                        : "";
    }
    // Sets the schedules' clock ("2026-03-30T21:00:00Z"); it runs on from there.
    void set_clock(const std::string& utc) { dir_.write("clock", utc + "\n"); }

    // The module's view (`gwctl firewall`) and the kernel's (nft listing in the router).
    std::string firewall() { return ctl({"firewall"}).out; }
    std::string kernel() const {
        return nfttest::kernel_dump(net().router(), {nfttest::access_control_v4, nfttest::access_control_v6});
    }

    // A network object holding one rule per (Type, SourceIP[, SourceMask]) entry.
    std::string network_object(const std::vector<std::vector<std::string>>& rules) {
        const std::string object = add(root + "NetworkObject.", {"Name=e2e"});
        for(const std::vector<std::string>& rule : rules) {
            EXPECT_NE(add(object + "Rule.", rule), "") << rule.front();
        }
        return object;
    }

private:
    std::optional<nfttest::Topology> topology_;
    gwtest::TempDir dir_;
    std::string socket_ = dir_.file("gwrt.sock");
    std::string config_;
    std::unique_ptr<gwtest::Child> gwrt_;
};

}  // namespace e2e

#endif  // TESTS_E2E_E2E_FIXTURE_H
