// Where the control socket of gwrt lives, and the checks made before serving or reaching it.
// gwrt and gwctl apply the same rule, so both find the same socket without being told.
#pragma once

#include <sys/types.h>

#include <string>

namespace gw {

// The path used when none is given: /run/gwrt/gwrt.sock for root, else
// $XDG_RUNTIME_DIR/gwrt/gwrt.sock when that variable holds an absolute path, else
// /tmp/gwrt-<uid>/gwrt.sock.
std::string default_socket_path();

// The same rule with the user and the environment value given (`xdg_runtime_dir` may be NULL).
std::string default_socket_path_for(uid_t uid, const char* xdg_runtime_dir);

// Longest path a Unix-domain socket address holds (without the terminating NUL).
std::size_t max_socket_path_length();

// What is found at a socket path before gwrt serves it.
enum class SocketProbe {
    absent,        // nothing there
    stale,         // a socket file nobody accepts on (left by a runtime that died)
    live,          // a socket that accepts connections: another runtime serves it
    not_a_socket,  // some other file: never removed
    forbidden,     // the caller may not connect to it (permissions); see `error`
    unreachable,   // could not be checked (permissions, path too long, ...); see `error`
};

// Looks at `path` without blocking. `error` receives a reason for `unreachable`.
SocketProbe probe_socket(const std::string& path, std::string& error);

// Makes sure the folder of `socket_path` exists: missing folders are created with mode 0700.
// Refuses (false, reason in `error`) a folder that is not a directory, that belongs to another
// user than the caller or root, or that others may write to without the sticky bit, since
// whoever can write there can replace the socket.
bool prepare_socket_folder(const std::string& socket_path, std::string& error);

}  // namespace gw
