// A gateway for one test: the client/router/server namespaces of netns-topology.sh and gwrt
// running in the router namespace with the nftables backend hooked on the forward path,
// reached only through gwctl. Everything is stopped and removed when the object goes.
#ifndef TESTS_E2E_GATEWAY_H
#define TESTS_E2E_GATEWAY_H

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "process.h"
#include "temp_dir.h"
#include "topology.h"

namespace e2e {

// Why these tests cannot run here ("" when they can): not root, no nft, no network
// namespaces, no socat or ping.
const std::string& machine_refuses();

inline const std::string client_v4 = "10.99.1.2";
inline const std::string client_v6 = "fd99:1::2";
inline const std::string server_v4 = "10.99.2.2";
inline const std::string server_v6 = "fd99:2::2";

// The rules of both access-control chains, as rule texts in chain order.
struct Chains {
    std::vector<std::string> v4;
    std::vector<std::string> v6;
};

// An instance path as a reference parameter holds it: without the trailing dot.
std::string ref(const std::string& path);

// The dump of the access-control chains (the form of `gwctl firewall`) holding these rules.
std::string dump_of(const Chains& chains);

// The firewall options of gwrt's configuration by default: gwrt hooks its chains on the
// forward path, and the kernel holds one rule per rule, so that settle() can compare the
// kernel's chains with the module's rule by rule.
inline const std::string positional_kernel_rules = "jump = true; sets = false;";

class Gateway {
public:
    explicit Gateway(const std::string& firewall_options = positional_kernel_rules);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // The topology came up ("" when it did).
    const std::string& error() const { return error_; }
    const nfttest::Topology& net() const { return *topology_; }

    // Starts gwrt in the router namespace and waits until it answers; "" or why not.
    std::string start();
    // SIGTERM: gwrt's exit, with what it wrote.
    gwtest::Outcome stop();
    // SIGKILL: gwrt gets no chance to clean up.
    void kill_hard();
    bool running() { return gwrt_ && gwrt_->running(); }

    // gwctl against this gateway; a command that changes the tree counts as the last change.
    gwtest::Outcome ctl(const std::vector<std::string>& args);
    // `gwctl add`; the new instance's path, ending in a dot, "" when refused.
    std::string add(const std::string& table, const std::vector<std::string>& values);
    // Sets the schedules' clock ("2026-03-30T21:00:00Z"); it runs on from there.
    void set_clock(const std::string& utc);
    // The value of one parameter, "" when it cannot be read.
    std::string get(const std::string& parameter);

    // The module's view (`gwctl firewall`) and the kernel's (nft listing in the router).
    std::string firewall();
    std::string kernel() const;

    // Waits until the kernel's chains hold `expected`, `gwctl firewall` says the same, and the
    // module's commit delay has passed since the last change (so that no rebuild is still due).
    // "" when they did within the deadline, else the last views.
    std::string settle(const Chains& expected, std::chrono::milliseconds deadline = std::chrono::seconds(15));

private:
    std::optional<nfttest::Topology> topology_;
    gwtest::TempDir dir_;
    std::string config_;
    std::string socket_;
    std::unique_ptr<gwtest::Child> gwrt_;
    std::chrono::steady_clock::time_point last_change_;
    std::string error_;
};

}  // namespace e2e

#endif  // TESTS_E2E_GATEWAY_H
