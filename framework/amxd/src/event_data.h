// The data carried by the data model's events.
#pragma once

#include "packed_var.h"
#include "tree.h"
#include "var_util.h"

namespace amxd {

inline constexpr const char* sig_object_changed = "dm:object-changed";
inline constexpr const char* sig_instance_added = "dm:instance-added";
inline constexpr const char* sig_instance_removed = "dm:instance-removed";

// Starts a table of `more` members besides {notification, path (indexed, trailing dot), object
// (named, trailing dot)} about `object`. Throws std::bad_alloc.
void event_header(Packer& packer, const char* notification, const amxd_object_t* object, std::size_t more);

// {notification, path and object of the instance's template, index, name, parameters: all
// parameters of the instance}, packed. Throws std::bad_alloc.
PackedVar instance_event(const char* notification, const amxd_object_t* instance);

// Copies every parameter of `object` into the table `params`, in declaration order.
// Throws std::bad_alloc.
void copy_params_into(amxc_var_t* params, const amxd_object_t* object);

} // namespace amxd
