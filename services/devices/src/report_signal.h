// How the device map tells clients about their queries: one signal per report on the data
// model's signal manager. The bus forwards every signal of that manager whose "path" lies
// under a subscribed object, so a client subscribed to "Devices." receives the reports,
// in the order they were emitted:
//
//   "devices:query-report" {notification: "devices:query-report", path: "Devices.",
//                           object: "Devices.", query: <index>, key: <device key>,
//                           action: "start-matching" | "device-updated" | "stop-matching" | "error",
//                           device: {<the device's parameters>}}
//
// "device" is present for start-matching and device-updated only; "key" is "" for error.
#ifndef DEVICES_REPORT_SIGNAL_H
#define DEVICES_REPORT_SIGNAL_H

#include <cstdint>
#include <string>

#include <amxd/amxd_dm.h>

#include "query_book.h"

namespace devices {

inline constexpr const char* kReportSignal = "devices:query-report";

// The text of an action in a report.
const char* action_name(ReportAction action);

// Queues one report on the loop (the data is copied). false when the loop's queue is full:
// the report is lost, and the caller traces it.
bool emit_report(amxd_dm_t* dm, std::uint32_t query, const std::string& key, ReportAction action,
                 const amxc_var_t* device);

}  // namespace devices

#endif  // DEVICES_REPORT_SIGNAL_H
