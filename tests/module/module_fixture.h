// The module as the runtime runs it, in one process: its definition loaded with the definition
// loader (which imports the built module), the hosts, schedules and device-map services each
// in a data model and on a bus context of their own, the memory firewall, the manual clock.
// Tests act as clients do, through the bus, and look at the firewall through its dump.
#ifndef TESTS_MODULE_MODULE_FIXTURE_H
#define TESTS_MODULE_MODULE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <amxb/amxb.h>
#include <amxd/amxd.h>
#include <amxo/amxo.h>
#include <amxp/amxp_timer.h>

#include "accesscontrol/accesscontrol_dm.h"
#include "accesscontrol/accesscontrol_fw.h"
#include "networksettings-qk.h"

// Parameters in the order they are written; values are texts that the data model converts.
using Params = std::vector<std::pair<std::string, std::string>>;

// Rules of one address, for the groups tests make.
inline const Params ADDRESS_10 = {{"Type", "IPAddress"}, {"SourceIP", "192.168.1.10"}};
inline const Params ADDRESS_11 = {{"Type", "IPAddress"}, {"SourceIP", "192.168.1.11"}};

// One trace line, split into its parts.
struct TraceLine {
    std::string zone;
    char mark = '?';
    std::string message;
};

// The module's exported functions that no definition binds, taken from the loaded module
// itself so that tests and the module share one state.
struct ModuleApi {
    decltype(&::firewall_rule_create) rule_create = nullptr;
    decltype(&::firewall_rule_delete) rule_delete = nullptr;
    decltype(&::firewall_rule_set) rule_set = nullptr;
    decltype(&::firewall_rule_apply) rule_apply = nullptr;
    decltype(&::networksettings_get_ctx) get_ctx = nullptr;
    decltype(&::networksettings_get_root) get_root = nullptr;
    decltype(&::convert_ip_range_to_csv) convert_ip_range = nullptr;
};

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads the module's definition (with `prefix` as "prefix_" when given) and starts it.
    // SetUp does this with the defaults unless a test fixture sets autostart_ to false.
    void start(const std::string& prefix = "", const std::string& definition = NS_MODULE_DEF);
    // Stops the module and unloads its data model (as the runtime does at its end).
    void unload();

    // Client operations over the bus, routed to whichever context serves the path. Each
    // returns the bus status; add returns the new index through `index` when it is given.
    int add(const std::string& table, const Params& values = {}, const std::string& name = "",
            uint32_t* index = nullptr);
    int set(const std::string& object, const Params& values);
    int del(const std::string& instance) {
        return amxb_del(amxb_be_who_has(instance.c_str()), instance.c_str(), nullptr, 0);
    }

    // Adds an instance over the bus (failing the test when refused) and returns its path.
    std::string added(const std::string& table, const Params& values, const std::string& name = "");

    // Scenes, made with added(): paths without trailing dot for the objects references name,
    // with one for the access control whose Status is read.
    std::string network_object(const std::vector<Params>& rules, const std::string& name = "");
    std::string port_rule(const Params& values) { return added(path("PortForwardingRule."), values); }
    std::string access_control(const Params& values) { return added(path("AccessControl."), values) + "."; }
    std::string host(const std::string& ipv4);
    std::string schedule(const std::string& status) { return added("Schedules.Schedule.", {{"Status", status}}); }

    // A parameter read from the data model that serves the path; "<absent>" when missing.
    std::string get(const std::string& object, const std::string& param) const;

    // Runs the loop until nothing is due; then the same after moving the clock on.
    static void settle();
    static void tick(uint64_t ms);

    // The running firewall as fw_dump() writes it, and that text for the given IPv4 rule lines
    // (the IPv6 chain empty).
    static std::string dump();
    static std::string expected_dump(const std::vector<std::string>& ipv4);

    // The module's root path ("Device.NetworkSettings.") and paths below it.
    std::string root() const { return "Device." + prefix_ + "NetworkSettings."; }
    std::string path(const std::string& below) const { return root() + below; }

    // Trace lines captured since SetUp or the last clear.
    const std::vector<TraceLine>& lines() const { return captured_; }
    int count(const std::string& message) const;
    bool traced(const std::string& message) const { return count(message) > 0; }
    bool traced(char mark, const std::string& message) const;
    void clear_traces() { captured_.clear(); }

    // A definition loaded into a data model of its own and served on a bus context.
    struct Loaded {
        amxd_dm_t* dm = nullptr;
        amxo_parser_t* parser = nullptr;
        amxb_bus_ctx_t* ctx = nullptr;
    };

    Loaded module_;
    ModuleApi api_;
    bool autostart_ = true;
    std::string prefix_;
    std::vector<TraceLine> captured_;

private:
    void load(Loaded& loaded, const char* definition, const std::string& prefix = "");
    static void unload(Loaded& loaded);
    void bind_api();

    Loaded hosts_;
    Loaded schedules_;
    Loaded devices_;
};

#endif  // TESTS_MODULE_MODULE_FIXTURE_H
