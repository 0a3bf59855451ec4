// How gwctl shows what gwrt answered.
#pragma once

#include <amxc/amxc_variant.h>

#include <string>

namespace gwctl {

// "Path.Param=value" lines for a get reply (a table mapping object paths, with their trailing
// ".", to tables of parameters), objects and parameters in the order of the reply. Texts are
// written as they are, between single quotes when they hold blanks, quotes, backslashes or
// control characters; lists and tables, which have no plain text, as compact JSON.
std::string parameter_lines(const amxc_var_t* objects);

// JSON text of `value`, compact (one line) or pretty. False when it has no JSON form.
bool to_json(const amxc_var_t* value, bool pretty, std::string& out);

}  // namespace gwctl
