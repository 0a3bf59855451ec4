// The runtime's small data model "State.": what became of the saved configuration, for clients
// (gwctl call State. Status), and the two commands that end a held save (see persistence.h).
#pragma once

#include <amxd/amxd_dm.h>

#include <string>
#include <vector>

#include "persistence.h"

namespace gwrt {

// Status() returns the main tree's Persistence::status() ({"Saving": "off"} without one), with
// the status of each service tree kept beside it under "Services" by file name; Save() and
// Restore() run accept() and restore_again() on every one and fail with the reasons as their
// return value. `kept` (borrowed, outlives the model): the main tree's first, empty when
// nothing is kept. Owned by the caller (amxd_dm_delete).
amxd_dm_t* new_state_model(const char* name, const std::vector<Persistence*>* kept, std::string& error);

}  // namespace gwrt
