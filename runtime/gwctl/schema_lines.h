// How gwctl list shows what Runtime.Describe() returns: one line per object, method and
// parameter, "PATH KIND-OR-TYPE [ACCESS] [CONSTRAINTS]".
#pragma once

#include <amxc/amxc_variant.h>

#include <string>

namespace gwctl {

// For example:
//   Device.X.AccessControl.{i}. table
//   Device.X._Import(mandatory htable data) method void
//   Device.X.AccessControl.{i}.Status string read-only
//   Device.X.PortForwardingRule.{i}.DestPort string read-write validated(min=0,max=65535)
//   Device.X.NetworkObject.{i}.RuleIPList csv_string read-only max-length=16777216
std::string schema_lines(const amxc_var_t* described);

}  // namespace gwctl
