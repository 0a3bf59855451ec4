// Seeded random configurations through gwrt and gwctl. Every few steps, two fresh runtimes must
// block exactly what the live one blocks (same firewall rules, same Status of every access
// control): one restored from the live runtime's saved state, one that imports its export.
// GW_PROPERTY_SEEDS=N runs seeds 1..N (default 2), GW_PROPERTY_STEPS steps per seed (default 40).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <random>
#include <thread>

#include "support/test_runtime.h"

namespace {

using gwtest::RuntimeSetup;
using gwtest::TestRuntime;
using Args = std::vector<std::string>;

const std::string kRoot = "Device.NetworkSettings.";

unsigned env_number(const char* name, unsigned fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) > 0 ? static_cast<unsigned>(std::atoi(text)) : fallback;
}

RuntimeSetup setup() {
    return gwtest::module_setup("    state = { dir = \"state\"; delay = 0; export = \"Device.NetworkSettings._Export\"; "
              "import = \"Device.NetworkSettings._Import\"; "
              "ignore = [ \"Status\", \"RuleIPList\", \"NetworkObjectIPList\" ]; };\n");
}

// What the runtime blocks: the firewall's rules (as a set: the order of independent drops
// follows rebuild order) and the Status and StatusInfo of every access control.
std::string blocked(const TestRuntime& runtime) {
    std::string text = runtime.ctl({"firewall"}).out;
    for (const std::string& line : gwtest::lines(runtime.ctl({"get", kRoot + "AccessControl."}).out)) {
        if (line.find(".Status=") != std::string::npos || line.find(".StatusInfo=") != std::string::npos) {
            text += line + "\n";
        }
    }
    return gwtest::sorted_lines(text);
}

class Scenario {
public:
    explicit Scenario(unsigned seed) : rng_(seed) {}

    // One random change; service changes are kept to replay them in the fresh runtimes.
    void step(const TestRuntime& live) {
        Args args = next();
        if (args[1].starts_with("Schedules.") || args[1].starts_with("Hosts.") || args[1].starts_with("Devices.")) {
            services_.push_back(args);
        }
        if (args[0] == "add") {
            ++added_[args[1].substr(0, args[1].size() - 1)];
        }
        live.ctl(args);  // refusals are part of the game
    }
    void replay(const TestRuntime& fresh) const {
        for (const Args& args : services_) {
            fresh.ctl(args);
        }
    }

private:
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(1, n)(rng_); }
    // An index of a table: one of those added so far (some deleted since), or one past them.
    std::string some(const std::string& table) { return table + "." + std::to_string(pick(added_[table] + 1)); }
    std::string port_list() {
        std::string list = std::to_string(pick(1024));
        for (unsigned n = pick(3); n > 1; --n) {
            list += "," + std::to_string(pick(1024));
        }
        return list;
    }

    Args next() {
        const std::string no = kRoot + "NetworkObject", pfr = kRoot + "PortForwardingRule", ac = kRoot + "AccessControl";
        const std::string k = std::to_string(++count_);
        switch (pick(14)) {
        case 1: return pick(3) == 1 ? Args {"add", no + ".", "--name", "g" + k, "Name=g" + k} : Args {"add", no + ".", "Name=n" + k};
        case 2: return {"add", some(no) + ".Rule.", "Type=IPAddress", "SourceIP=192.168.1." + std::to_string(pick(250))};
        case 3: return {"add", some(no) + ".Rule.", "Type=IPRange", "SourceIP=192.168.2.1", "SourceIPRangeMax=192.168.2." + std::to_string(pick(4))};
        case 4: return {"add", some(no) + ".Rule.", "Type=MACAddress", "SourceMACAddress=aa:bb:cc:dd:ee:0" + std::to_string(pick(4))};
        case 5: return {"add", some(no) + ".Rule.", "Type=IPAddress", "SourceIP=2001:db8::" + std::to_string(pick(99))};
        case 6: return pick(3) == 1 ? Args {"add", pfr + ".", "Protocol=1"} : Args {"add", pfr + ".", "DestPort=" + port_list(), "Protocol=" + std::string(pick(2) == 1 ? "6" : "17")};
        case 7: return {"add", ac + ".", "Enable=true", "NetworkGroupRef=" + (pick(4) == 1 ? some("Hosts.Host") : some(no)),
                        "PortForwardingRuleRef=" + (pick(2) == 1 ? "" : some(pfr)), "ScheduleRef=" + (pick(3) == 1 ? some("Schedules.Schedule") : "")};
        case 8: return {"set", some(ac) + ".Enable=" + (pick(2) == 1 ? "true" : "false")};
        case 9: return {"set", some(ac) + ".NetworkGroupRef=" + some(no)};
        case 10: return {"del", (pick(2) == 1 ? some(no) : pick(2) == 1 ? some(pfr) : some(ac)) + "."};
        case 11: return {"set", some(no) + ".Name=r" + k};
        case 12: return pick(2) == 1 ? Args {"add", "Schedules.Schedule.", "Name=s" + k, "Status=Active"}
                                     : Args {"set", some("Schedules.Schedule") + ".Status=" + (pick(2) == 1 ? "Active" : "Inactive")};
        case 13: return pick(2) == 1 ? Args {"add", "Hosts.Host.", "Name=h" + k}
                                     : Args {"add", some("Hosts.Host") + ".IPv4Address.", "IPAddress=192.168.3." + std::to_string(pick(250))};
        default:
            if (pick(2) == 1) {
                return {"add", "Devices.Device.", "PhysAddress=aa:bb:cc:dd:ee:0" + std::to_string(pick(4)), "IPAddress=192.168.4." + k, "Tags=physical"};
            }
            // A partial tree brought in by _Import, referring to what may or may not exist.
            return {"call", kRoot, "_Import", R"({"data":{"set":{"hgwconfig":{"NetworkSettings":{"AccessControl":[{"imported-)" + k +
                    R"(":{"Enable":true,"NetworkGroupRef":")" + some(no) + R"("}}]}}}}})"};
        }
    }

    std::mt19937 rng_;
    unsigned count_ = 0;
    std::map<std::string, unsigned> added_;  // additions tried per table
    std::vector<Args> services_;
};

// Until `fresh` blocks what `live` does; the caller has waited out the module's commit delay.
void expect_same(const TestRuntime& fresh, const std::string& expected, const std::string& what,
                 const std::string& exported) {
    std::string seen;
    EXPECT_TRUE(gwtest::wait_until([&] { return (seen = blocked(fresh)) == expected; }, std::chrono::seconds(10)))
        << what << "\nlive:\n" << expected << what << ":\n" << seen << "live export: " << exported;
}

TEST(Property, RestartAndExportImportBlockWhatTheLiveRuntimeBlocks) {
    const unsigned steps = env_number("GW_PROPERTY_STEPS", 40);
    for (unsigned seed = 1; seed <= env_number("GW_PROPERTY_SEEDS", 2); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TestRuntime live(setup());
        ASSERT_TRUE(live.start()) << live.stderr_text();
        Scenario scenario(seed);
        for (unsigned done = 1; done <= steps; ++done) {
            scenario.step(live);
            if (done % 10 != 0) {
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1300));
            const std::string expected = blocked(live);
            const std::string exported = live.ctl({"call", kRoot, "_Export"}).out;
            ASSERT_TRUE(gwtest::wait_until([&] { return live.ctl({"call", "State.", "Status"}).out.find("\"saved\"") != std::string::npos; }));

            // Both fresh runtimes are set up first, so that one wait covers their commit delays.
            TestRuntime restarted(setup());
            ASSERT_EQ(mkdir(restarted.dir().file("state").c_str(), 0700), 0);
            restarted.dir().write("state/gwrt-state.json", gwtest::read_file(live.dir().file("state/gwrt-state.json")));
            ASSERT_TRUE(restarted.start()) << restarted.stderr_text();
            scenario.replay(restarted);
            TestRuntime imported(setup());
            ASSERT_TRUE(imported.start()) << imported.stderr_text();
            scenario.replay(imported);
            gwtest::Outcome import = imported.ctl({"call", kRoot, "_Import", exported});
            EXPECT_EQ(import.exit_code, 0) << import.err;
            std::this_thread::sleep_for(std::chrono::milliseconds(1300));
            expect_same(restarted, expected, "restarted after step " + std::to_string(done), exported);
            expect_same(imported, expected, "imported after step " + std::to_string(done), exported);
            if (HasFailure()) {
                return;  // one counterexample is enough to read
            }
        }
    }
}

}  // namespace
