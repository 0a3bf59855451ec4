// One client of a listener: its framed input, its bounded output and the subscriptions it made.
#ifndef AMXB_SERVER_CONNECTION_H
#define AMXB_SERVER_CONNECTION_H

#include <map>
#include <memory>

#include "bus_ctx.h"
#include "frame.h"

namespace amxb {

class Listener;

class ServerConnection {
public:
    // Takes `fd` (a connected non-blocking socket) and watches it on the loop.
    ServerConnection(Listener& owner, int fd);
    ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // Closed connections wait for the listener to free them.
    bool closed() const { return fd_ < 0; }

    // Stops serving: cancels the subscriptions, closes the socket, asks to be freed.
    void close_now();

private:
    // What a subscription made for this client hands to the event forwarder.
    struct Forward {
        ServerConnection* connection;
        uint64_t sid;
        std::string path;
    };

    static void on_io(int fd, uint32_t events, void* priv);
    static void forward_event(const char* sig_name, const amxc_var_t* data, void* priv);

    void read_requests();
    void finish_after_reply();  // reads no more; closes once the queued output is out
    void handle(std::string_view text);
    void handle_subscribe(uint64_t id, const amxc_var_t* message);
    void handle_unsubscribe(uint64_t id, const amxc_var_t* message);
    void reply(uint64_t id, const Outcome& outcome, amxc_var_t* result);
    void send(const amxc_var_t* message);
    void queued();
    void flush();
    void watch(uint32_t events);
    void cancel(Forward& forward);
    void shut_down();

    Listener& owner_;
    int fd_;
    uint32_t watched_events_ = 0;
    bool closing_ = false;  // an error reply is on its way out; nothing more is read
    FrameReader reader_;
    std::string output_;
    std::size_t output_start_ = 0;
    std::map<uint64_t, std::unique_ptr<Forward>> forwards_;  // by subscription id
};

}  // namespace amxb

#endif
