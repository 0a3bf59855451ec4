#include "session.h"

#include <amxd/amxd_types.h>

#include <cstdio>

#include "socket_path.h"

namespace gwctl {

int fail(const std::string& message) {
    std::fprintf(stderr, "gwctl: %s\n", message.c_str());
    return kExitFailure;
}

int exit_status(int status, const std::string& reason) {
    switch (status) {
    case amxd_status_object_not_found:
    case amxd_status_function_not_found:
    case amxd_status_parameter_not_found:
        return kExitNotFound;
    case amxd_status_invalid_value:
    case amxd_status_invalid_type:
    case amxd_status_invalid_function_argument:
    case amxd_status_invalid_name:
    case amxd_status_invalid_path:
    case amxd_status_invalid_expr:
    case amxd_status_duplicate:
    case amxd_status_missing_key:
    case amxd_status_not_a_template:
    case amxd_status_not_instantiated:
        return kExitInvalid;
    case amxd_status_permission_denied:
    case amxd_status_read_only:
        return kExitRefused;
    default:
        return reason.find("refused: ") != std::string::npos ? kExitRefused : kExitFailure;
    }
}

Session::Session(std::string socket_path, int timeout_sec)
    : socket_path_(socket_path.empty() ? gw::default_socket_path() : std::move(socket_path)), timeout_sec_(timeout_sec) {
    amxb_set_default_timeout(timeout_sec_);
}

Session::~Session() { amxb_free(&ctx_); }

amxb_bus_ctx_t* Session::ctx() {
    if (ctx_ != nullptr) {
        return ctx_;
    }
    int rc = amxb_connect(&ctx_, ("unix:" + socket_path_).c_str());
    if (rc == 0 && ctx_ != nullptr) {
        return ctx_;
    }
    amxb_free(&ctx_);
    const std::string why = amxb_last_error(nullptr);
    const std::string failure = "cannot reach gwrt on " + socket_path_ + ": " + (why.empty() ? amxd_status_string(static_cast<amxd_status_t>(rc)) : why);
    const int failure_exit = exit_status(rc, why);
    if (failure_exit == kExitRefused) {
        // gwrt answered; a probe would take one more of the user's connections and be refused again.
        unreachable_ = failure_exit;
        fail(failure);
        return nullptr;
    }
    // Tell the usual reasons apart, so the message says what is wrong.
    std::string reason;
    unreachable_ = kExitNotRunning;
    const gw::SocketProbe status_of_probe = gw::probe_socket(socket_path_, reason);
    switch (status_of_probe) {
    case gw::SocketProbe::absent:
        fail("gwrt is not running (no socket " + socket_path_ + ")");
        break;
    case gw::SocketProbe::stale:
        fail("gwrt is not running (nobody serves " + socket_path_ + ")");
        break;
    case gw::SocketProbe::not_a_socket:
        fail(socket_path_ + " is not a socket");
        break;
    case gw::SocketProbe::unreachable:
    case gw::SocketProbe::forbidden:
        unreachable_ = status_of_probe == gw::SocketProbe::forbidden ? kExitRefused : kExitFailure;
        fail("cannot reach gwrt on " + socket_path_ + ": " + reason);
        break;
    case gw::SocketProbe::live:
        unreachable_ = failure_exit;
        fail(failure);
        break;
    }
    return nullptr;
}

int Session::report(int status, const std::string& subject) const {
    return report(status, subject, amxb_last_error(ctx_));
}

int Session::report(int status, const std::string& subject, std::string reason) const {
    if (status == amxd_status_timeout) {
        reason = "no answer from gwrt within " + std::to_string(timeout_sec_) + " s";
    } else if (reason.empty()) {
        reason = amxd_status_string(static_cast<amxd_status_t>(status));
    }
    const int exit = status == amxd_status_timeout ? kExitFailure : exit_status(status, reason);
    fail(subject.empty() || reason.find(subject) != std::string::npos ? reason : subject + ": " + reason);
    return exit;
}

}  // namespace gwctl
