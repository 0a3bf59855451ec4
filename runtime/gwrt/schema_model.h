// The runtime's small data model "Runtime.": Describe(path) tells what the loaded definitions
// declare under a path, for clients that list the tree (gwctl list).
#pragma once

#include <amxd/amxd_dm.h>

#include <string>
#include <vector>

namespace gwrt {

// Describe({"path": P}) (P "" or absent: every top-level object) returns a list, in tree order
// from P down, of {"path", "kind", "parameters", "functions"} as amxd_object_describe gives
// them, for P's object and every object its definition declares below it (a table's objects
// under "Table.{i}."; instances are data, not definition, and are left out). A path may name
// a table with ".{i}." or through one of its instances. object_not_found for an unknown path.
// `models` (borrowed; it must outlive the data model) are searched in order.
// Owned by the caller (amxd_dm_delete); NULL, with a reason in `error`, when it cannot be built.
amxd_dm_t* new_schema_model(const char* name, const std::vector<amxd_dm_t*>* models, std::string& error);

}  // namespace gwrt
