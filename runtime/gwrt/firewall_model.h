// The runtime's own small data model "Firewall.": its method Dump() returns the running
// firewall rules as text, so that clients (gwctl firewall) can see what the module installed.
#pragma once

#include <amxd/amxd_dm.h>
#include <amxd/amxd_function.h>

#include <string>

namespace gwrt {

// A data model holding one singleton object `name` (returned; NULL when it cannot be built,
// `*dm` then NULL or to be deleted by the caller), and a method added to such an object.
amxd_object_t* new_builtin_object(amxd_dm_t** dm, const char* name);
amxd_status_t add_method(amxd_object_t* object, const char* name, uint32_t ret_type, amxd_object_fn_t impl);

// Builds the data model with its top-level object named `name`. NULL, with a reason in `error`,
// when it cannot be built. Owned by the caller (amxd_dm_delete).
amxd_dm_t* new_firewall_model(const char* name, std::string& error);

}  // namespace gwrt
