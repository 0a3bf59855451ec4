// The schedules tree as plain data, for the runtime's saved state and for clients:
// {"Schedule": [{"Index": 1, "Name": ..., "Enable": ..., "InverseMode": ..., "TimeZone": ...,
//   "Status": (only without windows: a computed one is computed again),
//   "Window": [{"Index": 1, "Days": ..., "StartTime": ..., "EndTime": ...}]}]}
// Instances keep their index (references such as ScheduleRef name it) and instance name.
#pragma once

#include <string>

#include <amxc/amxc_variant.h>
#include <amxd/amxd_dm.h>
#include <amxd/amxd_object.h>

namespace schedules {

void export_tree(const amxd_object_t* schedules, amxc_var_t* out);

// Adds what `data` holds to the data model in one transaction: all or nothing. False, with a
// reason, for data of another shape or values the data model refuses (an index already in use
// among them).
bool import_tree(amxd_dm_t* dm, const amxc_var_t* data, std::string& why);

}  // namespace schedules
