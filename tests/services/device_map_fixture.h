// The device-map service as gwrt runs it, in one process: devices.def loaded with the
// definition loader into a data model of its own, served on an in-process bus context, and the
// device-map client attached to that context. Devices are written over the bus, as gwctl does.
#ifndef TESTS_SERVICES_DEVICE_MAP_FIXTURE_H
#define TESTS_SERVICES_DEVICE_MAP_FIXTURE_H

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <amxb/amxb.h>
#include <amxd/amxd.h>
#include <amxo/amxo.h>
#include <gmap/gmap_main.h>
#include <gmap/gmap_query.h>

// One report as the module's callback saw it.
struct Seen {
    std::string key;
    gmap_query_action_t action;
    std::string ip;  // the device data's "IPAddress"; "-" without device data
    void* data;      // the query's user data

    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen);

class DeviceMap : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a device over the bus with these parameters; returns its index (0 on refusal).
    uint32_t add(const std::map<std::string, std::string>& values);
    // Sets parameters of Devices.Device.<index>. over the bus; returns the bus status.
    int set(uint32_t index, const std::map<std::string, std::string>& values);
    int del(uint32_t index);

    // Opens a query whose reports are recorded in `seen`, tagged with `tag`.
    gmap_query_t* open(const std::string& expression, void* tag = nullptr);
    void close(gmap_query_t* query);

    // Runs the loop until nothing is left to do.
    static void settle();

    // Takes the reports received since the last take.
    std::vector<Seen> take();

    // Trace lines written since SetUp, one per element.
    bool traced(const std::string& part) const;

    amxd_dm_t* dm_ = nullptr;
    amxo_parser_t* parser_ = nullptr;
    amxb_bus_ctx_t* ctx_ = nullptr;
    std::vector<gmap_query_t*> open_;
    std::vector<std::string> traces_;
};

#endif  // TESTS_SERVICES_DEVICE_MAP_FIXTURE_H
