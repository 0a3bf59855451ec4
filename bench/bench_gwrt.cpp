// What another client waits for through a real gwrt while one client attacks it, and how much
// gwrt's resident memory grows meanwhile. gwrt runs the shipped configuration (the module, the
// services, the memory firewall) holding one access control of 65,536 sources on one port; the
// other client connects, reads one object and leaves, every 10 ms, 300 times. Attacks:
//   none (baseline); a pathological filter pattern on a subscription fed 100 KB values; a
//   pathological device-map query fed 1000-byte names; 256 idle connections; 250 connections
//   each holding a request 1 byte short of 1 MiB; adds at the largest index (refused), each
//   followed by an add of the next index and its delete; 16 clients that ask for the firewall
//   (3.5 MB) and never read; the module's own long work: a DestPort change every 1.2 s and an
//   Enable toggle every 0.6 s (65,536 rules withdrawn and rebuilt); and a configuration of
//   10,000 more port-forwarding rules, one of them changed every 250 ms, so that each change
//   saves the whole tree; and the access control deleted (its 65,536 rules withdrawn within the
//   request) and added anew every 1.2 s; and a saved network object of 10,000 rules restored
//   by `_Import`, deleted, and restored again every 1.2 s. BM_AnotherClientDuringAttackNftables runs the baseline
//   and the three attacks of long work on the kernel firewall (root; gwrt in a network namespace
//   of its own).
// Counters: p99_ms and max_ms of the other client's waits; max_busy_ms, the most CPU time gwrt
// spent during one of them (the wait on an otherwise idle machine); rss_growth_kb (peak minus
// before; the peak is the kernel's high-water mark where it can be reset, else the largest
// sample); page_faults, gwrt's minor faults meanwhile (a fork's copy-on-write shows there).
// BM_StartAndRestore: a restart restoring 10,000 rules, beside a start on an empty folder.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <amxb/amxb.h>

#include "raw_socket.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

enum Attack { none, filter_pattern, query_pattern, idle_crowd, partial_frames, huge_index, unread_replies, port_change,
              enable_toggle, saved_tree, delete_and_add, restore };

constexpr int kSavedTreeRules = 10000;

const std::string root = "Device.NetworkSettings.";

enum class Firewall { memory, nftables };

// gwrt in a folder of its own (socket, saved state), stopped and removed with the object (a
// folder given is kept, for the next start); with the kernel firewall, in a network namespace
// of its own (unshare execs gwrt in its place).
class Gwrt {
public:
    explicit Gwrt(Firewall firewall = Firewall::memory, const fs::path& kept = {})
        : dir_(kept.empty() ? fs::temp_directory_path() / ("bench_gwrt." + std::to_string(getpid())) : kept),
          owns_dir_(kept.empty()) {
        fs::create_directories(dir_);
        socket_ = (dir_ / "gwrt.sock").string();
        pid_ = fork();
        if(pid_ == 0) {
            if(firewall == Firewall::nftables) {
                execlp("unshare", "unshare", "--net", GWRT_PATH, "--socket", socket_.c_str(), "--state-dir", dir_.c_str(),
                       "--trace", "default=100", "--firewall", "nftables", static_cast<char*>(nullptr));
            } else {
                execl(GWRT_PATH, "gwrt", "--socket", socket_.c_str(), "--state-dir", dir_.c_str(), "--trace", "default=100",
                      static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        for(int i = 0; i < 5000 && !fs::exists(socket_); ++i) {
            std::this_thread::sleep_for(1ms);
        }
    }
    ~Gwrt() {
        if(pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if(owns_dir_) {
            fs::remove_all(dir_);
        }
    }
    Gwrt(const Gwrt&) = delete;
    Gwrt& operator=(const Gwrt&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& socket() const { return socket_; }

    // One request on a fresh connection; the reply's text ("" when none came).
    std::string request(const std::string& json) const {
        const int fd = rawsock::connect_to(socket_);
        std::string reply;
        if(fd >= 0 && rawsock::send_all(fd, rawsock::frame(json))) {
            reply = rawsock::read_frame(fd, 30s);
        }
        close(fd);
        return reply;
    }

private:
    fs::path dir_;
    bool owns_dir_;
    std::string socket_;
    pid_t pid_ = -1;
};

std::string set_request(const std::string& path, const std::string& name, const std::string& value) {
    return R"({"id": 1, "op": "set", "path": ")" + path + R"(", "values": {")" + name + R"(": ")" + value + R"("}})";
}

std::string add_request(const std::string& path, uint64_t index, const std::string& values) {
    return R"({"id": 1, "op": "add", "path": ")" + path + R"(", "index": )" + std::to_string(index) +
           R"(, "name": "", "values": )" + values + "}";
}

bool ok(const std::string& reply) {
    return reply.find("\"status\":0") != std::string::npos;
}

// `_Import` of the network object `key` (NetworkObject-<n>) of kSavedTreeRules single-address
// rules, 10.1.0.2 to 10.1.40.1.
std::string restore_request(const std::string& key = "NetworkObject-2") {
    std::string rules;
    for(int n = 1; n <= kSavedTreeRules; ++n) {
        rules += std::string(n == 1 ? "" : ",") + R"({"Rule-)" + std::to_string(n) + R"(": {"Type": "IPAddress", "SourceIP": "10.1.)" +
                 std::to_string(n / 250) + "." + std::to_string(n % 250 + 1) + R"("}})";
    }
    return R"({"id": 1, "op": "call", "path": ")" + root +
           R"(", "method": "_Import", "args": {"data": {"set": {"hgwconfig": {"NetworkSettings": {"NetworkObject": [{")" + key +
           R"(": {"Name": "restored", "Rule": [)" + rules + "]}}]}}}}}}";
}

// The access control of 65,536 sources, active (its rules in the firewall), and for saved_tree
// the large configuration.
bool seed(const Gwrt& gwrt, Attack attack) {
    for(int i = 0; attack == saved_tree && i < kSavedTreeRules; ++i) {
        if(!ok(gwrt.request(add_request(root + "PortForwardingRule.", 0, R"({"DestPort": "8080", "Protocol": "6"})")))) {
            return false;
        }
    }
    const bool made = ok(gwrt.request(add_request(root + "NetworkObject.", 0, R"({"Name": "all"})"))) &&
                      ok(gwrt.request(add_request(root + "NetworkObject.1.Rule.", 0,
                                                  R"({"Type": "IPRange", "SourceIP": "10.0.0.0", "SourceIPRangeMax": "10.0.255.255"})"))) &&
                      ok(gwrt.request(add_request(root + "PortForwardingRule.", 0, R"({"DestPort": "80", "Protocol": "6"})"))) &&
                      ok(gwrt.request(add_request(root + "AccessControl.", 0,
                                                  R"({"Enable": "true", "NetworkGroupRef": ")" + root +
                                                      R"(NetworkObject.1", "PortForwardingRuleRef": ")" + root + R"(PortForwardingRule.1"})")));
    for(int i = 0; made && i < 100; ++i) {
        if(gwrt.request(R"({"id": 1, "op": "get", "path": ")" + root + R"(AccessControl.1.Status", "depth": 0})").find("Active") !=
           std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

// Connections the attack holds open, and the work it repeats on a thread until stopped.
struct Attacker {
    std::vector<int> held;
    std::function<void()> step;
};

Attacker prepare(const Gwrt& gwrt, Attack attack) {
    Attacker attacker;
    auto hold = [&](int count, const std::string& bytes) {
        for(int i = 0; i < count; ++i) {
            const int fd = rawsock::connect_to(gwrt.socket());
            if(fd >= 0) {
                attacker.held.push_back(fd);
                if(!bytes.empty()) {
                    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);  // what the kernel takes; the rest never comes
                }
            }
        }
    };
    switch(attack) {
    case none:
        break;
    case filter_pattern: {
        gwrt.request(add_request("Hosts.Host.", 0, R"({"Name": "a"})"));
        hold(1, rawsock::frame(R"({"id": 1, "op": "subscribe", "path": "Hosts.", "sid": 1, "expression": "parameters.Name.to matches '(.*x.*x.*)*y'"})"));
        const std::string value(100 * 1024, 'x');
        attacker.step = [&gwrt, value, n = 0]() mutable {
            gwrt.request(set_request("Hosts.Host.1.", "Name", value + std::to_string(++n % 2)));
        };
        break;
    }
    case query_pattern: {
        gwrt.request(add_request("Devices.Device.", 0, R"({"Name": "a"})"));
        std::string pattern;
        for(int i = 0; i < 500; ++i) {
            pattern += ".?";
        }
        gwrt.request(R"({"id": 1, "op": "call", "path": "Devices.", "method": "openQuery", "args": {"expression": ".Name matches ')" +
                     pattern + R"(z'"}})");
        const std::string name(999, 'n');
        attacker.step = [&gwrt, name, n = 0]() mutable {
            gwrt.request(set_request("Devices.Device.1.", "Name", name + std::to_string(++n % 2)));
        };
        break;
    }
    case idle_crowd:
        hold(256, "");
        break;
    case partial_frames:
        hold(250, std::string("\x00\x10\x00\x00", 4) + std::string(AMXB_MAX_FRAME_SIZE - 1, ' '));
        break;
    case huge_index:
        attacker.step = [&gwrt] {
            gwrt.request(add_request(root + "PortForwardingRule.", 4294967295u, R"({"DestPort": "22"})"));
            // The counter still works after the refusal; what it gave is taken back, so the tree stays as it was.
            const std::string reply = gwrt.request(add_request(root + "PortForwardingRule.", 0, R"({"DestPort": "23"})"));
            const std::size_t at = reply.find(R"("path":")");
            if(at != std::string::npos) {
                const std::size_t from = at + 8;
                gwrt.request(R"({"id": 1, "op": "del", "path": ")" + reply.substr(from, reply.find('"', from) - from) + R"("})");
            }
        };
        break;
    case unread_replies:
        hold(16, rawsock::frame(R"({"id": 1, "op": "call", "path": "Firewall.", "method": "Dump", "args": {}})"));
        break;
    case port_change:
        attacker.step = [&gwrt, n = 0]() mutable {
            gwrt.request(set_request(root + "PortForwardingRule.1.", "DestPort", std::to_string(80 + ++n % 2)));
            std::this_thread::sleep_for(1200ms);  // past the module's commit delay, so each change is rebuilt
        };
        break;
    case enable_toggle:
        attacker.step = [&gwrt, n = 0]() mutable {
            gwrt.request(set_request(root + "AccessControl.1.", "Enable", ++n % 2 == 0 ? "true" : "false"));
            std::this_thread::sleep_for(600ms);
        };
        break;
    case delete_and_add:
        attacker.step = [&gwrt, n = 1]() mutable {
            gwrt.request(R"({"id": 1, "op": "del", "path": ")" + root + "AccessControl." + std::to_string(n++) + R"("})");
            gwrt.request(add_request(root + "AccessControl.", 0,
                                     R"({"Enable": "true", "NetworkGroupRef": ")" + root + R"(NetworkObject.1", "PortForwardingRuleRef": ")" +
                                         root + R"(PortForwardingRule.1"})"));
            std::this_thread::sleep_for(1200ms);
        };
        break;
    case restore:
        attacker.step = [&gwrt, import = restore_request()] {
            gwrt.request(import);
            gwrt.request(R"({"id": 1, "op": "del", "path": ")" + root + R"(NetworkObject.2."})");
            std::this_thread::sleep_for(1200ms);
        };
        break;
    case saved_tree:
        attacker.step = [&gwrt, n = 0]() mutable {
            gwrt.request(set_request(root + "PortForwardingRule.2.", "Description", "changed " + std::to_string(++n)));
            std::this_thread::sleep_for(250ms);
        };
        break;
    }
    return attacker;
}

void another_client_during_attack(benchmark::State& state, Firewall firewall) {
    Gwrt gwrt(firewall);
    const auto attack = static_cast<Attack>(state.range(0));
    if(!seed(gwrt, attack)) {
        state.SkipWithError("gwrt did not start or the access control did not become active");
        return;
    }
    const long rss_before = rawsock::rss_kb(gwrt.pid());
    // The true peak: a sample after each served wait would miss what a long callback holds
    // in its middle whenever the other client is only served after it.
    const bool peak_known = rawsock::reset_peak_rss(gwrt.pid());
    const long faults_before = rawsock::minor_faults(gwrt.pid());
    Attacker attacker = prepare(gwrt, attack);
    std::atomic<bool> stop = false;
    std::thread thread([&] {
        while(attacker.step && !stop) {
            attacker.step();
        }
    });
    const std::string uri = "unix:" + gwrt.socket();
    std::vector<double> waits;
    double max_busy = 0;
    long rss_peak = rss_before;
    for(auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = rawsock::cpu_ms(gwrt.pid());
        amxb_bus_ctx_t* client = nullptr;
        amxc_var_t reply;
        amxc_var_init(&reply);
        const bool served = amxb_connect(&client, uri.c_str()) == 0 &&
                            amxb_get(client, (root + "PortForwardingRule.1.").c_str(), 0, &reply, 10) == 0;
        amxb_free(&client);
        amxc_var_clean(&reply);
        if(!served) {
            state.SkipWithError("the other client was refused or timed out");
            break;
        }
        waits.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        max_busy = std::max(max_busy, rawsock::cpu_ms(gwrt.pid()) - cpu_start);
        rss_peak = std::max(rss_peak, rawsock::rss_kb(gwrt.pid()));
        std::this_thread::sleep_for(10ms);
    }
    stop = true;
    thread.join();
    for(const int fd : attacker.held) {
        close(fd);
    }
    std::sort(waits.begin(), waits.end());
    state.counters["p99_ms"] = waits.empty() ? 0.0 : waits[waits.size() * 99 / 100];
    state.counters["max_ms"] = waits.empty() ? 0.0 : waits.back();
    state.counters["max_busy_ms"] = max_busy;
    if(peak_known) {
        rss_peak = std::max(rss_peak, rawsock::peak_rss_kb(gwrt.pid()));
    }
    state.counters["rss_growth_kb"] = static_cast<double>(rss_peak - rss_before);
    state.counters["page_faults"] = static_cast<double>(rawsock::minor_faults(gwrt.pid()) - faults_before);
}
void BM_AnotherClientDuringAttack(benchmark::State& state) { another_client_during_attack(state, Firewall::memory); }
BENCHMARK(BM_AnotherClientDuringAttack)
    ->ArgName("attack")
    ->DenseRange(none, restore)
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The module's long work on the kernel firewall (root: gwrt in a network namespace of its own).
void BM_AnotherClientDuringAttackNftables(benchmark::State& state) {
    if(geteuid() != 0) {
        state.SkipWithError("needs root for a network namespace and nftables");
        return;
    }
    another_client_during_attack(state, Firewall::nftables);
}
BENCHMARK(BM_AnotherClientDuringAttackNftables)
    ->ArgName("attack")
    ->Arg(none)
    ->Arg(port_change)
    ->Arg(enable_toggle)
    ->Arg(delete_and_add)
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A restart restoring the saved configuration: gwrt started on a state folder holding one
// network object of 10,000 single-address rules (arg 1), until a client reads the object's IP
// list with the last of them; beside it (arg 0) gwrt started on an empty folder, until it
// answers. Counters: rss_mb, gwrt's resident size then; peak_mb, the most it held until then.
void BM_StartAndRestore(benchmark::State& state) {
    const bool saved = state.range(0) != 0;
    const fs::path dir = fs::temp_directory_path() / ("bench_gwrt_restart." + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    if(saved) {
        const Gwrt seeding(Firewall::memory, dir);  // its clean stop writes the state
        if(!ok(seeding.request(restore_request("NetworkObject-1")))) {
            state.SkipWithError("the configuration to restore could not be made");
            return;
        }
    }
    const std::string read = R"({"id": 1, "op": "get", "path": ")" + root + R"(NetworkObject.1.NetworkObjectIPList", "depth": 0})";
    double rss_mb = 0;
    double peak_mb = 0;
    for(auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const Gwrt gwrt(Firewall::memory, dir);
        bool restored = false;
        for(int i = 0; i < 10000 && !restored; ++i) {
            const std::string reply = gwrt.request(saved ? read : R"({"id": 1, "op": "roots"})");
            restored = saved ? reply.find("10.1.40.1") != std::string::npos : ok(reply);
            if(!restored) {
                std::this_thread::sleep_for(1ms);
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        rss_mb = static_cast<double>(rawsock::rss_kb(gwrt.pid())) / 1024;
        peak_mb = static_cast<double>(rawsock::peak_rss_kb(gwrt.pid())) / 1024;
        if(!restored) {
            state.SkipWithError("the restart did not bring the configuration back");
            break;
        }
    }
    state.counters["rss_mb"] = rss_mb;
    state.counters["peak_mb"] = peak_mb;
    fs::remove_all(dir);
}
BENCHMARK(BM_StartAndRestore)->ArgName("saved")->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
