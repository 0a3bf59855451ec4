#include "session.h"

#include <amxd/amxd_types.h>

#include <cstdio>

#include "socket_path.h"

namespace gwctl {

int fail(const std::string& message) {
    std::fprintf(stderr, "gwctl: %s\n", message.c_str());
    return kExitFailure;
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
    // Tell the usual reasons apart before trying, so the message says what is wrong.
    std::string reason;
    switch (gw::probe_socket(socket_path_, reason)) {
    case gw::SocketProbe::absent:
        fail("gwrt is not running (no socket " + socket_path_ + ")");
        return nullptr;
    case gw::SocketProbe::stale:
        fail("gwrt is not running (nobody serves " + socket_path_ + ")");
        return nullptr;
    case gw::SocketProbe::not_a_socket:
        fail(socket_path_ + " is not a socket");
        return nullptr;
    case gw::SocketProbe::unreachable:
        fail("cannot reach gwrt on " + socket_path_ + ": " + reason);
        return nullptr;
    case gw::SocketProbe::live:
        break;
    }
    int rc = amxb_connect(&ctx_, ("unix:" + socket_path_).c_str());
    if (rc != 0 || ctx_ == nullptr) {
        amxb_free(&ctx_);
        const std::string why = amxb_last_error(nullptr);
        fail("cannot reach gwrt on " + socket_path_ + ": " + (why.empty() ? amxd_status_string(static_cast<amxd_status_t>(rc)) : why));
        return nullptr;
    }
    return ctx_;
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
    if (subject.empty() || reason.find(subject) != std::string::npos) {
        return fail(reason);
    }
    return fail(subject + ": " + reason);
}

}  // namespace gwctl
