// Listener: serves the in-process contexts of this process to clients on a Unix socket, one
// request at a time per client, on the amxp loop.
#ifndef AMXB_LISTENER_H
#define AMXB_LISTENER_H

#include <list>
#include <memory>

#include "bus_ctx.h"

namespace amxb {

class ServerConnection;

// Clients served at once; further connections are closed as soon as they are accepted.
constexpr std::size_t listener_max_clients = 256;

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

    // A connection that closed asks to be freed once the current callback has returned.
    void retire();

private:
    static void on_accept(int fd, uint32_t events, void* priv);
    static void sweep(void* priv);
    bool admitted(int client) const;

    int fd_ = -1;
    bool watched_ = false;
    bool sweep_scheduled_ = false;
    std::string path_;
    amxb_peer_check_fn_t peer_check_ = nullptr;
    void* peer_check_priv_ = nullptr;
    std::list<std::unique_ptr<ServerConnection>> connections_;
};

}  // namespace amxb

#endif
