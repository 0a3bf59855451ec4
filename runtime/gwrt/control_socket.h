// The control socket through which gwctl reaches every data model of the runtime.
#pragma once

#include <amxb/amxb.h>

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "runtime_config.h"

namespace gwrt {

// Checks, before anything is loaded, that `path` can be served: a usable socket path, a private
// folder (created 0700 when missing), and no running runtime on it. A stale socket file left by
// a runtime that died is fine: it is replaced when listening.
bool check_control_socket(const std::string& path, std::string& error);

// Serves every in-process bus context on `path`, the socket given `mode` and, when set, `group`.
// When the mode lets the group or others in and the socket's folder is private to gwrt's user
// (no group or other bits, as created), the folder gets the search bit for them (and `group`),
// so they can reach the socket. The listener is the caller's (amxb_free). False, with a reason
// in `error`, when it cannot listen or set the access.
bool listen_control_socket(const std::string& path, mode_t mode, std::optional<gid_t> group, amxb_bus_ctx_t** listener,
                           std::string& error);

// Gives the served socket file `mode` and, when set, `group`, and opens its private folder to them
// as listen_control_socket does; again on a reload. False, with a reason in `error`, when it cannot.
bool give_control_socket_access(const std::string& path, mode_t mode, std::optional<gid_t> group, std::string& error);

// Serves only clients running as one of `allowed` (borrowed: it must outlive the listener);
// any other connection is closed at once and a warning names its pid and uid. The socket's
// mode already keeps other users out; this holds even when the socket or its folder was
// opened up. Every client is held to `limits`; each one refused or closed by them is logged
// once with its pid and uid.
bool restrict_control_socket(amxb_bus_ctx_t* listener, const std::vector<uid_t>& allowed, const SocketLimits& limits,
                             std::string& error);

}  // namespace gwrt
