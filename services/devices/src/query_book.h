// The open queries of the device map and, for each, the devices it currently matches.
#ifndef DEVICES_QUERY_BOOK_H
#define DEVICES_QUERY_BOOK_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <amxc/amxc_variant.h>

#include "device_fields.h"
#include "expression.h"

namespace devices {

enum class ReportAction { start_matching, device_updated, stop_matching, error };

// One device as the book sees it: its instance index (never reused), the key it is reported
// under, what expressions read, and its parameters for the reports (borrowed).
struct DeviceView {
    std::uint32_t index = 0;
    std::string key;
    DeviceFields fields;
    const amxc_var_t* data = nullptr;
};

// Where reports go: (query index, device key, action, device data or nullptr).
using ReportSink = std::function<void(std::uint32_t, const std::string&, ReportAction, const amxc_var_t*)>;

// Reports are made in the order of the calls, and for one call in query index order.
// Cost: a device event evaluates every open query once.
class QueryBook {
public:
    // Most queries open at once.
    static constexpr std::size_t kMaxQueries = 65536;

    explicit QueryBook(ReportSink sink) : sink_(std::move(sink)) {}

    // Opens a query and returns its index (never 0, never reused), or 0 when kMaxQueries are
    // open. Its start-matching reports come from match_existing().
    std::uint32_t open(std::unique_ptr<Expression> expression, std::string name);

    // Evaluates a just-opened query against one existing device: start-matching if it matches.
    void match_existing(std::uint32_t query, const DeviceView& device);

    // Closes a query; false when none has that index. No report is made for it afterwards.
    bool close(std::uint32_t query);

    // A device was added or changed: start-matching, device-updated or stop-matching for each
    // query whose verdict calls for it. A changed key first ends the matches under the old key.
    void device_changed(const DeviceView& device);

    // A device was added. Like device_changed(), except for queries that matched it already:
    // they were opened after the addition and reported the device then, so there is nothing
    // new to tell them.
    void device_added(const DeviceView& device);

    // A device is gone: stop-matching for each query that matched it.
    void device_removed(std::uint32_t index);

    // Ends every query with an error report (the device map stops).
    void close_all();

    std::size_t size() const { return queries_.size(); }
    const std::string* name_of(std::uint32_t query) const;

private:
    struct Query {
        std::unique_ptr<Expression> expression;
        std::string name;
        std::unordered_set<std::uint32_t> matching;  // device indexes
    };

    void evaluate(const DeviceView& device, bool report_unchanged);

    // Records the key the device is reported under; when it differs from the one reported
    // before, stops every match made under the old key.
    void sync_key(const DeviceView& device);

    ReportSink sink_;
    std::map<std::uint32_t, Query> queries_;
    std::unordered_map<std::uint32_t, std::string> keys_;  // device index -> reported key
    std::uint32_t next_index_ = 1;
};

}  // namespace devices

#endif  // DEVICES_QUERY_BOOK_H
