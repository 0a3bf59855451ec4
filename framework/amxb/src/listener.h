// Listener: serves the in-process contexts of this process to clients on a Unix socket, one
// request at a time per client, on the amxp loop, within limits per user, in time and in the
// memory held for requests still arriving.
#ifndef AMXB_LISTENER_H
#define AMXB_LISTENER_H

#include <sys/types.h>

#include <list>
#include <memory>

#include <amxp/amxp_timer.h>

#include "bus_ctx.h"

namespace amxb {

class ServerConnection;

class Listener final : public _amxb_bus_ctx {
public:
    Listener();
    ~Listener() override;

    Outcome open(const std::string& socket_path);

    // A listener only serves; it is not a context to call through.
    Outcome execute(const Request& request, amxc_var_t* ret, int timeout_sec) override;
    Outcome subscribe(const std::string& path, const char* expression,
                      amxp_slot_fn_t fn, void* priv) override;
    Outcome unsubscribe(const std::string& path, amxp_slot_fn_t fn, void* priv) override;
    std::vector<std::string> roots() const override { return {}; }
    int fd() const override { return fd_; }

    void set_peer_check(amxb_peer_check_fn_t fn, void* priv) {
        peer_check_ = fn;
        peer_check_priv_ = priv;
    }
    void set_limits(const amxb_listen_limits_t& limits);
    void set_log(amxb_listen_log_fn_t fn, void* priv) {
        log_ = fn;
        log_priv_ = priv;
    }

    // A connection that closed asks to be freed once the current callback has returned.
    void retire();

    // Room for a large request being read; false when the requests of all clients together
    // would hold more than AMXB_LISTEN_REQUEST_ROOM (the connection waits and retries).
    bool claim_room(std::size_t bytes);
    void release_room(std::size_t bytes);

    // Keeps the total of the connections' queued output (ServerConnection::queued_bytes()).
    void output_changed(std::size_t before, std::size_t after) { output_used_ = output_used_ - before + after; }
    // Brings the queued output of all connections back within AMXB_LISTEN_OUTPUT_ROOM by
    // closing those stalled longest. False when `holder` (may be null) must go too: it is
    // still past the room while others have output waiting.
    bool make_output_room(const ServerConnection* holder);

    // Says, once, why a client was refused or closed.
    void log(pid_t pid, uid_t uid, const std::string& what) const;

private:
    static void on_accept(int fd, uint32_t events, void* priv);
    static void sweep(void* priv);
    static void on_tick(amxp_timer_t* timer, void* priv);
    void admit(int client);
    // Empty when `uid` may open one more connection, possibly after closing an idle one of its
    // own (or one waiting for room); otherwise why not.
    std::string make_room_for(uid_t uid);

    int fd_ = -1;
    bool watched_ = false;
    bool sweep_scheduled_ = false;
    std::string path_;
    amxb_peer_check_fn_t peer_check_ = nullptr;
    void* peer_check_priv_ = nullptr;
    amxb_listen_log_fn_t log_ = nullptr;
    void* log_priv_ = nullptr;
    amxb_listen_limits_t limits_ {};
    std::size_t room_used_ = 0;
    std::size_t output_used_ = 0;
    amxp_timer_t* timer_ = nullptr;
    std::list<std::unique_ptr<ServerConnection>> connections_;
};

}  // namespace amxb

#endif
