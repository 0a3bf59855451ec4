// The end of objects: destroy actions, children before parents, then freeing.
#pragma once

#include "tree.h"

namespace amxd {

// Runs the destroy actions of `object` and of everything below it, children first (a
// template's instances in index order, then its declared objects, then the template),
// siblings in order. Definitions under templates are not data and get no destroy call.
// Failures of destroy actions do not stop the teardown.
void run_destroy_actions(amxd_object_t* object);

// Runs the destroy actions of a detached subtree with it locked, then frees it.
void destroy_detached(ObjectPtr object);

} // namespace amxd
