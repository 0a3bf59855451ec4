// The device map on one data model: follows the Devices.Device.{i} instances through the data
// model's events and keeps the open queries' reports flowing.
#ifndef DEVICES_DEVICE_SERVICE_H
#define DEVICES_DEVICE_SERVICE_H

#include <cstdint>
#include <memory>

#include <amxd/amxd_dm.h>
#include <amxd/amxd_object.h>

#include "query_book.h"

namespace devices {

class DeviceService {
public:
    // Serves `devices` ("Devices.", borrowed) of `dm` (borrowed); both outlive the service.
    // Connects the service to the data model's instance events. nullptr when `devices` has no
    // "Device" table or the events cannot be followed.
    static std::unique_ptr<DeviceService> create(amxd_dm_t* dm, amxd_object_t* devices);

    // Disconnects, and ends every open query with an error report.
    ~DeviceService();

    DeviceService(const DeviceService&) = delete;
    DeviceService& operator=(const DeviceService&) = delete;

    // openQuery(): parses `expression`, opens the query, reports the devices that match now
    // and stores the query's index in `ret`. amxd_status_invalid_expr (with a warning trace
    // naming the expression and the position) for a malformed expression or an unknown
    // parameter; amxd_status_unknown_error when too many queries are open.
    amxd_status_t open_query(const char* expression, const char* name, amxc_var_t* ret);

    // closeQuery(): amxd_status_object_not_found when no query has that index.
    amxd_status_t close_query(std::uint32_t index);

private:
    DeviceService(amxd_dm_t* dm, amxd_object_t* table);
    bool connect();

    static void on_added(const char* sig_name, const amxc_var_t* data, void* priv);
    static void on_changed(const char* sig_name, const amxc_var_t* data, void* priv);
    static void on_removed(const char* sig_name, const amxc_var_t* data, void* priv);

    // The device as queries see it; `params` (caller's) receives its parameters.
    DeviceView view_of(const amxd_object_t* instance, amxc_var_t* params) const;
    void device_event(const amxd_object_t* instance, bool added);
    void report(std::uint32_t query, const std::string& key, ReportAction action, const amxc_var_t* device);

    amxd_dm_t* dm_;
    amxd_object_t* table_;  // Devices.Device.
    QueryBook book_;
};

}  // namespace devices

#endif  // DEVICES_DEVICE_SERVICE_H
