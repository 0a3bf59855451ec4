// The runtime's small data model "State.": what became of the saved configuration, for clients
// (gwctl call State. Status), and the two commands that end a held save (see persistence.h).
#pragma once

#include <amxd/amxd_dm.h>

#include <string>

#include "persistence.h"

namespace gwrt {

// Status() returns Persistence::status() ({"Saving": "off"} without one); Save() and Restore()
// run accept() and restore_again() and fail with the reason as their return value.
// `persistence` may be NULL (nothing is kept). Owned by the caller (amxd_dm_delete).
amxd_dm_t* new_state_model(const char* name, Persistence* persistence, std::string& error);

}  // namespace gwrt
