#include "listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include <amxd/amxd_types.h>
#include <amxp/amxp_loop.h>

#include "frame.h"
#include "server_connection.h"
#include "socket_io.h"
#include "variant_ptr.h"
#include "wire.h"

namespace amxb {

namespace {

// Connections taken per wake-up, so that a burst of clients does not hold up the loop.
constexpr int accept_batch = 16;
// How often deadlines are checked while clients are connected.
constexpr unsigned int tick_ms = 250;

Outcome not_a_client() {
    return {amxd_status_not_supported, "a listener serves other processes; call through an in-process or client context"};
}

// Root and the serving process's own user keep connections in reserve, so that an
// administrator can always get in.
bool privileged(uid_t uid) {
    return uid == 0 || uid == geteuid();
}

// Tells a refused client why before closing, so that it does not see a bare hang-up.
void refuse(int client, const std::string& why) {
    ScopedVar message;
    wire::encode_reply(message.get(), 0, {amxd_status_permission_denied, why}, nullptr);
    std::string bytes;
    std::string error;
    if(append_frame(bytes, message.get(), error)) {
        send_some(client, bytes.data(), bytes.size());
    }
    close(client);
}

}  // namespace

Listener::Listener() {
    set_limits({});
}

Listener::~Listener() {
    amxp_timer_delete(&timer_);
    amxp_loop_cancel_deferred(sweep, this);
    // Out of the list first: a closing connection gives its room back, which walks the list.
    auto closing = std::move(connections_);
    closing.clear();
    if(fd_ >= 0) {
        if(watched_) {
            amxp_loop_remove_fd(fd_);
        }
        close(fd_);
        unlink(path_.c_str());
    }
}

Outcome Listener::open(const std::string& socket_path) {
    std::string error;
    fd_ = listen_unix(socket_path, error);
    if(fd_ < 0) {
        return {amxd_status_unknown_error, error};
    }
    path_ = socket_path;
    if(amxp_loop_add_fd(fd_, AMXP_FD_READ, on_accept, this) != 0 || amxp_timer_new(&timer_, on_tick, this) != 0) {
        return {amxd_status_unknown_error, "cannot watch the socket on the event loop"};
    }
    amxp_timer_set_interval(timer_, tick_ms);
    watched_ = true;
    // Newcomers are let in while long work is paused, so that they may read meanwhile.
    amxp_loop_serve_while_paused(fd_, true);
    return {};
}

void Listener::set_limits(const amxb_listen_limits_t& limits) {
    limits_ = limits;
    limits_.request_timeout_ms = limits.request_timeout_ms == 0 ? AMXB_LISTEN_REQUEST_TIMEOUT_MS : limits.request_timeout_ms;
    limits_.per_user = limits.per_user == 0 ? AMXB_LISTEN_PER_USER : limits.per_user;
}

Outcome Listener::execute(const Request& /*request*/, amxc_var_t* /*ret*/, int /*timeout_sec*/) {
    return not_a_client();
}

Outcome Listener::subscribe(const std::string& /*path*/, const char* /*expression*/, amxp_slot_fn_t /*fn*/, void* /*priv*/) {
    return not_a_client();
}

Outcome Listener::unsubscribe(const std::string& /*path*/, amxp_slot_fn_t /*fn*/, void* /*priv*/) {
    return not_a_client();
}

void Listener::retire() {
    if(!sweep_scheduled_ && amxp_loop_defer(sweep, this) == 0) {
        sweep_scheduled_ = true;
    }
}

void Listener::sweep(void* priv) {
    auto* self = static_cast<Listener*>(priv);
    self->sweep_scheduled_ = false;
    self->connections_.remove_if([](const std::unique_ptr<ServerConnection>& connection) {
        return connection->closed();
    });
    if(self->connections_.empty()) {
        amxp_timer_stop(self->timer_);
    }
}

void Listener::on_tick(amxp_timer_t* /*timer*/, void* priv) {
    auto* self = static_cast<Listener*>(priv);
    const auto now = ServerConnection::Clock::now();
    for(const auto& connection : self->connections_) {
        connection->check_deadlines(now, self->limits_.request_timeout_ms, self->limits_.idle_timeout_ms);
    }
    self->make_output_room(nullptr);
}

bool Listener::make_output_room(const ServerConnection* holder) {
    if(output_used_ <= AMXB_LISTEN_OUTPUT_ROOM) {
        return true;
    }
    const auto now = ServerConnection::Clock::now();
    const auto stall = std::chrono::milliseconds(AMXB_LISTEN_STALL_MS);
    std::vector<ServerConnection*> stalled;
    for(const auto& connection : connections_) {
        if(connection.get() != holder && connection->stalled_since(now) >= stall) {
            stalled.push_back(connection.get());
        }
    }
    std::sort(stalled.begin(), stalled.end(), [now](const ServerConnection* a, const ServerConnection* b) {
        return a->stalled_since(now) > b->stalled_since(now);
    });
    for(ServerConnection* connection : stalled) {
        if(output_used_ <= AMXB_LISTEN_OUTPUT_ROOM) {
            break;
        }
        const auto unread = connection->queued_bytes();
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(connection->stalled_since(now)).count();
        connection->close_with("closed: " + std::to_string(unread) + " bytes of replies left unread for " +
                               std::to_string(waited) + " ms while the replies waiting for all clients passed " +
                               std::to_string(AMXB_LISTEN_OUTPUT_ROOM) + " bytes");
    }
    const std::size_t own = holder == nullptr ? 0 : holder->queued_bytes();
    return output_used_ <= AMXB_LISTEN_OUTPUT_ROOM || output_used_ == own;
}

bool Listener::claim_room(std::size_t bytes) {
    if(room_used_ + bytes > AMXB_LISTEN_REQUEST_ROOM) {
        return false;
    }
    room_used_ += bytes;
    return true;
}

void Listener::release_room(std::size_t bytes) {
    room_used_ -= std::min(bytes, room_used_);
    for(const auto& connection : connections_) {
        connection->resume();  // each tries again on its next read; those that lose wait again
    }
}

void Listener::log(pid_t pid, uid_t uid, const std::string& what) const {
    if(log_ != nullptr) {
        log_(pid, uid, what.c_str(), log_priv_);
    }
}

std::string Listener::make_room_for(uid_t uid) {
    std::size_t open_connections = 0;
    std::size_t own = 0;
    ServerConnection* stalest = nullptr;
    for(const auto& connection : connections_) {
        if(connection->closed()) {
            continue;
        }
        ++open_connections;
        if(connection->uid() == uid) {
            ++own;
            if(connection->displaceable() && (stalest == nullptr || connection->last_activity() < stalest->last_activity())) {
                stalest = connection.get();
            }
        }
    }
    const std::size_t total = privileged(uid) ? AMXB_LISTEN_MAX_CLIENTS : AMXB_LISTEN_MAX_CLIENTS - AMXB_LISTEN_RESERVED_CLIENTS;
    if(own < limits_.per_user && open_connections < total) {
        return {};
    }
    const std::string why = own >= limits_.per_user
                                ? "this user has " + std::to_string(own) + " connections open, the most allowed"
                                : "all " + std::to_string(total) + " connections open to this user's kind are in use";
    if(!privileged(uid) || stalest == nullptr) {
        return "refused: " + why;
    }
    stalest->close_with("closed while idle or waiting for room, to let in a new connection of the same user (" + why + ")");
    return {};
}

void Listener::admit(int client) {
    ucred credentials {};
    socklen_t size = sizeof(credentials);
    if(getsockopt(client, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof(credentials)) {
        close(client);
        return;
    }
    if(peer_check_ != nullptr && !peer_check_(credentials.pid, credentials.uid, credentials.gid, peer_check_priv_)) {
        refuse(client, "refused: not a user allowed on this socket");
        return;
    }
    const std::string why = make_room_for(credentials.uid);
    if(!why.empty()) {
        log(credentials.pid, credentials.uid, why);
        refuse(client, why);
        return;
    }
    auto connection = std::make_unique<ServerConnection>(*this, client, credentials.pid, credentials.uid);
    if(!connection->closed()) {
        connections_.push_back(std::move(connection));
        if(amxp_timer_get_state(timer_) == amxp_timer_off) {
            amxp_timer_start(timer_, tick_ms);
        }
    }
}

void Listener::on_accept(int fd, uint32_t /*events*/, void* priv) {
    auto* self = static_cast<Listener*>(priv);
    for(int n = 0; n < accept_batch; ++n) {
        const int client = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if(client < 0) {
            return;  // nothing more waiting (or a transient error): the loop calls again
        }
        self->admit(client);
    }
}

}  // namespace amxb
