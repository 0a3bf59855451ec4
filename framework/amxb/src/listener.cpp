#include "listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <amxd/amxd_types.h>
#include <amxp/amxp_loop.h>

#include "server_connection.h"
#include "socket_io.h"

namespace amxb {

namespace {

// Connections taken per wake-up, so that a burst of clients does not hold up the loop.
constexpr int accept_batch = 16;

Outcome not_a_client() {
    return {amxd_status_not_supported, "a listener serves other processes; call through an in-process or client context"};
}

}  // namespace

Listener::Listener() = default;

Listener::~Listener() {
    amxp_loop_cancel_deferred(sweep, this);
    connections_.clear();
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
    if(amxp_loop_add_fd(fd_, AMXP_FD_READ, on_accept, this) != 0) {
        return {amxd_status_unknown_error, "cannot watch the socket on the event loop"};
    }
    watched_ = true;
    return {};
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
}

bool Listener::admitted(int client) const {
    if(peer_check_ == nullptr) {
        return true;
    }
    ucred credentials {};
    socklen_t size = sizeof(credentials);
    if(getsockopt(client, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof(credentials)) {
        return false;
    }
    return peer_check_(credentials.pid, credentials.uid, credentials.gid, peer_check_priv_);
}

void Listener::on_accept(int fd, uint32_t /*events*/, void* priv) {
    auto* self = static_cast<Listener*>(priv);
    for(int n = 0; n < accept_batch; ++n) {
        const int client = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if(client < 0) {
            return;  // nothing more waiting (or a transient error): the loop calls again
        }
        std::size_t open_connections = 0;
        for(const auto& connection : self->connections_) {
            open_connections += connection->closed() ? 0 : 1;
        }
        if(open_connections >= listener_max_clients || !self->admitted(client)) {
            close(client);
            continue;
        }
        auto connection = std::make_unique<ServerConnection>(*self, client);
        if(!connection->closed()) {
            self->connections_.push_back(std::move(connection));
        }
    }
}

}  // namespace amxb
