#include "control_socket.h"

#include <amxd/amxd_types.h>
#include <zebtrace/zebtrace.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "socket_path.h"

namespace gwrt {
namespace {

namespace fs = std::filesystem;

bool allowed_peer(pid_t pid, uid_t uid, gid_t /*gid*/, void* priv) {
    const auto* allowed = static_cast<const std::vector<uid_t>*>(priv);
    if (std::find(allowed->begin(), allowed->end(), uid) != allowed->end()) {
        return true;
    }
    zebTraceZ(TRACE_LEVEL_WARNING, "gwrt", "control socket: refused pid %d running as uid %u (not an allowed user)",
              static_cast<int>(pid), static_cast<unsigned>(uid));
    return false;
}

void log_limit(pid_t pid, uid_t uid, const char* what, void* /*priv*/) {
    zebTraceZ(TRACE_LEVEL_WARNING, "gwrt", "control socket: pid %d uid %u: %s", static_cast<int>(pid), static_cast<unsigned>(uid), what);
}

}  // namespace

bool check_control_socket(const std::string& path, std::string& error) {
    if (path.empty() || path.back() == '/') {
        error = "socket path '" + path + "' names no file";
        return false;
    }
    if (path.size() > gw::max_socket_path_length()) {
        error = "socket path " + path + " is longer than " + std::to_string(gw::max_socket_path_length()) + " bytes";
        return false;
    }
    std::string reason;
    if (!gw::prepare_socket_folder(path, reason)) {
        error = "socket folder: " + reason;
        return false;
    }
    switch (gw::probe_socket(path, reason)) {
    case gw::SocketProbe::absent:
    case gw::SocketProbe::stale:
        return true;
    case gw::SocketProbe::live:
        error = path + " is already served by a running gwrt";
        return false;
    case gw::SocketProbe::not_a_socket:
        error = path + " exists and is not a socket; not replacing it";
        return false;
    case gw::SocketProbe::unreachable:
    case gw::SocketProbe::forbidden:
        break;
    }
    error = path + ": " + reason;
    return false;
}

bool listen_control_socket(const std::string& path, mode_t mode, std::optional<gid_t> group, amxb_bus_ctx_t** listener,
                           std::string& error) {
    int rc = amxb_listen(listener, path.c_str());
    if (rc != 0) {
        error = "cannot listen on " + path + ": " + amxd_status_string(static_cast<amxd_status_t>(rc));
        return false;
    }
    // The socket is created 0600: opened up only now, once it is ours, in a folder only we write.
    return give_control_socket_access(path, mode, group, error);
}

bool give_control_socket_access(const std::string& path, mode_t mode, std::optional<gid_t> group, std::string& error) {
    if ((group && chown(path.c_str(), static_cast<uid_t>(-1), *group) != 0) || chmod(path.c_str(), mode) != 0) {
        error = "cannot give " + path + " its mode and group: " + std::strerror(errno);
        return false;
    }
    const mode_t search = ((mode & 0060) != 0 ? S_IXGRP : 0) | ((mode & 0006) != 0 ? S_IXOTH : 0);
    const std::string folder = fs::path(path).parent_path().string();
    struct stat st {};
    if (search == 0 || stat(folder.c_str(), &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 0077) != 0) {
        return true;
    }
    if ((group && chown(folder.c_str(), static_cast<uid_t>(-1), *group) != 0) || chmod(folder.c_str(), (st.st_mode & 07777) | search) != 0) {
        error = "cannot open " + folder + " to the socket's users: " + std::strerror(errno);
        return false;
    }
    return true;
}

bool restrict_control_socket(amxb_bus_ctx_t* listener, const std::vector<uid_t>& allowed, const SocketLimits& limits,
                             std::string& error) {
    const amxb_listen_limits_t listen_limits {limits.request_timeout_s * 1000u, limits.idle_timeout_s * 1000u, limits.per_user};
    if (amxb_listen_set_peer_check(listener, allowed_peer, const_cast<std::vector<uid_t>*>(&allowed)) != 0 ||
        amxb_listen_set_limits(listener, &listen_limits) != 0 || amxb_listen_set_log(listener, log_limit, nullptr) != 0) {
        error = "cannot check the users of the control socket";
        return false;
    }
    return true;
}

}  // namespace gwrt
