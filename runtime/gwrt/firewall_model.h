// The runtime's own small data model "Firewall.": its method Dump() returns the running
// firewall rules as text, so that clients (gwctl firewall) can see what the module installed.
#pragma once

#include <amxd/amxd_dm.h>

#include <string>

namespace gwrt {

// Builds the data model with its top-level object named `name`. NULL, with a reason in `error`,
// when it cannot be built. Owned by the caller (amxd_dm_delete).
amxd_dm_t* new_firewall_model(const char* name, std::string& error);

}  // namespace gwrt
